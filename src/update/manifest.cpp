#include "update/manifest.h"

#include <algorithm>
#include <string_view>
#include <variant>

#include "platform/error.h"
#include "platform/web_address.h"
#include "support/text.h"
#include "update/manifest_signature.h"
#include "update/protocol.h"

namespace cImpLicencas {
namespace {

constexpr std::string_view kBreak = "<br>";
constexpr std::string_view kOpening = "licenca_<br>";
constexpr std::string_view kClosing = "<br>_licenca";

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  std::string result;
  std::size_t start = 0;
  for (auto found = text.find(from); found != std::string::npos; found = text.find(from, start)) {
    result.append(text, start, found - start);
    result.append(to);
    start = found + from.size();
  }
  result.append(text, start);
  text = std::move(result);
}

// Splits at every separator, keeping empty pieces; an empty text has no pieces.
std::vector<std::string> SplitKeepingEmpty(const std::string& text, std::string_view separator) {
  std::vector<std::string> pieces;
  if (text.empty()) {
    return pieces;
  }
  std::size_t start = 0;
  for (auto found = text.find(separator); found != std::string::npos;
       found = text.find(separator, start)) {
    pieces.push_back(text.substr(start, found - start));
    start = found + separator.size();
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

// Why the manifest is not taken: `status` says which way, `reason` why.
kalo::Failure Failed(ManifestState& state, ManifestStatus status, std::string reason) {
  state.status = status;
  const std::string shown = kalo::platform::ShownAddress(state.address);
  return {status == ManifestStatus::kRefused ? "A lista de arquivos de " + shown + " foi recusada"
                                             : "A lista de arquivos não foi recebida de " + shown,
          std::move(reason)};
}

// Why a fetch failed; for a failed transfer its reason alone, as the failure shows the
// address beside it.
std::string FetchFailureReason(const kalo::Error& error) {
  const auto* transfer = dynamic_cast<const kalo::platform::TransferError*>(&error);
  return transfer != nullptr ? transfer->Reason() : error.Description();
}

// The manifest's answer, or why there is none: an error page must not pass for a list that
// happens to be empty.
std::variant<kalo::platform::TextReply, kalo::Failure> FetchText(
    ManifestState& state, kalo::platform::InternetTransfer& transfer) {
  kalo::platform::TextReply reply;
  try {
    reply = transfer.OpenUrlText(state.address);
  } catch (const kalo::Error& error) {
    return Failed(state, ManifestStatus::kNotReceived, FetchFailureReason(error));
  }
  if (reply.status >= 400) {
    return Failed(
        state, ManifestStatus::kNotReceived,
        "o servidor respondeu " + kalo::platform::HttpStatusText(reply.status, reply.status_text));
  }
  return reply;
}

// Nothing when `trust` takes the manifest of `state.client`, fetching its signature when
// it asks for one; else why not.
std::optional<kalo::Failure> Untrusted(ManifestState& state,
                                       kalo::platform::InternetTransfer& transfer,
                                       ManifestTrust& trust, const std::string& server_base,
                                       const std::string& manifest,
                                       const std::vector<std::string>& lines) {
  if (!trust.RequiresSignature()) {
    state.signature = SignatureCheck::kNotRequired;
    return std::nullopt;
  }
  state.signature = SignatureCheck::kRefused;
  const std::string address = SignatureAddress(server_base, state.client);
  kalo::platform::TextReply signature;
  try {
    signature = transfer.OpenUrlText(address);
  } catch (const kalo::Error& error) {
    state.signature = SignatureCheck::kNotReceived;
    return Failed(state, ManifestStatus::kNotReceived,
                  "a assinatura não foi recebida de " + kalo::platform::ShownAddress(address) +
                      ": " + FetchFailureReason(error));
  }
  if (signature.status >= 400) {
    return Failed(state, ManifestStatus::kRefused,
                  "a lista de arquivos não está assinada (" +
                      kalo::platform::ShownAddress(address) + " respondeu " +
                      kalo::platform::HttpStatusText(signature.status, signature.status_text) +
                      ")");
  }
  auto verdict = trust.Check(state.client, manifest, signature.body, state.warnings);
  if (verdict.refusal) {
    return Failed(state, ManifestStatus::kRefused, std::move(verdict.refusal->reason));
  }
  // A signed list must bind every file it names to its content.
  for (const std::string& line : lines) {
    const ManifestEntry entry = ParseEntry(line);
    if (!entry.BaseName().empty() && !ParseSha256(entry.Sha256())) {
      return Failed(state, ManifestStatus::kRefused,
                    "a linha " + line + " da lista assinada não traz o SHA-256 do arquivo");
    }
  }
  state.published_at = verdict.published_at;
  state.signature = SignatureCheck::kAccepted;
  return std::nullopt;
}

}  // namespace

std::optional<std::vector<std::string>> ManifestLinesOf(std::string body) {
  std::ranges::transform(body, body.begin(),
                         [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  std::erase(body, ' ');
  // Line feeds first, then carriage returns: a CR LF pair becomes two separators.
  ReplaceAll(body, "\n", kBreak);
  ReplaceAll(body, "\r", kBreak);
  if (body.size() < kOpening.size() || !body.starts_with(kOpening) || !body.ends_with(kClosing)) {
    return std::nullopt;
  }
  ReplaceAll(body, kOpening, "");
  ReplaceAll(body, kClosing, "");
  return SplitKeepingEmpty(body, kBreak);
}

std::optional<kalo::Failure> LoadManifest(ManifestState& state,
                                          kalo::platform::InternetTransfer& transfer,
                                          ManifestTrust& trust, const std::string& server_base,
                                          const std::string& client) {
  // A different client needs its own manifest; the same client keeps the lines it
  // already has for the rest of the process.
  if (state.loaded && state.client == client) {
    return std::nullopt;
  }
  state = {};
  state.client = client;
  state.address = ManifestAddress(server_base, client);
  auto reply = FetchText(state, transfer);
  if (auto* failure = std::get_if<kalo::Failure>(&reply)) {
    return std::move(*failure);
  }
  const std::string& body = std::get<kalo::platform::TextReply>(reply).body;
  state.bytes = body.size();
  auto lines = ManifestLinesOf(body);
  if (!lines) {
    return Failed(state, ManifestStatus::kNotFramed,
                  "a resposta não é uma lista de arquivos (faltam as marcas licenca_ e _licenca)");
  }
  if (auto failure = Untrusted(state, transfer, trust, server_base, body, *lines)) {
    return failure;
  }
  state.lines = std::move(*lines);
  state.status = ManifestStatus::kReceived;
  state.loaded = true;
  return std::nullopt;
}

ManifestEntry ParseEntry(const std::string& line) {
  std::string separated = line;
  std::ranges::replace(separated, '.', '|');
  std::ranges::replace(separated, '-', '|');
  separated += "|||||";

  ManifestEntry entry;
  entry.fields = SplitKeepingEmpty(separated, "|");
  entry.remote_file_name =
      entry.BaseName() + "-" + entry.Extension() + "-" + entry.VersionStamp() + "." + entry.Kind();
  entry.local_file_name = entry.BaseName() + "." + entry.Extension();
  return entry;
}

bool IsWindowsDeviceName(const std::string& name) {
  std::string stem = name.substr(0, name.find('.'));
  stem.erase(stem.find_last_not_of(' ') + 1);
  stem = cUpdate::LowerCase(std::move(stem));
  if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul") {
    return true;
  }
  return stem.size() == 4 && (stem.starts_with("com") || stem.starts_with("lpt")) &&
         stem[3] >= '1' && stem[3] <= '9';
}

bool IsPlainFileName(const std::string& name) {
  if (name.empty() || name.size() > kMaxFileNameBytes) {
    return false;
  }
  // A release must install on Windows whatever machine published it, and Windows drops
  // a trailing dot or blank (so "." and ".." go here too) and opens device names as devices.
  if (name.back() == '.' || name.back() == ' ' || IsWindowsDeviceName(name)) {
    return false;
  }
  return std::ranges::none_of(name, [](unsigned char c) {
    return c < 0x20 || c == 0x7f ||
           std::string_view("/\\:*?<>\"|").find(static_cast<char>(c)) != std::string_view::npos;
  });
}

bool HasPlainFileNames(const ManifestEntry& entry) {
  return IsPlainFileName(entry.remote_file_name) && IsPlainFileName(entry.local_file_name);
}

}  // namespace cImpLicencas
