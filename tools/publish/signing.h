// The vendor's signing key: made once, kept secret, and used by every signed build to
// sign the manifests it publishes. ECDSA P-256 over OpenSSL's libcrypto.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/cryptography.h"
#include "update/manifest_signature.h"

struct evp_pkey_st;

namespace kalo::publish {

class SigningKey {
 public:
  // A new key pair.
  static SigningKey Generate();
  // The private key of a PEM file; throws a kalo::Error when the file is missing,
  // unreadable, or holds no P-256 private key.
  static SigningKey Load(const std::string& path);

  // Writes the private key (PEM, PKCS#8) into a new file only its owner may read.
  // Throws a kalo::Error, leaving the file as it was, when `path` already exists; a
  // file that cannot be written completely is removed.
  void SaveNew(const std::string& path) const;

  // The uncompressed point, as the updater's build takes it.
  platform::P256PublicKey PublicKey() const;
  // cImpLicencas::KeyIdOf the public key.
  std::string KeyId() const;

  // The signature of `manifest`, for the clients `signed_for` names, published at
  // `published_at`, naming this key and, when given, the expiry (UTC seconds, after
  // `published_at`): over cImpLicencas::SignedMessage of them.
  cImpLicencas::ManifestSignature Sign(const cImpLicencas::SignedFor& signed_for,
                                       std::string_view manifest, std::int64_t published_at,
                                       std::optional<std::int64_t> expires_at) const;

 private:
  struct KeyFree {
    void operator()(evp_pkey_st* key) const;
  };
  explicit SigningKey(evp_pkey_st* key) : key_(key) {}

  std::unique_ptr<evp_pkey_st, KeyFree> key_;
};

}  // namespace kalo::publish
