#include "platform/ini_text.h"

#include <algorithm>
#include <sstream>

#include "platform/ascii.h"
#include "platform/plain_text.h"

namespace kalo::platform {
namespace {

std::optional<std::string> SectionName(const std::string& line) {
  const std::string_view trimmed = Trimmed(line, kLineBlanks);
  if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']') {
    return std::string(trimmed.substr(1, trimmed.size() - 2));
  }
  return std::nullopt;
}

struct KeyValue {
  std::string key;
  std::string value;
};

std::optional<KeyValue> KeyValueOf(const std::string& line) {
  const auto equals = line.find('=');
  if (equals == std::string::npos) {
    return std::nullopt;
  }
  return KeyValue{std::string(Trimmed(std::string_view(line).substr(0, equals), kLineBlanks)),
                  line.substr(equals + 1)};
}

// A value is one line of the file; line breaks inside it would cut it in two.
std::string OneLine(std::string value) {
  std::ranges::replace(value, '\n', ' ');
  std::ranges::replace(value, '\r', ' ');
  return value;
}

}  // namespace

// Line numbers of where a key of a section stands.
struct IniText::Place {
  std::size_t section_start;  // the section's header line, or the line count
  std::size_t section_end;    // the next header, or the line count
  std::size_t key;            // the key's line, or section_end
};

IniText::IniText(std::istream& text) {
  for (std::string line; std::getline(text, line);) {
    // A file edited on Windows ends its lines with CR LF; the CR belongs to no value.
    if (line.ends_with('\r')) {
      line.pop_back();
    }
    lines_.push_back(line);
  }
}

IniText::Place IniText::Find(const std::string& section, const std::string& key) const {
  const auto is_header = [](const std::string& line) { return SectionName(line).has_value(); };
  const auto start = std::ranges::find_if(lines_, [&section](const std::string& line) {
    const auto name = SectionName(line);
    return name && EqualIgnoringAsciiCase(*name, section);
  });
  if (start == lines_.end()) {
    return {lines_.size(), lines_.size(), lines_.size()};
  }
  const auto end = std::find_if(start + 1, lines_.end(), is_header);
  const auto found = std::find_if(start + 1, end, [&key](const std::string& line) {
    const auto entry = KeyValueOf(line);
    return entry && EqualIgnoringAsciiCase(entry->key, key);
  });
  const auto line_of = [this](auto at) { return static_cast<std::size_t>(at - lines_.begin()); };
  return {line_of(start), line_of(end), line_of(found)};
}

std::optional<std::string> IniText::Value(const std::string& section,
                                          const std::string& key) const {
  const Place place = Find(section, key);
  if (place.key == place.section_end) {
    return std::nullopt;
  }
  return KeyValueOf(lines_[place.key])->value;
}

void IniText::SetValue(const std::string& section, const std::string& key,
                       const std::string& value) {
  const std::string new_line = key + "=" + OneLine(value);
  const Place place = Find(section, key);
  if (place.section_start == lines_.size()) {
    lines_.push_back("[" + section + "]");
    lines_.push_back(new_line);
  } else if (place.key != place.section_end) {
    lines_[place.key] = new_line;
  } else {
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(place.section_end), new_line);
  }
}

std::string IniText::Text() const {
  std::ostringstream text;
  for (const std::string& line : lines_) {
    text << line << '\n';
  }
  return text.str();
}

}  // namespace kalo::platform
