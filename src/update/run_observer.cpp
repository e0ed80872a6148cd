#include "update/run_observer.h"

namespace cImpLicencas {

void RunObservers::RunStarted(const std::string& server_base, const std::string& client) {
  Tell(&RunObserver::RunStarted, server_base, client);
}
void RunObservers::ManifestLoaded(const ManifestState& manifest,
                                  const std::optional<kalo::Failure>& failure) {
  Tell(&RunObserver::ManifestLoaded, manifest, failure);
}
void RunObservers::TransferEnded(const kalo::platform::TransferOutcome& outcome) {
  Tell(&RunObserver::TransferEnded, outcome);
}
void RunObservers::EntryDecided(const std::string& file_name, const EntryComparison& comparison) {
  Tell(&RunObserver::EntryDecided, file_name, comparison);
}
void RunObservers::FileReplaced(const std::string& file_name) {
  Tell(&RunObserver::FileReplaced, file_name);
}
void RunObservers::FileUnpacked(const std::string& file_name) {
  Tell(&RunObserver::FileUnpacked, file_name);
}
void RunObservers::Journaled(JournalStep step, const std::string& name, bool recovery) {
  Tell(&RunObserver::Journaled, step, name, recovery);
}
void RunObservers::EntrySkipped(const std::string& line) {
  Tell(&RunObserver::EntrySkipped, line);
}
void RunObservers::NothingListed(const std::string& address) {
  Tell(&RunObserver::NothingListed, address);
}
void RunObservers::Warned(const std::string& text) {
  Tell(&RunObserver::Warned, text);
}
void RunObservers::Overlooked(const kalo::Failure& failure) {
  Tell(&RunObserver::Overlooked, failure);
}
void RunObservers::StepFailed(const kalo::Failure& failure) {
  Tell(&RunObserver::StepFailed, failure);
}
void RunObservers::HandingOver(const std::string& path) {
  Tell(&RunObserver::HandingOver, path);
}
void RunObservers::RunEnded(std::optional<RunEnd> returned, int exit_status,
                            const std::optional<kalo::Failure>& failure) {
  Tell(&RunObserver::RunEnded, returned, exit_status, failure);
}

}  // namespace cImpLicencas
