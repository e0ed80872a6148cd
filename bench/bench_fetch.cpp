// kalo_bench_fetch URL TARGET: one DownloadFile, as the update run makes it.
#include <iostream>

#include "no_window.h"
#include "platform/clock.h"
#include "platform/internet_transfer.h"
#include "support/transfers.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: kalo_bench_fetch URL TARGET\n";
    return 2;
  }
  kalo::bench::NoWindow ui;
  const kalo::platform::Clock clock;
  const auto transfer = kalo::platform::MakeInternetTransfer(ui, clock);
  return cUpdate::DownloadFile(*transfer, argv[1], argv[2], true, ui) ? 0 : 1;
}
