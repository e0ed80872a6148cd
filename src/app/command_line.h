// The updater's command line.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <variant>

namespace kalo::app {

struct CommandLine {
  std::optional<std::string> server;
  std::optional<std::string> client;
  bool unattended = false;
  bool yes = false;
  bool version = false;
  bool help = false;
};

// The options, or the reason the arguments are wrong.
std::variant<CommandLine, std::string> ParseCommandLine(std::span<const std::string> arguments);

extern const char* const kUsage;

}  // namespace kalo::app
