// The Internet transfer component over the platform's HTTP client: libcurl on Linux,
// WinINet on Windows.
#pragma once

#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/internet_transfer_interface.h"
#include "platform/ui.h"

namespace kalo::platform {

// The component over the platform's HTTP client. It pumps `ui` while it waits and
// measures its time-outs on `clock`; both must outlive it. `proxy` is a proxy setting
// as kDirectConnection describes; one that is no proxy address throws.
std::unique_ptr<InternetTransfer> MakeInternetTransfer(Ui& ui, const Clock& clock,
                                                       TransferTimeouts timeouts = {},
                                                       std::string proxy = {});

}  // namespace kalo::platform
