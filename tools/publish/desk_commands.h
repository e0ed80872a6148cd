// The vendor's release desk over the release store: rolling a release out to a channel,
// holding a client on a release, taking a release back, renewing signatures, pruning,
// and seeing who gets what.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "release_store.h"
#include "signing.h"
#include "store_state.h"

namespace kalo::publish {

struct DeskOptions {
  std::string server_folder;
  std::string signing_key_file;            // empty: unsigned, refused for a signed store
  std::optional<std::int64_t> expires_in;  // seconds; a new validity for signatures
};

int RunRollout(const DeskOptions& options, const RolloutRequest& request, std::ostream& out,
               std::ostream& err);
int RunPin(const DeskOptions& options, const std::string& client, const std::string& release,
           std::ostream& out, std::ostream& err);
int RunUnpin(const DeskOptions& options, const std::string& client, std::ostream& out,
             std::ostream& err);
int RunRollback(const DeskOptions& options, const std::string& channel, std::ostream& out,
                std::ostream& err);
// Signs every manifest again with a new publishing time, the releases unchanged.
int RunResign(const DeskOptions& options, std::ostream& out, std::ostream& err);
// Takes the clients file at `clients_file` as the store's.
int RunClients(const DeskOptions& options, const std::string& clients_file, std::ostream& out,
               std::ostream& err);
int RunPrune(const DeskOptions& options, std::size_t keep, std::ostream& out, std::ostream& err);
int RunStatus(const DeskOptions& options, std::size_t keep, std::ostream& out, std::ostream& err);

// The private key of `path`, with a warning on `err` when others may read the file.
// Throws a kalo::Error when it cannot be loaded.
SigningKey LoadSigningKey(const std::string& path, std::ostream& err);

// Publishes what the store's state gives: saves the state, then writes the manifests
// that change, signed with `key` when there is one (the store then counts as signed).
void PublishStore(ReleaseStore& store, const SigningKey* key, bool renew, std::ostream& out,
                  std::ostream& err);

// "90d", "12h", "30m" or "45s" in seconds, "0" for no expiry; nothing for anything else.
std::optional<std::int64_t> DurationSeconds(std::string_view text);

}  // namespace kalo::publish
