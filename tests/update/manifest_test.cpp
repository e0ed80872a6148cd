#include "update/manifest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "helpers/fake_ui.h"
#include "helpers/links.h"
#include "helpers/settings_root.h"
#include "helpers/temp_folder.h"
#include "helpers/test_server.h"
#include "helpers/windows_names.h"
#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/internet_transfer.h"
#include "platform/paths.h"
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

class LoadManifestTest : public testing::Test {
 protected:
  void Load(const std::string& client) {
    failure_ =
        cImpLicencas::LoadManifest(state_, *transfer_, trust_, server_.BaseAddress(), client);
  }
  // Why the latest load failed; empty when it did not.
  std::string Reason() const { return failure_ ? failure_->reason : ""; }

  static std::string Fixture(const std::string& name) {
    return kalo::test::ReadWholeFile(std::string(KALO_TEST_FIXTURE_DIR) + "/signed/" + name);
  }
  static kalo::platform::P256PublicKey VendorKey(const std::string& file = "public_key.txt") {
    return *cImpLicencas::ParsePublicKey(cUpdate::TrimBlanks(Fixture(file)).substr(0, 130));
  }
  // The curve's generator: a valid key that signed none of the fixtures.
  static kalo::platform::P256PublicKey GeneratorKey() {
    return *cImpLicencas::ParsePublicKey(
        "046b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c296"
        "4fe342e2fe1a7f9b8ee7eb4a7c0f9e162bce33576b315ececbb6406837bf51f5");
  }
  // Serves a manifest of fixtures/signed to `client`, with the signature file named.
  void ServeSigned(const std::string& client, const std::string& manifest,
                   const std::string& signature) {
    server_.SetManifest(client, Fixture(manifest));
    server_.SetSignature(client, Fixture(signature));
  }
  // Fetches the manifest of `client` afresh, through `trust`, and keeps its time as the
  // run does once it is taken.
  void LoadThrough(cImpLicencas::ManifestTrust& trust, const std::string& client) {
    state_ = {};
    failure_ = cImpLicencas::LoadManifest(state_, *transfer_, trust, server_.BaseAddress(), client);
    if (const auto published_at = std::exchange(state_.published_at, std::nullopt)) {
      for (std::string& warning : trust.Accept(client, *published_at)) {
        state_.warnings.push_back(std::move(warning));
      }
    }
  }

  kalo::test::SettingsRoot settings_root_;
  kalo::platform::SettingsStore settings_{settings_root_.Path()};
  kalo::test::TempFolder install_;
  // The run's hidden folder, which its lock makes.
  const bool hidden_folder_ = std::filesystem::create_directory(install_ / ".kalo_upd");
  const std::string record_ = kalo::platform::PathInFolder(
      kalo::platform::PathInFolder(install_.Path().string(), ".kalo_upd"), "signatures");
  kalo::platform::FileSystem fs_;
  // The time of day the trust sees: the fixtures' publishing time unless a test moves it.
  std::chrono::system_clock::time_point now_ = std::chrono::system_clock::from_time_t(1796000000);
  const kalo::platform::WallClock wall_clock_ = [this] { return now_; };
  cImpLicencas::ManifestTrust trust_{{}, settings_, fs_, install_.Path().string(), wall_clock_};
  kalo::test::TestServer server_;
  // The clock moves only while the transfer waits to try again, so no case here stalls.
  kalo::test::FakeClock clock_;
  kalo::test::FakeUi ui_{&clock_};
  std::unique_ptr<kalo::platform::InternetTransfer> transfer_ =
      kalo::platform::MakeInternetTransfer(ui_, clock_, {2s, 5s});
  cImpLicencas::ManifestState state_;
  std::optional<kalo::Failure> failure_;
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
  } catch (const kalo::platform::TransferError& error) {
    unreachable = error.Reason();
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
      failure_ = cImpLicencas::LoadManifest(state_, *transfer_, trust_, c.base, "acme");
      EXPECT_EQ(state_.status, c.status);
      EXPECT_EQ(failure_.has_value(), c.status != ManifestStatus::kReceived);
      EXPECT_NE(Reason().find(c.reason), std::string::npos) << Reason();
      // The address is shown beside the reason, so the reason does not repeat it.
      EXPECT_EQ(Reason().find(state_.address), std::string::npos) << Reason();
      if (failure_) {
        EXPECT_EQ(failure_->step, "A lista de arquivos não foi recebida de " + state_.address);
      }
      EXPECT_EQ(state_.address, c.base + "/trabalho/versao.php?id=acme");
      EXPECT_TRUE(state_.lines.empty());
    }
    // Only a manifest is kept; after a failure the next run asks again, and a server
    // error is asked five times in each.
    const bool kept = c.status == ManifestStatus::kReceived;
    EXPECT_EQ(state_.loaded, kept);
    if (c.base == server_.BaseAddress()) {
      const std::size_t per_run = c.reason.find("HTTP 500") != std::string::npos ? 5 : 1;
      EXPECT_EQ(server_.ManifestRequests().size() - requests, kept ? 1u : 2 * per_run);
    }
  }
}

// Signed releases made with the key of fixtures/signed, in the order a client meets
// them: each is taken or refused with its reason, and nothing refused is kept.
TEST_F(LoadManifestTest, SignedManifestsAreTakenOnlyWhenEverythingHolds) {
  using cImpLicencas::ManifestStatus;
  const auto vendor_key = VendorKey();
  const auto other_key = GeneratorKey();
  std::string altered = Fixture("newer.txt");
  altered[altered.find("|4|") + 1] = '5';
  struct Case {
    const char* what;
    std::vector<kalo::platform::P256PublicKey> keys;
    std::string manifest;
    std::optional<std::string> signature;  // none: the server has no signature
    ManifestStatus status;
    std::string reason;           // a part of it
    std::string client = "acme";  // who asks
  };
  const std::vector<Case> cases{
      {"unsigned",
       {vendor_key},
       Fixture("newer.txt"),
       {},
       ManifestStatus::kRefused,
       "não está assinada"},
      {"unreadable signature",
       {vendor_key},
       Fixture("newer.txt"),
       "tempo: x\n",
       ManifestStatus::kRefused,
       "não pôde ser lida"},
      {"signed by another key",
       {other_key},
       Fixture("newer.txt"),
       Fixture("newer.assinatura"),
       ManifestStatus::kRefused,
       "não confere"},
      {"one byte changed",
       {vendor_key},
       altered,
       Fixture("newer.assinatura"),
       ManifestStatus::kRefused,
       "não confere"},
      {"a line without its digest",
       {vendor_key},
       Fixture("without_digest.txt"),
       Fixture("without_digest.assinatura"),
       ManifestStatus::kRefused,
       "não traz o SHA-256"},
      {"acme's, served to beta",
       {vendor_key},
       Fixture("newer.txt"),
       Fixture("newer.assinatura"),
       ManifestStatus::kRefused,
       "foi assinada para outro cliente (acme)",
       "beta"},
      {"the default, served to a client with its own",
       {vendor_key},
       Fixture("newer.txt"),
       Fixture("newer_default.assinatura"),
       ManifestStatus::kRefused,
       "foi assinada para outro cliente (é a lista geral",
       "beta"},
      {"older, first seen",
       {other_key, vendor_key},
       Fixture("older.txt"),
       Fixture("older.assinatura"),
       ManifestStatus::kReceived,
       ""},
      {"newer",
       {vendor_key},
       Fixture("newer.txt"),
       Fixture("newer.assinatura"),
       ManifestStatus::kReceived,
       ""},
      {"the same again",
       {vendor_key},
       Fixture("newer.txt"),
       Fixture("newer.assinatura"),
       ManifestStatus::kReceived,
       ""},
      {"the default, to a client without its own",
       {vendor_key},
       Fixture("newer.txt"),
       Fixture("newer_default.assinatura"),
       ManifestStatus::kReceived,
       ""},
      {"older, replayed",
       {vendor_key},
       Fixture("older.txt"),
       Fixture("older.assinatura"),
       ManifestStatus::kRefused,
       "antes da última aceita (30/11/2026 00:53:20 UTC)"},
      {"unsigned, to an updater without keys",
       {},
       Fixture("newer.txt"),
       {},
       ManifestStatus::kReceived,
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    cImpLicencas::ManifestTrust trust(c.keys, settings_, fs_, install_.Path().string(),
                                      wall_clock_);
    server_.SetManifest(c.client, c.manifest);
    server_.SetSignature(c.client, c.signature.value_or(""));
    if (!c.signature) {
      server_.SetFault(std::string(cImpLicencas::kSignaturePath), kalo::test::Fault::kNotFound);
    }
    LoadThrough(trust, c.client);
    server_.SetFault(std::string(cImpLicencas::kSignaturePath), kalo::test::Fault::kNone);
    EXPECT_EQ(state_.status, c.status);
    EXPECT_NE(Reason().find(c.reason), std::string::npos) << Reason();
    EXPECT_EQ(state_.loaded, c.status == ManifestStatus::kReceived);
    EXPECT_EQ(state_.lines.empty(), c.status != ManifestStatus::kReceived);
  }
  // Only the updater with keys asked for signatures.
  const auto targets = server_.RequestTargets();
  EXPECT_EQ(std::ranges::count_if(targets,
                                  [](const std::string& target) {
                                    return target.starts_with("/trabalho/assinatura.php?id=");
                                  }),
            12);
  EXPECT_TRUE(state_.warnings.empty());
}

// The install folder is every user's: one who never ran the updater takes no older
// release than another took, and each run leaves the newest time in both stores.
TEST_F(LoadManifestTest, TheInstallFolderRemembersTheNewestTimeForEveryUser) {
  using cImpLicencas::ManifestStatus;
  ServeSigned("acme", "newer.txt", "newer.assinatura");
  cImpLicencas::ManifestTrust first_user({VendorKey()}, settings_, fs_, install_.Path().string(),
                                         wall_clock_);
  LoadThrough(first_user, "acme");
  ASSERT_EQ(state_.status, ManifestStatus::kReceived) << Reason();
  EXPECT_EQ(kalo::test::ReadWholeFile(record_), "acme 1796000000\n");

  kalo::test::SettingsRoot other_root;
  kalo::platform::SettingsStore other_settings(other_root.Path());
  cImpLicencas::ManifestTrust other_user({VendorKey()}, other_settings, fs_,
                                         install_.Path().string(), wall_clock_);
  ServeSigned("acme", "older.txt", "older.assinatura");
  LoadThrough(other_user, "acme");
  EXPECT_EQ(state_.status, ManifestStatus::kRefused);
  EXPECT_NE(Reason().find("antes da última aceita (30/11/2026 00:53:20 UTC)"), std::string::npos)
      << Reason();

  // The user's own settings count as well when the folder's record is gone.
  std::filesystem::remove(record_);
  LoadThrough(first_user, "acme");
  EXPECT_EQ(state_.status, ManifestStatus::kRefused);

  // Taken, the time goes into both stores: the second user's settings now refuse alone.
  ServeSigned("acme", "newer.txt", "newer.assinatura");
  LoadThrough(other_user, "acme");
  ASSERT_EQ(state_.status, ManifestStatus::kReceived) << Reason();
  EXPECT_EQ(kalo::test::ReadWholeFile(record_), "acme 1796000000\n");
  std::filesystem::remove(record_);
  ServeSigned("acme", "older.txt", "older.assinatura");
  LoadThrough(other_user, "acme");
  EXPECT_EQ(state_.status, ManifestStatus::kRefused);
  EXPECT_TRUE(state_.warnings.empty());
}

// A link in the record's place is never followed: what it leads to stays as it was, and
// the record is reported and written afresh as a file of its own.
TEST_F(LoadManifestTest, ALinkInPlaceOfTheRecordIsNotFollowed) {
  const std::string elsewhere = install_.Write("elsewhere.txt", "acme 1796000000\n");
  if (!kalo::test::MakeSymbolicLink(record_, elsewhere, false)) {
    GTEST_SKIP() << "this system makes no symbolic links here";
  }
  ServeSigned("acme", "older.txt", "older.assinatura");
  cImpLicencas::ManifestTrust trust({VendorKey()}, settings_, fs_, install_.Path().string(),
                                    wall_clock_);
  LoadThrough(trust, "acme");
  EXPECT_EQ(state_.status, cImpLicencas::ManifestStatus::kReceived) << Reason();
  ASSERT_EQ(state_.warnings.size(), 1u);
  EXPECT_EQ(
      state_.warnings[0].find("o registro de assinaturas " + record_ + " foi desconsiderado: "), 0u)
      << state_.warnings[0];
  EXPECT_FALSE(std::filesystem::is_symlink(record_));
  EXPECT_EQ(kalo::test::ReadWholeFile(record_), "acme 1795000000\n");
  EXPECT_EQ(kalo::test::ReadWholeFile(elsewhere), "acme 1796000000\n");
}

// Other users may write the record: whatever it holds, it is read strictly, and a record
// that is no record counts as empty, is reported, and is written afresh.
TEST_F(LoadManifestTest, TheRecordIsReadStrictlyAndAnUnusableOneIsReported) {
  std::string too_long;
  for (int client = 0; too_long.size() <= 64 * 1024; ++client) {
    too_long += "c" + std::to_string(client) + " 1796000000\n";
  }
  struct Case {
    const char* what;
    std::string record;    // each would refuse the older release, were it read loosely
    std::string after;     // the record once the older release is taken
    bool reported = true;  // whether the record is reported as disregarded
  } const cases[] = {
      {"other clients", "beta%20x 5\nzeta 1796000000\n",
       "acme 1795000000\nbeta%20x 5\nzeta 1796000000\n", false},
      {"no line feed", "acme 1796000000", "acme 1795000000\n"},
      {"CR LF", "acme 1796000000\r\n", "acme 1795000000\n"},
      {"a sign", "acme +1796000000\n", "acme 1795000000\n"},
      {"two blanks", "acme  1796000000\n", "acme 1795000000\n"},
      {"a client twice", "acme 1\nacme 1796000000\n", "acme 1795000000\n"},
      {"a name not encoded", "ação 1\nacme 1796000000\n", "acme 1795000000\n"},
      {"a time too large", "acme 99999999999999999999\n", "acme 1795000000\n"},
      {"larger than any record", too_long + "acme 1796000000\n", "acme 1795000000\n"},
  };
  ServeSigned("acme", "older.txt", "older.assinatura");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    install_.Write(".kalo_upd/signatures", c.record);
    kalo::test::SettingsRoot fresh_root;
    kalo::platform::SettingsStore fresh_settings(fresh_root.Path());
    cImpLicencas::ManifestTrust trust({VendorKey()}, fresh_settings, fs_, install_.Path().string(),
                                      wall_clock_);
    LoadThrough(trust, "acme");
    EXPECT_EQ(state_.status, cImpLicencas::ManifestStatus::kReceived) << Reason();
    EXPECT_EQ(kalo::test::ReadWholeFile(record_), c.after);
    EXPECT_EQ(state_.warnings.size(), c.reported ? 1u : 0u);
    if (c.reported && !state_.warnings.empty()) {
      EXPECT_EQ(
          state_.warnings[0].find("o registro de assinaturas " + record_ + " foi desconsiderado: "),
          0u)
          << state_.warnings[0];
    }
  }
}

class UnwritableFiles : public kalo::platform::FileSystem {
 public:
  void WriteFileAtomically(const std::string&, std::span<const std::byte>,
                           kalo::platform::FilePermissions) override {
    throw kalo::Error(kalo::error_number::kPermissionDenied, "disco negado", "test");
  }
};

// Neither store can be written: the manifest is taken all the same, and both failures
// are there for the run to report.
TEST_F(LoadManifestTest, StoresThatCannotBeWrittenAreReportedNotSwallowed) {
  kalo::platform::SettingsStore settings(settings_root_.Unwritable());
  UnwritableFiles files;
  cImpLicencas::ManifestTrust trust({VendorKey()}, settings, files, install_.Path().string(),
                                    wall_clock_);
  ServeSigned("acme", "newer.txt", "newer.assinatura");
  LoadThrough(trust, "acme");
  EXPECT_EQ(state_.status, cImpLicencas::ManifestStatus::kReceived) << Reason();
  ASSERT_EQ(state_.warnings.size(), 2u);
  EXPECT_TRUE(state_.warnings[0].starts_with(
      "a data da lista de arquivos aceita não foi guardada nas configurações deste usuário: "))
      << state_.warnings[0];
  EXPECT_EQ(state_.warnings[1],
            "a data da lista de arquivos aceita não foi guardada em " + record_ + ": disco negado");
}

// The check only reads: a manifest checked any number of times changes no store until it
// is accepted, and then both stores keep its time.
TEST_F(LoadManifestTest, TheCheckWritesNothingAndAcceptKeepsTheTime) {
  cImpLicencas::ManifestTrust trust({VendorKey()}, settings_, fs_, install_.Path().string(),
                                    wall_clock_);
  std::vector<std::string> warnings;
  for (int check = 0; check < 2; ++check) {
    const auto verdict =
        trust.Check("acme", Fixture("newer.txt"), Fixture("newer.assinatura"), warnings);
    EXPECT_EQ(verdict.refusal, std::nullopt);
    EXPECT_EQ(verdict.published_at, 1796000000);
  }
  EXPECT_FALSE(std::filesystem::exists(record_));
  EXPECT_EQ(settings_.Get("KALO", "assinaturas", "acme", ""), "");
  EXPECT_EQ(trust.Accept("acme", 1796000000), std::vector<std::string>{});
  EXPECT_EQ(kalo::test::ReadWholeFile(record_), "acme 1796000000\n");
  EXPECT_EQ(settings_.Get("KALO", "assinaturas", "acme", ""), "1796000000");
  const auto older =
      trust.Check("acme", Fixture("older.txt"), Fixture("older.assinatura"), warnings);
  ASSERT_TRUE(older.refusal);
  EXPECT_EQ(older.refusal->step, "");
  EXPECT_NE(older.refusal->reason.find("antes da última aceita"), std::string::npos);
  EXPECT_TRUE(warnings.empty());
}

// Which key signed a list, and until when it may be taken. A list whose signature no key
// of the updater's verifies, naming a key the updater lacks, is refused for that key; one
// past its expiry is refused for it, whenever it was published; without an expiry a list
// is taken whenever.
TEST_F(LoadManifestTest, CheckNamesAMissingKeyAndRefusesAnExpiredList) {
  const auto old_key = VendorKey();
  const auto new_key = VendorKey("new_public_key.txt");
  const std::string newer = Fixture("newer.txt");
  std::string tampered = newer;
  tampered[tampered.find("|4|") + 1] = '5';
  const auto expiry = std::chrono::system_clock::from_time_t(1796086400);
  struct Case {
    const char* what;
    std::vector<kalo::platform::P256PublicKey> keys;
    const char* signature;  // a fixture
    const std::string& manifest;
    std::chrono::system_clock::time_point now;
    std::string refusal;  // the reason, whole or in part; empty: taken
  } const cases[] = {
      {"before the expiry", {old_key}, "expiring.assinatura", newer, expiry - 1s, ""},
      {"at the expiry", {old_key}, "expiring.assinatura", newer, expiry, ""},
      {"past the expiry",
       {old_key},
       "expiring.assinatura",
       newer,
       expiry + 1s,
       "a lista de arquivos expirou em 01/12/2026 00:53:20 UTC; o servidor pode estar entregando "
       "uma lista antiga (avise o fornecedor)"},
      {"past the expiry and tampered",
       {old_key},
       "expiring.assinatura",
       tampered,
       expiry + 1s,
       "a assinatura não confere"},
      {"no expiry, years later", {old_key}, "newer.assinatura", newer, expiry + 87600h, ""},
      {"the new key, to an updater with the old one",
       {old_key},
       "new_key.assinatura",
       newer,
       expiry,
       "a lista de arquivos foi assinada com a chave d0d492fd02efd6d9, que este atualizador não "
       "tem (ele aceita: 0588f99f2063b9bc); instale um atualizador com essa chave"},
      {"the old key, to an updater with two others",
       {new_key, GeneratorKey()},
       "expiring.assinatura",
       newer,
       expiry,
       "a lista de arquivos foi assinada com a chave 0588f99f2063b9bc, que este atualizador não "
       "tem (ele aceita: d0d492fd02efd6d9, 698bea63dc44a344); instale um atualizador com essa "
       "chave"},
      {"the new key, to an updater with both",
       {old_key, new_key},
       "new_key.assinatura",
       newer,
       expiry,
       ""},
      {"tampered, naming a key the updater has",
       {old_key, new_key},
       "new_key.assinatura",
       tampered,
       expiry,
       "a assinatura não confere"},
      {"tampered, naming a key the updater lacks",
       {old_key},
       "new_key.assinatura",
       tampered,
       expiry,
       "assinada com a chave d0d492fd02efd6d9, que este atualizador não tem"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    now_ = c.now;
    const cImpLicencas::ManifestTrust trust(c.keys, settings_, fs_, install_.Path().string(),
                                            wall_clock_);
    std::vector<std::string> warnings;
    const auto verdict = trust.Check("acme", c.manifest, Fixture(c.signature), warnings);
    EXPECT_EQ(verdict.refusal.has_value(), !c.refusal.empty());
    if (verdict.refusal) {
      EXPECT_NE(verdict.refusal->reason.find(c.refusal), std::string::npos)
          << verdict.refusal->reason;
    } else {
      EXPECT_EQ(verdict.published_at, 1796000000);
    }
    EXPECT_TRUE(warnings.empty());
  }
}

}  // namespace
