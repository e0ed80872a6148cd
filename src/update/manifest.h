// The client's update manifest: its request, its framing and cleaning, the lines
// kept for the rest of the process, and the parse of one entry.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/internet_transfer_interface.h"
#include "support/failure.h"
#include "update/manifest_trust.h"

namespace cImpLicencas {

// What the latest fetch of the manifest brought.
enum class ManifestStatus {
  kNotFetched,
  kNotReceived,  // the transfer failed or the server refused (HTTP status 400 or more)
  kNotFramed,    // an answer came, but not a manifest (an error page, a cut body)
  kRefused,      // a manifest came, but its signature did not hold
  kReceived,     // a framed manifest, perhaps without entries
};

// What became of the manifest's signature.
enum class SignatureCheck {
  kNotChecked,   // the manifest did not come that far
  kNotRequired,  // an updater without keys takes manifests unsigned
  kNotReceived,  // the signature's transfer failed
  kRefused,      // missing, or it did not hold
  kAccepted,
};

// The manifest lines of the process and what they were fetched for. One instance
// lives for the whole process; a later run with the same client reuses its lines.
struct ManifestState {
  std::vector<std::string> lines;
  bool loaded = false;
  std::string client;
  ManifestStatus status = ManifestStatus::kNotFetched;
  std::string address;      // the request's URL
  std::uint64_t bytes = 0;  // of the answer's body
  SignatureCheck signature = SignatureCheck::kNotChecked;
  // The publishing time of a signed manifest just taken, until the run keeps it as the
  // client's newest (ManifestTrust::Accept).
  std::optional<std::int64_t> published_at;
  // What the fetch went on past that the user should still hear of (a store of the
  // newest publishing time that could not be read); the run reports them.
  std::vector<std::string> warnings;
};

// Fetches the manifest of `client` from its address (ManifestAddress) unless `state` already
// holds that client's lines; when `trust` requires a signature, the signature too
// (SignatureAddress), and then every entry must carry its file's SHA-256. Nothing when the
// manifest came and was taken (or was held already). Else the failure ("A lista de arquivos
// não foi recebida de <address>" or "A lista de arquivos de <address> foi recusada", and why),
// no lines, and a status that says which; only a received manifest is kept for later runs,
// so that a run after a failure asks the server again.
[[nodiscard]] std::optional<kalo::Failure> LoadManifest(ManifestState& state,
                                                        kalo::platform::InternetTransfer& transfer,
                                                        ManifestTrust& trust,
                                                        const std::string& server_base,
                                                        const std::string& client);

// The manifest lines of a response body: lower-cased, blanks removed, line breaks
// turned into "<br>", framed by "licenca_<br>" and "<br>_licenca". Nothing when the
// framing fails.
std::optional<std::vector<std::string>> ManifestLinesOf(std::string body);

// One manifest line split into its fields: base name, extension, version stamp,
// kind, size and the file's SHA-256. ".", "-" and "|" all separate fields; missing
// fields are empty.
struct ManifestEntry {
  std::vector<std::string> fields;  // at least six, the ones from index 6 on unused
  std::string remote_file_name;     // base-ext-stamp.kind: the name on the server
  std::string local_file_name;      // base.ext: the file an archive entry produces

  const std::string& BaseName() const { return fields[0]; }
  const std::string& Extension() const { return fields[1]; }
  const std::string& VersionStamp() const { return fields[2]; }
  const std::string& Kind() const { return fields[3]; }
  const std::string& Size() const { return fields[4]; }
  // Lower-case hex, or empty: lines written before digests were published have none.
  const std::string& Sha256() const { return fields[5]; }
};

ManifestEntry ParseEntry(const std::string& line);

// The longest file name the file systems we install on take.
inline constexpr std::size_t kMaxFileNameBytes = 255;

// True when `name` is one that Windows opens as a device whatever its extension, in any
// case: CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, matched on the part before the
// first dot with trailing blanks cut ("nul.txt", "Com1 .log").
bool IsWindowsDeviceName(const std::string& name);

// True when `name` is a plain file name that stays inside the install folder and that a
// Windows folder can hold: no folder separators, colons (drives, streams), wildcards,
// < > " |, or control characters, no device name, no trailing dot or blank (so neither
// "." nor ".."), and not longer than a file system takes.
bool IsPlainFileName(const std::string& name);

// True when both file names of the entry are plain names.
bool HasPlainFileNames(const ManifestEntry& entry);

}  // namespace cImpLicencas
