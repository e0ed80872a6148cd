// The system's own proxy settings, changed for one test and put back afterwards: on
// POSIX the environment that curl reads, on Windows the user's Internet settings that
// WinINet reads.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace kalo::test {

class ScopedSystemProxy {
 public:
  // `address` ("http://127.0.0.1:3128") carries every transfer but those to the host
  // `bypass` names; no address: no proxy.
  ScopedSystemProxy(const std::optional<std::string>& address,
                    const std::optional<std::string>& bypass);
  ScopedSystemProxy(const ScopedSystemProxy&) = delete;
  ScopedSystemProxy& operator=(const ScopedSystemProxy&) = delete;
  ~ScopedSystemProxy();

 private:
  struct Saved;  // the settings as they were

  std::unique_ptr<Saved> saved_;
};

}  // namespace kalo::test
