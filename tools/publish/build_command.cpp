#include "build_command.h"

#include <zip.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

#include "platform/cryptography.h"
#include "platform/error.h"
#include "platform/file_system.h"
#include "release.h"
#include "signing.h"
#include "support/exit_status.h"
#include "support/text.h"
#include "update/manifest.h"
#include "update/manifest_trust.h"

namespace kalo::publish {
namespace {

namespace fs = std::filesystem;

// A regular file with mode rwxr-xr-x, as the zip format keeps a Unix mode: in the upper
// half of the external attributes.
constexpr zip_uint32_t kExecutableFileAttributes = 0100755U << 16;

struct ArchiveDiscard {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};

std::string FilesFolder(const std::string& server_folder) {
  return (fs::path(server_folder) / "trabalho" / "versao").string();
}

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

void WriteWhole(const std::string& target, const std::string& content) {
  platform::FileSystem().WriteFileAtomically(
      target, std::as_bytes(std::span(content.data(), content.size())),
      platform::FilePermissions::kData);
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

// Publishes one file, unless it is served already, and answers its manifest line; a
// signed manifest's line carries the file's SHA-256 as well.
std::string Publish(const Placement& placement, const std::string& server_folder,
                    bool signed_line) {
  const ReleaseFile& file = placement.file;
  const std::string& remote = placement.remote;
  const std::string target = (fs::path(FilesFolder(server_folder)) / remote).string();
  if (!placement.served && file.executable) {
    WriteArchive(file, target);
  } else if (!placement.served) {
    platform::FileSystem().CopyFileAtomically(file.path, target, platform::FilePermissions::kData);
  }
  const std::string digest = !signed_line                       ? std::string()
                             : !placement.served_digest.empty() ? placement.served_digest
                                                                : Sha256Text(target);
  const std::string line = remote + "|" + std::to_string(fs::file_size(target)) +
                           (signed_line ? "|" + digest : std::string());
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

}  // namespace

std::string ManifestPath(const std::string& server_folder, const std::string& client) {
  // Named by the id exactly as it travels in the request, so that a plain web server
  // can map the query to the file too.
  return (fs::path(server_folder) / "trabalho" / "manifests" /
          (cUpdate::PercentEncoded(client) + ".txt"))
      .string();
}

std::string SignaturePath(const std::string& server_folder, const std::string& client) {
  return fs::path(ManifestPath(server_folder, client)).replace_extension(".assinatura").string();
}

namespace {

// Now, in UTC seconds, unless a signature already published for one of `clients` says
// later: updaters refuse a manifest older than one they took, so a release signed on a
// machine whose clock is behind would reach none of them.
std::int64_t PublishingTime(const std::string& server_folder,
                            const std::vector<std::string>& clients, std::ostream& err) {
  const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
  std::int64_t newest = 0;
  for (const std::string& client : clients) {
    const std::string path = SignaturePath(server_folder, client);
    if (fs::is_regular_file(path)) {
      if (const auto published =
              cImpLicencas::ParseSignatureFile(platform::FileSystem().ReadFile(path))) {
        newest = std::max(newest, published->published_at);
      }
    }
  }
  if (newest <= now) {
    return now;
  }
  err << "kalo-publish: aviso: o relógio desta máquina (" << cImpLicencas::PublishingTimeText(now)
      << ") está antes da última assinatura publicada (" << cImpLicencas::PublishingTimeText(newest)
      << "); a nova leva a data dela\n";
  return newest;
}

}  // namespace

int RunBuild(const BuildOptions& options, std::ostream& out, std::ostream& err) {
  std::vector<std::string> problems;
  std::optional<SigningKey> key;
  if (!options.signing_key_file.empty()) {
    try {
      key = SigningKey::Load(options.signing_key_file);
    } catch (const Error& error) {
      problems.push_back(error.Description());
    }
    constexpr auto kReadByOthers = fs::perms::group_read | fs::perms::others_read;
    std::error_code ignored;
    if (key && (fs::status(options.signing_key_file, ignored).permissions() & kReadByOthers) !=
                   fs::perms::none) {
      err << "kalo-publish: aviso: outros usuários podem ler a chave " << options.signing_key_file
          << " (chmod 600 a deixa só para o dono)\n";
    }
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
  std::vector<std::string> clients{"default"};
  for (const std::string& given : options.clients) {
    const std::string client = cUpdate::LowerCase(cUpdate::TrimBlanks(given));
    if (client.empty() || client == "default") {
      problems.push_back("cliente '" + given + "': nome vazio ou reservado");
    } else {
      clients.push_back(client);
    }
  }
  if (plan.files.empty() && problems.empty()) {
    problems.push_back(options.release_folder + ": não há arquivos a publicar");
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
    fs::create_directories(fs::path(options.server_folder) / "trabalho" / "manifests");
    std::string manifest = "licenca_\r\n";
    for (const Placement& placement : placements) {
      const std::string line = Publish(placement, options.server_folder, key.has_value());
      manifest += line + "\r\n";
      out << "  " << line << '\n';
    }
    manifest += "_licenca";
    const std::int64_t published_at = PublishingTime(options.server_folder, clients, err);
    // The default manifest serves every client without one of its own, and none with.
    const std::vector<std::string> own(clients.begin() + 1, clients.end());
    for (const std::string& client : clients) {
      WriteWhole(ManifestPath(options.server_folder, client), manifest);
      out << "manifesto: " << ManifestPath(options.server_folder, client) << '\n';
      if (key) {
        const auto signed_for = client == clients.front()
                                    ? cImpLicencas::SignedFor::AllClientsBut(own)
                                    : cImpLicencas::SignedFor::Client(client);
        WriteWhole(SignaturePath(options.server_folder, client),
                   cImpLicencas::SignatureFileText(
                       key->Sign(signed_for, manifest, published_at, std::nullopt)));
        out << "assinatura: " << SignaturePath(options.server_folder, client) << '\n';
      } else {
        // A signature left by an earlier signed build no longer matches this manifest.
        fs::remove(SignaturePath(options.server_folder, client));
      }
    }
  } catch (const std::exception& error) {
    err << "kalo-publish: " << error.what() << '\n';
    return kalo::exit_status::kFailure;
  }
  return kalo::exit_status::kSuccess;
}

}  // namespace kalo::publish
