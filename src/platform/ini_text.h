// The text of a settings file in INI form: sections in brackets, then key=value lines.
// It reads values and rewrites lines; reading and writing the file is the store's.
#pragma once

#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace kalo::platform {

class IniText {
 public:
  // Takes the lines of `text`, which is empty when the file is missing.
  explicit IniText(std::istream& text);

  // The value of `key` in `section`, compared without regard to case.
  std::optional<std::string> Value(const std::string& section, const std::string& key) const;

  // Replaces the key's line, or adds it at the end of its section, or adds the section
  // with the key at the end of the text. Every other line stays as it was.
  void SetValue(const std::string& section, const std::string& key, const std::string& value);

  // The lines, each ended by a line feed.
  std::string Text() const;

 private:
  struct Place;
  Place Find(const std::string& section, const std::string& key) const;

  std::vector<std::string> lines_;
};

}  // namespace kalo::platform
