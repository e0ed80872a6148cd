// The run log for support staff: every run appends what it did and why to
// `<install>/.kalo_upd/kalo_upd.log`, one line per event.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "update/run_observer.h"

namespace cImpLicencas {

// What the start line says of the program beside the server and the client.
struct RunLogIdentity {
  std::string version;   // the program's
  std::string platform;  // kalo::platform::PlatformName()
  std::string mode;      // "janela" or "automático"
  std::string proxy;     // the proxy setting as set; written without its user and password
};

// Writes a line per report, in local time with its offset, between a run's start and its
// end; what comes outside a run (another run kept the folder busy) is not written. It
// writes only once the run holds the install folder, so two runs never write at once.
// A log that cannot be written never fails a run: the first failure is told to `told`
// (once per run) and the rest of the run is not written. Nor does it take the last bytes
// of a full disk: with less than `rotation_bytes` free it writes nothing.
class RunLog : public RunObserver {
 public:
  using WallClock = kalo::platform::WallClock;
  static constexpr std::uint64_t kRotationBytes = 1024 * 1024;

  // All borrowed; `now` tells the time of each line. At `rotation_bytes` the log becomes
  // its older part (replacing the one before) and a new file starts.
  RunLog(kalo::platform::FileSystem& fs, const std::string& install_folder, RunLogIdentity identity,
         WallClock now, RunObserver& told, std::uint64_t rotation_bytes = kRotationBytes);

  void RunStarted(const std::string& server_base, const std::string& client) override;
  void ManifestLoaded(const ManifestState& manifest,
                      const std::optional<kalo::Failure>& failure) override;
  void TransferEnded(const kalo::platform::TransferOutcome& outcome) override;
  void EntryDecided(const std::string& file_name, const EntryComparison& comparison) override;
  void FileReplaced(const std::string& file_name) override;
  void FileUnpacked(const std::string& file_name) override;
  void Journaled(JournalStep step, const std::string& name, bool recovery) override;
  void EntrySkipped(const std::string& line) override;
  void NothingListed(const std::string& address) override;
  void Warned(const std::string& text) override;
  void Overlooked(const kalo::Failure& failure) override;
  void StepFailed(const kalo::Failure& failure) override;
  void HandingOver(const std::string& path) override;
  void RunEnded(std::optional<RunEnd> returned, int exit_status,
                const std::optional<kalo::Failure>& failure) override;

 private:
  class Line;
  void Write(const Line& line) noexcept;
  void Append(const std::string& text);

  kalo::platform::FileSystem& fs_;
  const std::string folder_;
  const std::string path_;
  const std::string older_path_;
  const RunLogIdentity identity_;
  const WallClock now_;
  RunObserver& told_;
  const std::uint64_t rotation_bytes_;
  bool in_run_ = false;   // between a run's start and its end
  bool stopped_ = false;  // a write failed in this run
  bool handed_over_ = false;
  std::optional<kalo::Failure> failed_;
};

}  // namespace cImpLicencas
