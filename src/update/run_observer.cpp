#include "update/run_observer.h"

#include <utility>

namespace cImpLicencas {
namespace {

class AllObservers : public RunObserver {
 public:
  explicit AllObservers(std::vector<RunObserver*> observers) : observers_(std::move(observers)) {}

  void RunStarted(const std::string& server_base, const std::string& client) override {
    Tell(&RunObserver::RunStarted, server_base, client);
  }
  void ManifestLoaded(const ManifestState& manifest,
                      const std::optional<kalo::Failure>& failure) override {
    Tell(&RunObserver::ManifestLoaded, manifest, failure);
  }
  void TransferEnded(const kalo::platform::TransferOutcome& outcome) override {
    Tell(&RunObserver::TransferEnded, outcome);
  }
  void EntryDecided(const std::string& file_name, const EntryComparison& comparison) override {
    Tell(&RunObserver::EntryDecided, file_name, comparison);
  }
  void FileReplaced(const std::string& file_name) override {
    Tell(&RunObserver::FileReplaced, file_name);
  }
  void FileUnpacked(const std::string& file_name) override {
    Tell(&RunObserver::FileUnpacked, file_name);
  }
  void Journaled(JournalStep step, const std::string& name, bool recovery) override {
    Tell(&RunObserver::Journaled, step, name, recovery);
  }
  void EntrySkipped(const std::string& line) override { Tell(&RunObserver::EntrySkipped, line); }
  void NothingListed(const std::string& address) override {
    Tell(&RunObserver::NothingListed, address);
  }
  void Warned(const std::string& text) override { Tell(&RunObserver::Warned, text); }
  void Overlooked(const kalo::Failure& failure) override {
    Tell(&RunObserver::Overlooked, failure);
  }
  void StepFailed(const kalo::Failure& failure) override {
    Tell(&RunObserver::StepFailed, failure);
  }
  void HandingOver(const std::string& path) override { Tell(&RunObserver::HandingOver, path); }
  void RunEnded(std::optional<RunEnd> returned, int exit_status,
                const std::optional<kalo::Failure>& failure) override {
    Tell(&RunObserver::RunEnded, returned, exit_status, failure);
  }

 private:
  template <typename Hook, typename... Arguments>
  void Tell(Hook hook, const Arguments&... arguments) {
    for (RunObserver* observer : observers_) {
      (observer->*hook)(arguments...);
    }
  }

  std::vector<RunObserver*> observers_;
};

}  // namespace

std::unique_ptr<RunObserver> AllOf(std::vector<RunObserver*> observers) {
  return std::make_unique<AllObservers>(std::move(observers));
}

}  // namespace cImpLicencas
