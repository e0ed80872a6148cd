// The logic of the updater's window: the client name and its persistence, the update
// command with its busy state, and the status lines. It talks to its widgets through
// the view, so the same logic drives the desktop window and the unattended console.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/file_system.h"
#include "platform/internet_transfer_interface.h"
#include "platform/settings_store.h"
#include "platform/ui.h"
#include "platform/window_view.h"
#include "update/update_run.h"

namespace kalo::app {

// What the window needs from the rest of the program.
struct WindowServices {
  platform::Ui& ui;
  platform::SettingsStore& settings;
  platform::FileSystem& fs;
  std::string install_folder;
  std::string title_date;    // AppVersionDate("dd/mm/yyyy hh:nn")
  std::string support_line;  // lblSuporte1
  std::string host_name;     // lblSuporte2
  std::function<cImpLicencas::RunOutcome(const std::string& client)> run_update;
  std::function<std::string()> transfer_text;  // the transfer component's reported text
  std::function<std::chrono::system_clock::time_point()> now;
};

// How the update command ended, for the unattended mode's exit status.
enum class CommandOutcome {
  kRefused,      // the name or the install folder was refused
  kRunReturned,  // the run did its work
  kRunFailed,    // the run returned without doing it (no manifest, folder busy)
};

struct CommandResult {
  CommandOutcome outcome = CommandOutcome::kRunReturned;
  std::string problem;  // for kRunFailed: what happened and why, on one line, unless a box said it
};

class FrmAtualizar : public platform::WindowEvents {
 public:
  FrmAtualizar(platform::WindowView& view, WindowServices services)
      : view_(view), s_(std::move(services)) {}

  void Form_Load() override;
  int Form_Unload() override;
  void cmdImportar_Click() override { UpdateCommand(); }
  void txtCliente_KeyPress(int key_code) override;
  void Timer1_Timer() override;
  // The transfer component's state change, with its new state code.
  void Inet1_StateChanged(std::int16_t state);
  // The transfer's progress: a retry that waits is said on the state's line.
  void Inet1_Progress(const platform::TransferProgress& progress);

  CommandResult UpdateCommand();
  void SyncClientName(bool load);
  void SetBusy(bool busy);

 private:
  // Tells the user how a run that returned went; the result for the command's caller.
  CommandResult Report(const cImpLicencas::RunOutcome& outcome);

  platform::WindowView& view_;
  WindowServices s_;
  std::chrono::system_clock::time_point start_time_{};
  bool busy_ = false;
};

}  // namespace kalo::app
