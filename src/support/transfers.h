// Transfers through the process's one Internet transfer component.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/cryptography.h"
#include "platform/internet_transfer_interface.h"
#include "platform/ui.h"
#include "support/failure.h"
#include "support/kept_checkpoints.h"

namespace cUpdate {

// Holds the process's transfer component, made on first use; the window owns it for
// the life of the process.
class TransferControlOwner {
 public:
  using Factory = std::function<std::unique_ptr<kalo::platform::InternetTransfer>()>;

  explicit TransferControlOwner(Factory factory) : factory_(std::move(factory)) {}

  kalo::platform::InternetTransfer& Get();

 private:
  Factory factory_;
  std::unique_ptr<kalo::platform::InternetTransfer> instance_;
};

// The transfer component, created when it does not exist yet.
kalo::platform::InternetTransfer& TransferControl(TransferControlOwner& owner);

// What the body must be to take the target's place.
struct DownloadChecks {
  // A longer body fails as soon as it is known to be longer.
  std::optional<std::uint64_t> max_bytes;
  // The body is hashed as it arrives, and one with another digest is never put in place.
  std::optional<kalo::platform::Sha256Digest> sha256;
};

// Fetches `url` as bytes into the file `target`. The body goes to a temporary file
// beside the target, renamed into place only when complete, so memory stays flat
// and no partial target is ever left. Nothing when it succeeded; else why not (the
// server's, the network's or the disk's words), for the caller to name the step.
// With `show_error` a failure is first shown as "Ocorreu um erro durante a
// transferência! ": the written interface's own message, the one text a routine below
// the run shows itself (the run passes false and shows its own). With `kept` the body
// goes to its file instead of a temporary one, and continues what it holds.
[[nodiscard]] std::optional<kalo::Failure> DownloadFile(kalo::platform::InternetTransfer& control,
                                                        const std::string& url,
                                                        const std::string& target, bool show_error,
                                                        kalo::platform::Ui& ui,
                                                        const DownloadChecks& checks = {},
                                                        const KeptDownload* kept = nullptr);

}  // namespace cUpdate
