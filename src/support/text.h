// Text helpers shared by the update modules. Case rules are ASCII only, like the
// names they serve (file names, client names, manifest text).
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cUpdate {

std::string LowerCase(std::string text);
std::string UpperCase(std::string text);

// Without the blanks (spaces) at both ends.
std::string TrimBlanks(const std::string& text);

// Lower-case hex of `bytes`.
std::string HexText(std::span<const std::byte> bytes);

// The bytes of an even-length hex text (either case); nothing for anything else.
std::optional<std::vector<std::byte>> BytesOfHex(std::string_view hex);

// `text` with every byte outside the URL's unreserved characters percent-encoded.
std::string PercentEncoded(const std::string& text);

}  // namespace cUpdate
