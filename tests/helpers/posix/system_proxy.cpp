#include "helpers/system_proxy.h"

#include "helpers/environment.h"

namespace kalo::test {

// Curl takes no_proxy and all_proxy in both spellings, http_proxy only in lower case.
struct ScopedSystemProxy::Saved {
  Saved(const std::optional<std::string>& address, const std::optional<std::string>& bypass)
      : http_proxy("http_proxy", address),
        no_proxy("no_proxy", bypass),
        no_proxy_upper("NO_PROXY", std::nullopt),
        all_proxy("all_proxy", std::nullopt),
        all_proxy_upper("ALL_PROXY", std::nullopt) {}

  ScopedEnvironment http_proxy;
  ScopedEnvironment no_proxy;
  ScopedEnvironment no_proxy_upper;
  ScopedEnvironment all_proxy;
  ScopedEnvironment all_proxy_upper;
};

ScopedSystemProxy::ScopedSystemProxy(const std::optional<std::string>& address,
                                     const std::optional<std::string>& bypass)
    : saved_(std::make_unique<Saved>(address, bypass)) {}

ScopedSystemProxy::~ScopedSystemProxy() = default;

}  // namespace kalo::test
