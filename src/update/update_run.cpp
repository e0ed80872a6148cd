#include "update/update_run.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "archive/zip_compact.h"
#include "platform/caught_error.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "platform/web_address.h"
#include "support/exit_status.h"
#include "support/files.h"
#include "support/process_control.h"
#include "support/text.h"
#include "support/waits.h"
#include "update/freshness.h"
#include "update/manifest_signature.h"
#include "update/protocol.h"
#include "update/run_journal.h"

namespace cImpLicencas {
namespace {

using kalo::platform::MessageAnswer;
using kalo::platform::MessageStyle;

constexpr int kMoveAttempts = 6;
constexpr const char* kUpdaterName = "kalo_upd.exe";

constexpr auto kLockPatience = std::chrono::seconds(5);

// The file about to be replaced, moved aside so that it can be put back when its
// replacement fails. Without a commit it goes back on destruction too, so a runtime
// error that leaves the run does not leave the product without the file.
class SetAside {
 public:
  SetAside(RunJournal& journal, UpdateServices& services, std::string name, std::string path)
      : journal_(journal), s_(services), name_(std::move(name)), path_(std::move(path)) {}
  SetAside(const SetAside&) = delete;
  SetAside& operator=(const SetAside&) = delete;
  ~SetAside() { Restore(); }

  // Why the file is there but cannot be moved (it is in use, say); nothing when it was
  // moved or is not there. A file in use may be released a moment later, so the move is
  // tried a few times.
  std::optional<kalo::Failure> Move() {
    kalo::Failure failure{"Excluir: " + path_, {}};
    for (int attempt = 0; attempt < kMoveAttempts; ++attempt) {
      try {
        if (!cUpdate::FileExists(s_.fs, path_)) {
          return std::nullopt;
        }
        journal_.SetAside(name_);
        moved_ = true;
        return std::nullopt;
      } catch (const kalo::Error& error) {
        failure.reason = error.Description();
      }
    }
    return failure;
  }

  // A copy that cannot be put back stays set aside, and one that cannot be removed costs
  // only space: the next run's recovery makes either good, so the run goes on.
  void Restore() {
    Settle("Repor: ", [this] { journal_.PutBack(name_); });
  }
  void Commit() {
    Settle("Excluir cópia: ", [this] { journal_.Discard(name_); });
  }

 private:
  template <typename Step>
  void Settle(const std::string& step_text, Step step) {
    if (!moved_) {
      return;
    }
    moved_ = false;
    try {
      step();
    } catch (const kalo::Error& error) {
      s_.observer.Overlooked({step_text + path_, error.Description()});
    }
  }

  RunJournal& journal_;
  UpdateServices& s_;
  std::string name_;
  std::string path_;
  bool moved_ = false;
};

// Leaves the install folder clean however the run ends: when it returns or throws, and
// when the program ends at once while the run is under way (a failure message, the
// window closed during a download, the hand-over), which skips every destructor.
class RecoveryGuard {
 public:
  RecoveryGuard(kalo::platform::Ui& ui, RunJournal& journal, RunObserver& observer)
      : ui_(ui), journal_(journal) {
    ui_.SetCleanupBeforeEnd([&journal, &observer](int exit_status) {
      journal.Recover();
      observer.RunEnded(std::nullopt, exit_status, std::nullopt);
    });
  }
  RecoveryGuard(const RecoveryGuard&) = delete;
  RecoveryGuard& operator=(const RecoveryGuard&) = delete;
  ~RecoveryGuard() {
    ui_.SetCleanupBeforeEnd({});
    journal_.Recover();
  }

 private:
  kalo::platform::Ui& ui_;
  RunJournal& journal_;
};

class Run {
 public:
  Run(UpdateServices& services, std::string client)
      : s_(services),
        client_(std::move(client)),
        journal_(services.fs, services.observer, services.install_folder) {}

  RunOutcome Execute() {
    if (!journal_.Lock(s_.ui, s_.clock, kLockPatience)) {
      return {RunEnd::kFolderBusy,
              kalo::Failure{"Outra atualização está em andamento na pasta " + s_.install_folder +
                                "; tente novamente quando ela terminar.",
                            {}}};
    }
    s_.observer.RunStarted(s_.server_base, client_);
    journal_.Recover();
    const RecoveryGuard recovery(s_.ui, journal_, s_.observer);

    auto failure = LoadManifest(s_.manifest, cUpdate::TransferControl(s_.transfer), s_.trust,
                                s_.server_base, client_);
    if (const auto published_at = std::exchange(s_.manifest.published_at, std::nullopt)) {
      for (std::string& warning : s_.trust.Accept(client_, *published_at)) {
        s_.manifest.warnings.push_back(std::move(warning));
      }
    }
    for (const std::string& warning : std::exchange(s_.manifest.warnings, {})) {
      s_.observer.Warned(warning);
    }
    s_.observer.ManifestLoaded(s_.manifest, failure);
    if (failure) {
      return {s_.manifest.status == ManifestStatus::kRefused     ? RunEnd::kManifestRefused
              : s_.manifest.status == ManifestStatus::kNotFramed ? RunEnd::kManifestNotFramed
                                                                 : RunEnd::kManifestNotReceived,
              std::move(failure)};
    }
    const auto& lines = s_.manifest.lines;
    // What a cut-off run kept of a download is continued only for the same entry.
    journal_.PruneKeptDownloads([&lines](const KeptDownloadRecord& record) {
      return std::ranges::any_of(lines, [&record](const std::string& line) {
        const ManifestEntry entry = ParseEntry(line);
        return IsUsable(entry) &&
               record.IsFor(entry.remote_file_name, entry.Size(), entry.Sha256());
      });
    });
    // A list of one line is taken as empty, as it always was; the run does nothing
    // then, and says so rather than let silence pass for an up-to-date folder.
    if (lines.size() < 2) {
      s_.observer.NothingListed(kalo::platform::ShownAddress(s_.manifest.address));
      return {};
    }
    const ProvisioningServices provisioning{s_.fs, s_.resources, s_.processes, s_.ui, s_.clock};
    EnsureArchiveLibrary(provisioning, s_.install_folder, "unzip32", "dll");
    EnsureArchiveLibrary(provisioning, s_.install_folder, "zip32", "dll");

    bool any_usable = false;
    for (const std::string& line : lines) {
      const ManifestEntry entry = ParseEntry(line);
      if (IsUsable(entry)) {
        any_usable = true;
        ReplaceDownloaded(entry);
      } else if (!entry.BaseName().empty()) {
        s_.observer.EntrySkipped(line);
      }
    }
    if (!any_usable) {
      s_.observer.NothingListed(kalo::platform::ShownAddress(s_.manifest.address));
    }
    bool hand_over = false;
    for (const std::string& line : lines) {
      const ManifestEntry entry = ParseEntry(line);
      if (IsUsable(entry) && entry.Kind() == "zip") {
        hand_over = UnpackIfStale(entry) || hand_over;
      }
    }
    if (hand_over) {
      HandOver(s_, cUpdate::LowerCase(s_.own_exe_name) == kUpdaterName ? client_ : kUpdaterName);
    }
    return {};
  }

 private:
  // Empty lines are no entries, and names that would leave the install folder are
  // never written.
  static bool IsUsable(const ManifestEntry& entry) {
    return !entry.BaseName().empty() && HasPlainFileNames(entry);
  }

  std::string PathOf(const std::string& file_name) const {
    return kalo::platform::PathInFolder(s_.install_folder, file_name);
  }

  EntryComparison Compare(const std::string& file_name, const ManifestEntry& entry) const {
    return CompareEntry(s_.fs, s_.install_folder, file_name, entry.Size(), entry.VersionStamp());
  }

  // True when the file matches its entry; the observer hears the decision either way.
  bool IsCurrent(const std::string& file_name, const ManifestEntry& entry) const {
    const EntryComparison comparison = Compare(file_name, entry);
    s_.observer.EntryDecided(file_name, comparison);
    return comparison.Matches();
  }

  // A file judged by its length cannot be longer than its entry says, so its download
  // stops there; a program is judged by its version, and its size field may be anything.
  static std::optional<std::uint64_t> DownloadLimit(const ManifestEntry& entry) {
    std::uint64_t size = 0;
    const std::string& text = entry.Size();
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
    if (IsExecutableName(entry.remote_file_name) || error != std::errc{} ||
        end != text.data() + text.size()) {
      return std::nullopt;
    }
    return size;
  }

  void ReplaceDownloaded(const ManifestEntry& entry) {
    const std::string& name = entry.remote_file_name;
    if (IsCurrent(name, entry)) {
      return;
    }
    const std::string step = "Baixar: " + name;
    // A digest that can never match is refused before anything is touched.
    const cUpdate::DownloadChecks checks{DownloadLimit(entry), ParseSha256(entry.Sha256())};
    if (!entry.Sha256().empty() && !checks.sha256) {
      Fail({step, "o SHA-256 " + entry.Sha256() + " da lista de arquivos não é válido"});
    }
    const std::string url = FileAddress(s_.server_base, name);
    const cUpdate::KeptDownload kept = journal_.KeptDownloadOf(name, entry.Size(), entry.Sha256());
    FailOn(Replace(entry, name, step, [&] {
      return cUpdate::DownloadFile(cUpdate::TransferControl(s_.transfer), url, PathOf(name), false,
                                   s_.ui, checks, &kept);
    }));
    s_.observer.FileReplaced(name);
  }

  // True when the archive's file was stale, which calls for a hand-over.
  bool UnpackIfStale(const ManifestEntry& entry) {
    const std::string& name = entry.local_file_name;
    if (IsCurrent(name, entry)) {
      return false;
    }
    // The running updater cannot replace itself; the hand-over restarts it instead.
    if (cUpdate::LowerCase(name) == cUpdate::LowerCase(s_.own_exe_name)) {
      return true;
    }
    const std::string step = "Descompactar: " + entry.remote_file_name;
    // An archive that would fill the disk is refused before anything is touched.
    FailOn(RoomShortage(step, entry.remote_file_name));
    FailOn(Replace(entry, name, step, [&] {
      return cImpZipDeclares::UnzipToFolder(s_.libraries, s_.ui, s_.clock,
                                            PathOf(entry.remote_file_name), s_.install_folder);
    }));
    s_.observer.FileUnpacked(name);
    return true;
  }

  // The one way a file of the install folder is replaced: whatever runs it is ended, the
  // old file is set aside, `write` puts the new one in place, the old one goes back when
  // that or the check against the entry fails, and is discarded once the new one passes.
  // Nothing when it passed; else the failure, its step named `step` when `write` failed.
  template <typename Write>
  std::optional<kalo::Failure> Replace(const ManifestEntry& entry, const std::string& name,
                                       const std::string& step, Write write) {
    cUpdate::KillProcess(s_.processes, s_.install_folder, name, 0);
    SetAside old_file(journal_, s_, name, PathOf(name));
    if (auto failure = old_file.Move()) {
      return failure;
    }
    journal_.BeforeWriting();
    std::optional<kalo::Failure> failure = write();
    if (failure) {
      failure->step = step;
    } else if (const auto mismatch = MismatchText(Compare(name, entry))) {
      failure = kalo::Failure{"Versao: " + name, *mismatch};
    }
    if (failure) {
      old_file.Restore();
      return failure;
    }
    old_file.Commit();
    return std::nullopt;
  }

  // Why the archive's entries cannot be unpacked into the install folder: they say they
  // hold more than its file system has free. Nothing when they fit, or when the
  // archive cannot be listed (the unpack then says why).
  std::optional<kalo::Failure> RoomShortage(const std::string& step, const std::string& archive) {
    const auto needed = cImpZipDeclares::DeclaredUnpackedSize(s_.libraries, s_.ui, PathOf(archive));
    const std::uint64_t free = s_.fs.FreeSpace(s_.install_folder);
    if (!needed || *needed <= free) {
      return std::nullopt;
    }
    return kalo::Failure{step, "descompactado, ocuparia " + std::to_string(*needed) +
                                   " bytes; a pasta tem " + std::to_string(free) + " bytes livres"};
  }

  // The one place a failed step becomes its message: the step's text as it always read,
  // and on a second line what caused it. The program then ends.
  [[noreturn]] void Fail(const kalo::Failure& failure) {
    s_.observer.StepFailed(failure);
    s_.ui.ShowMessage(" Erro: " + failure.step + "\r\nMotivo: " + failure.reason,
                      MessageStyle::kError);
    s_.ui.EndProgram(kalo::exit_status::kFailure);
  }

  void FailOn(const std::optional<kalo::Failure>& failure) {
    if (failure) {
      Fail(*failure);
    }
  }

  UpdateServices& s_;
  std::string client_;
  RunJournal journal_;
};

}  // namespace

RunOutcome RunUpdate(UpdateServices& services, const std::string& client) {
  RunOutcome outcome;
  try {
    outcome = Run(services, cUpdate::LowerCase(client)).Execute();
  } catch (...) {
    // The error report follows, and the program ends.
    services.observer.RunEnded(
        std::nullopt, kalo::exit_status::kFailure,
        kalo::Failure{
            "Erro inesperado",
            kalo::ErrorFromException(std::current_exception(), "RunUpdate").Description()});
    throw;
  }
  services.observer.RunEnded(
      outcome.end,
      outcome.end == RunEnd::kCompleted ? kalo::exit_status::kSuccess : kalo::exit_status::kFailure,
      outcome.failure);
  return outcome;
}

bool IsUsableClientName(const std::string& client) {
  return IsPlainFileName(client) && IsPlainFileName(client + ".exe");
}

std::string OwnExeName(const std::string& own_file_path) {
  std::string name = kalo::platform::FileNameOf(own_file_path);
  if (const auto dot = name.find_last_of('.'); dot != std::string::npos && dot > 0) {
    name.resize(dot);
  }
  return name.ends_with(".exe") ? name : name + ".exe";
}

void HandOver(UpdateServices& services, const std::string& program_name) {
  const std::string program = program_name.ends_with(".exe") ? program_name : program_name + ".exe";
  if (program != kUpdaterName) {
    services.ui.ShowMessage("Ok. Já Baixei os Arquivos vou executar o programa agora!",
                            MessageStyle::kInformation);
  } else if (services.ui.ShowMessage("Posso fechar o sistema para atualização?",
                                     MessageStyle::kQuestionYesNo) == MessageAnswer::kNo) {
    return;
  }
  cUpdate::WaitSeconds(services.ui, services.clock, 2);
  const std::string path = kalo::platform::PathInFolder(services.install_folder, program);
  if (!cUpdate::FileExists(services.fs, path)) {
    services.observer.StepFailed({"Executar: " + path, "o arquivo não foi encontrado"});
    services.ui.ShowMessage("Ops! o Arquivo não foi encontrado! \r\n\r\n" + path,
                            MessageStyle::kError);
    services.ui.EndProgram(kalo::exit_status::kFailure);
  }
  services.observer.HandingOver(path);
  try {
    services.processes.Start(path, kalo::platform::WindowStyle::kNormalFocus,
                             services.product_output);
  } catch (const kalo::Error& error) {
    services.observer.StepFailed({"Executar: " + path, error.Description()});
    services.ui.ShowMessage(" Erro: " + error.Description(), MessageStyle::kError);
    services.ui.EndProgram(kalo::exit_status::kFailure);
  }
  services.ui.EndProgram(kalo::exit_status::kSuccess);
}

}  // namespace cImpLicencas
