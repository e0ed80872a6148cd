// Owners of libcrypto's objects, each released by its own function, and the error of a
// libcrypto call that failed. Shared by the updater's checks and kalo-publish's signing.
#pragma once

#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>

#include <memory>
#include <string>

#include "platform/error.h"

namespace kalo::platform::openssl {

template <typename T, void (*Release)(T*)>
struct Releaser {
  void operator()(T* object) const { Release(object); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, Releaser<EVP_MD_CTX, EVP_MD_CTX_free>>;
using KeyContext = std::unique_ptr<EVP_PKEY_CTX, Releaser<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using Key = std::unique_ptr<EVP_PKEY, Releaser<EVP_PKEY, EVP_PKEY_free>>;
using EcdsaSignature = std::unique_ptr<ECDSA_SIG, Releaser<ECDSA_SIG, ECDSA_SIG_free>>;
using Number = std::unique_ptr<BIGNUM, Releaser<BIGNUM, BN_free>>;

[[noreturn]] inline void ThrowFailure(const std::string& what, const char* source) {
  throw Error(error_number::kInternalError, "A criptografia do sistema falhou: " + what, source);
}

}  // namespace kalo::platform::openssl
