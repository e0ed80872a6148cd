#include "update/manifest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "helpers/fake_ui.h"
#include "helpers/settings_root.h"
#include "helpers/temp_folder.h"
#include "helpers/test_server.h"
#include "helpers/windows_names.h"
#include "platform/error.h"
#include "support/text.h"
#include "update/manifest_signature.h"
#include "update/protocol.h"

namespace {

using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

struct BodyCase {
  const char* what;
  std::string body;
  Lines expected;
  bool framed = true;  // false: not a manifest at all
};

class ManifestLinesTest : public testing::TestWithParam<BodyCase> {};

TEST_P(ManifestLinesTest, CleansChecksAndSplits) {
  const auto lines = cImpLicencas::ManifestLinesOf(GetParam().body);
  ASSERT_EQ(lines.has_value(), GetParam().framed) << GetParam().what;
  if (lines) {
    EXPECT_EQ(*lines, GetParam().expected) << GetParam().what;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, ManifestLinesTest,
    testing::Values(
        BodyCase{"LF",
                 "licenca_\nacme-exe-201012011530.zip|1234567\n_licenca",
                 {"acme-exe-201012011530.zip|1234567"}},
        BodyCase{"CR LF counts twice",
                 "licenca_\r\nlogo-jpg-1.jpg|5120\r\n_licenca",
                 {"", "logo-jpg-1.jpg|5120", ""}},
        BodyCase{"capitals and blanks",
                 " LICENCA_ \nLogo - JPG - 1.jpg | 51 20\n _Lic enca ",
                 {"logo-jpg-1.jpg|5120"}},
        BodyCase{"literal <br>", "licenca_<br>a|1<BR>b|2<br>_licenca", {"a|1", "b|2"}},
        BodyCase{"tab stays", "licenca_\na\t|1\n_licenca", {"a\t|1"}},
        BodyCase{"empty lines kept", "licenca_\n\na|1\n\n_licenca", {"", "a|1", ""}},
        BodyCase{"opening marker in the middle",
                 "licenca_\na|1\nlicenca_\nb|2\n_licenca",
                 {"a|1", "b|2"}},
        BodyCase{"closing marker in the middle",
                 "licenca_\na|1\n_licenca\nb|2\n_licenca",
                 {"a|1", "b|2"}},
        BodyCase{"nothing between the markers", "licenca_\n\n_licenca", {}},
        BodyCase{"line break after the closing marker", "licenca_\na|1\n_licenca\n", {}, false},
        BodyCase{"short body", "licenca_", {}, false}, BodyCase{"empty body", "", {}, false},
        BodyCase{"error page", "<html><body>404 Not Found</body></html>", {}, false}));

struct EntryCase {
  const char* line;
  Lines fields;  // the first five
  const char* remote;
  const char* local;
};

class ParseEntryTest : public testing::TestWithParam<EntryCase> {};

TEST_P(ParseEntryTest, SplitsFieldsAndBuildsNames) {
  const cImpLicencas::ManifestEntry entry = cImpLicencas::ParseEntry(GetParam().line);
  ASSERT_GE(entry.fields.size(), 6u);
  EXPECT_EQ(Lines(entry.fields.begin(), entry.fields.begin() + 5), GetParam().fields);
  EXPECT_EQ(entry.remote_file_name, GetParam().remote);
  EXPECT_EQ(entry.local_file_name, GetParam().local);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ParseEntryTest,
    testing::Values(EntryCase{"acme-exe-201012011530.zip|1234567",
                              {"acme", "exe", "201012011530", "zip", "1234567"},
                              "acme-exe-201012011530.zip",
                              "acme.exe"},
                    EntryCase{"acme.exe.201012011530.zip.1234567",
                              {"acme", "exe", "201012011530", "zip", "1234567"},
                              "acme-exe-201012011530.zip",
                              "acme.exe"},
                    EntryCase{"acme|exe|201012011530|zip|1234567|extra",
                              {"acme", "exe", "201012011530", "zip", "1234567"},
                              "acme-exe-201012011530.zip",
                              "acme.exe"},
                    EntryCase{"logo-jpg-201012011530.jpg|5120",
                              {"logo", "jpg", "201012011530", "jpg", "5120"},
                              "logo-jpg-201012011530.jpg",
                              "logo.jpg"},
                    // A separator inside the base name shifts every later field.
                    EntryCase{"my-app-exe-201012011530.zip|9",
                              {"my", "app", "exe", "201012011530", "zip"},
                              "my-app-exe.201012011530",
                              "my.app"},
                    EntryCase{"readme", {"readme", "", "", "", ""}, "readme--.", "readme."},
                    EntryCase{"", {"", "", "", "", ""}, "--.", "."}));

TEST(HasPlainFileNames, RefusesNamesThatLeaveTheFolder) {
  EXPECT_TRUE(cImpLicencas::HasPlainFileNames(cImpLicencas::ParseEntry("acme-exe-1.zip|1")));
  EXPECT_TRUE(cImpLicencas::HasPlainFileNames(cImpLicencas::ParseEntry("a_b~c-jpg-1.jpg|1")));
  for (const char* line :
       {"../etc-passwd-1.txt|1", "a/b-exe-1.zip|1", "a\\b-exe-1.zip|1", "c:x-exe-1.zip|1",
        "*-exe-1.zip|1", "a?-exe-1.zip|1", "a\x01-exe-1.zip|1", "a-exe-1.zip/x|1", ""}) {
    EXPECT_FALSE(cImpLicencas::HasPlainFileNames(cImpLicencas::ParseEntry(line))) << line;
  }
}

// A release must install on Windows, whatever system published it or runs the update.
TEST(IsPlainFileName, RefusesWhatAWindowsFolderCannotHold) {
  for (const auto& [name, holdable] : kalo::test::WindowsNames()) {
    EXPECT_EQ(cImpLicencas::IsPlainFileName(name), holdable) << name;
  }
  EXPECT_FALSE(cImpLicencas::HasPlainFileNames(cImpLicencas::ParseEntry("con-txt-1.txt|1")));
}

TEST(PercentEncoded, KeepsOnlyUnreservedCharacters) {
  EXPECT_EQ(cImpLicencas::PercentEncoded("acme"), "acme");
  EXPECT_EQ(cImpLicencas::PercentEncoded("acme corp&co#1"), "acme%20corp%26co%231");
  EXPECT_EQ(cImpLicencas::PercentEncoded("são-paulo_1.~"), "s%C3%A3o-paulo_1.~");
}

// The text forms a signed release travels in, with what each accepts and refuses.
TEST(SignatureTexts, ReadOnlyWhatTheirFormAllows) {
  const std::string r_and_s = std::string(64, 'a') + std::string(64, '0');
  struct Case {
    const char* what;
    std::string text;
    std::optional<std::int64_t> time;  // none: refused
  } const signatures[] = {
      {"as written", "tempo: 1796000000\nassinatura: " + r_and_s + "\n", 1796000000},
      {"CR LF, blanks, empty lines, upper-case hex",
       "\r\n tempo :  7 \r\n\r\nassinatura:" + cUpdate::UpperCase(r_and_s) + "\r\n", 7},
      {"no time", "assinatura: " + r_and_s, std::nullopt},
      {"time twice", "tempo: 1\ntempo: 1\nassinatura: " + r_and_s, std::nullopt},
      {"negative time", "tempo: -1\nassinatura: " + r_and_s, std::nullopt},
      {"time not a number", "tempo: 1e9\nassinatura: " + r_and_s, std::nullopt},
      {"short signature", "tempo: 1\nassinatura: " + r_and_s.substr(2), std::nullopt},
      {"another line", "tempo: 1\nassinatura: " + r_and_s + "\nchave: x", std::nullopt},
      {"a line without colon", "tempo 1\nassinatura: " + r_and_s, std::nullopt},
  };
  for (const Case& c : signatures) {
    const auto parsed = cImpLicencas::ParseSignatureFile(c.text);
    EXPECT_EQ(parsed.has_value(), c.time.has_value()) << c.what;
    if (parsed && c.time) {
      EXPECT_EQ(parsed->published_at, *c.time) << c.what;
      EXPECT_EQ(cUpdate::HexText(parsed->signature), r_and_s) << c.what;
      EXPECT_EQ(
          cImpLicencas::ParseSignatureFile(cImpLicencas::SignatureFileText(*parsed))->published_at,
          *c.time);
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

class LoadManifestTest : public testing::Test {
 protected:
  void Load(const std::string& client) {
    cImpLicencas::LoadManifest(state_, *transfer_, trust_, server_.BaseAddress(), client);
  }

  kalo::test::SettingsRoot settings_root_;
  kalo::platform::SettingsStore settings_{settings_root_.Path()};
  cImpLicencas::ManifestTrust trust_{{}, settings_};
  kalo::test::TestServer server_;
  kalo::test::FakeUi ui_;
  kalo::platform::Clock clock_;
  std::unique_ptr<kalo::platform::InternetTransfer> transfer_ =
      kalo::platform::MakeInternetTransfer(ui_, clock_, {2s, 300ms});
  cImpLicencas::ManifestState state_;
};

TEST_F(LoadManifestTest, FetchesOncePerClient) {
  server_.SetManifest("acme", "licenca_\r\nacme-exe-201012011530.zip|1234567\r\n_licenca");
  server_.SetManifest("beta", "licenca_\nbeta-exe-201012011530.zip|7\n_licenca");
  Load("acme");
  Load("acme");
  EXPECT_EQ(state_.lines, (Lines{"", "acme-exe-201012011530.zip|1234567", ""}));
  EXPECT_TRUE(state_.loaded);
  Load("beta");
  EXPECT_EQ(state_.lines, (Lines{"beta-exe-201012011530.zip|7"}));
  EXPECT_EQ(server_.ManifestRequests(), (Lines{"acme", "beta"}));
}

TEST_F(LoadManifestTest, ClientNameIsEncodedAndArrivesUnchanged) {
  server_.SetManifest("acme corp&co", "licenca_\na|1\n_licenca");
  Load("acme corp&co");
  EXPECT_EQ(state_.lines, (Lines{"a|1"}));
  EXPECT_EQ(server_.ManifestRequests(), (Lines{"acme corp&co"}));
  EXPECT_EQ(server_.RequestTargets(), (Lines{"/trabalho/versao.php?id=acme%20corp%26co"}));
}

TEST_F(LoadManifestTest, AnythingButAManifestSaysWhyAndIsAskedForAgain) {
  using cImpLicencas::ManifestStatus;
  std::string gone_base;
  {
    const kalo::test::TestServer gone;
    gone_base = gone.BaseAddress();
  }
  // A server that is not there is described in the HTTP client's own words.
  const std::string gone_address = gone_base + "/trabalho/versao.php?id=acme";
  std::string unreachable;
  try {
    transfer_->OpenUrlText(gone_address);
  } catch (const kalo::Error& error) {
    unreachable = kalo::platform::TransferFailureReason(error.Description(), gone_address);
  }
  ASSERT_FALSE(unreachable.empty());
  struct Case {
    const char* what;
    std::function<void()> prepare;
    std::string base;
    ManifestStatus status;
    std::string reason;  // a part of it
  };
  const std::vector<Case> cases{
      {"refused",
       [this] { server_.SetFault("/trabalho/versao.php", kalo::test::Fault::kServerError); },
       server_.BaseAddress(), ManifestStatus::kNotReceived,
       "o servidor respondeu HTTP 500 Internal Server Error"},
      {"no server", [] {}, gone_base, ManifestStatus::kNotReceived, unreachable},
      {"cut body",
       [this] {
         server_.SetFault("/trabalho/versao.php", kalo::test::Fault::kNone);
         server_.SetManifest("acme", "licenca_\na|1\n");
       },
       server_.BaseAddress(), ManifestStatus::kNotFramed, "não é uma lista de arquivos"},
      {"published, but empty", [this] { server_.SetManifest("acme", "licenca_\n\n_licenca"); },
       server_.BaseAddress(), ManifestStatus::kReceived, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.prepare();
    const auto requests = server_.ManifestRequests().size();
    for (int run = 0; run < 2; ++run) {
      cImpLicencas::LoadManifest(state_, *transfer_, trust_, c.base, "acme");
      EXPECT_EQ(state_.status, c.status);
      EXPECT_NE(state_.reason.find(c.reason), std::string::npos) << state_.reason;
      // The address is shown beside the reason, so the reason does not repeat it.
      EXPECT_EQ(state_.reason.find(state_.address), std::string::npos) << state_.reason;
      EXPECT_EQ(state_.address, c.base + "/trabalho/versao.php?id=acme");
      EXPECT_TRUE(state_.lines.empty());
    }
    // Only a manifest is kept; after a failure the next run asks again.
    const bool kept = c.status == ManifestStatus::kReceived;
    EXPECT_EQ(state_.loaded, kept);
    if (c.base == server_.BaseAddress()) {
      EXPECT_EQ(server_.ManifestRequests().size() - requests, kept ? 1u : 2u);
    }
  }
}

// Signed releases made with the key of fixtures/signed, in the order a client meets
// them: each is taken or refused with its reason, and nothing refused is kept.
TEST_F(LoadManifestTest, SignedManifestsAreTakenOnlyWhenEverythingHolds) {
  using cImpLicencas::ManifestStatus;
  const auto fixture = [](const std::string& name) {
    return kalo::test::ReadWholeFile(std::string(KALO_TEST_FIXTURE_DIR) + "/signed/" + name);
  };
  const auto key = [&fixture](const std::string& name) {
    return *cImpLicencas::ParsePublicKey(cUpdate::TrimBlanks(fixture(name)).substr(0, 130));
  };
  const auto vendor_key = key("public_key.txt");
  // The curve's generator: a valid key that signed none of them.
  const auto other_key = *cImpLicencas::ParsePublicKey(
      "046b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c296"
      "4fe342e2fe1a7f9b8ee7eb4a7c0f9e162bce33576b315ececbb6406837bf51f5");
  std::string altered = fixture("newer.txt");
  altered[altered.find("|4|") + 1] = '5';
  struct Case {
    const char* what;
    std::vector<kalo::platform::P256PublicKey> keys;
    std::string manifest;
    std::optional<std::string> signature;  // none: the server has no signature
    ManifestStatus status;
    std::string reason;  // a part of it
  };
  const std::vector<Case> cases{
      {"unsigned",
       {vendor_key},
       fixture("newer.txt"),
       {},
       ManifestStatus::kRefused,
       "não está assinada"},
      {"unreadable signature",
       {vendor_key},
       fixture("newer.txt"),
       "tempo: x\n",
       ManifestStatus::kRefused,
       "não pôde ser lida"},
      {"signed by another key",
       {other_key},
       fixture("newer.txt"),
       fixture("newer.assinatura"),
       ManifestStatus::kRefused,
       "não confere"},
      {"one byte changed",
       {vendor_key},
       altered,
       fixture("newer.assinatura"),
       ManifestStatus::kRefused,
       "não confere"},
      {"a line without its digest",
       {vendor_key},
       fixture("without_digest.txt"),
       fixture("without_digest.assinatura"),
       ManifestStatus::kRefused,
       "não traz o SHA-256"},
      {"older, first seen",
       {other_key, vendor_key},
       fixture("older.txt"),
       fixture("older.assinatura"),
       ManifestStatus::kReceived,
       ""},
      {"newer",
       {vendor_key},
       fixture("newer.txt"),
       fixture("newer.assinatura"),
       ManifestStatus::kReceived,
       ""},
      {"the same again",
       {vendor_key},
       fixture("newer.txt"),
       fixture("newer.assinatura"),
       ManifestStatus::kReceived,
       ""},
      {"older, replayed",
       {vendor_key},
       fixture("older.txt"),
       fixture("older.assinatura"),
       ManifestStatus::kRefused,
       "antes da última aceita (30/11/2026 00:53:20 UTC)"},
      {"unsigned, to an updater without keys",
       {},
       fixture("newer.txt"),
       {},
       ManifestStatus::kReceived,
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    cImpLicencas::ManifestTrust trust(c.keys, settings_);
    server_.SetManifest("acme", c.manifest);
    server_.SetSignature("acme", c.signature.value_or(""));
    if (!c.signature) {
      server_.SetFault(std::string(cImpLicencas::kSignaturePath), kalo::test::Fault::kNotFound);
    }
    state_ = {};
    cImpLicencas::LoadManifest(state_, *transfer_, trust, server_.BaseAddress(), "acme");
    server_.SetFault(std::string(cImpLicencas::kSignaturePath), kalo::test::Fault::kNone);
    EXPECT_EQ(state_.status, c.status);
    EXPECT_NE(state_.reason.find(c.reason), std::string::npos) << state_.reason;
    EXPECT_EQ(state_.loaded, c.status == ManifestStatus::kReceived);
    EXPECT_EQ(state_.lines.empty(), c.status != ManifestStatus::kReceived);
  }
  // Only the updater with keys asked for signatures.
  const auto targets = server_.RequestTargets();
  EXPECT_EQ(std::ranges::count_if(targets,
                                  [](const std::string& target) {
                                    return target.starts_with("/trabalho/assinatura.php?id=acme");
                                  }),
            9);
}

}  // namespace
