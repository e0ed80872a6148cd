// The signature published beside a manifest, in one place for both sides (the update
// run checks it, kalo-publish writes it): its file, the bytes it covers, and the text
// forms of keys and digests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/cryptography.h"

namespace cImpLicencas {

// A manifest's signature: when it was published (UTC, seconds since 1970) and the
// ECDSA P-256 signature over SignedMessage(manifest, published_at).
struct ManifestSignature {
  std::int64_t published_at = 0;
  kalo::platform::P256Signature signature{};
};

// The bytes a signature covers: the manifest exactly as served, a line feed, and the
// publishing time in decimal. The time is the text after the last line feed, so no
// other manifest and time give the same bytes.
std::string SignedMessage(std::string_view manifest, std::int64_t published_at);

// The signature file:
//   tempo: <publishing time, decimal seconds>
//   assinatura: <r and s, 128 lower-case hex digits>
// with LF line ends.
std::string SignatureFileText(const ManifestSignature& signature);

// Reads a signature file. CR before LF, blanks around the values and empty lines are
// allowed; anything else (a missing or repeated line, a bad number or hex) is not.
std::optional<ManifestSignature> ParseSignatureFile(std::string_view text);

// A public key in the form the build takes: the 130 hex digits of the uncompressed
// point (starting "04"). Nothing when the text has another form; whether the point
// lies on the curve is left to the signature check.
std::optional<kalo::platform::P256PublicKey> ParsePublicKey(std::string_view hex);

// A SHA-256 as the manifest's sixth field carries it: 64 lower-case hex digits.
std::optional<kalo::platform::Sha256Digest> ParseSha256(std::string_view hex);

}  // namespace cImpLicencas
