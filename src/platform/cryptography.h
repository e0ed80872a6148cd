// The system's cryptography: SHA-256 and the check of ECDSA P-256 signatures.
// libcrypto on Linux, CNG on Windows; no cryptographic code of our own beyond the check
// that a key is a point of the curve, which CNG does not always make.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <span>

namespace kalo::platform {

using Sha256Digest = std::array<std::byte, 32>;

// A public key as the uncompressed point of the curve: 0x04, then X and Y.
inline constexpr std::size_t kP256PublicKeyBytes = 65;
using P256PublicKey = std::array<std::byte, kP256PublicKeyBytes>;

// A signature as its two halves r and s, 32 bytes each, big-endian.
inline constexpr std::size_t kP256SignatureBytes = 64;
using P256Signature = std::array<std::byte, kP256SignatureBytes>;

// SHA-256 over bytes that arrive in pieces, so that a download is hashed while it
// streams. Throws a kalo::Error when the system cannot hash.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(std::span<const std::byte> bytes);
  // The digest of everything given; the object takes nothing more after it.
  Sha256Digest Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

inline Sha256Digest Sha256Of(std::span<const std::byte> bytes) {
  Sha256 hash;
  hash.Update(bytes);
  return hash.Finish();
}

// True when `public_key` is a point of P-256, and so a key that signatures can be
// checked with. Throws a kalo::Error only when the system cannot check keys at all.
bool IsP256Point(const P256PublicKey& public_key);

// True when `signature` is an ECDSA P-256 signature by `public_key` over the SHA-256
// of `message`. False as well for a key that is no point of the curve. Throws a
// kalo::Error only when the system cannot check signatures at all.
bool VerifyP256Signature(const P256PublicKey& public_key, std::span<const std::byte> message,
                         const P256Signature& signature);

}  // namespace kalo::platform
