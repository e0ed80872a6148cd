// The release store: the server folder that a web server serves, and beside what it
// serves, the record of every release and of who gets which.
//
//   SERVER_DIR/trabalho/versao/      every release's files, each stored once
//   SERVER_DIR/trabalho/manifests/   each listed client's manifest and signature, and the
//                                    general one ("default") for every other name
//   SERVER_DIR/store/state.txt       releases, channels, rollouts, pins, signing
//   SERVER_DIR/store/clients.txt     the clients file as the vendor last gave it
//   SERVER_DIR/store/releases/ID.txt each release's manifest, with every file's SHA-256
//   SERVER_DIR/store/served/ID.txt   the manifest clients on ID are served, which their
//                                    manifests are links to
#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "clients_file.h"
#include "signing.h"
#include "store_state.h"

namespace kalo::publish {

// Where the manifest of `client` lies in the server folder ("default" for the rest).
std::string ManifestPath(const std::string& server_folder, const std::string& client);

// Where the signature of that manifest lies: beside it, ".assinatura" for ".txt".
std::string SignaturePath(const std::string& server_folder, const std::string& client);

// Where the published files lie.
std::string FilesFolder(const std::string& server_folder);

// How a publication signs its manifests: not at all, or with `key`, each signature
// good for `expires_in` seconds from its publishing time (0: for ever).
struct Signing {
  const SigningKey* key = nullptr;
  std::int64_t expires_in = 0;
};

class ReleaseStore {
 public:
  // The store of `server_folder`; an empty one when the folder holds none yet. Throws a
  // kalo::Error when its records cannot be read or are not in their form (anyone who
  // can write the folder can write them: nothing is guessed).
  static ReleaseStore Open(const std::string& server_folder);

  bool IsNew() const { return is_new_; }
  const std::string& Folder() const { return folder_; }
  StoreState& State() { return state_; }
  const StoreState& State() const { return state_; }
  const std::vector<Client>& Clients() const { return clients_; }
  const std::string& ClientsText() const { return clients_text_; }

  // A release's manifest as stored: framed, CR LF line ends, every line with its SHA-256.
  std::string ReleaseManifest(const std::string& id) const;
  // The published files that `id`'s manifest names.
  std::vector<std::string> ReleaseFiles(const std::string& id) const;

  // Keeps `manifest` as the release `id`'s; the state must name it as well.
  void KeepRelease(const std::string& id, const std::string& manifest);
  // Takes the clients file `text`, already checked, as the store's.
  void KeepClients(const std::string& text, std::vector<Client> clients);
  void SaveState() const;

  // Puts on the server the manifests that `Assign` gives, each replaced atomically, and
  // only where its bytes or its signature would change (all of them when `renew`);
  // removes the manifests of names no longer listed. Writes a line per change to `out`
  // and answers how many manifests were written.
  std::size_t PublishManifests(const Signing& signing, bool renew, std::ostream& out,
                               std::ostream& err);

  // Removes the records of `releases` and the published files that no other release
  // names; answers the bytes freed. The state must have forgotten them already.
  std::uint64_t RemoveReleases(const std::vector<std::string>& releases) const;

 private:
  explicit ReleaseStore(std::string folder) : folder_(std::move(folder)) {}
  std::string StoreFolder() const;
  // Where the manifest served for `release` lies in the store.
  std::string ServedPath(const std::string& release) const;
  // Puts `manifest`, served for `release`, at `target`, replacing what was there whole.
  void PutServed(const std::string& release, const std::string& manifest,
                 const std::string& target) const;

  std::string folder_;
  bool is_new_ = true;
  StoreState state_;
  std::string clients_text_;
  std::vector<Client> clients_;
};

// The manifest served for a stored one: as stored when signed; without the SHA-256
// field when not, as unsigned manifests always were.
std::string ServedManifest(const std::string& stored, bool signed_manifest);

}  // namespace kalo::publish
