#include "platform/shortened_text.h"

namespace kalo::platform {
namespace {

constexpr std::string_view kEllipsis = "…";

bool IsContinuationByte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

std::string ShortenedLine(std::string_view line, std::size_t limit) {
  if (line.size() <= limit) {
    return std::string(line);
  }
  // Two thirds from the start, the rest from the end, where a file name's stamp and
  // extension are.
  const std::size_t room = limit > kEllipsis.size() ? limit - kEllipsis.size() : 0;
  std::size_t head = room * 2 / 3;
  std::size_t tail_start = line.size() - (room - head);
  while (head > 0 && IsContinuationByte(line[head])) {
    --head;
  }
  while (tail_start < line.size() && IsContinuationByte(line[tail_start])) {
    ++tail_start;
  }
  std::string shortened(line.substr(0, head));
  shortened += kEllipsis;
  shortened += line.substr(tail_start);
  return shortened;
}

}  // namespace

std::string ShortenedLines(std::string_view text, std::size_t limit) {
  std::string result;
  for (;;) {
    const auto end = text.find('\n');
    result += ShortenedLine(text.substr(0, end), limit);
    if (end == std::string_view::npos) {
      return result;
    }
    result += '\n';
    text.remove_prefix(end + 1);
  }
}

}  // namespace kalo::platform
