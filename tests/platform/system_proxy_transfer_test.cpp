#include "platform/internet_transfer.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "helpers/fake_ui.h"
#include "helpers/system_proxy.h"
#include "helpers/test_server.h"

namespace {

using namespace std::chrono_literals;

// The system's proxy carries transfers unless its exceptions name the host; the setting
// "direct" goes past it, and a proxy address in the setting carries them all. On Windows
// the system's proxy is the user's Internet settings, which every transfer of the session
// reads: the build runs this test alone there.
TEST(SystemProxyTransfer, GoesThroughTheProxyTheSystemOrTheSettingNames) {
  kalo::test::FakeClock clock;
  kalo::test::FakeUi ui{&clock};
  const kalo::test::TestProxy proxy;
  struct Case {
    const char* what;
    bool system_proxy;
    std::optional<std::string> bypass;
    std::string setting;
    bool through_proxy;
  };
  const std::vector<Case> cases = {
      {"system", true, std::nullopt, "", true},
      {"direct setting", true, std::nullopt, "direct", false},
      {"setting", false, std::nullopt, proxy.Address(), true},
      {"system exception", true, "127.0.0.1", "", false},
      {"setting despite the exception", false, "127.0.0.1", proxy.Address(), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // A server of its own: a connection kept open from an earlier case could carry the
    // request past the proxy.
    kalo::test::TestServer server;
    server.SetFile("page.txt", "through");
    const std::string url = server.BaseAddress() + "/trabalho/versao/page.txt";
    const kalo::test::ScopedSystemProxy system(
        c.system_proxy ? std::optional(proxy.Address()) : std::nullopt, c.bypass);
    const auto transfer = kalo::platform::MakeInternetTransfer(ui, clock, {2s, 300ms}, c.setting);
    const std::size_t proxied_before = proxy.RequestTargets().size();
    EXPECT_EQ(transfer->OpenUrlText(url).body, "through");
    const std::vector<std::string> proxied = proxy.RequestTargets();
    ASSERT_EQ(proxied.size(), proxied_before + (c.through_proxy ? 1 : 0));
    if (c.through_proxy) {
      EXPECT_EQ(proxied.back(), url);
    }
    EXPECT_EQ(server.RequestTargets(), std::vector<std::string>{"/trabalho/versao/page.txt"});
  }
}

}  // namespace
