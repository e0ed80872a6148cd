#include "signing.h"

#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/pem.h>

#include <span>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/openssl/owned.h"

namespace kalo::publish {
namespace {

constexpr const char* kCurve = "prime256v1";
constexpr std::size_t kHalfBytes = 32;

using Bio = std::unique_ptr<BIO, platform::openssl::Releaser<BIO, BIO_free_all>>;
using platform::openssl::DigestContext;
using platform::openssl::EcdsaSignature;
using platform::openssl::Number;
using platform::openssl::ThrowFailure;

// A number of the curve as the fixed-width big-endian half that the updater reads.
void PutHalf(const BIGNUM* number, std::span<std::byte, kHalfBytes> half, const char* source) {
  if (number == nullptr ||
      BN_bn2binpad(number, reinterpret_cast<unsigned char*>(half.data()),
                   static_cast<int>(half.size())) != static_cast<int>(half.size())) {
    ThrowFailure("número fora da curva", source);
  }
}

bool IsP256(const EVP_PKEY* key) {
  char group[64] = {};
  std::size_t length = 0;
  return EVP_PKEY_is_a(key, "EC") == 1 &&
         EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                        &length) == 1 &&
         std::string_view(group, length) == kCurve;
}

// A signed build runs unattended: an encrypted key is refused rather than asked about.
int NoPassword(char*, int, int, void*) {
  return -1;
}

}  // namespace

void SigningKey::KeyFree::operator()(EVP_PKEY* key) const {
  EVP_PKEY_free(key);
}

SigningKey SigningKey::Generate() {
  EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", kCurve);
  if (key == nullptr) {
    ThrowFailure("geração da chave", "kalo::publish::SigningKey::Generate");
  }
  return SigningKey(key);
}

SigningKey SigningKey::Load(const std::string& path) {
  constexpr const char* kSource = "kalo::publish::SigningKey::Load";
  const platform::FileSystem files;
  if (files.KindOf(path) != platform::EntryKind::kFile) {
    throw Error(error_number::kFileNotFound, "a chave de assinatura " + path + " não existe",
                kSource);
  }
  std::string pem;
  try {
    pem = files.ReadFile(path);
  } catch (const Error& error) {
    throw error.WithSource(kSource);
  }
  const Bio input(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  EVP_PKEY* key =
      input ? PEM_read_bio_PrivateKey(input.get(), nullptr, &NoPassword, nullptr) : nullptr;
  if (key == nullptr) {
    throw Error(
        error_number::kInvalidArgument,
        path + " não contém uma chave privada PEM sem senha (faça uma com kalo-publish keys)",
        kSource);
  }
  SigningKey loaded(key);
  if (!IsP256(key)) {
    throw Error(error_number::kInvalidArgument,
                path + " não contém uma chave ECDSA P-256 (faça uma com kalo-publish keys)",
                kSource);
  }
  return loaded;
}

void SigningKey::SaveNew(const std::string& path) const {
  constexpr const char* kSource = "kalo::publish::SigningKey::SaveNew";
  const Bio output(BIO_new(BIO_s_mem()));
  if (!output || PEM_write_bio_PrivateKey(output.get(), key_.get(), nullptr, nullptr, 0, nullptr,
                                          nullptr) != 1) {
    ThrowFailure("gravação da chave", kSource);
  }
  std::string pem(BIO_ctrl_pending(output.get()), '\0');
  if (BIO_read(output.get(), pem.data(), static_cast<int>(pem.size())) !=
      static_cast<int>(pem.size())) {
    ThrowFailure("gravação da chave", kSource);
  }
  // Owner-only from the first moment, on the disk before it has its name, and never in
  // place of an existing key.
  try {
    platform::AtomicFile file(path);
    file.Write(std::as_bytes(std::span(pem.data(), pem.size())));
    file.Flush();
    file.CommitNew(platform::FilePermissions::kOwnerOnly);
  } catch (const Error& error) {
    if (error.Number() == error_number::kFileAlreadyExists) {
      throw Error(error_number::kFileAlreadyExists,
                  path + " já existe; uma chave nunca é substituída", kSource);
    }
    throw error.WithSource(kSource);
  }
}

platform::P256PublicKey SigningKey::PublicKey() const {
  constexpr const char* kSource = "kalo::publish::SigningKey::PublicKey";
  BIGNUM* x = nullptr;
  BIGNUM* y = nullptr;
  EVP_PKEY_get_bn_param(key_.get(), OSSL_PKEY_PARAM_EC_PUB_X, &x);
  EVP_PKEY_get_bn_param(key_.get(), OSSL_PKEY_PARAM_EC_PUB_Y, &y);
  const Number owned_x(x);
  const Number owned_y(y);
  platform::P256PublicKey point{std::byte{0x04}};
  PutHalf(x, std::span(point).subspan<1, kHalfBytes>(), kSource);
  PutHalf(y, std::span(point).last<kHalfBytes>(), kSource);
  return point;
}

std::string SigningKey::KeyId() const {
  return cImpLicencas::KeyIdOf(PublicKey());
}

cImpLicencas::ManifestSignature SigningKey::Sign(const cImpLicencas::SignedFor& signed_for,
                                                 std::string_view manifest,
                                                 std::int64_t published_at,
                                                 std::optional<std::int64_t> expires_at) const {
  constexpr const char* kSource = "kalo::publish::SigningKey::Sign";
  cImpLicencas::ManifestSignature signature{signed_for, published_at, KeyId(), expires_at, {}};
  const std::string message = cImpLicencas::SignedMessage(signature, manifest);
  const DigestContext context(EVP_MD_CTX_new());
  std::vector<unsigned char> der(static_cast<std::size_t>(EVP_PKEY_get_size(key_.get())));
  std::size_t length = der.size();
  if (!context ||
      EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key_.get()) != 1 ||
      EVP_DigestSign(context.get(), der.data(), &length,
                     reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1) {
    ThrowFailure("assinatura", kSource);
  }
  // libcrypto gives the DER structure; the signature file holds r and s themselves.
  const unsigned char* cursor = der.data();
  const EcdsaSignature parsed(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(length)));
  if (!parsed) {
    ThrowFailure("assinatura", kSource);
  }
  PutHalf(ECDSA_SIG_get0_r(parsed.get()), std::span(signature.signature).first<kHalfBytes>(),
          kSource);
  PutHalf(ECDSA_SIG_get0_s(parsed.get()), std::span(signature.signature).last<kHalfBytes>(),
          kSource);
  return signature;
}

}  // namespace kalo::publish
