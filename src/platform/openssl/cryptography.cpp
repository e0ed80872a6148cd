// SHA-256 and ECDSA P-256 checks over OpenSSL's libcrypto.
#include "platform/cryptography.h"

#include <openssl/core_names.h>
#include <openssl/param_build.h>

#include <string>

#include "platform/openssl/owned.h"

namespace kalo::platform {
namespace {

constexpr const char* kSource = "kalo::platform::Sha256";
constexpr const char* kVerifySource = "kalo::platform::VerifyP256Signature";

using ParamBuilder =
    std::unique_ptr<OSSL_PARAM_BLD, openssl::Releaser<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>>;
using Params = std::unique_ptr<OSSL_PARAM, openssl::Releaser<OSSL_PARAM, OSSL_PARAM_free>>;
using openssl::DigestContext;
using openssl::Key;
using openssl::KeyContext;
using openssl::Number;
using openssl::ThrowFailure;

const unsigned char* Bytes(std::span<const std::byte> bytes) {
  return reinterpret_cast<const unsigned char*>(bytes.data());
}

// The key of a point, or nothing when the point is not on the curve.
Key PublicKeyOf(const P256PublicKey& point) {
  const ParamBuilder builder(OSSL_PARAM_BLD_new());
  if (!builder ||
      OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) !=
          1 ||
      OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(),
                                       point.size()) != 1) {
    ThrowFailure("parâmetros da chave", kVerifySource);
  }
  const Params params(OSSL_PARAM_BLD_to_param(builder.get()));
  const KeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1) {
    ThrowFailure("contexto da chave", kVerifySource);
  }
  EVP_PKEY* key = nullptr;
  if (EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
    return nullptr;
  }
  return Key(key);
}

// r and s as the DER structure libcrypto checks.
std::basic_string<unsigned char> DerOf(const P256Signature& signature) {
  openssl::EcdsaSignature structure(ECDSA_SIG_new());
  Number r(BN_bin2bn(Bytes(std::span(signature).first<32>()), 32, nullptr));
  Number s(BN_bin2bn(Bytes(std::span(signature).last<32>()), 32, nullptr));
  if (!structure || !r || !s || ECDSA_SIG_set0(structure.get(), r.get(), s.get()) != 1) {
    ThrowFailure("assinatura", kVerifySource);
  }
  r.release();
  s.release();
  unsigned char* der = nullptr;
  const int length = i2d_ECDSA_SIG(structure.get(), &der);
  if (length <= 0) {
    ThrowFailure("assinatura", kVerifySource);
  }
  std::basic_string<unsigned char> copy(der, static_cast<std::size_t>(length));
  OPENSSL_free(der);
  return copy;
}

}  // namespace

struct Sha256::State {
  DigestContext context{EVP_MD_CTX_new()};
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  if (!state_->context || EVP_DigestInit_ex(state_->context.get(), EVP_sha256(), nullptr) != 1) {
    ThrowFailure("SHA-256", kSource);
  }
}

Sha256::~Sha256() = default;

void Sha256::Update(std::span<const std::byte> bytes) {
  if (EVP_DigestUpdate(state_->context.get(), bytes.data(), bytes.size()) != 1) {
    ThrowFailure("SHA-256", kSource);
  }
}

Sha256Digest Sha256::Finish() {
  Sha256Digest digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(state_->context.get(), reinterpret_cast<unsigned char*>(digest.data()),
                         &length) != 1 ||
      length != digest.size()) {
    ThrowFailure("SHA-256", kSource);
  }
  return digest;
}

bool IsP256Point(const P256PublicKey& public_key) {
  return PublicKeyOf(public_key) != nullptr;
}

bool VerifyP256Signature(const P256PublicKey& public_key, std::span<const std::byte> message,
                         const P256Signature& signature) {
  const Key key = PublicKeyOf(public_key);
  if (!key) {
    return false;
  }
  const auto der = DerOf(signature);
  const DigestContext context(EVP_MD_CTX_new());
  if (!context ||
      EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) {
    ThrowFailure("verificação", kVerifySource);
  }
  // 1 is a good signature, 0 a bad one, anything else a signature that is no
  // signature at all (r or s out of range): bad too.
  return EVP_DigestVerify(context.get(), der.data(), der.size(), Bytes(message), message.size()) ==
         1;
}

}  // namespace kalo::platform
