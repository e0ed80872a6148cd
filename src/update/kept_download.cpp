#include "update/kept_download.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <vector>

#include "update/manifest.h"

namespace cImpLicencas {
namespace {

constexpr std::string_view kBodyPrefix = "partial-";
constexpr std::string_view kRecordSuffix = "-info";
constexpr std::string_view kFirstLine = "kalo_upd partial 1";
constexpr std::size_t kHashDigits = 16;
// Longer than any ETag or date a server sends; a longer one is no validator of ours.
constexpr std::size_t kMaxValidatorBytes = 512;

// FNV-1a: a fixed, short stand-in for a name, the same on every platform.
std::string NameHash(std::string_view name) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (const char c : name) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  }
  std::string digits(kHashDigits, '0');
  for (std::size_t at = kHashDigits; at-- > 0; hash >>= 4) {
    digits[at] = "0123456789abcdef"[hash & 0xf];
  }
  return digits;
}

bool IsHashDigits(std::string_view text) {
  return text.size() == kHashDigits && std::ranges::all_of(text, [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

std::optional<std::uint64_t> Number(std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

// Printable ASCII without a line break: what may travel in an If-Range header.
bool IsHeaderText(std::string_view text) {
  return text.size() <= kMaxValidatorBytes &&
         std::ranges::all_of(text, [](unsigned char c) { return c >= 0x20 && c < 0x7f; });
}

}  // namespace

std::string KeptBodyName(std::string_view server_name) {
  return std::string(kBodyPrefix) + NameHash(server_name);
}

std::string KeptRecordName(std::string_view server_name) {
  return KeptBodyName(server_name) + std::string(kRecordSuffix);
}

std::optional<std::string> KeptBodyOfRecord(std::string_view record_name) {
  if (!record_name.ends_with(kRecordSuffix)) {
    return std::nullopt;
  }
  const std::string_view body = record_name.substr(0, record_name.size() - kRecordSuffix.size());
  if (!IsKeptDownloadName(body)) {
    return std::nullopt;
  }
  return std::string(body);
}

bool IsKeptDownloadName(std::string_view name) {
  if (!name.starts_with(kBodyPrefix)) {
    return false;
  }
  name.remove_prefix(kBodyPrefix.size());
  if (name.ends_with(kRecordSuffix)) {
    name.remove_suffix(kRecordSuffix.size());
  }
  return IsHashDigits(name);
}

std::string KeptRecordText(const KeptDownloadRecord& record) {
  std::string text(kFirstLine);
  text.append("\nname=").append(record.name);
  text.append("\nsize=").append(record.size);
  text.append("\nsha256=").append(record.sha256);
  text.append("\nvalidator=").append(record.held.validator);
  text.append("\ntotal=").append(record.held.total ? std::to_string(*record.held.total) : "");
  text.append("\nheld=").append(std::to_string(record.held.offset));
  return text.append("\n");
}

std::optional<KeptDownloadRecord> ParseKeptRecord(std::string_view text) {
  std::vector<std::string_view> values;
  const std::vector<std::string_view> keys = {"name",      "size",  "sha256",
                                              "validator", "total", "held"};
  if (!text.starts_with(kFirstLine) || !text.ends_with('\n')) {
    return std::nullopt;
  }
  text.remove_prefix(kFirstLine.size() + 1);
  for (const std::string_view key : keys) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    if (end == std::string_view::npos || !line.starts_with(key) || line.size() == key.size() ||
        line[key.size()] != '=') {
      return std::nullopt;
    }
    values.push_back(line.substr(key.size() + 1));
    text.remove_prefix(end + 1);
  }
  KeptDownloadRecord record{
      std::string(values[0]), std::string(values[1]), std::string(values[2]), {}};
  record.held.validator = values[3];
  record.held.total = Number(values[4]);
  const auto held = Number(values[5]);
  if (!text.empty() || !held || !IsPlainFileName(record.name) || !IsHeaderText(record.size) ||
      !IsHeaderText(record.sha256) || !IsHeaderText(record.held.validator)) {
    return std::nullopt;
  }
  record.held.offset = *held;
  return record;
}

}  // namespace cImpLicencas
