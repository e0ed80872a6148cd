#include "platform/internet_transfer_interface.h"

#include <utility>

#include "platform/web_address.h"

namespace kalo::platform {

TransferError::TransferError(int number, std::string url, std::string reason, std::string source,
                             Transience transience, std::optional<int> http_status,
                             std::optional<std::chrono::seconds> retry_after)
    : Error(number, "Falha na transferência de " + ShownAddress(url) + ": " + reason,
            std::move(source)),
      url_(std::move(url)),
      reason_(std::move(reason)),
      transience_(transience),
      http_status_(http_status),
      retry_after_(retry_after) {}

}  // namespace kalo::platform
