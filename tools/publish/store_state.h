// What the release store remembers besides the files: its releases in the order they
// were built, what each channel has been given, the clients held on a release, and how
// manifests are signed. Pure: the store's folder is read and written elsewhere.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "clients_file.h"

namespace kalo::publish {

struct StoredRelease {
  std::string id;             // named by the vendor, e.g. 2026.12.1
  std::int64_t built_at = 0;  // UTC seconds
};

// The releases a channel has been given, oldest first. Its clients get the newest one
// when they fall within its share (the first `percent` % of the channel's clients by
// their stable hash, and those `named`), else the one before. A channel's first
// release goes to all of its clients, except that a channel other than stable may
// start with a share, the rest of its clients following stable meanwhile.
struct Channel {
  std::string name;
  std::vector<std::string> releases;
  int percent = 100;
  std::vector<std::string> named;  // clients given the newest release whatever the percent

  const std::string& Newest() const { return releases.back(); }
  bool RolledOutFully() const { return percent == 100; }
};

struct StoreState {
  std::vector<StoredRelease> releases;      // in the order they were built
  std::vector<Channel> channels;            // in the order they were first given a release
  std::map<std::string, std::string> pins;  // client -> release, whatever its channel does
  bool signed_manifests = false;
  std::int64_t expires_in = 0;        // seconds a signature is good for; 0: for ever
  std::int64_t newest_signature = 0;  // the latest publishing time signed so far

  const StoredRelease* FindRelease(std::string_view id) const;
  const Channel* FindChannel(std::string_view name) const;
};

// The store's own file. Parsing refuses anything it would not have written, naming the
// line.
std::string StoreStateText(const StoreState& state);
std::optional<StoreState> ParseStoreState(std::string_view text, std::string& problem);

// Why `id` cannot name a release (it names a file of the store), or empty.
std::string ProblemWithReleaseId(std::string_view id);

// Which release each manifest serves: every client of the list that gets one, and the
// general manifest served to every name not listed (stable's release, as a client outside
// its share gets it).
struct Assignment {
  std::map<std::string, std::string> clients;  // client name -> release id
  std::optional<std::string> general;

  // How many listed clients get `release`.
  std::size_t CountOn(std::string_view release) const;
};
Assignment Assign(const StoreState& state, const std::vector<Client>& clients);

// The clients of `channel` in the order a rollout takes them: by a hash of the name that
// never changes, so that raising the percent only adds clients.
std::vector<std::string> RolloutOrder(const std::vector<Client>& clients, std::string_view channel);

// How many of `count` clients the first `percent` % are: rounded up, so that a small
// channel's 1 % still reaches one client.
std::size_t ShareOf(std::size_t count, int percent);

// The vendor's operations. Each changes `state` and answers empty, or answers why it
// cannot be done and leaves `state` as it was.
struct RolloutRequest {
  std::string release;
  std::string channel;
  std::optional<int> percent;
  std::vector<std::string> named;
};
std::string Rollout(StoreState& state, const std::vector<Client>& clients,
                    const RolloutRequest& request);
std::string Pin(StoreState& state, const std::vector<Client>& clients, const std::string& client,
                const std::string& release);
std::string Unpin(StoreState& state, const std::string& client);
// Takes the channel's newest release away: its clients go back to the one before.
std::string Rollback(StoreState& state, std::string_view channel);

// The releases a prune keeping `keep` removes: those no manifest serves, no client is
// pinned to, and not among the newest `keep` built.
std::vector<std::string> PrunableReleases(const StoreState& state, const Assignment& assignment,
                                          std::size_t keep);
// Forgets `releases`: the store's list and every channel's history.
void ForgetReleases(StoreState& state, const std::vector<std::string>& releases);

}  // namespace kalo::publish
