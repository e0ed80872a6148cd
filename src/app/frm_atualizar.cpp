#include "app/frm_atualizar.h"

#include "app/status_display.h"
#include "platform/caught_error.h"
#include "platform/error.h"
#include "platform/transfer_retry.h"
#include "support/exit_status.h"
#include "support/files.h"
#include "support/text.h"

namespace kalo::app {
namespace {

using platform::MessageStyle;
using platform::WindowLabel;

constexpr int kKeyEnter = 13;

std::string Normalised(const std::string& name) {
  return cUpdate::TrimBlanks(cUpdate::LowerCase(name));
}

}  // namespace

void FrmAtualizar::Form_Load() {
  view_.SetTitle(" KALO - Atualizador de Versões - " + s_.title_date);
  view_.SetLabel(WindowLabel::kSupport1, cUpdate::TrimBlanks(s_.support_line));
  view_.SetLabel(WindowLabel::kSupport2, s_.host_name);
  for (WindowLabel line :
       {WindowLabel::kDisplay1, WindowLabel::kDisplay2, WindowLabel::kDisplay3}) {
    view_.SetLabel(line, "");
  }
  SyncClientName(true);
}

int FrmAtualizar::Form_Unload() {
  SyncClientName(false);
  // Closing during a run ends it at once; the run has asked for its set-aside files to
  // be put back and its temporary files removed before the program ends.
  return busy_ ? exit_status::kFailure : exit_status::kSuccess;
}

void FrmAtualizar::txtCliente_KeyPress(int key_code) {
  if (key_code == kKeyEnter) {
    UpdateCommand();
  }
}

CommandResult FrmAtualizar::UpdateCommand() {
  // A run is under way: this command came in through one of its message pumps.
  if (busy_) {
    return {CommandOutcome::kRefused, {}};
  }
  SyncClientName(false);
  const std::string client = view_.ClientText();
  if (client.empty()) {
    s_.ui.ShowMessage("Preencha o Campo Nome da Empresa Corretamente e tente novamente!",
                      MessageStyle::kInformation);
    view_.FocusClientText();
    return {CommandOutcome::kRefused, {}};
  }
  // The name becomes the program the hand-over starts: it must not lead anywhere else.
  if (!cImpLicencas::IsUsableClientName(client)) {
    s_.ui.ShowMessage(
        "O nome da empresa não serve como nome de programa (barras, dois-pontos, "
        "\"..\", os caracteres * ? < > \" |, ponto ou espaço no final, nomes reservados "
        "do Windows como CON, PRN, AUX, NUL, COM1 a COM9 e LPT1 a LPT9, caracteres de "
        "controle ou nome longo demais): " +
            client,
        MessageStyle::kInformation);
    view_.FocusClientText();
    return {CommandOutcome::kRefused, {}};
  }
  if (!cUpdate::EnsureFolder(s_.fs, s_.install_folder)) {
    s_.ui.ShowMessage(
        "O Sistema não consegueiu criar a pasta: " + s_.install_folder + "\r\nCrie Manualmente!",
        MessageStyle::kInformation);
    view_.FocusClientText();
    return {CommandOutcome::kRefused, {}};
  }
  start_time_ = s_.now();
  // Busy before the pending messages are served, so that a second click or Enter
  // queued behind this one finds the controls off.
  SetBusy(true);
  s_.ui.ProcessPendingMessages();
  cImpLicencas::RunOutcome outcome;
  try {
    outcome = s_.run_update(client);
  } catch (...) {
    // Whatever left the run, a runtime error or another exception, ends the program
    // with a report of it.
    const kalo::Error error =
        kalo::ErrorFromException(std::current_exception(), "FrmAtualizar::cmdImportar_Click");
    s_.ui.ShowMessage("Ocorreu um erro inesperado e o programa será encerrado.\r\n\r\nNúmero: " +
                          std::to_string(error.Number()) + "\r\nDescrição: " + error.Description() +
                          "\r\nOrigem: " + error.Source(),
                      MessageStyle::kError);
    s_.ui.EndProgram(exit_status::kFailure);
  }
  SetBusy(false);
  return Report(outcome);
}

CommandResult FrmAtualizar::Report(const cImpLicencas::RunOutcome& outcome) {
  switch (outcome.end) {
    case cImpLicencas::RunEnd::kCompleted:
      return {};
    case cImpLicencas::RunEnd::kFolderBusy:
      // The box says it all, on the console too.
      s_.ui.ShowMessage(outcome.failure->step, MessageStyle::kInformation);
      view_.FocusClientText();
      return {CommandOutcome::kRunFailed, {}};
    case cImpLicencas::RunEnd::kManifestNotReceived:
    case cImpLicencas::RunEnd::kManifestNotFramed:
    case cImpLicencas::RunEnd::kManifestRefused:
      break;
  }
  // The run returned as always, but the status lines keep saying why nothing came.
  const kalo::Failure& failure = *outcome.failure;
  view_.SetLabel(WindowLabel::kDisplay1, "  " + failure.step);
  view_.SetLabel(WindowLabel::kDisplay2, "  Motivo: " + failure.reason);
  return {CommandOutcome::kRunFailed, failure.step + ": " + failure.reason};
}

void FrmAtualizar::SyncClientName(bool load) {
  // The settings store may be unavailable; the name box then keeps what it has.
  try {
    if (load) {
      view_.SetClientText(Normalised(s_.settings.Get("KALO", "config", "cliente", "")));
      return;
    }
    view_.SetClientText(Normalised(view_.ClientText()));
    s_.settings.Save("KALO", "config", "cliente", view_.ClientText());
  } catch (const std::exception&) {
  }
}

void FrmAtualizar::SetBusy(bool busy) {
  busy_ = busy;
  view_.SetTimerEnabled(busy);
  view_.SetInputEnabled(!busy);
  if (!busy) {
    for (WindowLabel line :
         {WindowLabel::kDisplay1, WindowLabel::kDisplay2, WindowLabel::kDisplay3}) {
      view_.SetLabel(line, "");
    }
  }
}

void FrmAtualizar::Timer1_Timer() {
  s_.ui.ProcessPendingMessages();
  view_.SetLabel(WindowLabel::kDisplay3, ElapsedTimeLine(start_time_, s_.now()));
  view_.RepaintLabel(WindowLabel::kDisplay3);
}

void FrmAtualizar::Inet1_StateChanged(std::int16_t state) {
  view_.SetLabel(WindowLabel::kDisplay1, "  " + s_.transfer_text());
  view_.RepaintLabel(WindowLabel::kDisplay1);
  view_.SetLabel(WindowLabel::kDisplay2, "  " + TransferStateText(state));
  view_.RepaintLabel(WindowLabel::kDisplay2);
  s_.ui.ProcessPendingMessages();
}

void FrmAtualizar::Inet1_Progress(const platform::TransferProgress& progress) {
  if (progress.phase != platform::TransferPhase::kWaitingToRetry) {
    return;
  }
  view_.SetLabel(WindowLabel::kDisplay2,
                 "  " + platform::RetryStatusText(progress.next_attempt, progress.most_attempts,
                                                  progress.wait, progress.reason));
  view_.RepaintLabel(WindowLabel::kDisplay2);
}

}  // namespace kalo::app
