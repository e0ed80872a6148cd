// kalo_bench_fetch URL TARGET [SHA256]: one DownloadFile, as the update run makes it;
// with SHA256 (64 hex digits) the body is hashed as it streams and checked, as for a
// manifest line that carries the file's digest.
#include <iostream>
#include <optional>

#include "no_window.h"
#include "platform/clock.h"
#include "platform/internet_transfer.h"
#include "support/text.h"
#include "support/transfers.h"

int main(int argc, char** argv) {
  cUpdate::DownloadChecks checks;
  if (argc == 4) {
    const auto digest = cUpdate::BytesOfHex(argv[3]);
    if (!digest || digest->size() != checks.sha256.emplace().size()) {
      std::cerr << "kalo_bench_fetch: SHA256 must be 64 hex digits\n";
      return 2;
    }
    std::ranges::copy(*digest, checks.sha256->begin());
  } else if (argc != 3) {
    std::cerr << "usage: kalo_bench_fetch URL TARGET [SHA256]\n";
    return 2;
  }
  kalo::bench::NoWindow ui;
  const kalo::platform::Clock clock;
  const auto transfer = kalo::platform::MakeInternetTransfer(ui, clock);
  return cUpdate::DownloadFile(*transfer, argv[1], argv[2], true, ui, checks) ? 1 : 0;
}
