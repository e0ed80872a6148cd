// kalo-publish stamp, run as a real program the way vendors run it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "helpers/temp_folder.h"

namespace {

struct Outcome {
  std::string out;
  int exit_status;
};

Outcome RunPublish(const std::string& arguments) {
  const std::string command =
      std::string("'") + KALO_PUBLISH_PROGRAM + "' " + arguments + " 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  Outcome outcome{{}, -1};
  if (pipe == nullptr) {
    return outcome;
  }
  char buffer[4096];
  while (const std::size_t read = std::fread(buffer, 1, sizeof buffer, pipe)) {
    outcome.out.append(buffer, read);
  }
  const int status = ::pclose(pipe);
  outcome.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

const std::string kPe = std::string(KALO_TEST_FIXTURE_DIR) + "/pe/";

TEST(PublishStamp, StampsPeAndElfFiles) {
  const Outcome outcome =
      RunPublish("stamp '" + kPe + "app32-1503-2021.exe' '" + kPe + "lib64-2802-2024.dll' '" + kPe +
                 "plain64-noversion.exe' '" + KALO_TEST_PROGRAM + "'");
  EXPECT_EQ(outcome.exit_status, 0);
  EXPECT_EQ(outcome.out, kPe + "app32-1503-2021.exe\t202103150930\n" + kPe +
                             "lib64-2802-2024.dll\t202402281200\n" + kPe +
                             "plain64-noversion.exe\t\n" + KALO_TEST_PROGRAM + "\t201811211540\n");
}

TEST(PublishStamp, MissingFileFailsButOthersArePrinted) {
  const kalo::test::TempFolder folder;
  const Outcome outcome =
      RunPublish("stamp '" + folder / "missing.exe" + "' '" + kPe + "app64-3112-1999.exe'");
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.out, kPe + "app64-3112-1999.exe\t199912312359\n");
}

TEST(PublishStamp, WrongCommandLines) {
  EXPECT_EQ(RunPublish("").exit_status, 2);
  EXPECT_EQ(RunPublish("stamp").exit_status, 2);
  EXPECT_EQ(RunPublish("frobnicate x").exit_status, 2);
  const Outcome help = RunPublish("stamp --help");
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_NE(help.out.find("yyyymmddhhnn"), std::string::npos);
}

}  // namespace
