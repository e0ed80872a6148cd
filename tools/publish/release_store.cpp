#include "release_store.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <ostream>
#include <set>

#include "platform/cryptography.h"
#include "platform/error.h"
#include "platform/file_system.h"
#include "support/text.h"
#include "update/manifest.h"
#include "update/manifest_signature.h"

namespace kalo::publish {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kManifestExtension = ".txt";
constexpr std::string_view kSignatureExtension = ".assinatura";
constexpr const char* kSource = "kalo::publish::ReleaseStore";
// A store's records are small; anything larger was not written by kalo-publish.
constexpr std::uint64_t kMostRecordBytes = 64 * 1024 * 1024;

std::string ManifestsFolder(const std::string& server_folder) {
  return (fs::path(server_folder) / "trabalho" / "manifests").string();
}

void WriteWhole(const std::string& target, const std::string& content) {
  platform::FileSystem().WriteFileAtomically(
      target, std::as_bytes(std::span(content.data(), content.size())),
      platform::FilePermissions::kData);
}

// The file at `path` when it is an ordinary one of a sane size, else nothing.
std::optional<std::string> ReadRecord(const std::string& path) {
  platform::FileSystem files;
  if (files.OwnKindOf(path) != platform::EntryKind::kFile) {
    return std::nullopt;
  }
  if (files.FileLength(path) > kMostRecordBytes) {
    throw Error(error_number::kInvalidArgument, path + " é grande demais para um registro",
                kSource);
  }
  return files.ReadFileNoFollow(path);
}

// The lines of a framed manifest between its marks, CR LF line ends.
std::vector<std::string> EntryLines(const std::string& manifest) {
  std::vector<std::string> lines;
  std::string_view rest = manifest;
  while (!rest.empty()) {
    const auto end = std::min(rest.find("\r\n"), rest.size());
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 2, rest.size()));
    if (line != "licenca_" && line != "_licenca" && !line.empty()) {
      lines.emplace_back(line);
    }
  }
  return lines;
}

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool SameAudience(const cImpLicencas::SignedFor& a, const cImpLicencas::SignedFor& b) {
  return a.all_but == b.all_but && a.ids == b.ids;
}

// Whether `signature` is `key`'s over `manifest`: one made with another key, or by
// hand, is made again.
bool SignedWith(const SigningKey& key, const cImpLicencas::ManifestSignature& signature,
                const std::string& manifest) {
  const std::string message = cImpLicencas::SignedMessage(signature, manifest);
  return platform::VerifyP256Signature(key.PublicKey(),
                                       std::as_bytes(std::span(message.data(), message.size())),
                                       signature.signature);
}

// When a signature made at `published_at` expires: `expires_in` later, or never for 0.
std::optional<std::int64_t> ExpiryOf(std::int64_t published_at, std::int64_t expires_in) {
  return expires_in > 0 ? std::optional(published_at + expires_in) : std::nullopt;
}

}  // namespace

std::string ManifestPath(const std::string& server_folder, const std::string& client) {
  // Named by the id exactly as it travels in the request, so that a plain web server
  // can map the query to the file too.
  return (fs::path(ManifestsFolder(server_folder)) /
          (cUpdate::PercentEncoded(client) + std::string(kManifestExtension)))
      .string();
}

std::string SignaturePath(const std::string& server_folder, const std::string& client) {
  return fs::path(ManifestPath(server_folder, client))
      .replace_extension(kSignatureExtension)
      .string();
}

std::string FilesFolder(const std::string& server_folder) {
  return (fs::path(server_folder) / "trabalho" / "versao").string();
}

std::string ServedManifest(const std::string& stored, bool signed_manifest) {
  if (signed_manifest) {
    return stored;
  }
  std::string served = "licenca_\r\n";
  for (const std::string& line : EntryLines(stored)) {
    served += line.substr(0, line.find('|', line.find('|') + 1)) + "\r\n";
  }
  return served + "_licenca";
}

ReleaseStore ReleaseStore::Open(const std::string& server_folder) {
  ReleaseStore store(server_folder);
  const std::string folder = store.StoreFolder();
  if (const auto state = ReadRecord((fs::path(folder) / "state.txt").string())) {
    std::string problem;
    auto parsed = ParseStoreState(*state, problem);
    if (!parsed) {
      throw Error(error_number::kInvalidArgument,
                  (fs::path(folder) / "state.txt").string() + ", " + problem, kSource);
    }
    store.state_ = std::move(*parsed);
    store.is_new_ = false;
  }
  if (auto clients = ReadRecord((fs::path(folder) / "clients.txt").string())) {
    ClientList list = ParseClientsFile(*clients);
    if (!list.problems.empty()) {
      throw Error(error_number::kInvalidArgument,
                  (fs::path(folder) / "clients.txt").string() + ", " + list.problems.front(),
                  kSource);
    }
    store.clients_text_ = std::move(*clients);
    store.clients_ = std::move(list.clients);
  }
  for (const StoredRelease& release : store.state_.releases) {
    if (platform::FileSystem().OwnKindOf(
            (fs::path(folder) / "releases" / (release.id + ".txt")).string()) !=
        platform::EntryKind::kFile) {
      throw Error(error_number::kFileNotFound,
                  "o manifesto da versão " + release.id + " falta em " + folder, kSource);
    }
  }
  return store;
}

std::string ReleaseStore::StoreFolder() const {
  return (fs::path(folder_) / "store").string();
}

std::string ReleaseStore::ReleaseManifest(const std::string& id) const {
  const auto manifest = ReadRecord((fs::path(StoreFolder()) / "releases" / (id + ".txt")).string());
  if (!manifest) {
    throw Error(error_number::kFileNotFound, "o manifesto da versão " + id + " falta", kSource);
  }
  // Served to every client on the release: one damaged by hand or by a crash is refused
  // rather than published.
  if (!manifest->starts_with("licenca_\r\n") || !manifest->ends_with("\r\n_licenca")) {
    throw Error(error_number::kInvalidArgument,
                "o manifesto da versão " + id + " no depósito está danificado", kSource);
  }
  return *manifest;
}

std::vector<std::string> ReleaseStore::ReleaseFiles(const std::string& id) const {
  std::vector<std::string> files;
  for (const std::string& line : EntryLines(ReleaseManifest(id))) {
    files.push_back(cImpLicencas::ParseEntry(line).remote_file_name);
  }
  return files;
}

void ReleaseStore::KeepRelease(const std::string& id, const std::string& manifest) {
  fs::create_directories(fs::path(StoreFolder()) / "releases");
  const std::string path = (fs::path(StoreFolder()) / "releases" / (id + ".txt")).string();
  WriteWhole(path, manifest);
  // On the disk before the state names it: a power cut must not leave a release that
  // every manifest would serve empty.
  platform::FileSystem().FlushFile(path);
}

void ReleaseStore::KeepClients(const std::string& text, std::vector<Client> clients) {
  fs::create_directories(StoreFolder());
  WriteWhole((fs::path(StoreFolder()) / "clients.txt").string(), text);
  clients_text_ = text;
  clients_ = std::move(clients);
}

void ReleaseStore::SaveState() const {
  fs::create_directories(StoreFolder());
  WriteWhole((fs::path(StoreFolder()) / "state.txt").string(), StoreStateText(state_));
}

std::size_t ReleaseStore::PublishManifests(const Signing& signing, bool renew, std::ostream& out,
                                           std::ostream& err) {
  // A store without releases yet (a clients file given first, in a folder an earlier
  // kalo-publish filled) leaves whatever is served alone.
  if (state_.releases.empty()) {
    return 0;
  }
  const Assignment assignment = Assign(state_, clients_);
  struct Wanted {
    std::string name;
    std::string release;
    std::string manifest;
    cImpLicencas::SignedFor signed_for;
    bool manifest_changes = false;
    bool signature_changes = false;
  };
  std::vector<std::string> own;
  for (const auto& [client, release] : assignment.clients) {
    own.push_back(client);
  }
  std::map<std::string, std::string> served;  // by release, read once
  const auto manifest_of = [&](const std::string& release) -> const std::string& {
    auto found = served.find(release);
    if (found == served.end()) {
      found = served.emplace(release, ServedManifest(ReleaseManifest(release), signing.key)).first;
    }
    return found->second;
  };
  std::vector<Wanted> wanted;
  if (assignment.general) {
    wanted.push_back({"default", *assignment.general, manifest_of(*assignment.general),
                      cImpLicencas::SignedFor::AllClientsBut(own), false, false});
  }
  for (const auto& [client, release] : assignment.clients) {
    wanted.push_back({client, release, manifest_of(release),
                      cImpLicencas::SignedFor::Client(client), false, false});
  }

  // A new signature is never older than one already served: updaters refuse a manifest
  // older than the newest they took, so a clock that runs behind would reach no one.
  std::int64_t published_at = std::max(Now(), state_.newest_signature);
  for (Wanted& manifest : wanted) {
    manifest.manifest_changes =
        ReadRecord(ManifestPath(folder_, manifest.name)) != manifest.manifest;
    const auto signature_text = ReadRecord(SignaturePath(folder_, manifest.name));
    const auto signature =
        signature_text ? cImpLicencas::ParseSignatureFile(*signature_text) : std::nullopt;
    if (signature) {
      published_at = std::max(published_at, signature->published_at);
    }
    manifest.signature_changes =
        signing.key
            ? renew || manifest.manifest_changes || !signature ||
                  !SameAudience(signature->signed_for, manifest.signed_for) ||
                  !SignedWith(*signing.key, *signature, manifest.manifest) ||
                  signature->expires_at != ExpiryOf(signature->published_at, signing.expires_in)
            : signature_text.has_value();
  }
  if (published_at > Now()) {
    err << "kalo-publish: aviso: o relógio desta máquina ("
        << cImpLicencas::PublishingTimeText(Now())
        << ") está antes da última assinatura publicada ("
        << cImpLicencas::PublishingTimeText(published_at) << "); as novas levam a data dela\n";
  }

  fs::create_directories(ManifestsFolder(folder_));
  std::size_t written = 0;
  for (const Wanted& manifest : wanted) {
    if (manifest.manifest_changes) {
      PutServed(manifest.release, manifest.manifest, ManifestPath(folder_, manifest.name));
      out << "manifesto: " << ManifestPath(folder_, manifest.name) << '\n';
      ++written;
    }
    if (manifest.signature_changes && signing.key) {
      const std::optional<std::int64_t> expires = ExpiryOf(published_at, signing.expires_in);
      WriteWhole(SignaturePath(folder_, manifest.name),
                 cImpLicencas::SignatureFileText(signing.key->Sign(
                     manifest.signed_for, manifest.manifest, published_at, expires)));
      out << "assinatura: " << SignaturePath(folder_, manifest.name) << '\n';
      state_.newest_signature = published_at;
    } else if (manifest.signature_changes) {
      // A signature left by a signed publication no longer matches this manifest.
      fs::remove(SignaturePath(folder_, manifest.name));
    }
  }

  // A name no longer listed falls back to the general manifest.
  std::set<std::string> kept;
  for (const Wanted& manifest : wanted) {
    kept.insert(cUpdate::PercentEncoded(manifest.name));
  }
  for (const auto& entry : fs::directory_iterator(ManifestsFolder(folder_))) {
    const fs::path name = entry.path().filename();
    if ((name.extension() == kManifestExtension || name.extension() == kSignatureExtension) &&
        !kept.contains(name.stem().string())) {
      fs::remove(entry.path());
      out << "removido: " << entry.path().string() << '\n';
    }
  }
  return written;
}

std::string ReleaseStore::ServedPath(const std::string& release) const {
  return (fs::path(StoreFolder()) / "served" / (release + ".txt")).string();
}

void ReleaseStore::PutServed(const std::string& release, const std::string& manifest,
                             const std::string& target) const {
  // Every client on a release is served the same bytes: one file in the store, and a
  // link to it under each client's name, which costs the file system far less than a
  // thousand copies (each a new file replacing an old one).
  const std::string served = ServedPath(release);
  if (ReadRecord(served) != manifest) {
    fs::create_directories(fs::path(served).parent_path());
    WriteWhole(served, manifest);
  }
  const std::string link = target + ".link";
  std::error_code error;
  fs::remove(link, error);
  fs::create_hard_link(served, link, error);
  if (error) {
    WriteWhole(target, manifest);  // a file system without links gets a copy
    return;
  }
  fs::rename(link, target);
}

std::uint64_t ReleaseStore::RemoveReleases(const std::vector<std::string>& releases) const {
  std::set<std::string> still_named;
  for (const StoredRelease& release : state_.releases) {
    const auto files = ReleaseFiles(release.id);
    still_named.insert(files.begin(), files.end());
  }
  std::uint64_t freed = 0;
  for (const std::string& id : releases) {
    const auto files = ReleaseFiles(id);
    fs::remove(fs::path(StoreFolder()) / "releases" / (id + ".txt"));
    fs::remove(ServedPath(id));
    for (const std::string& file : files) {
      const fs::path path = fs::path(FilesFolder(folder_)) / file;
      std::error_code error;
      const std::uintmax_t size = fs::file_size(path, error);
      if (!still_named.contains(file) && fs::remove(path, error)) {
        freed += error ? 0 : size;
      }
    }
  }
  return freed;
}

}  // namespace kalo::publish
