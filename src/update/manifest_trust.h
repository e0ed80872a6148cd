// Which manifests a run takes. An updater built with public keys takes only a manifest
// signed by one of them for the client that asked, listing every file's SHA-256, and
// never one older than the newest it took before for the same client nor one past the
// expiry it was signed with, so that whoever answers for the server can neither install
// a program of their own, nor give one client another's release, nor bring back an old
// one, nor keep serving a list the vendor meant to replace.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/cryptography.h"
#include "platform/file_system.h"
#include "platform/settings_store.h"
#include "support/failure.h"

namespace cImpLicencas {

class ManifestTrust {
 public:
  // Without keys every framed manifest is taken, as it comes. The newest time taken is
  // kept in the user's settings and in the hidden folder of `install_folder`, which
  // every user of the machine shares: a user who never ran the updater must not take
  // an older release either. `now` tells whether a manifest has expired. Everything but
  // `now` is borrowed.
  ManifestTrust(std::vector<kalo::platform::P256PublicKey> keys,
                kalo::platform::SettingsStore& settings, kalo::platform::FileSystem& fs,
                const std::string& install_folder, kalo::platform::WallClock now);

  bool RequiresSignature() const { return !keys_.empty(); }

  // What Check found: nothing refused, and the manifest's publishing time for Accept;
  // or why the manifest is refused.
  struct Verdict {
    std::optional<kalo::Failure> refusal;  // the reason alone: the caller names the step
    std::int64_t published_at = 0;
  };

  // Whether the manifest of `client` (its exact bytes) is taken with the signature file
  // served beside it. Reads the stores of the newest times taken and writes nothing; a
  // store that cannot be read costs no refusal, but adds a line to `warnings`. Called
  // while the run holds the install folder's lock, as the folder's record is read.
  Verdict Check(const std::string& client, std::string_view manifest,
                std::string_view signature_file, std::vector<std::string>& warnings) const;

  // Keeps `published_at` as the newest time taken for `client`, in both stores, once its
  // manifest is taken. A store that cannot be written costs only its part of the
  // protection against going back: the answer says so, one line each, for the run to
  // report. Called while the run holds the install folder's lock, as the folder's record
  // is replaced.
  std::vector<std::string> Accept(const std::string& client, std::int64_t published_at);

 private:
  // The install folder's record; empty, with a warning, when it is unusable.
  std::map<std::string, std::int64_t> Recorded(std::vector<std::string>& warnings) const;
  // The publishing time of the newest manifest taken for `id` by this user; 0 before
  // the first.
  std::int64_t NewestInSettings(const std::string& id) const;

  std::vector<kalo::platform::P256PublicKey> keys_;
  kalo::platform::SettingsStore& settings_;
  kalo::platform::FileSystem& fs_;
  std::string record_path_;
  kalo::platform::WallClock now_;
};

// The install folder's record of signatures: for each client id (cUpdate::PercentEncoded), the
// newest publishing time taken, one line "<id> <seconds>" each, every line ending in a
// line feed. Other users of the machine may write the folder, so anything else (a
// repeated id, a sign, CR, a missing line feed) is refused whole.
std::optional<std::map<std::string, std::int64_t>> ParseSignatureRecord(std::string_view text);
std::string SignatureRecordText(const std::map<std::string, std::int64_t>& newest);

// The keys of the build, in the form kalo-publish prints them. Throws a kalo::Error
// naming a key that is no key.
std::vector<kalo::platform::P256PublicKey> PublicKeysOf(std::span<const std::string_view> texts);

// "08/12/2026 22:30:00 UTC": a publishing time the way refusals show it.
std::string PublishingTimeText(std::int64_t seconds);

}  // namespace cImpLicencas
