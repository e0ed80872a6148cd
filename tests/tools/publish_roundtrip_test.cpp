// Publish -> serve -> update, with the real kalo-publish and kalo_upd programs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "helpers/child_processes.h"
#include "helpers/install_folder.h"
#include "helpers/links.h"
#include "helpers/posix/program_run.h"
#include "helpers/posix/publish_server.h"
#include "helpers/temp_folder.h"
#include "platform/cryptography.h"
#include "publish/signing.h"
#include "support/text.h"
#include "update/manifest_signature.h"
#include "update/manifest_trust.h"

namespace {

using kalo::test::ReadWholeFile;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::map<std::string, std::string> FolderContents(const fs::path& folder) {
  std::map<std::string, std::string> contents;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) {
      contents[fs::relative(entry.path(), folder).string()] = ReadWholeFile(entry.path());
    }
  }
  return contents;
}

class PublishRoundTrip : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(release_);
    fs::create_directories(install_);
    kalo::test::InstallArchiveLibraries(install_);
  }

  void TearDown() override { kalo::test::EndStartedProgram(install_ + "/acme.exe"); }

  kalo::test::ProgramResult Publish(const std::vector<std::string>& arguments) {
    return kalo::test::RunProgram(KALO_PUBLISH_PROGRAM, arguments, {}, scratch_);
  }

  // A run of `updater`, the one built without keys unless told.
  kalo::test::ProgramResult Update(const std::string& server,
                                   const std::string& updater = KALO_UPD_PROGRAM) {
    return kalo::test::RunProgram(updater, {"--unattended", "--server", server, "--client", "acme"},
                                  {"KALO_DIR=" + install_, "XDG_CONFIG_HOME=" + work_ / "config"},
                                  scratch_);
  }

  // Every file that a manifest of the server folder names lies there, with the length
  // and (in a signed manifest) the SHA-256 the manifest says.
  void ExpectManifestsHold() const {
    for (const auto& manifest : fs::directory_iterator(server_dir_ + "/trabalho/manifests")) {
      if (manifest.path().extension() != ".txt") {
        continue;
      }
      for (const auto& entry : kalo::test::ManifestEntriesOf(manifest.path())) {
        SCOPED_TRACE(manifest.path().string() + ": " + entry.remote_file_name);
        const std::string served =
            ReadWholeFile(server_dir_ + "/trabalho/versao/" + entry.remote_file_name);
        EXPECT_EQ(std::to_string(served.size()), entry.Size());
        if (!entry.Sha256().empty()) {
          EXPECT_EQ(entry.Sha256(), cUpdate::HexText(kalo::platform::Sha256Of(
                                        std::as_bytes(std::span(served.data(), served.size())))));
        }
      }
    }
  }

  kalo::test::TempFolder work_;
  kalo::test::TempFolder scratch_;
  const std::string release_ = work_ / "release";
  const std::string server_dir_ = work_ / "server";
  const std::string install_ = work_ / "KALO";
};

// A release file dated `seconds` after a fixed minute.
void Date(const std::string& path, int seconds) {
  fs::last_write_time(path, fs::file_time_type::clock::from_sys(
                                std::chrono::sys_days{std::chrono::year{2026} / 3 / 9} +
                                std::chrono::hours{10} + std::chrono::seconds{seconds}));
}

TEST_F(PublishRoundTrip, PublishServeUpdateRepublish) {
  fs::copy_file(KALO_TEST_PROGRAM, release_ + "/acme.exe");
  work_.Write("release/logo.jpg", "jpeg");
  const std::vector<std::string> build{"build", release_, "--out", server_dir_, "--client", "ACME"};
  ASSERT_EQ(Publish(build).exit_status, 0);
  const auto first_publish = FolderContents(server_dir_);
  ASSERT_EQ(Publish(build).exit_status, 0);
  EXPECT_EQ(FolderContents(server_dir_), first_publish);  // the same input, the same output

  const kalo::test::PublishServer server(server_dir_, work_ / "server.log");
  const std::string& url = server.Url();
  ASSERT_TRUE(url.starts_with("http://127.0.0.1:")) << url;
  const auto fresh = Update(url);
  EXPECT_EQ(fresh.exit_status, 0) << fresh.err;
  EXPECT_NE(fresh.out.find("Descompactado: acme.exe"), std::string::npos);
  EXPECT_NE(fresh.out.find("Baixado: logo-jpg-"), std::string::npos);
  EXPECT_TRUE(kalo::test::WaitUntilStarted(install_ + "/acme.exe"));
  EXPECT_NE(Update(url).out.find("Tudo atualizado"), std::string::npos);

  // A newer build of the product replaces exactly that file; published signed, it is
  // taken by an updater without keys all the same.
  fs::remove(install_ + "/acme.exe.started");
  fs::copy_file(KALO_TEST_PROGRAM_V2, release_ + "/acme.exe", fs::copy_options::overwrite_existing);
  const std::string key = work_ / "vendor.pem";
  ASSERT_EQ(Publish({"keys", key}).exit_status, 0);
  auto signed_build = build;
  signed_build.insert(signed_build.end(), {"--sign", key});
  ASSERT_EQ(Publish(signed_build).exit_status, 0);
  const auto newer = Update(url);
  EXPECT_EQ(newer.exit_status, 0) << newer.err;
  EXPECT_NE(newer.out.find("Baixado: acme-exe-201811221540.zip"), std::string::npos);
  EXPECT_NE(newer.out.find("Descompactado: acme.exe"), std::string::npos);
  EXPECT_EQ(newer.out.find("Baixado: logo"), std::string::npos);
  EXPECT_EQ(ReadWholeFile(install_ + "/acme.exe"), ReadWholeFile(KALO_TEST_PROGRAM_V2));
  EXPECT_TRUE(kalo::test::WaitUntilStarted(install_ + "/acme.exe"));
}

// A signed release end to end: the updater built with the vendor's key takes it, and
// refuses, with its reason and without
// touching the install folder, every release that is not the vendor's as published.
TEST_F(PublishRoundTrip, SignedReleasesAreTakenAndAnythingElseRefused) {
  // Data files only: nothing to hand over to, so no run waits for a product to start.
  work_.Write("release/logo.jpg", "jpeg");
  work_.Write("release/leiame.txt", "leia-me");
  const std::string vendor_key = kalo::test::FixtureSigningKey(work_, "signing_key.pem");
  const std::string other_key = work_ / "other.pem";
  ASSERT_EQ(Publish({"keys", other_key}).exit_status, 0);
  const auto build = [this](const std::string& key) {
    std::vector<std::string> arguments{"build", release_, "--out", server_dir_};
    if (!key.empty()) {
      arguments.insert(arguments.end(), {"--sign", key});
    }
    ASSERT_EQ(Publish(arguments).exit_status, 0);
  };
  build(vendor_key);
  const kalo::test::PublishServer server(server_dir_, work_ / "server.log");

  const auto taken = Update(server.Url(), KALO_SIGNED_UPD_PROGRAM);
  EXPECT_EQ(taken.exit_status, 0) << taken.err;
  EXPECT_NE(taken.out.find("Baixado: leiame-txt-"), std::string::npos);
  EXPECT_NE(taken.out.find("Baixado: logo-jpg-"), std::string::npos);

  const std::string manifests = server_dir_ + "/trabalho/manifests/";
  const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
  const auto change_byte = [](const std::string& path, std::size_t from_end) {
    std::string content = ReadWholeFile(path);
    content[content.size() - from_end] ^= 1;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
  };
  // The server answers `target`'s request with `source`'s bytes. Clients on the same
  // release share one manifest file, so the target is replaced, not written through.
  const auto served_instead = [](const std::string& source, const std::string& target) {
    const std::string bytes = ReadWholeFile(source);
    fs::remove(target);
    std::ofstream(target, std::ios::binary) << bytes;
  };
  struct Case {
    const char* what;
    std::function<void()> prepare;
    std::string reason;  // a part of what the updater says
    // The manifest itself holds, so its time is kept in the install folder's record,
    // which then changes whenever the publishing took a new second.
    bool manifest_taken = false;
  };
  const std::vector<Case> cases{
      {"unsigned", [&] { build(""); }, "não está assinada"},
      {"signed with another key", [&] { build(other_key); },
       "que este atualizador não tem (ele aceita: 0588f99f2063b9bc)"},
      {"one byte changed in the manifest",
       [&] {
         build(vendor_key);
         change_byte(manifests + "default.txt", 20);  // a digit of the last digest
       },
       "não confere"},
      {"an older release replayed",
       [&] {
         for (const char* extension : {".txt", ".assinatura"}) {
           fs::copy_file(std::string(KALO_TEST_FIXTURE_DIR) + "/signed/older" + extension,
                         manifests + "default" + extension, fs::copy_options::overwrite_existing);
         }
       },
       "antes da última aceita"},
      // Signed by the vendor an hour ago, to be taken until a minute ago: the updater names
      // the expiry, whatever the time it took last.
      {"an expired manifest",
       [&] {
         build(vendor_key);
         const std::string manifest = ReadWholeFile(manifests + "default.txt");
         const auto signature = kalo::publish::SigningKey::Load(vendor_key)
                                    .Sign(cImpLicencas::ParseSignatureFile(
                                              ReadWholeFile(manifests + "default.assinatura"))
                                              ->signed_for,
                                          manifest, now - 3600, now - 60);
         work_.Write("server/trabalho/manifests/default.assinatura",
                     cImpLicencas::SignatureFileText(signature));
       },
       "a lista de arquivos expirou em " + cImpLicencas::PublishingTimeText(now - 60)},
      {"one byte changed in a file",
       [&] {
         build(vendor_key);
         for (const auto& entry : fs::directory_iterator(server_dir_ + "/trabalho/versao")) {
           if (entry.path().filename().string().starts_with("logo-jpg-")) {
             change_byte(entry.path(), 1);
             // The installed copy is out of date, so the run fetches the file.
             work_.Write("KALO/" + entry.path().filename().string(), "old");
           }
         }
       },
       "não confere com a lista de arquivos", true},
      // acme and beta get their own manifests; the server answers acme with another.
      {"beta's manifest served to acme",
       [&] {
         ASSERT_EQ(Publish({"build", release_, "--out", server_dir_, "--client", "acme", "--client",
                            "beta", "--sign", vendor_key})
                       .exit_status,
                   0);
         for (const char* extension : {".txt", ".assinatura"}) {
           served_instead(manifests + "beta" + extension, manifests + "acme" + extension);
         }
       },
       "foi assinada para outro cliente (beta)"},
      {"the default manifest served to acme, which has its own",
       [&] {
         for (const char* extension : {".txt", ".assinatura"}) {
           served_instead(manifests + "default" + extension, manifests + "acme" + extension);
         }
       },
       "é a lista geral"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.prepare();
    const auto contents = [&] {
      auto files = FolderContents(install_);
      // The run log tells of every run, a refused one too.
      files.erase(".kalo_upd/kalo_upd.log");
      if (c.manifest_taken) {
        files.erase(".kalo_upd/signatures");
      }
      return files;
    };
    const auto before = contents();
    const auto refused = Update(server.Url(), KALO_SIGNED_UPD_PROGRAM);
    EXPECT_EQ(refused.exit_status, 1);
    EXPECT_NE(refused.err.find(c.reason), std::string::npos) << refused.err;
    EXPECT_EQ(contents(), before);
  }
}

// A vendor moving to a new key: the updater built with both keys takes releases signed
// with either, while one with the old key alone refuses the new key's, naming the key
// it lacks. (tests/app/windows_e2e_test.cpp hands the new updater over to the clients.)
TEST_F(PublishRoundTrip, AnUpdaterWithBothKeysTakesReleasesSignedWithEither) {
  work_.Write("release/logo.jpg", "jpeg");
  const auto build = [this](const std::string& key) {
    ASSERT_EQ(Publish({"build", release_, "--out", server_dir_, "--sign", key}).exit_status, 0);
  };
  build(kalo::test::FixtureSigningKey(work_, "signing_key.pem"));
  const kalo::test::PublishServer server(server_dir_, work_ / "server.log");
  const auto old_key_release = Update(server.Url(), KALO_ROTATED_UPD_PROGRAM);
  EXPECT_EQ(old_key_release.exit_status, 0) << old_key_release.err;
  EXPECT_NE(old_key_release.out.find("Baixado: logo-jpg-"), std::string::npos);

  work_.Write("release/leiame.txt", "leia-me");
  build(kalo::test::FixtureSigningKey(work_, "new_signing_key.pem"));
  const auto refused = Update(server.Url(), KALO_SIGNED_UPD_PROGRAM);
  EXPECT_EQ(refused.exit_status, 1);
  EXPECT_NE(refused.err.find("foi assinada com a chave d0d492fd02efd6d9, que este atualizador não "
                             "tem (ele aceita: 0588f99f2063b9bc)"),
            std::string::npos)
      << refused.err;
  const auto new_key_release = Update(server.Url(), KALO_ROTATED_UPD_PROGRAM);
  EXPECT_EQ(new_key_release.exit_status, 0) << new_key_release.err;
  EXPECT_NE(new_key_release.out.find("Baixado: leiame-txt-"), std::string::npos);
}

TEST_F(PublishRoundTrip, UnpublishableReleasesAreRefusedWhole) {
  const std::vector<std::string> names = {"Logo.jpg",    "my file.txt",  "a-b.txt",
                                          "noextension", "two.dots.txt", "trailing.",
                                          "com1.dll",    "nul.txt",      "dados.zip"};
  for (const std::string& name : names) {
    work_.Write("release/" + name, "x");
  }
  work_.Write("segredo.txt", "not for release");
  ASSERT_TRUE(
      kalo::test::MakeSymbolicLink(release_ + "/segredo.txt", work_ / "segredo.txt", false));
  fs::copy_file(std::string(KALO_TEST_FIXTURE_DIR) + "/pe/plain64-noversion.exe",
                release_ + "/plain.exe");
  const auto refused = Publish({"build", release_, "--out", server_dir_});
  EXPECT_EQ(refused.exit_status, 1);
  for (const std::string& name : names) {
    EXPECT_NE(refused.err.find(name + ": "), std::string::npos) << name;
  }
  EXPECT_NE(refused.err.find("plain.exe: "), std::string::npos);
  // A name every updater skips says why: Windows reserves it.
  EXPECT_NE(refused.err.find("nul.txt: o nome é reservado pelo Windows"), std::string::npos);
  // Every updater would unpack a data file named .zip, and then fail on it.
  EXPECT_NE(refused.err.find("dados.zip: todo atualizador trata um arquivo .zip como pacote"),
            std::string::npos);
  EXPECT_NE(refused.err.find("segredo.txt: é um link simbólico para " + work_ / "segredo.txt" +
                             ", fora da pasta da versão"),
            std::string::npos)
      << refused.err;
  EXPECT_FALSE(fs::exists(server_dir_));
  EXPECT_EQ(Publish({"build", release_}).exit_status, 2);
}

// A changed data file of the same minute gets a name of its own, so a build that fails
// after writing its files leaves every served manifest as true as before; a link to
// a file inside the release publishes that file.
TEST_F(PublishRoundTrip, AChangedFileNeverReplacesWhatAManifestNames) {
  const std::string key = kalo::test::FixtureSigningKey(work_, "signing_key.pem");
  const std::vector<std::string> build{"build",    release_, "--out",  server_dir_,
                                       "--client", "acme",   "--sign", key};
  Date(work_.Write("release/logo.jpg", "jpeg"), 10);
  ASSERT_TRUE(kalo::test::MakeSymbolicLink(release_ + "/copia.jpg", "logo.jpg", false));
  ASSERT_EQ(Publish(build).exit_status, 0);
  const std::string files = server_dir_ + "/trabalho/versao/";
  EXPECT_EQ(ReadWholeFile(files + "copia-jpg-202603091000.jpg"), "jpeg");

  Date(work_.Write("release/logo.jpg", "a new jpeg"), 40);
  // The default manifest's signature cannot be written: the build fails after the
  // files and the default manifest, before acme's.
  const std::string signature = server_dir_ + "/trabalho/manifests/default.assinatura";
  fs::remove(signature);
  fs::create_directory(signature);
  EXPECT_EQ(Publish(build).exit_status, 1);
  ExpectManifestsHold();

  fs::remove(signature);
  ASSERT_EQ(Publish(build).exit_status, 0);
  ExpectManifestsHold();
  EXPECT_EQ(ReadWholeFile(files + "logo-jpg-202603091000.jpg"), "jpeg");
  EXPECT_EQ(ReadWholeFile(files + "logo-jpg-202603091001.jpg"), "a new jpeg");
  // Published again, it finds the same name; only the signatures' times may change.
  const auto published = FolderContents(files);
  const std::string manifest = ReadWholeFile(server_dir_ + "/trabalho/manifests/acme.txt");
  ASSERT_EQ(Publish(build).exit_status, 0);
  EXPECT_EQ(FolderContents(files), published);
  EXPECT_EQ(ReadWholeFile(server_dir_ + "/trabalho/manifests/acme.txt"), manifest);
}

// The updater judges a program by its version alone: another program under a version
// already published would never be unpacked. The same program published again is.
TEST_F(PublishRoundTrip, ProgramsTheUpdaterCannotTellApartAreRefused) {
  const std::string fixtures = std::string(KALO_TEST_FIXTURE_DIR) + "/pe/";
  const std::string versioned_again = work_ / "app64-rebuilt.exe";
  fs::copy_file(fixtures + "app64-3112-1999.exe", versioned_again);
  std::ofstream(versioned_again, std::ios::app) << "rebuilt";
  const struct {
    std::string published;
    std::string changed;
    const char* reason;
  } cases[] = {
      {fixtures + "plain64-noversion.exe", fixtures + "plain32-noversion.exe",
       "executável sem informação de versão, e outro sem ela já foi publicado em "},
      {fixtures + "app64-3112-1999.exe", versioned_again,
       "outro executável com a versão 199912312359 já foi publicado em "},
  };
  const std::vector<std::string> build{"build", release_, "--out", server_dir_,
                                       "--allow-unversioned"};
  for (const auto& [published, changed, reason] : cases) {
    SCOPED_TRACE(published);
    fs::remove_all(server_dir_);
    fs::copy_file(published, release_ + "/acme.exe", fs::copy_options::overwrite_existing);
    Date(release_ + "/acme.exe", 0);
    ASSERT_EQ(Publish(build).exit_status, 0);
    const auto served = FolderContents(server_dir_);
    Date(release_ + "/acme.exe", 3600);  // copied again: the same bytes, another date
    ASSERT_EQ(Publish(build).exit_status, 0);
    EXPECT_EQ(FolderContents(server_dir_), served);

    fs::copy_file(changed, release_ + "/acme.exe", fs::copy_options::overwrite_existing);
    const auto refused = Publish(build);
    EXPECT_EQ(refused.exit_status, 1);
    EXPECT_NE(refused.err.find(std::string("acme.exe: ") + reason), std::string::npos)
        << refused.err;
    EXPECT_NE(refused.err.find("o atualizador não distingue os dois"), std::string::npos);
    EXPECT_NE(refused.err.find("nada foi publicado"), std::string::npos);
    EXPECT_EQ(FolderContents(server_dir_), served);
  }
}

// Files larger than the memory the build may take are copied, packed and hashed piece
// by piece, never held whole.
TEST_F(PublishRoundTrip, LargeFilesArePublishedInLittleMemory) {
  constexpr std::uintmax_t kSize = std::uintmax_t{24} << 20;
  {
    // Sparse, so that making it costs nothing.
    std::ofstream data(release_ + "/dados.bin", std::ios::binary);
    data.seekp(kSize - 3);
    data << "end";
  }
  // A program with a large body keeps its version note where it was.
  fs::copy_file(KALO_TEST_PROGRAM, release_ + "/acme.exe");
  fs::resize_file(release_ + "/acme.exe", kSize);
  // 16 MiB of heap and other private memory at the most.
  const auto published =
      kalo::test::RunProgram("sh",
                             {"-c", "ulimit -d 16384 && exec \"$0\" \"$@\"", KALO_PUBLISH_PROGRAM,
                              "build", release_, "--out", server_dir_, "--sign",
                              std::string(KALO_TEST_FIXTURE_DIR) + "/signed/signing_key.pem"},
                             {}, scratch_);
  ASSERT_EQ(published.exit_status, 0) << published.err;
  EXPECT_NE(published.out.find("acme-exe-201811211540.zip|"), std::string::npos) << published.out;
  std::vector<fs::path> copies;
  for (const auto& entry : fs::directory_iterator(server_dir_ + "/trabalho/versao")) {
    if (entry.path().filename().string().starts_with("dados-bin-")) {
      copies.push_back(entry.path());
    }
  }
  ASSERT_EQ(copies.size(), 1u);
  ASSERT_EQ(fs::file_size(copies[0]), kSize);
  std::ifstream copy(copies[0], std::ios::binary);
  copy.seekg(kSize - 3);
  std::string end(3, '\0');
  copy.read(end.data(), 3);
  EXPECT_EQ(end, "end");
}

// A folder that may be listed but not searched: its files are seen, but their dates
// cannot be read. Root reads them anyway, so it runs the build as nobody.
TEST_F(PublishRoundTrip, UnreadableDatesRefuseTheReleaseWhole) {
  work_.Write("release/logo.jpg", "jpeg");
  fs::permissions(release_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                fs::perms::others_read);
  std::string program = KALO_PUBLISH_PROGRAM;
  std::vector<std::string> arguments{"build", release_, "--out", server_dir_};
  if (::geteuid() == 0) {
    arguments.insert(arguments.begin(),
                     {"--reuid=65534", "--regid=65534", "--clear-groups", program});
    program = "setpriv";
  }
  const auto refused = kalo::test::RunProgram(program, arguments, {}, scratch_);
  EXPECT_EQ(refused.exit_status, 1);
  EXPECT_NE(refused.err.find(release_ + "/logo.jpg: a data do arquivo não pôde ser lida (" +
                             std::strerror(EACCES) + ")"),
            std::string::npos)
      << refused.err;
  EXPECT_NE(refused.err.find("nada foi publicado"), std::string::npos) << refused.err;
  EXPECT_FALSE(fs::exists(server_dir_));
}

// The nginx configuration of README.md serves the same folder to the updater.
TEST_F(PublishRoundTrip, NginxServesThePublishedFolder) {
  if (!kalo::test::NginxServer::IsInstalled()) {
    GTEST_SKIP() << "nginx is not installed";
  }
  // A data file: what is checked is the serving, and a hand-over only adds its pauses.
  Date(work_.Write("release/logo.jpg", "jpeg"), 0);
  ASSERT_EQ(Publish({"build", release_, "--out", server_dir_, "--client", "acme"}).exit_status, 0);
  const kalo::test::NginxServer nginx(server_dir_, work_ / "nginx");

  const auto result = Update(nginx.Url());
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_NE(result.out.find("Baixado: logo-jpg-202603091000.jpg"), std::string::npos)
      << result.out << nginx.ErrorLog();
  EXPECT_EQ(ReadWholeFile(install_ + "/logo-jpg-202603091000.jpg"), "jpeg");
}

}  // namespace
