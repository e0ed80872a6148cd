#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

namespace {

TEST(CommandLine, Options) {
  const std::vector<std::string> good{"--server",  "http://h",     "--client",
                                      "acme corp", "--unattended", "--yes"};
  const auto parsed = kalo::app::ParseCommandLine(good);
  const auto& options = std::get<kalo::app::CommandLine>(parsed);
  EXPECT_EQ(options.server, "http://h");
  EXPECT_EQ(options.client, "acme corp");
  EXPECT_TRUE(options.unattended && options.yes && !options.help && !options.version);
  // A control character in the server address would put lines of its own into requests.
  for (const std::vector<std::string>& bad : {std::vector<std::string>{"--server"},
                                              {"--frobnicate"},
                                              {"acme"},
                                              {"--server", "http://h:1/\r\nX-Evil: 1"},
                                              {"--server", "http://h:1/\x7f"}}) {
    EXPECT_TRUE(std::holds_alternative<std::string>(kalo::app::ParseCommandLine(bad)));
  }
}

}  // namespace
