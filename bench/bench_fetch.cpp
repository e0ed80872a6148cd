// kalo_bench_fetch URL TARGET [SHA256]: one DownloadFile, as the update run makes it:
// into a kept file (TARGET.kept) put on the disk every few MiB with a small record of
// what it holds (TARGET.kept-info); with SHA256 (64 hex digits) the body is hashed as
// it streams and checked, as for a manifest line that carries the file's digest.
#include <iostream>
#include <optional>
#include <string>

#include "no_window.h"
#include "platform/clock.h"
#include "platform/file_system.h"
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
  kalo::platform::FileSystem fs;
  const std::string target = argv[2];
  const cUpdate::KeptDownload kept{
      target + ".kept", {}, [&fs, &target](const kalo::platform::ResumePoint& held) {
        const std::string record = std::to_string(held.offset) + " " + held.validator + "\n";
        fs.WriteFileAtomically(target + ".kept-info", std::as_bytes(std::span(record)),
                               kalo::platform::FilePermissions::kData);
      }};
  const bool failed =
      cUpdate::DownloadFile(*transfer, argv[1], target, true, ui, checks, &kept).has_value();
  if (fs.KindOf(target + ".kept-info")) {
    fs.RemoveFile(target + ".kept-info");
  }
  return failed ? 1 : 0;
}
