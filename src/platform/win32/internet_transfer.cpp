// The Windows build has no transfer component yet: every transfer fails at once with
// a reason, so a run reports that nothing was received instead of hanging.
#include "platform/internet_transfer.h"

#include "platform/error.h"

namespace kalo::platform {

std::unique_ptr<InternetTransfer> MakeInternetTransfer(Ui&, const Clock&, TransferTimeouts,
                                                       std::string) {
  throw Error(error_number::kTransferFailed,
              "A transferência pela Internet ainda não existe na versão para Windows", "Inet1");
}

}  // namespace kalo::platform
