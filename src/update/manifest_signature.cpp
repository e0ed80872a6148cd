#include "update/manifest_signature.h"

#include <algorithm>
#include <charconv>

#include "support/text.h"

namespace cImpLicencas {
namespace {

constexpr std::string_view kTimeKey = "tempo";
constexpr std::string_view kSignatureKey = "assinatura";

std::string_view Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

template <std::size_t N>
std::optional<std::array<std::byte, N>> FixedBytesOfHex(std::string_view hex) {
  const auto bytes = cUpdate::BytesOfHex(hex);
  if (!bytes || bytes->size() != N) {
    return std::nullopt;
  }
  std::array<std::byte, N> fixed{};
  std::ranges::copy(*bytes, fixed.begin());
  return fixed;
}

}  // namespace

std::string SignedMessage(std::string_view manifest, std::int64_t published_at) {
  std::string message(manifest);
  message += '\n';
  message += std::to_string(published_at);
  return message;
}

std::string SignatureFileText(const ManifestSignature& signature) {
  return std::string(kTimeKey) + ": " + std::to_string(signature.published_at) + "\n" +
         std::string(kSignatureKey) + ": " + cUpdate::HexText(signature.signature) + "\n";
}

std::optional<ManifestSignature> ParseSignatureFile(std::string_view text) {
  std::optional<std::int64_t> time;
  std::optional<kalo::platform::P256Signature> signature;
  while (!text.empty()) {
    const auto end = text.find('\n');
    const std::string_view line = Trimmed(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (line.empty()) {
      continue;
    }
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) {
      return std::nullopt;
    }
    const std::string_view key = Trimmed(line.substr(0, colon));
    const std::string_view value = Trimmed(line.substr(colon + 1));
    if (key == kTimeKey && !time) {
      std::int64_t seconds = 0;
      const auto [stop, error] =
          std::from_chars(value.data(), value.data() + value.size(), seconds);
      if (error != std::errc{} || stop != value.data() + value.size() || seconds < 0) {
        return std::nullopt;
      }
      time = seconds;
    } else if (key == kSignatureKey && !signature) {
      signature = FixedBytesOfHex<kalo::platform::kP256SignatureBytes>(value);
      if (!signature) {
        return std::nullopt;
      }
    } else {
      return std::nullopt;
    }
  }
  if (!time || !signature) {
    return std::nullopt;
  }
  return ManifestSignature{*time, *signature};
}

std::optional<kalo::platform::P256PublicKey> ParsePublicKey(std::string_view hex) {
  auto key = FixedBytesOfHex<kalo::platform::kP256PublicKeyBytes>(hex);
  if (!key || (*key)[0] != std::byte{0x04}) {
    return std::nullopt;
  }
  return key;
}

std::optional<kalo::platform::Sha256Digest> ParseSha256(std::string_view hex) {
  if (std::ranges::any_of(hex, [](char c) { return c >= 'A' && c <= 'F'; })) {
    return std::nullopt;
  }
  return FixedBytesOfHex<std::tuple_size_v<kalo::platform::Sha256Digest>>(hex);
}

}  // namespace cImpLicencas
