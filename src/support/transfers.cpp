#include "support/transfers.h"

#include <exception>

#include "platform/atomic_file.h"
#include "platform/error.h"

namespace cUpdate {

kalo::platform::InternetTransfer& TransferControlOwner::Get() {
  if (!instance_) {
    instance_ = factory_();
  }
  return *instance_;
}

kalo::platform::InternetTransfer& TransferControl(TransferControlOwner& owner) {
  return owner.Get();
}

bool DownloadFile(kalo::platform::InternetTransfer& control, const std::string& url,
                  const std::string& target, bool show_error, kalo::platform::Ui& ui,
                  std::string* failure_reason, std::optional<std::uint64_t> max_bytes) {
  try {
    kalo::platform::AtomicFile file(target);
    control.OpenUrlBytes(
        url, [&file](std::span<const std::byte> bytes) { file.Write(bytes); }, max_bytes);
    while (control.StillExecuting()) {
      ui.ProcessPendingMessages();
    }
    file.Commit(kalo::platform::FilePermissions::kData);
    return true;
  } catch (const std::exception&) {
    if (failure_reason != nullptr) {
      // The caller names the file; the address would only repeat it.
      *failure_reason = kalo::platform::TransferFailureReason(
          kalo::ErrorFromException(std::current_exception(), "cUpdate::DownloadFile").Description(),
          url);
    }
    if (show_error) {
      ui.ShowMessage("Ocorreu um erro durante a transferência! ",
                     kalo::platform::MessageStyle::kError);
    }
    return false;
  }
}

}  // namespace cUpdate
