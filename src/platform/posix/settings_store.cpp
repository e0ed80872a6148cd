#include "platform/settings_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/install_folder.h"
#include "platform/posix/ascii.h"
#include "platform/system_error.h"

namespace kalo::platform {
namespace {

constexpr const char* kSource = "SettingsStore";

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) {
    // A file edited on Windows ends its lines with CR LF; the CR belongs to no value.
    if (line.ends_with('\r')) {
      line.pop_back();
    }
    lines.push_back(line);
  }
  return lines;
}

std::optional<std::string> SectionName(const std::string& line) {
  const std::string trimmed = Trimmed(line);
  if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']') {
    return trimmed.substr(1, trimmed.size() - 2);
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
  return KeyValue{Trimmed(line.substr(0, equals)), line.substr(equals + 1)};
}

// A value is one line of the file; line breaks inside it would cut it in two.
std::string OneLine(std::string value) {
  std::ranges::replace(value, '\n', ' ');
  std::ranges::replace(value, '\r', ' ');
  return value;
}

void CreateFolderOnce(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    throw SystemError(errno, "Não foi possível criar a pasta " + path, kSource);
  }
}

struct Place {
  std::vector<std::string>::iterator section_start;  // the section's header line
  std::vector<std::string>::iterator section_end;    // the next header, or the end
  std::vector<std::string>::iterator key;            // the key's line, or section_end
};

// Where `key` of `section` stands in the file's lines. A missing section gives
// three end iterators.
Place Find(std::vector<std::string>& lines, const std::string& section, const std::string& key) {
  const auto is_header = [](const std::string& line) { return SectionName(line).has_value(); };
  const auto start = std::ranges::find_if(lines, [&section](const std::string& line) {
    const auto name = SectionName(line);
    return name && EqualIgnoringAsciiCase(*name, section);
  });
  if (start == lines.end()) {
    return {lines.end(), lines.end(), lines.end()};
  }
  const auto end = std::find_if(start + 1, lines.end(), is_header);
  const auto found = std::find_if(start + 1, end, [&key](const std::string& line) {
    const auto entry = KeyValueOf(line);
    return entry && EqualIgnoringAsciiCase(entry->key, key);
  });
  return {start, end, found};
}

}  // namespace

std::string SettingsStore::FileOf(const std::string& app) const {
  return PathInFolder(PathInFolder(root_, app), "settings.ini");
}

std::string SettingsStore::Get(const std::string& app, const std::string& section,
                               const std::string& key, const std::string& fallback) const {
  std::vector<std::string> lines = ReadLines(FileOf(app));
  const Place place = Find(lines, section, key);
  if (place.key == place.section_end) {
    return fallback;
  }
  return KeyValueOf(*place.key)->value;
}

void SettingsStore::Save(const std::string& app, const std::string& section, const std::string& key,
                         const std::string& value) {
  std::vector<std::string> lines = ReadLines(FileOf(app));
  const std::string new_line = key + "=" + OneLine(value);
  const Place place = Find(lines, section, key);
  if (place.section_start == lines.end()) {
    lines.push_back("[" + section + "]");
    lines.push_back(new_line);
  } else if (place.key != place.section_end) {
    *place.key = new_line;
  } else {
    lines.insert(place.section_end, new_line);
  }

  std::ostringstream text;
  for (const std::string& line : lines) {
    text << line << '\n';
  }
  CreateFolderOnce(root_);
  CreateFolderOnce(PathInFolder(root_, app));
  const std::string content = text.str();
  AtomicFile file(FileOf(app));
  file.Write(std::as_bytes(std::span(content.data(), content.size())));
  file.Commit(FilePermissions::kData);
}

std::string DefaultSettingsRoot() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config != '\0') {
    return config;
  }
  const char* home = std::getenv("HOME");
  return PathInFolder(home != nullptr && *home != '\0' ? home : "/", ".config");
}

}  // namespace kalo::platform
