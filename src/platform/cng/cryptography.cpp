// SHA-256 and ECDSA P-256 checks over CNG, the system's cryptography since Windows Vista.
#include "platform/cryptography.h"

// CNG answers with NTSTATUS codes, whose full list is ntstatus.h; windows.h keeps a few
// of them to itself unless told not to.
#define WIN32_NO_STATUS
#include <windows.h>
#undef WIN32_NO_STATUS
#include <bcrypt.h>
#include <ntstatus.h>

#include <algorithm>
#include <charconv>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "platform/p256_curve.h"
#include "platform/win32/system_message.h"

namespace kalo::platform {
namespace {

constexpr const char* kHashSource = "kalo::platform::Sha256";
constexpr const char* kVerifySource = "kalo::platform::VerifyP256Signature";

template <auto Release>
struct Releaser {
  void operator()(void* handle) const { Release(handle); }
};
using OwnedAlgorithm = std::unique_ptr<void, Releaser<[](BCRYPT_ALG_HANDLE algorithm) {
                                         ::BCryptCloseAlgorithmProvider(algorithm, 0);
                                       }>>;
using OwnedHash = std::unique_ptr<void, Releaser<::BCryptDestroyHash>>;
using OwnedKey = std::unique_ptr<void, Releaser<::BCryptDestroyKey>>;

// The system's words for a status of CNG, whose texts ntdll carries, or its number when
// there are none.
std::string StatusText(NTSTATUS status) {
  const auto code = static_cast<DWORD>(status);
  std::string text = SystemMessage(code, ::GetModuleHandleW(L"ntdll.dll"));
  if (!text.empty()) {
    return text;
  }
  char number[8];
  const auto end = std::to_chars(std::begin(number), std::end(number), code, 16).ptr;
  return "estado 0x" + std::string(number, end) + " do CNG";
}

void Check(NTSTATUS status, std::string_view what, const char* source) {
  if (!BCRYPT_SUCCESS(status)) {
    throw Error(
        error_number::kInternalError,
        "A criptografia do sistema falhou: " + std::string(what) + " (" + StatusText(status) + ")",
        source);
  }
}

// CNG's functions take their input bytes as non-const even where they only read them.
PUCHAR Input(std::span<const std::byte> bytes) {
  return reinterpret_cast<PUCHAR>(const_cast<std::byte*>(bytes.data()));
}

OwnedAlgorithm OpenAlgorithm(const wchar_t* algorithm, const char* source) {
  BCRYPT_ALG_HANDLE handle = nullptr;
  Check(::BCryptOpenAlgorithmProvider(&handle, algorithm, nullptr, 0), "abertura do algoritmo",
        source);
  return OwnedAlgorithm(handle);
}

// The key of a point, or nothing when it is no point of the curve. CNG is not trusted
// to tell: some of its implementations import a point off the curve without a word.
OwnedKey PublicKeyOf(BCRYPT_ALG_HANDLE algorithm, const P256PublicKey& point) {
  if (!SatisfiesP256Equation(point)) {
    return nullptr;
  }
  // The key's blob is a header, then X and Y without the point's leading 0x04.
  struct {
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::array<std::byte, kP256PublicKeyBytes - 1> coordinates;
  } blob;
  static_assert(sizeof(blob) == sizeof(blob.header) + sizeof(blob.coordinates));
  std::copy(point.begin() + 1, point.end(), blob.coordinates.begin());
  BCRYPT_KEY_HANDLE key = nullptr;
  if (!BCRYPT_SUCCESS(::BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key,
                                            reinterpret_cast<PUCHAR>(&blob), sizeof(blob), 0))) {
    return nullptr;
  }
  return OwnedKey(key);
}

}  // namespace

struct Sha256::State {
  // Declared first, so released last: the hash belongs to it.
  OwnedAlgorithm algorithm = OpenAlgorithm(BCRYPT_SHA256_ALGORITHM, kHashSource);
  OwnedHash hash;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  BCRYPT_HASH_HANDLE hash = nullptr;
  Check(::BCryptCreateHash(state_->algorithm.get(), &hash, nullptr, 0, nullptr, 0, 0), "SHA-256",
        kHashSource);
  state_->hash.reset(hash);
}

Sha256::~Sha256() = default;

void Sha256::Update(std::span<const std::byte> bytes) {
  // One call takes at most what a ULONG counts.
  constexpr std::size_t kMostPerCall = std::numeric_limits<ULONG>::max();
  while (!bytes.empty()) {
    const auto piece = bytes.first(std::min(bytes.size(), kMostPerCall));
    Check(::BCryptHashData(state_->hash.get(), Input(piece), static_cast<ULONG>(piece.size()), 0),
          "SHA-256", kHashSource);
    bytes = bytes.subspan(piece.size());
  }
}

Sha256Digest Sha256::Finish() {
  Sha256Digest digest{};
  Check(::BCryptFinishHash(state_->hash.get(), reinterpret_cast<PUCHAR>(digest.data()),
                           static_cast<ULONG>(digest.size()), 0),
        "SHA-256", kHashSource);
  return digest;
}

bool IsP256Point(const P256PublicKey& public_key) {
  const OwnedAlgorithm algorithm = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM, kVerifySource);
  return PublicKeyOf(algorithm.get(), public_key) != nullptr;
}

bool VerifyP256Signature(const P256PublicKey& public_key, std::span<const std::byte> message,
                         const P256Signature& signature) {
  const Sha256Digest digest = [&] {
    try {
      return Sha256Of(message);
    } catch (const Error& error) {
      throw error.WithSource(kVerifySource);
    }
  }();
  const OwnedAlgorithm algorithm = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM, kVerifySource);
  const OwnedKey key = PublicKeyOf(algorithm.get(), public_key);
  if (!key) {
    return false;
  }
  const NTSTATUS status =
      ::BCryptVerifySignature(key.get(), nullptr, Input(digest), static_cast<ULONG>(digest.size()),
                              Input(signature), static_cast<ULONG>(signature.size()), 0);
  if (status == STATUS_INVALID_SIGNATURE) {
    return false;
  }
  Check(status, "verificação", kVerifySource);
  return true;
}

}  // namespace kalo::platform
