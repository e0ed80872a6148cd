#include "support/transfers.h"

#include <cstdint>
#include <exception>

#include "platform/atomic_file.h"
#include "platform/caught_error.h"
#include "platform/error.h"
#include "support/background_hash.h"
#include "support/kept_checkpoints.h"
#include "support/text.h"

namespace cUpdate {
namespace {

std::string DigestMismatchText(const kalo::platform::Sha256Digest& received,
                               const kalo::platform::Sha256Digest& expected) {
  return "o arquivo recebido não confere com a lista de arquivos (SHA-256 " + HexText(received) +
         ", esperado " + HexText(expected) + ")";
}

}  // namespace

kalo::platform::InternetTransfer& TransferControlOwner::Get() {
  if (!instance_) {
    instance_ = factory_();
  }
  return *instance_;
}

kalo::platform::InternetTransfer& TransferControl(TransferControlOwner& owner) {
  return owner.Get();
}

std::optional<kalo::Failure> DownloadFile(kalo::platform::InternetTransfer& control,
                                          const std::string& url, const std::string& target,
                                          bool show_error, kalo::platform::Ui& ui,
                                          const DownloadChecks& checks, const KeptDownload* kept) {
  kalo::Failure failure;
  try {
    std::optional<kalo::platform::AtomicFile> file;
    if (kept) {
      file.emplace(target, kept->path, kept->held.offset);
    } else {
      file.emplace(target);
    }
    const kalo::platform::ResumePoint from =
        kept && file->Length() > 0 ? kept->held : kalo::platform::ResumePoint{};
    KeptCheckpoints checkpoints(kept, *file);
    std::optional<BackgroundSha256> hash;
    const auto start_hash = [&hash, &checks] {
      hash.reset();
      if (checks.sha256) {
        hash.emplace();
      }
    };
    const kalo::platform::ByteSink sink{
        [&file, &hash, &checkpoints](std::span<const std::byte> bytes) {
          file->Write(bytes);
          if (hash) {
            hash->Update(bytes);
          }
          checkpoints.Wrote();
        },
        [&file, &start_hash, &checkpoints] {
          checkpoints.Restarting();
          file->Discard();
          start_hash();
        },
        [&checkpoints](const kalo::platform::ResumePoint& point) {
          checkpoints.Identified(point);
        }};
    start_hash();
    if (hash && from.offset > 0) {
      file->ReadBack([&hash](std::span<const std::byte> bytes) { hash->Update(bytes); });
    }
    try {
      // A body that does not match its digest is fetched once more from its first byte:
      // it may have been joined from parts of two copies of the file.
      for (int fetch = 1;; ++fetch) {
        control.OpenUrlBytes(url, sink, checks.max_bytes,
                             fetch == 1 ? from : kalo::platform::ResumePoint{});
        while (control.StillExecuting()) {
          ui.ProcessPendingMessages();
        }
        if (!hash) {
          break;
        }
        if (const auto received = hash->Finish(); received != *checks.sha256) {
          sink.restart();
          if (fetch == 1) {
            continue;
          }
          throw kalo::Error(kalo::error_number::kTransferFailed,
                            DigestMismatchText(received, *checks.sha256), "cUpdate::DownloadFile");
        }
        break;
      }
    } catch (...) {
      checkpoints.Keep();
      throw;
    }
    checkpoints.Settle();
    file->Commit(kalo::platform::FilePermissions::kData);
    return std::nullopt;
  } catch (const kalo::platform::TransferError& error) {
    // The caller names the file; the address would only repeat it.
    failure.reason = error.Reason();
  } catch (const std::exception&) {
    failure.reason =
        kalo::ErrorFromException(std::current_exception(), "cUpdate::DownloadFile").Description();
  }
  if (show_error) {
    ui.ShowMessage("Ocorreu um erro durante a transferência! ",
                   kalo::platform::MessageStyle::kError);
  }
  return failure;
}

}  // namespace cUpdate
