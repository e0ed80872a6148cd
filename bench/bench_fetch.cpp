// kalo_bench_fetch URL TARGET: one DownloadFile, as the update run makes it.
#include <iostream>

#include "platform/clock.h"
#include "platform/internet_transfer.h"
#include "support/transfers.h"

namespace {

// No window: nothing to pump, nobody to ask.
class NoWindow : public kalo::platform::Ui {
 public:
  kalo::platform::MessageAnswer ShowMessage(const std::string& text, kalo::platform::MessageStyle,
                                            const std::string&) override {
    std::cerr << text << '\n';
    return kalo::platform::MessageAnswer::kOk;
  }
  std::string AskText(const std::string&, const std::string&) override { return {}; }
  void ProcessPendingMessages() override {}
  void WaitForMessages(std::chrono::milliseconds) override {}

 private:
  void End(int exit_status) override { std::exit(exit_status); }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: kalo_bench_fetch URL TARGET\n";
    return 2;
  }
  NoWindow ui;
  const kalo::platform::Clock clock;
  const auto transfer = kalo::platform::MakeInternetTransfer(ui, clock);
  return cUpdate::DownloadFile(*transfer, argv[1], argv[2], true, ui) ? 0 : 1;
}
