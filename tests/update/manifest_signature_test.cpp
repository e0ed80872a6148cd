#include "update/manifest_signature.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "helpers/temp_folder.h"
#include "support/text.h"

namespace {

using Lines = std::vector<std::string>;

// The text forms a signed release travels in, with what each accepts and refuses.
TEST(SignatureTexts, ReadOnlyWhatTheirFormAllows) {
  const std::string r_and_s = std::string(64, 'a') + std::string(64, '0');
  const std::string signature = "assinatura: " + r_and_s + "\n";
  struct Case {
    const char* what;
    std::string text;
    std::string canonical;  // what the parsed signature writes back; empty: refused
  } const signatures[] = {
      {"as written", "cliente: acme\ntempo: 1796000000\n" + signature,
       "cliente: acme\ntempo: 1796000000\n" + signature},
      {"CR LF, blanks, empty lines, upper-case hex, another order",
       "\r\n tempo :  7 \r\n\r\nassinatura:" + cUpdate::UpperCase(r_and_s) +
           "\r\n exceto :  a%20b \t c \r\n",
       "exceto: a%20b c\ntempo: 7\n" + signature},
      {"every client", "exceto:\ntempo: 1\n" + signature, "exceto:\ntempo: 1\n" + signature},
      {"for no one", "tempo: 1\n" + signature, ""},
      {"for one and for all", "cliente: a\nexceto: b\ntempo: 1\n" + signature, ""},
      {"for two", "cliente: a b\ntempo: 1\n" + signature, ""},
      {"for a name not encoded", "cliente: ação\ntempo: 1\n" + signature, ""},
      {"lower-case escape", "exceto: a%2f\ntempo: 1\n" + signature, ""},
      {"short escape", "exceto: a%2\ntempo: 1\n" + signature, ""},
      {"no time", "cliente: a\n" + signature, ""},
      {"time twice", "cliente: a\ntempo: 1\ntempo: 1\n" + signature, ""},
      {"negative time", "cliente: a\ntempo: -1\n" + signature, ""},
      {"time not a number", "cliente: a\ntempo: 1e9\n" + signature, ""},
      {"short signature", "cliente: a\ntempo: 1\nassinatura: " + r_and_s.substr(2), ""},
      {"another line", "cliente: a\ntempo: 1\n" + signature + "outra: x", ""},
      {"key id and expiry",
       "cliente: acme\ntempo: 1796000000\nchave: 0123456789abcdef\nexpira: 1796000001\n" +
           signature,
       "cliente: acme\ntempo: 1796000000\nchave: 0123456789abcdef\nexpira: 1796000001\n" +
           signature},
      {"key id and expiry in another order",
       "expira: 9\r\n" + signature + " chave :  fedcba9876543210 \nexceto:\ntempo: 7\n",
       "exceto:\ntempo: 7\nchave: fedcba9876543210\nexpira: 9\n" + signature},
      {"key id alone", "cliente: a\ntempo: 1\nchave: 0588f99f2063b9bc\n" + signature,
       "cliente: a\ntempo: 1\nchave: 0588f99f2063b9bc\n" + signature},
      {"expiry alone", "cliente: a\ntempo: 1\nexpira: 2\n" + signature,
       "cliente: a\ntempo: 1\nexpira: 2\n" + signature},
      {"upper-case key id", "cliente: a\ntempo: 1\nchave: 0588F99F2063B9BC\n" + signature, ""},
      {"short key id", "cliente: a\ntempo: 1\nchave: 0588f99f2063b9b\n" + signature, ""},
      {"long key id", "cliente: a\ntempo: 1\nchave: 0588f99f2063b9bc0\n" + signature, ""},
      {"key id not hex", "cliente: a\ntempo: 1\nchave: 0588f99f2063b9bg\n" + signature, ""},
      {"empty key id", "cliente: a\ntempo: 1\nchave:\n" + signature, ""},
      {"key id twice",
       "cliente: a\ntempo: 1\nchave: 0588f99f2063b9bc\nchave: 0588f99f2063b9bc\n" + signature, ""},
      {"expiry twice", "cliente: a\ntempo: 1\nexpira: 2\nexpira: 2\n" + signature, ""},
      {"expiry at the publishing time", "cliente: a\ntempo: 5\nexpira: 5\n" + signature, ""},
      {"expiry before the publishing time", "cliente: a\ntempo: 5\nexpira: 4\n" + signature, ""},
      {"expiry not a number", "cliente: a\ntempo: 1\nexpira: amanhã\n" + signature, ""},
      {"negative expiry", "cliente: a\ntempo: 1\nexpira: -2\n" + signature, ""},
      {"a line without colon", "cliente: a\ntempo 1\n" + signature, ""},
  };
  for (const Case& c : signatures) {
    const auto parsed = cImpLicencas::ParseSignatureFile(c.text);
    EXPECT_EQ(parsed.has_value(), !c.canonical.empty()) << c.what;
    if (parsed) {
      EXPECT_EQ(cImpLicencas::SignatureFileText(*parsed), c.canonical) << c.what;
    }
  }
  const std::string digest(64, 'f');
  EXPECT_TRUE(cImpLicencas::ParseSha256(digest));
  for (const std::string& refused : {digest.substr(1), cUpdate::UpperCase(digest), digest + "00",
                                     std::string(63, 'f') + "g", std::string()}) {
    EXPECT_FALSE(cImpLicencas::ParseSha256(refused)) << refused;
  }
  const std::string point = "04" + std::string(128, '1');
  EXPECT_TRUE(cImpLicencas::ParsePublicKey(point));
  for (const std::string& refused :
       {"02" + std::string(64, '1'), "03" + point.substr(2), point.substr(0, 128), point + "11"}) {
    EXPECT_FALSE(cImpLicencas::ParsePublicKey(refused)) << refused;
  }
}

// The publishing time and the client ids, as the install folder's record keeps them too.
TEST(SignatureTexts, TimesAndClientIdsTakeOnlyTheirWrittenForm) {
  EXPECT_EQ(cImpLicencas::PublishingTimeOf("1796000000"), 1796000000);
  EXPECT_EQ(cImpLicencas::PublishingTimeOf("0"), 0);
  for (const char* refused : {"", "-1", "+1", " 1", "1 ", "1e9", "0x10", "99999999999999999999"}) {
    EXPECT_FALSE(cImpLicencas::PublishingTimeOf(refused)) << refused;
  }
  for (const char* id : {"acme", "acme%20corp", "s%C3%A3o-paulo_1.~"}) {
    EXPECT_TRUE(cImpLicencas::IsEncodedClientId(id)) << id;
  }
  for (const char* id : {"", "acme corp", "ação", "a%2f", "a%2", "a%", "a/b"}) {
    EXPECT_FALSE(cImpLicencas::IsEncodedClientId(id)) << id;
  }
}

// A key's id is what the openssl command gives for it (tests/fixtures/signed/README.md).
TEST(SignatureTexts, KeyIdsAreTheStartOfTheKeysDigest) {
  for (const auto& [file, id] : {std::pair{"public_key.txt", "0588f99f2063b9bc"},
                                 std::pair{"new_public_key.txt", "d0d492fd02efd6d9"}}) {
    const auto key = cImpLicencas::ParsePublicKey(
        kalo::test::ReadWholeFile(std::string(KALO_TEST_FIXTURE_DIR) + "/signed/" + file)
            .substr(0, 130));
    ASSERT_TRUE(key) << file;
    EXPECT_EQ(cImpLicencas::KeyIdOf(*key), id);
  }
}

// The heading a signature covers, with whom for, when, and the optional key id and expiry.
cImpLicencas::ManifestSignature Heading(const cImpLicencas::SignedFor& signed_for,
                                        std::int64_t published_at,
                                        std::optional<std::string> key_id = std::nullopt,
                                        std::optional<std::int64_t> expires_at = std::nullopt) {
  return {signed_for, published_at, std::move(key_id), expires_at, {}};
}

// A client's own manifest serves that client; the default one everyone but the clients
// with their own. Different clients, times, key ids, expiries or manifests never give the
// same bytes.
TEST(SignedFor, SaysWhomAManifestServesAndIsPartOfTheSignedBytes) {
  using cImpLicencas::SignedFor;
  using cImpLicencas::SignedMessage;
  const SignedFor acme = SignedFor::Client("acme");
  const SignedFor others = SignedFor::AllClientsBut({"beta", "acme corp", "beta"});
  EXPECT_EQ(others.ids, (Lines{"acme%20corp", "beta"}));
  for (const auto& [signed_for, client, serves] : {std::tuple{acme, "acme", true},
                                                   {acme, "beta", false},
                                                   {others, "acme", true},
                                                   {others, "beta", false},
                                                   {others, "acme corp", false},
                                                   {SignedFor::AllClientsBut({}), "x", true}}) {
    EXPECT_EQ(signed_for.Serves(client), serves) << client;
  }
  EXPECT_EQ(SignedMessage(Heading(acme, 1796000000), "licenca_\r\n_licenca"),
            "cliente: acme\ntempo: 1796000000\nlicenca_\r\n_licenca");
  EXPECT_EQ(SignedMessage(Heading(acme, 1796000000, "0588f99f2063b9bc", 1796086400), "licenca_"),
            "cliente: acme\ntempo: 1796000000\nchave: 0588f99f2063b9bc\nexpira: "
            "1796086400\nlicenca_");
  const std::set<std::string> messages{
      SignedMessage(Heading(acme, 1), "x"),
      SignedMessage(Heading(SignedFor::Client("acmex"), 1), ""),
      SignedMessage(Heading(acme, 11), "x"),
      SignedMessage(Heading(acme, 1), "1x"),
      SignedMessage(Heading(others, 1), "x"),
      SignedMessage(Heading(SignedFor::AllClientsBut({"acme"}), 1), "x"),
      SignedMessage(Heading(SignedFor::AllClientsBut({}), 1), "x"),
      SignedMessage(Heading(acme, 1, "0588f99f2063b9bc"), "x"),
      SignedMessage(Heading(acme, 1, "d0d492fd02efd6d9"), "x"),
      SignedMessage(Heading(acme, 1, std::nullopt, 2), "x"),
      SignedMessage(Heading(acme, 1, std::nullopt, 3), "x"),
      SignedMessage(Heading(acme, 1, "0588f99f2063b9bc", 2), "x")};
  EXPECT_EQ(messages.size(), 12u);
}

}  // namespace
