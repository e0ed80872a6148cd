// The release desk end to end: the real kalo-publish keeps a store of releases for a
// thousand clients, nginx and `kalo-publish serve` serve it, and the real updater (built
// with the vendor's key) takes what each client is given as releases are rolled out,
// pinned, taken back and pruned.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "helpers/install_folder.h"
#include "helpers/posix/program_run.h"
#include "helpers/posix/publish_server.h"
#include "helpers/temp_folder.h"
#include "platform/cryptography.h"
#include "support/text.h"
#include "update/manifest_signature.h"

namespace {

using kalo::test::ReadWholeFile;
namespace fs = std::filesystem;

// The stable channel's clients in rollout order, worked out here from the names alone:
// the first eight bytes of their SHA-256, big-endian, then the name.
std::vector<std::string> ByStableHash(const std::vector<std::string>& names) {
  std::vector<std::pair<std::string, std::string>> keyed;
  for (const std::string& name : names) {
    const auto digest =
        kalo::platform::Sha256Of(std::as_bytes(std::span(name.data(), name.size())));
    keyed.emplace_back(cUpdate::HexText(std::span(digest).first<8>()), name);
  }
  std::ranges::sort(keyed);
  std::vector<std::string> order;
  for (const auto& [hash, name] : keyed) {
    order.push_back(name);
  }
  return order;
}

class ReleaseDeskEndToEnd : public testing::Test {
 protected:
  kalo::test::ProgramResult Publish(std::vector<std::string> arguments) {
    arguments.insert(arguments.end(), {"--sign", key_});
    return kalo::test::RunProgram(KALO_PUBLISH_PROGRAM, arguments, {}, scratch_);
  }

  void Desk(const std::vector<std::string>& arguments) {
    std::vector<std::string> with_store = arguments;
    with_store.insert(with_store.end(), {"--store", server_dir_});
    const auto result = Publish(with_store);
    ASSERT_EQ(result.exit_status, 0) << result.err;
  }

  void TearDown() override { kalo::test::EndStartedProgram(work_ / "install-caixa/caixa.exe"); }

  // Builds the files of `folder` (the release folder unless told) as release `id`, with
  // `more` options.
  void Build(const std::string& id, const std::vector<std::string>& more,
             const std::string& folder = "") {
    std::vector<std::string> arguments{
        "build", folder.empty() ? release_ : folder, "--out", server_dir_, "--release", id};
    arguments.insert(arguments.end(), more.begin(), more.end());
    const auto result = Publish(arguments);
    ASSERT_EQ(result.exit_status, 0) << result.err;
  }

  std::string StoredManifest(const std::string& id) const {
    return ReadWholeFile(server_dir_ + "/store/releases/" + id + ".txt");
  }

  // A run of the keyed updater for `client` against `url`, in the client's own folder.
  kalo::test::ProgramResult Update(const std::string& client, const std::string& url) {
    const std::string install = work_ / ("install-" + client);
    if (!fs::exists(install)) {
      fs::create_directories(install);
      kalo::test::InstallArchiveLibraries(install);
    }
    return kalo::test::RunProgram(
        KALO_SIGNED_UPD_PROGRAM, {"--unattended", "--server", url, "--client", client},
        {"KALO_DIR=" + install, "XDG_CONFIG_HOME=" + work_ / ("config-" + client)}, scratch_);
  }

  // Every file of release `id` lies in the client's folder with the bytes served.
  void ExpectHolds(const std::string& client, const std::string& id) {
    const std::string manifest = work_ / "manifest.txt";
    std::ofstream(manifest, std::ios::binary) << StoredManifest(id);
    for (const auto& entry : kalo::test::ManifestEntriesOf(manifest)) {
      SCOPED_TRACE(client + " " + entry.remote_file_name);
      EXPECT_EQ(ReadWholeFile(work_ / ("install-" + client + "/" + entry.remote_file_name)),
                ReadWholeFile(server_dir_ + "/trabalho/versao/" + entry.remote_file_name));
    }
  }

  kalo::test::TempFolder work_;
  kalo::test::TempFolder scratch_;
  const std::string release_ = work_ / "release";
  const std::string server_dir_ = work_ / "server";
  const std::string key_ = std::string(KALO_TEST_FIXTURE_DIR) + "/signed/signing_key.pem";
};

TEST_F(ReleaseDeskEndToEnd, RolloutPinRollbackAndPruneReachTheRightClients) {
  fs::permissions(key_, fs::perms::owner_read | fs::perms::owner_write);
  std::vector<std::string> stable;
  std::string clients = "# a thousand stores on stable, and the branches on beta\n";
  for (int number = 1; number <= 1000; ++number) {
    stable.push_back("loja " + std::to_string(number));
    clients += "Loja " + std::to_string(number) + "\n";
  }
  for (int number = 1; number <= 20; ++number) {
    clients += "filial " + std::to_string(number) + " | beta\n";
  }
  clients += "caixa | pdv\n";
  const std::string clients_file = work_.Write("clientes.txt", clients);
  const std::vector<std::string> order = ByStableHash(stable);
  const std::string first = order[0];
  const std::string hundredth = order[99];
  const std::string outside = order[100];
  const std::string branch = "filial 7";

  fs::create_directories(release_);
  work_.Write("release/leiame.txt", "versão 1");
  work_.Write("release/dados.bin", std::string(40000, 'd'));
  Build("2026.12.1", {});
  Desk({"clients", clients_file});

  const kalo::test::PublishServer served(server_dir_, work_ / "serve.log");
  std::optional<kalo::test::NginxServer> nginx;
  if (kalo::test::NginxServer::IsInstalled()) {
    nginx.emplace(server_dir_, work_ / "nginx");
  }
  // Each client meets one server or the other, as clients of a CDN would.
  const auto url_for = [&](const std::string& client) {
    return nginx && client.size() % 2 == 0 ? nginx->Url() : served.Url();
  };
  const auto update = [&](const std::string& client, const std::string& release) {
    SCOPED_TRACE(client + " on " + release);
    const auto run = Update(client, url_for(client));
    EXPECT_EQ(run.exit_status, 0) << run.out << run.err;
    ExpectHolds(client, release);
    return run.out;
  };
  for (const std::string& client : {first, hundredth, outside, branch}) {
    update(client, "2026.12.1");
  }

  // Held in the store, then rolled out to 10 % of stable: exactly the first hundred.
  work_.Write("release/leiame.txt", "versão 2, mais longa");
  Build("2026.12.2", {"--hold"});
  Desk({"rollout", "2026.12.2", "--channel", "stable", "--percent", "10"});
  std::set<std::string> on_new;
  for (const std::string& client : stable) {
    if (ReadWholeFile(server_dir_ + "/trabalho/manifests/" + cUpdate::PercentEncoded(client) +
                      ".txt") == StoredManifest("2026.12.2")) {
      on_new.insert(client);
    }
  }
  EXPECT_EQ(on_new, std::set<std::string>(order.begin(), order.begin() + 100));
  EXPECT_EQ(ReadWholeFile(server_dir_ + "/trabalho/manifests/default.txt"),
            StoredManifest("2026.12.1"));
  for (const std::string& client : {first, hundredth}) {
    EXPECT_NE(update(client, "2026.12.2").find("Baixado: leiame-txt-"), std::string::npos);
  }
  EXPECT_NE(update(outside, "2026.12.1").find("Tudo atualizado"), std::string::npos);

  work_.Write("release/leiame.txt", "versão 3 das filiais");
  Build("2026.12.3", {"--channel", "beta"});
  update(branch, "2026.12.3");

  // Pinned and rolled back, each client is served the older release signed anew, later
  // than the one it took: the updater accepts it.
  Desk({"pin", first, "2026.12.1"});
  Desk({"rollback", "stable"});
  for (const std::string& client : {first, hundredth}) {
    EXPECT_EQ(ReadWholeFile(server_dir_ + "/trabalho/manifests/" + cUpdate::PercentEncoded(client) +
                            ".txt"),
              StoredManifest("2026.12.1"));
    update(client, "2026.12.1");
  }

  // No one is on 2026.12.2 any more: a prune keeping the newest removes it and the file
  // only it named, and every client still updates.
  const auto files_of = [&](const std::string& id) {
    const std::string manifest = work_ / (id + ".manifest");
    std::ofstream(manifest, std::ios::binary) << StoredManifest(id);
    std::set<std::string> files;
    for (const auto& entry : kalo::test::ManifestEntriesOf(manifest)) {
      files.insert(entry.remote_file_name);
    }
    return files;
  };
  const auto pruned_files = files_of("2026.12.2");
  Desk({"prune", "--keep", "1"});
  EXPECT_FALSE(fs::exists(server_dir_ + "/store/releases/2026.12.2.txt"));
  for (const std::string& file : pruned_files) {
    EXPECT_EQ(fs::exists(server_dir_ + "/trabalho/versao/" + file),
              files_of("2026.12.1").contains(file) || files_of("2026.12.3").contains(file))
        << file;
  }
  update(outside, "2026.12.1");
  update(branch, "2026.12.3");

  // A program goes back by its version stamp, unpacked again from the archive its folder
  // still holds. The pdv channel's product is a program only its client runs, so no other
  // test's runs end it.
  const std::string programs = work_ / "programas";
  const std::string product = work_ / "install-caixa/caixa.exe";
  fs::create_directories(programs);
  fs::copy_file(KALO_TEST_PROGRAM, programs + "/caixa.exe");
  Build("2026.12.4", {"--channel", "pdv"}, programs);
  EXPECT_NE(update("caixa", "2026.12.4").find("Descompactado: caixa.exe"), std::string::npos);
  fs::copy_file(KALO_TEST_PROGRAM_V2, programs + "/caixa.exe",
                fs::copy_options::overwrite_existing);
  Build("2026.12.5", {"--channel", "pdv"}, programs);
  update("caixa", "2026.12.5");
  EXPECT_EQ(ReadWholeFile(product), ReadWholeFile(KALO_TEST_PROGRAM_V2));
  Desk({"rollback", "pdv"});
  const std::string rolled_back = update("caixa", "2026.12.4");
  EXPECT_EQ(rolled_back.find("Baixado:"), std::string::npos) << rolled_back;
  EXPECT_NE(rolled_back.find("Descompactado: caixa.exe"), std::string::npos) << rolled_back;
  EXPECT_EQ(ReadWholeFile(product), ReadWholeFile(KALO_TEST_PROGRAM));
  EXPECT_TRUE(kalo::test::WaitUntilStarted(product));

  // Renewed with an expiry, every manifest is signed again to expire 90 days after its
  // publishing time, and is still taken.
  Desk({"resign", "--expires-in", "90d"});
  std::size_t signatures = 0;
  for (const auto& file : fs::directory_iterator(server_dir_ + "/trabalho/manifests")) {
    if (file.path().extension() == ".assinatura") {
      const auto signature = cImpLicencas::ParseSignatureFile(ReadWholeFile(file.path()));
      ASSERT_TRUE(signature) << file.path();
      EXPECT_EQ(signature->expires_at, signature->published_at + 90 * 86400) << file.path();
      ++signatures;
    }
  }
  EXPECT_EQ(signatures, 1022u);  // every listed client and the default
  update(outside, "2026.12.1");
}

// What the desk refuses, it refuses whole: the served folder and the store stay as they
// were, and the reason is given.
TEST_F(ReleaseDeskEndToEnd, RefusedCommandsChangeNothing) {
  fs::permissions(key_, fs::perms::owner_read | fs::perms::owner_write);
  fs::create_directories(release_);
  work_.Write("release/leiame.txt", "versão 1");
  const std::string clients = work_.Write("clientes.txt", "loja 1\nloja 2\nfilial 1 | beta\n");
  const std::string bad_clients = work_.Write("ruins.txt", "loja 1\nLoja 1\n");
  Build("2026.12.1", {});
  Desk({"clients", clients});
  work_.Write("release/leiame.txt", "versão 2");
  Build("2026.12.2", {"--percent", "10"});
  work_.Write("release/leiame.txt", "versão 3");
  const std::string& s = server_dir_;
  const struct {
    std::vector<std::string> arguments;  // --sign KEY is added unless the key is left out
    bool signed_command;
    int exit_status;
    const char* reason;
  } cases[] = {
      {{"rollout", "2026.12.9", "--channel", "stable", "--percent", "50", "--store", s},
       true,
       1,
       "não está no depósito"},
      {{"rollout", "2026.12.2", "--channel", "stable", "--store", s}, true, 2, "--percent"},
      {{"rollout", "2026.12.2", "--channel", "stable", "--percent", "101", "--store", s},
       true,
       2,
       "bad percent"},
      {{"rollout", "2026.12.2", "--channel", "stable", "--clients", "filial 1", "--store", s},
       true,
       1,
       "não está no canal stable"},
      {{"rollout", "2026.12.2", "--channel", "stable", "--percent", "50", "--store", s},
       false,
       1,
       "--sign"},
      {{"build", release_, "--out", s, "--release", "2026.12.3"},
       true,
       1,
       "ainda está levando a versão 2026.12.2 a 10%"},
      {{"build", release_, "--out", s, "--hold", "--percent", "5"}, true, 2, "--hold"},
      {{"pin", "ninguém", "2026.12.1", "--store", s}, true, 1, "não está no arquivo de clientes"},
      {{"unpin", "loja 1", "--store", s}, true, 1, "não está fixado"},
      {{"rollback", "beta", "--store", s}, true, 1, "não tem versão a desfazer"},
      {{"clients", bad_clients, "--store", s},
       true,
       1,
       "linha 2: o cliente 'loja 1' já foi listado"},
      {{"prune", "--store", s}, false, 2, "--keep"},
      {{"status", "--store", work_ / "nada"}, false, 1, "não há depósito"},
  };
  const auto contents = [&] {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(server_dir_)) {
      if (entry.is_regular_file()) {
        files[entry.path().string()] = ReadWholeFile(entry.path());
      }
    }
    return files;
  };
  const auto before = contents();
  for (const auto& [arguments, signed_command, exit_status, reason] : cases) {
    SCOPED_TRACE(testing::PrintToString(arguments));
    const auto result = signed_command
                            ? Publish(arguments)
                            : kalo::test::RunProgram(KALO_PUBLISH_PROGRAM, arguments, {}, scratch_);
    EXPECT_EQ(result.exit_status, exit_status);
    EXPECT_NE(result.err.find(reason), std::string::npos) << result.err;
    EXPECT_EQ(contents(), before);
  }
}

}  // namespace
