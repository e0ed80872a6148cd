// kalo_upd: the updater. Opens the window, or with --unattended performs the update
// command once on the console.
#include <chrono>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "app/command_line.h"
#include "app/console.h"
#include "app/frm_atualizar.h"
#include "kalo/build_settings.h"
#include "kalo/build_version.h"
#include "platform/caught_error.h"
#include "platform/desktop_window.h"
#include "platform/error.h"
#include "platform/install_folder.h"
#include "platform/internet_transfer.h"
#include "platform/own_program.h"
#include "platform/program_arguments.h"
#include "platform/shortened_text.h"
#include "platform/standard_streams.h"
#include "platform/web_address.h"
#include "support/configuration.h"
#include "support/exit_status.h"
#include "support/timestamps.h"
#include "update/freshness.h"
#include "update/run_log.h"
#include "update/update_run.h"

namespace kalo {
std::span<const platform::CarriedResource> CarriedExtractors();
namespace build {
std::span<const std::string_view> PublicKeys();
}
}  // namespace kalo

namespace {

using namespace kalo;

// The server base address; a stored one the run cannot use is also said in a message
// box when there is a window, since a windowed program may have no console to read.
std::string ServerAddressOrSay(const app::CommandLine& options,
                               const platform::SettingsStore& settings, platform::Ui& ui,
                               bool windowed) {
  try {
    return ServerBaseAddress(options.server, settings);
  } catch (const Error& error) {
    if (windowed) {
      ui.ShowMessage(error.Description(), platform::MessageStyle::kError, "kalo_upd");
    }
    throw;
  }
}

// The host and port of the server base address, for the window's host label: never a
// user and password it may carry.
std::string HostOf(const std::string& base) {
  const auto address = platform::ParseWebAddress(base);
  if (!address) {
    return platform::ShownAddress(base);
  }
  return address->host + (address->port ? ":" + std::to_string(*address->port) : "");
}

// The proxy setting for the run log's start line; a store that cannot be read says so
// at the run's first transfer, which reads it again.
std::string ProxyForLog(const platform::SettingsStore& settings) {
  try {
    return ProxySetting(settings);
  } catch (const Error&) {
    return {};
  }
}

// The program assembled for the chosen mode. Every service is a member, made in the
// order of declaration from those above it. The window reports its events to this
// object, which passes them to the window's logic; the window is made before the
// logic but reports nothing before Run, when everything exists.
class Updater : public platform::WindowEvents {
 public:
  Updater(const app::CommandLine& options, std::vector<platform::P256PublicKey> keys)
      : unattended_(options.unattended),
        typed_client_(options.client),
        trust_(std::move(keys), settings_, fs_, install_folder_,
               [] { return std::chrono::system_clock::now(); }),
        console_ui_(std::cerr, options.yes, console_progress_),
        console_view_(std::cout, console_progress_),
        window_(unattended_ ? nullptr : platform::MakeDesktopWindow(*this)),
        ui_(window_ ? static_cast<platform::Ui&>(*window_) : console_ui_),
        view_(window_ ? static_cast<platform::WindowView&>(*window_) : console_view_),
        server_(ServerAddressOrSay(options, settings_, ui_, window_ != nullptr)),
        provisioning_{fs_, resources_, processes_, ui_, clock_},
        libraries_(install_folder_,
                   cImpLicencas::RepairFromCarriedExtractors(provisioning_, install_folder_)),
        console_log_(std::cout, console_progress_),
        run_log_(
            fs_, install_folder_,
            {build::kVersionText, platform::PlatformName(), unattended_ ? "automático" : "janela",
             ProxyForLog(settings_)},
            [] { return std::chrono::system_clock::now(); },
            unattended_ ? static_cast<cImpLicencas::RunObserver&>(console_log_) : quiet_log_),
        observers_(cImpLicencas::AllOf(
            unattended_ ? std::vector<cImpLicencas::RunObserver*>{&console_log_, &run_log_}
                        : std::vector<cImpLicencas::RunObserver*>{&run_log_})),
        transfer_([this] { return MakeTransfer(); }),
        update_{
            fs_,
            processes_,
            resources_,
            ui_,
            clock_,
            transfer_,
            libraries_,
            manifest_,
            trust_,
            *observers_,
            install_folder_,
            server_,
            cImpLicencas::OwnExeName(platform::OwnFilePath()),
            unattended_ ? platform::ProgramOutput::kDiscarded : platform::ProgramOutput::kShared},
        form_(view_, app::WindowServices{
                         ui_, settings_, fs_, install_folder_,
                         cUpdate::AppVersionDate("dd/mm/yyyy hh:nn"), build::kSupportLine,
                         build::kHostLabel[0] != '\0' ? build::kHostLabel : HostOf(server_),
                         [this](const std::string& client) {
                           return cImpLicencas::RunUpdate(update_, client);
                         },
                         [this] { return cUpdate::TransferControl(transfer_).ReportedText(); },
                         [] { return std::chrono::system_clock::now(); }}) {}

  // Shows the window until it is closed, or performs the update command once on the
  // console; answers the exit status.
  int Run() {
    if (window_) {
      return window_->Run();
    }
    Form_Load();
    const app::CommandResult result = form_.UpdateCommand();
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
    console_log_.Summarise();
    return exit_status::kSuccess;
  }

  // The --client name goes into the box right after the load, as if typed.
  void Form_Load() override {
    form_.Form_Load();
    if (typed_client_) {
      view_.SetClientText(*typed_client_);
    }
  }
  int Form_Unload() override { return form_.Form_Unload(); }
  void cmdImportar_Click() override { form_.cmdImportar_Click(); }
  void txtCliente_KeyPress(int key_code) override { form_.txtCliente_KeyPress(key_code); }
  void Timer1_Timer() override { form_.Timer1_Timer(); }

 private:
  // Made at the first transfer of a run.
  std::unique_ptr<platform::InternetTransfer> MakeTransfer() {
    auto component = platform::MakeInternetTransfer(ui_, clock_, {}, ProxySetting(settings_));
    component->SetStateHandler([this](platform::TransferState state) {
      form_.Inet1_StateChanged(static_cast<std::int16_t>(state));
    });
    component->SetProgressHandler([this](const platform::TransferProgress& progress) {
      form_.Inet1_Progress(progress);
      if (window_) {
        window_->ShowTransferProgress(progress);
      } else {
        console_progress_.Show(progress);
      }
    });
    // Every transfer reaches the run log through the run's one observer.
    component->SetOutcomeHandler([this](const platform::TransferOutcome& outcome) {
      update_.observer.TransferEnded(outcome);
    });
    return component;
  }

  const bool unattended_;
  const std::optional<std::string> typed_client_;
  platform::FileSystem fs_;
  platform::ProcessTable processes_;
  const platform::CarriedResources resources_{CarriedExtractors()};
  const platform::Clock clock_;
  platform::SettingsStore settings_{platform::DefaultSettingsRoot()};
  const std::string install_folder_ = platform::InstallFolder();
  cImpLicencas::ManifestState manifest_;
  cImpLicencas::ManifestTrust trust_;

  app::ConsoleProgress console_progress_{std::cout, clock_,
                                         platform::IsTerminal(platform::StandardStream::kOutput)};
  app::ConsoleUi console_ui_;
  app::ConsoleView console_view_;
  std::unique_ptr<platform::DesktopWindow> window_;
  platform::Ui& ui_;
  platform::WindowView& view_;

  const std::string server_;
  const cImpLicencas::ProvisioningServices provisioning_;
  cImpZipDeclares::ArchiveLibraries libraries_;
  app::ConsoleRunLog console_log_;
  cImpLicencas::RunObserver quiet_log_;
  cImpLicencas::RunLog run_log_;
  std::unique_ptr<cImpLicencas::RunObserver> observers_;
  cUpdate::TransferControlOwner transfer_;
  cImpLicencas::UpdateServices update_;
  app::FrmAtualizar form_;
};

// The options, or why the command line is wrong: an argument that is not text is too.
std::variant<app::CommandLine, std::string> ParsedArguments(int argc, char** argv) {
  try {
    return app::ParseCommandLine(platform::ProgramArguments(argc, argv));
  } catch (const Error& error) {
    return std::string(error.what());
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything else: a built-in key that is no point of the curve would make an
  // updater that refuses every release without saying why.
  std::vector<platform::P256PublicKey> keys;
  try {
    keys = cImpLicencas::PublicKeysOf(build::PublicKeys());
  } catch (const Error& error) {
    platform::ConnectStandardStreams();
    const platform::ConsoleText console_errors(std::cerr, platform::StandardStream::kError);
    std::cerr << "kalo_upd: " << error.Description() << '\n';
    return exit_status::kRefused;
  }
  const auto parsed = ParsedArguments(argc, argv);
  // Everything but the window writes to the console; the window must not join one,
  // or closing that console would end it.
  const auto* options_parsed = std::get_if<app::CommandLine>(&parsed);
  if (options_parsed == nullptr || options_parsed->unattended || options_parsed->help ||
      options_parsed->version) {
    platform::ConnectStandardStreams();
  }
  const platform::ConsoleText console_output(std::cout, platform::StandardStream::kOutput);
  const platform::ConsoleText console_errors(std::cerr, platform::StandardStream::kError);
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
    Updater updater(options, std::move(keys));
    return updater.Run();
  } catch (...) {
    const Error error = ErrorFromException(std::current_exception(), "kalo_upd");
    std::cerr << platform::ShortenedLines("kalo_upd: " + std::string(error.what())) << '\n';
    return exit_status::kFailure;
  }
}
