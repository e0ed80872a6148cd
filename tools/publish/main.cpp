// kalo-publish: checks and publishes releases for the updater.
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "stamp_command.h"

namespace {

constexpr int kUsageError = 2;

constexpr std::string_view kUsage =
    "Usage: kalo-publish COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands:\n"
    "  stamp FILE...   print each file's path, a tab and its build stamp yyyymmddhhnn\n"
    "                  (empty when the file carries no version information)\n"
    "\n"
    "Run 'kalo-publish COMMAND --help' for a command's details.\n";

constexpr std::string_view kStampUsage =
    "Usage: kalo-publish stamp FILE...\n"
    "\n"
    "Prints, for each FILE, its path, a tab and the 12-digit stamp yyyymmddhhnn that\n"
    "the updater compares with a manifest entry: the build date and time held in the\n"
    "file's version (a PE version resource or our ELF version note). The stamp is\n"
    "empty when the file carries no version information.\n"
    "\n"
    "Exit status: 0 all files were read; 1 a file was missing (the others are still\n"
    "printed); 2 the command line was wrong.\n";

bool IsHelp(std::string_view argument) {
  return argument == "--help" || argument == "-h";
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.empty()) {
    std::cerr << kUsage;
    return kUsageError;
  }
  if (IsHelp(arguments[0])) {
    std::cout << kUsage;
    return 0;
  }
  const std::string& command = arguments[0];
  const std::span<const std::string> rest(arguments.begin() + 1, arguments.end());
  if (command == "stamp") {
    if (!rest.empty() && IsHelp(rest[0])) {
      std::cout << kStampUsage;
      return 0;
    }
    if (rest.empty()) {
      std::cerr << kStampUsage;
      return kUsageError;
    }
    return kalo::publish::RunStamp(rest, std::cout, std::cerr);
  }
  std::cerr << "kalo-publish: unknown command '" << command << "'\n\n" << kUsage;
  return kUsageError;
}
