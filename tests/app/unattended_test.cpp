// kalo_upd --unattended, run as a real program against a real server.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "helpers/archive_builder.h"
#include "helpers/child_processes.h"
#include "helpers/install_folder.h"
#include "helpers/program_run.h"
#include "helpers/temp_folder.h"
#include "helpers/test_server.h"

namespace {

using kalo::test::ReadWholeFile;
namespace fs = std::filesystem;

class UnattendedTest : public testing::Test {
 protected:
  UnattendedTest() {
    kalo::test::ArchiveBuilder()
        .AddFile("acme.exe", ReadWholeFile(KALO_TEST_PROGRAM),
                 kalo::test::EntryOptions().Mode(0755))
        .Write(work_ / "archive.zip");
    const std::string archive = ReadWholeFile(work_ / "archive.zip");
    server_.SetFile("acme-exe-201811211540.zip", archive);
    server_.SetFile("logo-jpg-201811211540.jpg", "jpeg");
    server_.SetManifest("acme", "licenca_\r\nacme-exe-201811211540.zip|" +
                                    std::to_string(archive.size()) +
                                    "\r\nlogo-jpg-201811211540.jpg|4\r\n_licenca");
  }

  // The libraries are in place, so the run waits only where the update itself waits
  // (after the unpack and before the hand-over).
  void SetUp() override {
    fs::create_directory(install_);
    kalo::test::InstallArchiveLibraries(install_);
  }

  ~UnattendedTest() override {
    // The product was started by the updater, not by us: end it by its process id.
    kalo::test::EndStartedProgram(install_ + "/acme.exe");
  }

  kalo::test::ProgramResult Updater(const std::vector<std::string>& arguments) {
    return kalo::test::RunProgram(KALO_UPD_PROGRAM, arguments,
                                  {"KALO_DIR=" + install_, "XDG_CONFIG_HOME=" + work_ / "config"},
                                  scratch_);
  }

  kalo::test::TestServer server_;
  kalo::test::TempFolder work_;
  kalo::test::TempFolder scratch_;
  const std::string install_ = work_ / "KALO";
};

TEST_F(UnattendedTest, UpdatesTheInstallFolderAndHandsOver) {
  const auto first =
      Updater({"--unattended", "--server", server_.BaseAddress(), "--client", " ACME "});
  EXPECT_EQ(first.exit_status, 0) << first.err;
  EXPECT_NE(first.err.find("Ok. Já Baixei os Arquivos vou executar o programa agora!"),
            std::string::npos);
  EXPECT_NE(first.out.find("Baixado: logo-jpg-201811211540.jpg"), std::string::npos);
  EXPECT_NE(first.out.find("Descompactado: acme.exe"), std::string::npos);
  EXPECT_NE(first.out.find("  Resposta recebida com sucesso de um host"), std::string::npos);
  EXPECT_TRUE(kalo::test::WaitUntilStarted(install_ + "/acme.exe"));
  EXPECT_EQ(server_.ManifestRequests(), std::vector<std::string>{"acme"});

  // The stored name serves the next run; everything is current.
  const auto second = Updater({"--unattended", "--server", server_.BaseAddress()});
  EXPECT_EQ(second.exit_status, 0) << second.err;
  EXPECT_EQ(second.out.find("Baixado:"), std::string::npos);
  EXPECT_NE(second.out.find("Tudo atualizado: nada foi baixado."), std::string::npos);
  EXPECT_EQ(second.err, "");
}

TEST_F(UnattendedTest, ExitStatusesTellWhatHappened) {
  const auto refused =
      Updater({"--unattended", "--server", server_.BaseAddress(), "--client", " "});
  EXPECT_EQ(refused.exit_status, 2);
  EXPECT_NE(refused.err.find("Preencha o Campo Nome da Empresa"), std::string::npos);

  EXPECT_EQ(Updater({"--unattended", "--frobnicate"}).exit_status, 2);

  server_.SetFault("/trabalho/versao/logo-jpg-201811211540.jpg", kalo::test::Fault::kServerError);
  const auto failed =
      Updater({"--unattended", "--server", server_.BaseAddress(), "--client", "acme"});
  EXPECT_EQ(failed.exit_status, 1);
  EXPECT_NE(failed.err.find(" Erro: Baixar: logo-jpg-201811211540.jpg"), std::string::npos);

  const auto version = Updater({"--version"});
  EXPECT_EQ(version.exit_status, 0);
  EXPECT_TRUE(version.out.starts_with("kalo_upd "));
}

}  // namespace
