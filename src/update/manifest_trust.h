// Which manifests a run takes. An updater built with public keys takes only a manifest
// signed by one of them, listing every file's SHA-256, and never one older than the
// newest it took before for the same client, so that whoever answers for the server
// can neither install a program of their own nor bring back an old release.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/cryptography.h"
#include "platform/settings_store.h"

namespace cImpLicencas {

class ManifestTrust {
 public:
  // Without keys every framed manifest is taken, as it comes.
  ManifestTrust(std::vector<kalo::platform::P256PublicKey> keys,
                kalo::platform::SettingsStore& settings)
      : keys_(std::move(keys)), settings_(settings) {}

  bool RequiresSignature() const { return !keys_.empty(); }

  // Nothing when the manifest of `client` (its exact bytes, and its lines) is taken
  // with the signature file served beside it; its publishing time is then kept as the
  // client's newest. Else why it is refused.
  std::optional<std::string> Refusal(const std::string& client, std::string_view manifest,
                                     std::string_view signature_file,
                                     const std::vector<std::string>& lines);

 private:
  // The publishing time of the newest manifest taken for `client`; 0 before the first.
  std::int64_t NewestTaken(const std::string& client) const;

  std::vector<kalo::platform::P256PublicKey> keys_;
  kalo::platform::SettingsStore& settings_;
};

// The keys of the build, in the form kalo-publish prints them. Throws a kalo::Error
// naming a key that is no key.
std::vector<kalo::platform::P256PublicKey> PublicKeysOf(std::span<const std::string_view> texts);

// "08/12/2026 22:30:00 UTC": a publishing time the way refusals show it.
std::string PublishingTimeText(std::int64_t seconds);

}  // namespace cImpLicencas
