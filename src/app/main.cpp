// kalo_upd: the updater. Opens the window, or with --unattended performs the update
// command once on the console.
#include <chrono>
#include <iostream>
#include <optional>
#include <vector>

#include "app/command_line.h"
#include "app/console.h"
#include "app/frm_atualizar.h"
#include "kalo/build_settings.h"
#include "kalo/build_version.h"
#include "platform/desktop_window.h"
#include "platform/error.h"
#include "platform/install_folder.h"
#include "platform/own_program.h"
#include "platform/shortened_text.h"
#include "support/configuration.h"
#include "support/exit_status.h"
#include "support/timestamps.h"
#include "update/freshness.h"
#include "update/update_run.h"

namespace kalo {
std::span<const platform::CarriedResource> CarriedExtractors();
}

namespace {

using namespace kalo;

// The host part of the server base address, for the window's host label.
std::string HostOf(const std::string& base) {
  const auto scheme_end = base.find("://");
  const std::string host = base.substr(scheme_end == std::string::npos ? 0 : scheme_end + 3);
  return host.substr(0, host.find('/'));
}

// The window and its logic refer to each other; the window is made first and is
// handed this relay, which passes its events on once the logic exists. It also puts
// the --client name into the box right after the load, as if typed.
class EventRelay : public platform::WindowEvents {
 public:
  platform::WindowEvents* target = nullptr;
  platform::WindowView* view = nullptr;
  std::optional<std::string> typed_client;
  void Form_Load() override {
    target->Form_Load();
    if (typed_client) {
      view->SetClientText(*typed_client);
    }
  }
  int Form_Unload() override { return target->Form_Unload(); }
  void cmdImportar_Click() override { target->cmdImportar_Click(); }
  void txtCliente_KeyPress(int key_code) override { target->txtCliente_KeyPress(key_code); }
  void Timer1_Timer() override { target->Timer1_Timer(); }
};

int Run(const app::CommandLine& options) {
  platform::FileSystem fs;
  platform::ProcessTable processes;
  const platform::CarriedResources resources(CarriedExtractors());
  const platform::Clock clock;
  platform::SettingsStore settings(platform::DefaultSettingsRoot());
  const std::string install_folder = platform::InstallFolder();
  const std::string server = ServerBaseAddress(options.server, settings);
  cImpLicencas::ManifestState manifest;

  EventRelay relay;
  std::unique_ptr<platform::DesktopWindow> window;
  std::optional<app::ConsoleUi> console_ui;
  std::optional<app::ConsoleView> console_view;
  if (options.unattended) {
    console_ui.emplace(std::cerr, options.yes);
    console_view.emplace(std::cout);
  } else {
    window = platform::MakeDesktopWindow(relay);
  }
  platform::Ui& ui = window ? static_cast<platform::Ui&>(*window) : *console_ui;
  platform::WindowView& view = window ? static_cast<platform::WindowView&>(*window) : *console_view;

  const cImpLicencas::ProvisioningServices provisioning{fs, resources, processes, ui, clock};
  cImpZipDeclares::ArchiveLibraries libraries(
      install_folder, cImpLicencas::RepairFromCarriedExtractors(provisioning, install_folder));

  app::ConsoleRunLog console_log(std::cout);
  cImpLicencas::RunObserver quiet;
  std::optional<app::FrmAtualizar> form;
  cUpdate::TransferControlOwner transfer([&] {
    auto component = platform::MakeInternetTransfer(ui, clock, {}, ProxySetting(settings));
    component->SetStateHandler([&form](platform::TransferState state) {
      form->Inet1_StateChanged(static_cast<std::int16_t>(state));
    });
    return component;
  });
  cImpLicencas::UpdateServices update{
      fs,
      processes,
      resources,
      ui,
      clock,
      transfer,
      libraries,
      manifest,
      options.unattended ? static_cast<cImpLicencas::RunObserver&>(console_log) : quiet,
      install_folder,
      server,
      cImpLicencas::OwnExeName(platform::OwnFilePath()),
      options.unattended ? platform::ProgramOutput::kDiscarded : platform::ProgramOutput::kShared};
  const std::string host_label = build::kHostLabel[0] != '\0' ? build::kHostLabel : HostOf(server);
  form.emplace(
      view,
      app::WindowServices{
          ui, settings, fs, install_folder, cUpdate::AppVersionDate("dd/mm/yyyy hh:nn"),
          build::kSupportLine, host_label,
          [&update](const std::string& client) { return cImpLicencas::RunUpdate(update, client); },
          [&transfer] { return cUpdate::TransferControl(transfer).ReportedText(); },
          [] { return std::chrono::system_clock::now(); }});
  relay.target = &*form;
  relay.view = &view;
  relay.typed_client = options.client;

  if (window) {
    return window->Run();
  }
  relay.Form_Load();
  const app::CommandResult result = form->UpdateCommand();
  switch (result.outcome) {
    case app::CommandOutcome::kRefused:
      return exit_status::kRefused;
    case app::CommandOutcome::kRunFailed:
      if (!result.problem.empty()) {
        std::cerr << platform::ShortenedLines("kalo_upd: " + result.problem) << '\n';
      }
      return exit_status::kFailure;
    case app::CommandOutcome::kRunReturned:
      break;
  }
  console_log.Summarise();
  return exit_status::kSuccess;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const auto parsed = app::ParseCommandLine(arguments);
  if (const auto* problem = std::get_if<std::string>(&parsed)) {
    std::cerr << "kalo_upd: " << *problem << "\n\n" << app::kUsage;
    return exit_status::kRefused;
  }
  const auto& options = std::get<app::CommandLine>(parsed);
  if (options.help) {
    std::cout << app::kUsage;
    return exit_status::kSuccess;
  }
  if (options.version) {
    std::cout << "kalo_upd " << build::kVersionText << " ("
              << cUpdate::AppVersionDate("dd/mm/yyyy hh:nn") << ")\n";
    return exit_status::kSuccess;
  }
  if (!options.unattended && !platform::DisplayAvailable()) {
    std::cerr << "kalo_upd: não há tela para abrir a janela; use --unattended\n";
    return exit_status::kRefused;
  }
  try {
    return Run(options);
  } catch (...) {
    const Error error = ErrorFromException(std::current_exception(), "kalo_upd");
    std::cerr << platform::ShortenedLines("kalo_upd: " + std::string(error.what())) << '\n';
    return exit_status::kFailure;
  }
}
