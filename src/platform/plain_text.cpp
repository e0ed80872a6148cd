#include "platform/plain_text.h"

namespace kalo::platform {

std::string_view Trimmed(std::string_view text, std::string_view blanks) {
  const auto first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string WithLineFeeds(std::string_view text) {
  std::string lines;
  lines.reserve(text.size());
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] != '\r' || at + 1 == text.size() || text[at + 1] != '\n') {
      lines += text[at];
    }
  }
  return lines;
}

}  // namespace kalo::platform
