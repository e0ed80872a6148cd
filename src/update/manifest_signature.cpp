#include "update/manifest_signature.h"

#include <algorithm>
#include <charconv>

#include "platform/plain_text.h"
#include "support/text.h"

namespace cImpLicencas {
namespace {

using kalo::platform::kLineBlanks;
using kalo::platform::Trimmed;

constexpr std::string_view kClientKey = "cliente";
constexpr std::string_view kAllButKey = "exceto";
constexpr std::string_view kTimeKey = "tempo";
constexpr std::string_view kKeyIdKey = "chave";
constexpr std::string_view kExpiryKey = "expira";
constexpr std::size_t kKeyIdBytes = 8;
constexpr std::string_view kSignatureKey = "assinatura";

// The ids of a "cliente" or "exceto" line, separated by blanks; nothing when one is
// not an id.
std::optional<std::vector<std::string>> IdsOf(std::string_view value) {
  std::vector<std::string> ids;
  while (!(value = Trimmed(value, kLineBlanks)).empty()) {
    const auto end = std::min(value.find_first_of(" \t"), value.size());
    if (!IsEncodedClientId(value.substr(0, end))) {
      return std::nullopt;
    }
    ids.emplace_back(value.substr(0, end));
    value.remove_prefix(end);
  }
  return ids;
}

// The lines of the signature file before the signature, which the signature covers too.
std::string HeadingText(const ManifestSignature& heading) {
  const SignedFor& signed_for = heading.signed_for;
  std::string text(signed_for.all_but ? kAllButKey : kClientKey);
  text += ':';
  for (const std::string& id : signed_for.ids) {
    text += ' ' + id;
  }
  const auto line = [&text](std::string_view key, const std::string& value) {
    text += key;
    text += ": ";
    text += value;
    text += '\n';
  };
  text += '\n';
  line(kTimeKey, std::to_string(heading.published_at));
  if (heading.key_id) {
    line(kKeyIdKey, *heading.key_id);
  }
  if (heading.expires_at) {
    line(kExpiryKey, std::to_string(*heading.expires_at));
  }
  return text;
}

bool IsKeyId(std::string_view text) {
  return text.size() == 2 * kKeyIdBytes &&
         text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
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

std::optional<std::int64_t> PublishingTimeOf(std::string_view text) {
  std::int64_t seconds = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (text.empty() || text.front() < '0' || text.front() > '9' || error != std::errc{} ||
      end != text.data() + text.size()) {
    return std::nullopt;
  }
  return seconds;
}

bool IsEncodedClientId(std::string_view id) {
  constexpr std::string_view kUpperHex = "0123456789ABCDEF";
  for (std::size_t at = 0; at < id.size(); ++at) {
    if (id[at] == '%') {
      if (at + 2 >= id.size() || kUpperHex.find(id[at + 1]) == std::string_view::npos ||
          kUpperHex.find(id[at + 2]) == std::string_view::npos) {
        return false;
      }
      at += 2;
    } else if (cUpdate::PercentEncoded(std::string(1, id[at])).size() != 1) {
      return false;
    }
  }
  return !id.empty();
}

SignedFor SignedFor::Client(const std::string& client) {
  return {false, {cUpdate::PercentEncoded(client)}};
}

SignedFor SignedFor::AllClientsBut(const std::vector<std::string>& clients) {
  SignedFor signed_for{true, {}};
  for (const std::string& client : clients) {
    signed_for.ids.push_back(cUpdate::PercentEncoded(client));
  }
  std::ranges::sort(signed_for.ids);
  const auto repeated = std::ranges::unique(signed_for.ids);
  signed_for.ids.erase(repeated.begin(), repeated.end());
  return signed_for;
}

bool SignedFor::Serves(const std::string& client) const {
  return (std::ranges::find(ids, cUpdate::PercentEncoded(client)) != ids.end()) != all_but;
}

std::string SignedMessage(const ManifestSignature& heading, std::string_view manifest) {
  return HeadingText(heading) + std::string(manifest);
}

std::string SignatureFileText(const ManifestSignature& signature) {
  return HeadingText(signature) + std::string(kSignatureKey) + ": " +
         cUpdate::HexText(signature.signature) + "\n";
}

std::string KeyIdOf(const kalo::platform::P256PublicKey& key) {
  const kalo::platform::Sha256Digest digest = kalo::platform::Sha256Of(key);
  return cUpdate::HexText(std::span(digest).first<kKeyIdBytes>());
}

std::optional<ManifestSignature> ParseSignatureFile(std::string_view text) {
  std::optional<SignedFor> signed_for;
  std::optional<std::int64_t> time;
  std::optional<std::string> key_id;
  std::optional<std::int64_t> expiry;
  std::optional<kalo::platform::P256Signature> signature;
  while (!text.empty()) {
    const auto end = text.find('\n');
    const std::string_view line = Trimmed(text.substr(0, end), kLineBlanks);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (line.empty()) {
      continue;
    }
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) {
      return std::nullopt;
    }
    const std::string_view key = Trimmed(line.substr(0, colon), kLineBlanks);
    const std::string_view value = Trimmed(line.substr(colon + 1), kLineBlanks);
    if ((key == kClientKey || key == kAllButKey) && !signed_for) {
      auto ids = IdsOf(value);
      if (!ids || (key == kClientKey && ids->size() != 1)) {
        return std::nullopt;
      }
      signed_for = SignedFor{key == kAllButKey, std::move(*ids)};
    } else if (key == kTimeKey && !time) {
      time = PublishingTimeOf(value);
      if (!time) {
        return std::nullopt;
      }
    } else if (key == kKeyIdKey && !key_id) {
      if (!IsKeyId(value)) {
        return std::nullopt;
      }
      key_id = std::string(value);
    } else if (key == kExpiryKey && !expiry) {
      expiry = PublishingTimeOf(value);
      if (!expiry) {
        return std::nullopt;
      }
    } else if (key == kSignatureKey && !signature) {
      signature = FixedBytesOfHex<kalo::platform::kP256SignatureBytes>(value);
      if (!signature) {
        return std::nullopt;
      }
    } else {
      return std::nullopt;
    }
  }
  // A manifest that expires before it is published was never meant to be taken.
  if (!signed_for || !time || !signature || (expiry && *expiry <= *time)) {
    return std::nullopt;
  }
  return ManifestSignature{std::move(*signed_for), *time, std::move(key_id), expiry, *signature};
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
