// The system's SHA-256 and ECDSA P-256 check against fixed vectors, the same on every
// system, and the text forms the manifest and its signature use.
#include "platform/cryptography.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/p256_curve.h"
#include "support/text.h"
#include "update/manifest_signature.h"

namespace {

using cUpdate::HexText;
using kalo::platform::P256PublicKey;
using kalo::platform::P256Signature;

std::span<const std::byte> BytesOf(const std::string& text) {
  return std::as_bytes(std::span(text.data(), text.size()));
}

// A key made with the openssl command, and its signature over kSignedText.
constexpr const char* kPublicKey =
    "04177a20e7048d404b71544e2613577139126d4fc43089368baf8f96fe15c9da75cafb8c75d5b1291a300f61c413"
    "7a60c13d6c8da57ab08c2ec0154cc21b0ca5c3";
constexpr const char* kSignature =
    "28891316a29cd92aa8863e1ed7ff972b974592baa3a5968de9b39aaebc42d626"
    "5b2c3471a55107bcdb1bee7886723cfa53ab4eafddb0f2d1969f5ded87faa909";
const std::string kSignedText =
    "licenca_\r\nacme-exe-202612081530.zip|1234|00\r\n_licenca\n1796765432";
// The curve's generator: a valid point, but not the key that signed.
constexpr const char* kOtherKey =
    "046b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c296"
    "4fe342e2fe1a7f9b8ee7eb4a7c0f9e162bce33576b315ececbb6406837bf51f5";

TEST(Cryptography, Sha256MatchesTheStandardVectorsWhateverThePieces) {
  struct Case {
    std::string input;
    std::size_t piece;  // bytes given per Update
    const char* digest;
  } const cases[] = {
      {"", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", 3, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 5,
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1'000'000, 'a'), 65'537,
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    kalo::platform::Sha256 hash;
    const auto bytes = BytesOf(c.input);
    for (std::size_t at = 0; at < bytes.size(); at += c.piece) {
      hash.Update(bytes.subspan(at, std::min(c.piece, bytes.size() - at)));
    }
    EXPECT_EQ(HexText(hash.Finish()), c.digest) << c.input.size() << " bytes";
  }
  EXPECT_EQ(HexText(kalo::platform::Sha256Of(BytesOf("abc"))),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Cryptography, P256SignatureHoldsOnlyForItsKeyAndItsExactBytes) {
  const P256PublicKey key = *cImpLicencas::ParsePublicKey(kPublicKey);
  const P256Signature signature =
      cImpLicencas::ParseSignatureFile(std::string("cliente: a\ntempo: 1\nassinatura: ") +
                                       kSignature)
          ->signature;
  std::string altered_text = kSignedText;
  altered_text[20] ^= 1;
  P256Signature altered_signature = signature;
  altered_signature[40] ^= std::byte{1};
  P256PublicKey off_curve = key;
  off_curve[64] ^= std::byte{1};
  struct Case {
    const char* what;
    P256PublicKey key;
    std::string message;
    P256Signature signature;
    bool valid;
  } const cases[] = {
      {"the signed bytes", key, kSignedText, signature, true},
      {"one byte changed", key, altered_text, signature, false},
      {"one byte more", key, kSignedText + " ", signature, false},
      {"signature changed", key, kSignedText, altered_signature, false},
      {"signature of zeros", key, kSignedText, P256Signature{}, false},
      {"another key", *cImpLicencas::ParsePublicKey(kOtherKey), kSignedText, signature, false},
      {"a point off the curve", off_curve, kSignedText, signature, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(kalo::platform::VerifyP256Signature(c.key, BytesOf(c.message), c.signature), c.valid)
        << c.what;
  }
}

// Points on and off the curve, each judged by the system's check of a key and by the
// curve's equation alone (what the Windows check relies on, whatever CNG says).
TEST(Cryptography, OnlyPointsOfTheCurveAreKeys) {
  const std::string generator_x = std::string(kOtherKey).substr(2, 64);
  const std::string generator_y = std::string(kOtherKey).substr(66);
  // y of the point whose x is 0; and the field's prime, which reduces to that 0.
  const std::string zero_x_y = "66485c780e2f83d72433bd5d84a06bb6541c2af31dae871728bf856a174f93f4";
  const std::string prime = "ffffffff00000001000000000000000000000000ffffffffffffffffffffffff";
  // -y modulo the prime, for y of the generator: the generator's negative.
  const std::string minus_generator_y =
      "b01cbd1c01e58065711814b583f061e9d431cca994cea1313449bf97c840ae0a";
  std::string typo = kPublicKey;
  typo[100] = typo[100] == '0' ? '1' : '0';
  const struct {
    const char* what;
    std::string point;
    bool on_curve;
    // Whether the system's check is asked too: wine's CNG cannot import a coordinate
    // of 0, which no key made by kalo-publish keys will ever have.
    bool by_the_system = true;
  } cases[] = {
      {"a key made by openssl", kPublicKey, true},
      {"the generator", kOtherKey, true},
      {"the generator's negative", "04" + generator_x + minus_generator_y, true},
      {"x of 0", "04" + std::string(64, '0') + zero_x_y, true, false},
      {"one digit mistyped", typo, false},
      {"y one more", "04" + generator_x + generator_y.substr(0, 63) + "6", false},
      {"x as 0 plus the prime", "04" + prime + zero_x_y, false},
      {"y as the prime", "04" + generator_x + prime, false},
      {"zeros", "04" + std::string(128, '0'), false},
  };
  for (const auto& c : cases) {
    const auto point = cImpLicencas::ParsePublicKey(c.point);
    ASSERT_TRUE(point) << c.what;
    if (c.by_the_system) {
      EXPECT_EQ(kalo::platform::IsP256Point(*point), c.on_curve) << c.what;
    }
    EXPECT_EQ(kalo::platform::SatisfiesP256Equation(*point), c.on_curve) << c.what;
  }
}

}  // namespace
