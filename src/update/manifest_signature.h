// The signature published beside a manifest, in one place for both sides (the update
// run checks it, kalo-publish writes it): its file, the bytes it covers, and the text
// forms of keys and digests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/cryptography.h"

namespace cImpLicencas {

// Whom a manifest is signed for, by the client ids as they travel in the request
// (PercentEncoded, so neither blanks nor line feeds). A client's own manifest is signed
// for that client. The default manifest serves every client without a manifest of its
// own, so it cannot name one; it is signed for every client but those that have their
// own in the same publication, so that none of them can be given it in place of theirs.
struct SignedFor {
  bool all_but = false;          // false: for the one client in `ids`
  std::vector<std::string> ids;  // all_but: the clients left out, in the order signed

  // For `client`, a name as the updater requests it.
  static SignedFor Client(const std::string& client);
  // For every client but `clients` (names), left out in sorted order, each once.
  static SignedFor AllClientsBut(const std::vector<std::string>& clients);

  // True when a manifest signed so may serve `client`, a name as the updater requests it.
  bool Serves(const std::string& client) const;
};

// A manifest's signature: whom it is for, when it was published (UTC, seconds since
// 1970), which key signed it and until when the manifest may be taken (both optional:
// older releases name neither), and the ECDSA P-256 signature over SignedMessage.
struct ManifestSignature {
  SignedFor signed_for;
  std::int64_t published_at = 0;
  std::optional<std::string> key_id;       // KeyIdOf the signing key
  std::optional<std::int64_t> expires_at;  // UTC seconds; later, the manifest is refused
  kalo::platform::P256Signature signature{};
};

// The bytes a signature covers: the signature file's heading (every line before
// "assinatura:", as SignatureFileText writes them), then the manifest exactly as served.
// The values hold no blank or line feed and the heading's lines come in a fixed order,
// while a manifest that is taken starts with its opening mark, never with a heading's
// key: no two different headings and manifests that are taken give the same bytes.
// Without key id and expiry the heading is the first two lines, as it always was.
std::string SignedMessage(const ManifestSignature& heading, std::string_view manifest);

// The signature file:
//   cliente: <id>                 or, for the default manifest:  exceto: <id> <id> ...
//   tempo: <publishing time, decimal seconds>
//   chave: <key id, 16 lower-case hex digits>          (optional)
//   expira: <expiry, decimal seconds after "tempo">    (optional)
//   assinatura: <r and s, 128 lower-case hex digits>
// with LF line ends; "exceto:" may list no one.
std::string SignatureFileText(const ManifestSignature& signature);

// The id of a key, as the signature file names it: the first 8 bytes of the SHA-256 of
// the uncompressed point, in 16 lower-case hex digits. It tells which key a release
// was signed with, so that an updater without it can say so.
std::string KeyIdOf(const kalo::platform::P256PublicKey& key);

// A publishing time as the signature file and the install folder's record write it:
// decimal seconds, digits only. Nothing for anything else.
std::optional<std::int64_t> PublishingTimeOf(std::string_view text);

// Reads a signature file. CR before LF, blanks around the values, empty lines and any
// order are allowed; anything else (a missing or repeated line, both "cliente" and
// "exceto", an id that is not percent-encoded, a bad number or hex, a key id in another
// form, an expiry not after the publishing time) is not.
std::optional<ManifestSignature> ParseSignatureFile(std::string_view text);

// True for a client id exactly as PercentEncoded writes it: the form the signature
// file and the install folder's record of signatures take.
bool IsEncodedClientId(std::string_view id);

// A public key in the form the build takes: the 130 hex digits of the uncompressed
// point (starting "04"). Nothing when the text has another form; whether the point
// lies on the curve is left to the signature check.
std::optional<kalo::platform::P256PublicKey> ParsePublicKey(std::string_view hex);

// A SHA-256 as the manifest's sixth field carries it: 64 lower-case hex digits.
std::optional<kalo::platform::Sha256Digest> ParseSha256(std::string_view hex);

}  // namespace cImpLicencas
