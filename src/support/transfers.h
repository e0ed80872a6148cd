// Transfers through the process's one Internet transfer component.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/internet_transfer.h"
#include "platform/ui.h"

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

// Fetches `url` as bytes into the file `target`. The body goes to a temporary file
// beside the target, renamed into place only when complete, so memory stays flat
// and no partial target is ever left. On failure: false, after the message
// "Ocorreu um erro durante a transferência! " when `show_error` is true, with the
// reason (the server's, the network's or the disk's) in `failure_reason` when given.
// A body longer than `max_bytes` fails as soon as it is known to be longer.
bool DownloadFile(kalo::platform::InternetTransfer& control, const std::string& url,
                  const std::string& target, bool show_error, kalo::platform::Ui& ui,
                  std::string* failure_reason = nullptr,
                  std::optional<std::uint64_t> max_bytes = std::nullopt);

}  // namespace cUpdate
