#include "app/frm_atualizar.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "helpers/fake_ui.h"
#include "helpers/settings_root.h"
#include "helpers/temp_folder.h"
#include "platform/error.h"
#include "platform/local_time.h"

namespace {

using kalo::platform::MessageStyle;
using kalo::platform::WindowLabel;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The widgets as plain values.
class RecordingView : public kalo::platform::WindowView {
 public:
  void SetTitle(const std::string& text) override { title = text; }
  std::string ClientText() const override { return client; }
  void SetClientText(const std::string& text) override { client = text; }
  void SetLabel(WindowLabel label, const std::string& text) override { labels[label] = text; }
  void RepaintLabel(WindowLabel label) override { ++repaints[label]; }
  void SetInputEnabled(bool enabled) override { input_enabled = enabled; }
  void SetTimerEnabled(bool enabled) override { timer_enabled = enabled; }
  void FocusClientText() override { ++focus_requests; }

  std::string title, client;
  std::map<WindowLabel, std::string> labels;
  std::map<WindowLabel, int> repaints;
  bool input_enabled = true, timer_enabled = false;
  int focus_requests = 0;
};

class FrmAtualizarTest : public testing::Test {
 protected:
  kalo::app::FrmAtualizar& Form() {
    form_.emplace(view_, kalo::app::WindowServices{
                             ui_, settings_, fs_, folder_ / "KALO", "21/11/2018 15:40",
                             "  Suporte: 0800  ", "updates.example",
                             [this](const std::string& client) {
                               runs_.push_back(client);
                               busy_during_run_ = !view_.input_enabled && view_.timer_enabled;
                               if (fail_run_) {
                                 fail_run_();
                               }
                               return outcome_;
                             },
                             [] { return std::string("http://updates.example/x"); },
                             [this] { return now_; }});
    return *form_;
  }

  kalo::test::TempFolder folder_;
  kalo::test::SettingsRoot settings_root_;
  kalo::platform::SettingsStore settings_{settings_root_.Path()};
  kalo::platform::FileSystem fs_;
  kalo::test::FakeUi ui_;
  RecordingView view_;
  std::optional<kalo::app::FrmAtualizar> form_;
  std::vector<std::string> runs_;
  bool busy_during_run_ = false;
  std::function<void()> fail_run_;
  cImpLicencas::RunOutcome outcome_;
  std::chrono::system_clock::time_point now_ = std::chrono::system_clock::from_time_t(1765143903);
};

TEST_F(FrmAtualizarTest, LoadShowsTitleLabelsAndTheStoredName) {
  settings_.Save("KALO", "config", "cliente", "  ACME  ");
  Form().Form_Load();
  EXPECT_EQ(view_.title, " KALO - Atualizador de Versões - 21/11/2018 15:40");
  EXPECT_EQ(view_.labels[WindowLabel::kSupport1], "Suporte: 0800");
  EXPECT_EQ(view_.labels[WindowLabel::kSupport2], "updates.example");
  EXPECT_EQ(view_.labels[WindowLabel::kDisplay3], "");
  EXPECT_EQ(view_.client, "acme");
}

TEST_F(FrmAtualizarTest, CommandNormalisesStoresAndRunsWhileBusy) {
  Form().Form_Load();
  view_.client = "  Acme Ltda ";
  form_->txtCliente_KeyPress('a');
  EXPECT_TRUE(runs_.empty());
  // A second Enter and a click queued behind the first start no run of their own.
  ui_.pending_messages = [this] {
    form_->txtCliente_KeyPress(13);
    form_->cmdImportar_Click();
  };
  form_->txtCliente_KeyPress(13);
  EXPECT_EQ(runs_, std::vector<std::string>{"acme ltda"});
  EXPECT_EQ(view_.client, "acme ltda");
  EXPECT_EQ(settings_.Get("KALO", "config", "cliente", ""), "acme ltda");
  EXPECT_TRUE(busy_during_run_);
  EXPECT_TRUE(fs::is_directory(folder_ / "KALO"));
  // Back to idle: input enabled, timer off, status lines empty.
  EXPECT_TRUE(view_.input_enabled);
  EXPECT_FALSE(view_.timer_enabled);
  for (auto line : {WindowLabel::kDisplay1, WindowLabel::kDisplay2, WindowLabel::kDisplay3}) {
    EXPECT_EQ(view_.labels[line], "");
  }
}

TEST_F(FrmAtualizarTest, RefusalsKeepTheWindowIdle) {
  Form().Form_Load();
  view_.client = "   ";
  EXPECT_EQ(form_->UpdateCommand().outcome, kalo::app::CommandOutcome::kRefused);
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].text,
            "Preencha o Campo Nome da Empresa Corretamente e tente novamente!");
  EXPECT_EQ(ui_.messages[0].style, MessageStyle::kInformation);
  EXPECT_EQ(settings_.Get("KALO", "config", "cliente", "unset"), "");

  // A plain file where the install folder should be.
  folder_.Write("KALO", "in the way");
  view_.client = "acme";
  EXPECT_EQ(form_->UpdateCommand().outcome, kalo::app::CommandOutcome::kRefused);
  ASSERT_EQ(ui_.messages.size(), 2u);
  EXPECT_EQ(ui_.messages[1].text, "O Sistema não consegueiu criar a pasta: " + folder_ / "KALO" +
                                      "\r\nCrie Manualmente!");
  EXPECT_EQ(view_.focus_requests, 2);

  // The name becomes the program the hand-over starts.
  fs::remove(folder_ / "KALO");
  // One name of each class the text names; the product must start on Windows too.
  for (const std::string& name :
       {std::string("../../somewhere/evil"), std::string("c:evil"), std::string("a\\b"),
        std::string(".."), std::string("a*"), std::string("a?b"), std::string("a<b"),
        std::string("a|b"), std::string("acme."), std::string("com1"), std::string("nul.x"),
        std::string("a\tb"), std::string(252, 'n')}) {
    ui_.messages.clear();
    view_.client = name;
    EXPECT_EQ(form_->UpdateCommand().outcome, kalo::app::CommandOutcome::kRefused) << name;
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].text,
              "O nome da empresa não serve como nome de programa (barras, dois-pontos, \"..\", "
              "os caracteres * ? < > \" |, ponto ou espaço no final, nomes reservados do "
              "Windows como CON, PRN, AUX, NUL, COM1 a COM9 e LPT1 a LPT9, caracteres de "
              "controle ou nome longo demais): " +
                  name);
  }
  view_.client = std::string(251, 'n');  // with ".exe", as long as a file name may be
  EXPECT_EQ(form_->UpdateCommand().outcome, kalo::app::CommandOutcome::kRunReturned);
  EXPECT_EQ(runs_, std::vector<std::string>{std::string(251, 'n')});
  EXPECT_TRUE(view_.input_enabled);
}

TEST_F(FrmAtualizarTest, AnyExceptionOfTheRunEndsTheProgramWithAReport) {
  struct Case {
    std::function<void()> thrower;
    std::vector<std::string> shown;  // number, description, source
  };
  const std::vector<Case> cases{
      {[] { throw kalo::Error(53, "sem manifesto", "Inet::OpenURL"); },
       {"Número: 53", "sem manifesto", "Origem: Inet::OpenURL"}},
      {[] { throw std::bad_alloc(); },
       {"Número: 7", "Memória insuficiente", "Origem: FrmAtualizar::cmdImportar_Click"}},
      {[] {
         throw fs::filesystem_error("copy", std::make_error_code(std::errc::no_space_on_device));
       },
       {"Número: 61", "copy", "Origem: FrmAtualizar::cmdImportar_Click"}},
      {[] { throw std::logic_error("bug"); }, {"Número: 51", "bug"}},
  };
  for (const Case& c : cases) {
    Form().Form_Load();  // a fresh window: the real program ended with the last one
    view_.client = "acme";
    ui_.messages.clear();
    fail_run_ = c.thrower;
    try {
      form_->UpdateCommand();
      ADD_FAILURE() << "the program went on";
    } catch (const kalo::test::ProgramEnded& ended) {
      EXPECT_EQ(ended.exit_status, 1);
    }
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_TRUE(ui_.messages[0].text.starts_with("Ocorreu um erro inesperado"));
    for (const std::string& part : c.shown) {
      EXPECT_NE(ui_.messages[0].text.find(part), std::string::npos) << ui_.messages[0].text;
    }
    EXPECT_EQ(ui_.messages[0].style, MessageStyle::kError);
  }
}

TEST_F(FrmAtualizarTest, ARunThatBroughtNothingSaysWhy) {
  using cImpLicencas::RunEnd;
  Form().Form_Load();
  view_.client = "acme";

  outcome_ = {RunEnd::kManifestNotReceived,
              kalo::Failure{"A lista de arquivos não foi recebida de http://x",
                            "o servidor respondeu HTTP 404 Not Found"}};
  const auto missing = form_->UpdateCommand();
  EXPECT_EQ(missing.outcome, kalo::app::CommandOutcome::kRunFailed);
  EXPECT_EQ(missing.problem,
            "A lista de arquivos não foi recebida de http://x: o servidor respondeu HTTP 404 "
            "Not Found");
  // No box: the status lines keep the reason after the run, the window stays usable.
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_EQ(view_.labels[WindowLabel::kDisplay1],
            "  A lista de arquivos não foi recebida de http://x");
  EXPECT_EQ(view_.labels[WindowLabel::kDisplay2],
            "  Motivo: o servidor respondeu HTTP 404 Not Found");
  EXPECT_TRUE(view_.input_enabled);

  outcome_ = {RunEnd::kFolderBusy, kalo::Failure{"Outra atualização está em andamento", {}}};
  EXPECT_EQ(form_->UpdateCommand().outcome, kalo::app::CommandOutcome::kRunFailed);
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].text, "Outra atualização está em andamento");
  EXPECT_EQ(ui_.messages[0].style, MessageStyle::kInformation);

  outcome_ = {};
  EXPECT_EQ(form_->UpdateCommand().outcome, kalo::app::CommandOutcome::kRunReturned);
  EXPECT_EQ(view_.labels[WindowLabel::kDisplay1], "");
}

TEST_F(FrmAtualizarTest, StatusLines) {
  Form().Form_Load();
  view_.client = "acme";
  form_->UpdateCommand();  // sets the start time to now_
  now_ += 75s;
  form_->Timer1_Timer();
  EXPECT_EQ(view_.labels[WindowLabel::kDisplay3],
            " Start: " + kalo::platform::GeneralDateTime(now_ - 75s) + "     Tempo Gasto:75 seg");
  EXPECT_EQ(view_.repaints[WindowLabel::kDisplay3], 1);
  form_->Inet1_StateChanged(8);
  EXPECT_EQ(view_.labels[WindowLabel::kDisplay1], "  http://updates.example/x");
  EXPECT_EQ(view_.labels[WindowLabel::kDisplay2], "  Resposta recebida com sucesso de um host");
  EXPECT_EQ(view_.repaints[WindowLabel::kDisplay2], 1);
  // Bytes arriving leave the lines alone; a retry that waits says so on the state's line.
  kalo::platform::TransferProgress progress;
  progress.bytes = 1000;
  form_->Inet1_Progress(progress);
  EXPECT_EQ(view_.repaints[WindowLabel::kDisplay2], 1);
  progress.phase = kalo::platform::TransferPhase::kWaitingToRetry;
  progress.next_attempt = 3;
  progress.most_attempts = 5;
  progress.wait = 2s;
  progress.reason = "HTTP 503 Service Unavailable";
  form_->Inet1_Progress(progress);
  EXPECT_EQ(view_.labels[WindowLabel::kDisplay2],
            "  Nova tentativa 3 de 5 em 2 s: HTTP 503 Service Unavailable");
  EXPECT_EQ(view_.repaints[WindowLabel::kDisplay2], 2);
}

TEST_F(FrmAtualizarTest, UnloadStoresTheName) {
  Form().Form_Load();
  view_.client = " Beta ";
  EXPECT_EQ(form_->Form_Unload(), 0);
  EXPECT_EQ(settings_.Get("KALO", "config", "cliente", ""), "beta");
}

}  // namespace
