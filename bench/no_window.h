// The user interface of the benchmark programs: no window, nothing to pump, messages
// to standard error, no answers.
#pragma once

#include <cstdlib>
#include <iostream>

#include "platform/ui.h"

namespace kalo::bench {

class NoWindow : public platform::Ui {
 public:
  platform::MessageAnswer ShowMessage(const std::string& text, platform::MessageStyle,
                                      const std::string&) override {
    std::cerr << text << '\n';
    return platform::MessageAnswer::kOk;
  }
  std::string AskText(const std::string&, const std::string&) override { return {}; }
  void ProcessPendingMessages() override {}
  void WaitForMessages(std::chrono::milliseconds) override {}

 private:
  void End(int exit_status) override { std::exit(exit_status); }
};

}  // namespace kalo::bench
