#include "build_command.h"

#include <zip.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

#include "desk_commands.h"
#include "platform/cryptography.h"
#include "platform/error.h"
#include "platform/file_system.h"
#include "release.h"
#include "release_store.h"
#include "signing.h"
#include "support/exit_status.h"
#include "support/text.h"
#include "update/manifest.h"

namespace kalo::publish {
namespace {

namespace fs = std::filesystem;

// A regular file with mode rwxr-xr-x, as the zip format keeps a Unix mode: in the upper
// half of the external attributes.
constexpr zip_uint32_t kExecutableFileAttributes = 0100755U << 16;

struct ArchiveDiscard {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};

// Gives the complete `temporary` the name `target`, its bytes on the disk first: the
// manifests written afterwards must never name a file that a power cut could still empty.
void Install(const std::string& temporary, const std::string& target) {
  platform::FileSystem files;
  files.FlushFile(temporary);
  files.RenameFile(temporary, target);
}

// Packs one executable into an archive that holds it under its own name, with a
// fixed date and mode, so that publishing the same file twice gives the same bytes.
void WriteArchive(const ReleaseFile& file, const std::string& target) {
  const std::string temporary = target + ".part";
  int error = 0;
  std::unique_ptr<zip_t, ArchiveDiscard> archive(
      zip_open(temporary.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error));
  zip_source_t* source =
      archive ? zip_source_file(archive.get(), file.path.c_str(), 0, -1) : nullptr;
  const std::string name = file.base_name + "." + file.extension;
  const zip_int64_t index =
      source ? zip_file_add(archive.get(), name.c_str(), source, ZIP_FL_ENC_UTF_8) : -1;
  if (index < 0) {
    zip_source_free(source);
    throw Error(error_number::kPathFileAccess, "Não foi possível compactar " + file.path,
                "kalo-publish build");
  }
  const auto entry = static_cast<zip_uint64_t>(index);
  zip_file_set_mtime(archive.get(), entry, file.modified, 0);
  zip_file_set_external_attributes(archive.get(), entry, 0, ZIP_OPSYS_UNIX,
                                   kExecutableFileAttributes);
  if (zip_close(archive.get()) != 0) {
    // The failure to report is the archive's; a leftover it could not remove either is
    // written over by the next build.
    std::error_code ignored;
    fs::remove(temporary, ignored);
    throw Error(error_number::kPathFileAccess, "Não foi possível gravar " + target,
                "kalo-publish build");
  }
  archive.release();
  Install(temporary, target);
}

// The SHA-256 of a published file, read in pieces: a release may hold large files.
std::string Sha256Text(const std::string& path) {
  platform::Sha256 hash;
  platform::FileSystem().ReadFileInPieces(
      path, [&hash](std::span<const std::byte> piece) { hash.Update(piece); });
  return cUpdate::HexText(hash.Finish());
}

struct ArchivedFileClose {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};

// The SHA-256 of the file `name` in the archive at `path`; nothing when the archive or
// the file cannot be read.
std::optional<std::string> ArchivedSha256(const std::string& path, const std::string& name) {
  int error = 0;
  const std::unique_ptr<zip_t, ArchiveDiscard> archive(zip_open(path.c_str(), ZIP_RDONLY, &error));
  const std::unique_ptr<zip_file_t, ArchivedFileClose> file(
      archive ? zip_fopen(archive.get(), name.c_str(), 0) : nullptr);
  if (!file) {
    return std::nullopt;
  }
  platform::Sha256 hash;
  std::vector<char> buffer(256 * 1024);
  for (;;) {
    const zip_int64_t got = zip_fread(file.get(), buffer.data(), buffer.size());
    if (got < 0) {
      return std::nullopt;
    }
    if (got == 0) {
      return cUpdate::HexText(hash.Finish());
    }
    hash.Update(std::as_bytes(std::span(buffer.data(), static_cast<std::size_t>(got))));
  }
}

// A release file and where it goes: its name in the files folder, and whether a file
// already there holds the same content and serves as it is.
struct Placement {
  ReleaseFile file;  // its stamp the one its name carries
  std::string remote;
  bool served = false;
  // The served file's SHA-256 when finding its place already read it; else empty.
  std::string served_digest;
};

std::string RemoteName(const ReleaseFile& file) {
  const std::string kind = file.executable ? "zip" : file.extension;
  return file.base_name + "-" + file.extension + "-" + file.stamp + "." + kind;
}

// Where `file` goes in `files_folder` without replacing anything a manifest may name
// (updaters that took the old file would keep it, or find another size than the
// manifest they hold says); nothing, with the reason in `problem`, when it cannot go.
// A data file whose minute's name holds other bytes takes the next minute not taken,
// so that republishing finds the same name again.
std::optional<Placement> Place(ReleaseFile file, const std::string& files_folder,
                               std::string& problem) {
  std::optional<std::string> digest;  // the release file's, read once when needed
  const auto holds_same = [&](const fs::path& target) {
    if (!fs::is_regular_file(target)) {
      return false;
    }
    if (!digest) {
      digest = Sha256Text(file.path);
    }
    return (file.executable ? ArchivedSha256(target.string(), file.base_name + "." + file.extension)
                            : Sha256Text(target.string())) == digest;
  };
  for (std::time_t minute = file.modified;; minute += 60) {
    const std::string remote = RemoteName(file);
    const fs::path target = fs::path(files_folder) / remote;
    const bool taken = fs::exists(target);
    if (!taken || holds_same(target)) {
      // A data file served as it lies holds the release file's bytes: no need to read
      // it a third time for the manifest line.
      return Placement{file, remote, taken,
                       taken && !file.executable ? digest.value_or("") : std::string()};
    }
    // The updater judges a program by its version alone: an archive with another
    // program of the same version would never be unpacked where the first one was.
    if (file.executable) {
      problem = (file.stamp.empty()
                     ? "executável sem informação de versão, e outro sem ela já foi publicado em "
                     : "outro executável com a versão " + file.stamp + " já foi publicado em ") +
                target.string() +
                ": o atualizador não distingue os dois e nunca instalaria este (dê ao programa " +
                (file.stamp.empty() ? "informação de versão)" : "uma versão nova)");
      return std::nullopt;
    }
    file.stamp = DateStamp(minute + 60);
  }
}

// Publishes one file, unless it is served already, and answers its manifest line as the
// store keeps it: with the file's SHA-256, which signed manifests carry.
std::string Publish(const Placement& placement, const std::string& server_folder) {
  const ReleaseFile& file = placement.file;
  const std::string& remote = placement.remote;
  const std::string target = (fs::path(FilesFolder(server_folder)) / remote).string();
  if (!placement.served && file.executable) {
    WriteArchive(file, target);
  } else if (!placement.served) {
    platform::FileSystem().CopyFileAtomically(file.path, target, platform::FilePermissions::kData);
  }
  const std::string digest =
      placement.served_digest.empty() ? Sha256Text(target) : placement.served_digest;
  const std::string line = remote + "|" + std::to_string(fs::file_size(target)) + "|" + digest;
  // The updater must read back exactly what was meant.
  const cImpLicencas::ManifestEntry entry = cImpLicencas::ParseEntry(line);
  if (entry.remote_file_name != remote ||
      entry.local_file_name != file.base_name + "." + file.extension ||
      entry.VersionStamp() != file.stamp ||
      entry.Kind() != (file.executable ? "zip" : file.extension) || entry.Sha256() != digest) {
    throw Error(error_number::kInvalidArgument, "A linha " + line + " seria mal lida",
                "kalo-publish build");
  }
  return line;
}

// The id a release gets when the vendor names none: year, month and the next number
// not taken that month, as in 2026.12.3.
std::string NextReleaseId(const StoreState& state) {
  const std::string month = DateStamp(std::time(nullptr)).substr(0, 6);
  const std::string prefix = month.substr(0, 4) + "." + month.substr(4, 2) + ".";
  for (int number = 1;; ++number) {
    const std::string id = prefix + std::to_string(number);
    if (!state.FindRelease(id)) {
      return id;
    }
  }
}

// The release already stored whose manifest is `manifest`, or nothing.
std::optional<std::string> StoredAs(const ReleaseStore& store, const std::string& manifest) {
  for (const StoredRelease& release : store.State().releases) {
    if (store.ReleaseManifest(release.id) == manifest) {
      return release.id;
    }
  }
  return std::nullopt;
}

}  // namespace

// Puts the release `id` in `state`, unless it is there, and rolls it out as `options`
// say; answers why that cannot be done, or empty.
std::string PlaceInStore(StoreState& state, const std::vector<Client>& clients,
                         const std::string& id, const BuildOptions& options) {
  if (!state.FindRelease(id)) {
    state.releases.push_back({id, std::time(nullptr)});
  }
  return options.hold ? std::string()
                      : Rollout(state, clients, {id, options.channel, options.percent, {}});
}

// The clients file with `names` added, each following stable.
std::string WithClients(std::string text, const std::vector<std::string>& names) {
  if (!text.empty() && text.back() != '\n') {
    text += '\n';
  }
  for (const std::string& name : names) {
    text += name + '\n';
  }
  return text;
}

int RunBuild(const BuildOptions& options, std::ostream& out, std::ostream& err) {
  std::vector<std::string> problems;
  std::optional<SigningKey> key;
  if (!options.signing_key_file.empty()) {
    try {
      key = LoadSigningKey(options.signing_key_file, err);
    } catch (const Error& error) {
      problems.push_back(error.Description());
    }
  }
  std::optional<ReleaseStore> store;
  try {
    store = ReleaseStore::Open(options.server_folder);
  } catch (const Error& error) {
    problems.push_back(error.Description());
  }
  const ReleasePlan plan = PlanRelease(options.release_folder, options.allow_unversioned);
  problems.insert(problems.end(), plan.problems.begin(), plan.problems.end());
  std::vector<Placement> placements;
  for (const ReleaseFile& file : plan.files) {
    std::string problem;
    try {
      if (auto placement = Place(file, FilesFolder(options.server_folder), problem)) {
        placements.push_back(std::move(*placement));
      }
    } catch (const std::exception& error) {
      problem = error.what();
    }
    if (!problem.empty()) {
      problems.push_back(file.base_name + "." + file.extension + ": " + problem);
    }
  }
  std::vector<std::string> new_clients;
  for (const std::string& given : options.clients) {
    const std::string client = cUpdate::LowerCase(cUpdate::TrimBlanks(given));
    if (const std::string problem = ProblemWithClientName(client); !problem.empty()) {
      problems.push_back("cliente '" + given + "': " + problem);
    } else if (store && !FindClient(store->Clients(), client)) {
      new_clients.push_back(client);
    }
  }
  if (plan.files.empty() && problems.empty()) {
    problems.push_back(options.release_folder + ": não há arquivos a publicar");
  }
  // The release's place in the store, tried on a copy: a rollout that cannot be done
  // refuses the build before anything is written.
  std::string id = options.release_id;
  if (store && problems.empty()) {
    if (id.empty()) {
      id = NextReleaseId(store->State());
    } else if (std::string problem = ProblemWithReleaseId(id); !problem.empty()) {
      problems.push_back(problem);
    } else if (store->State().FindRelease(id) &&
               std::ranges::any_of(placements, [](const Placement& p) { return !p.served; })) {
      problems.push_back("a versão " + id + " já está no depósito, com outros arquivos");
    }
    StoreState trial = store->State();
    const ClientList clients = ParseClientsFile(WithClients(store->ClientsText(), new_clients));
    if (std::string problem = PlaceInStore(trial, clients.clients, id, options); !problem.empty()) {
      problems.push_back(problem +
                         (options.hold ? "" : " (--hold guarda a versão sem levá-la a ninguém)"));
    }
  }
  if (!problems.empty()) {
    for (const std::string& problem : problems) {
      err << "kalo-publish: " << problem << '\n';
    }
    err << "kalo-publish: nada foi publicado\n";
    return kalo::exit_status::kFailure;
  }
  try {
    fs::create_directories(FilesFolder(options.server_folder));
    std::string manifest = "licenca_\r\n";
    for (const Placement& placement : placements) {
      const std::string line = Publish(placement, options.server_folder);
      manifest += line + "\r\n";
      out << "  " << line << '\n';
    }
    manifest += "_licenca";
    const std::optional<std::string> stored = StoredAs(*store, manifest);
    if (stored && stored != id && options.release_id.empty()) {
      id = *stored;  // the same files published again: the release the store has
    } else if (store->State().FindRelease(id) && stored != id) {
      throw Error(error_number::kInvalidArgument,
                  "a versão " + id + " já está no depósito, com outros arquivos",
                  "kalo-publish build");
    }
    const bool stored_before = store->State().FindRelease(id) != nullptr;
    if (!stored_before) {
      store->KeepRelease(id, manifest);
    }
    out << "versão " << id
        << (stored_before ? " já estava no depósito\n" : " guardada no depósito\n");
    if (!new_clients.empty()) {
      const std::string text = WithClients(store->ClientsText(), new_clients);
      store->KeepClients(text, ParseClientsFile(text).clients);
    }
    if (std::string problem = PlaceInStore(store->State(), store->Clients(), id, options);
        !problem.empty()) {
      throw Error(error_number::kInvalidArgument, problem, "kalo-publish build");
    }
    if (options.expires_in) {
      store->State().expires_in = *options.expires_in;
    }
    PublishStore(*store, key ? &*key : nullptr, false, out, err);
  } catch (const std::exception& error) {
    err << "kalo-publish: " << error.what() << '\n';
    return kalo::exit_status::kFailure;
  }
  return kalo::exit_status::kSuccess;
}

}  // namespace kalo::publish
