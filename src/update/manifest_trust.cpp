#include "update/manifest_trust.h"

#include <algorithm>
#include <charconv>
#include <chrono>

#include "platform/error.h"
#include "support/timestamps.h"
#include "update/manifest.h"
#include "update/manifest_signature.h"

namespace cImpLicencas {
namespace {

// Where the newest publishing time of each client is kept, by the client's name as it
// travels in the request (a settings key takes no "=" or "[").
constexpr const char* kSettingsApp = "KALO";
constexpr const char* kSettingsSection = "assinaturas";

}  // namespace

std::optional<std::string> ManifestTrust::Refusal(const std::string& client,
                                                  std::string_view manifest,
                                                  std::string_view signature_file,
                                                  const std::vector<std::string>& lines) {
  if (!RequiresSignature()) {
    return std::nullopt;
  }
  const auto signature = ParseSignatureFile(signature_file);
  if (!signature) {
    return "a assinatura da lista de arquivos não pôde ser lida";
  }
  const std::string message = SignedMessage(manifest, signature->published_at);
  const auto bytes = std::as_bytes(std::span(message.data(), message.size()));
  if (std::ranges::none_of(keys_, [&](const kalo::platform::P256PublicKey& key) {
        return kalo::platform::VerifyP256Signature(key, bytes, signature->signature);
      })) {
    return "a assinatura não confere: a lista de arquivos foi alterada ou não foi assinada por "
           "uma chave que este atualizador aceita";
  }
  const std::int64_t newest = NewestTaken(client);
  if (signature->published_at < newest) {
    return "a lista de arquivos foi publicada em " + PublishingTimeText(signature->published_at) +
           ", antes da última aceita (" + PublishingTimeText(newest) +
           "); uma versão anterior não é instalada de volta";
  }
  for (const std::string& line : lines) {
    const ManifestEntry entry = ParseEntry(line);
    if (!entry.BaseName().empty() && !ParseSha256(entry.Sha256())) {
      return "a linha " + line + " da lista assinada não traz o SHA-256 do arquivo";
    }
  }
  // A store that cannot be written costs only the protection against going back.
  try {
    settings_.Save(kSettingsApp, kSettingsSection, PercentEncoded(client),
                   std::to_string(signature->published_at));
  } catch (const kalo::Error&) {
  }
  return std::nullopt;
}

std::int64_t ManifestTrust::NewestTaken(const std::string& client) const {
  const std::string text =
      settings_.Get(kSettingsApp, kSettingsSection, PercentEncoded(client), "");
  std::int64_t seconds = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  return error == std::errc{} && end == text.data() + text.size() ? seconds : 0;
}

std::vector<kalo::platform::P256PublicKey> PublicKeysOf(std::span<const std::string_view> texts) {
  std::vector<kalo::platform::P256PublicKey> keys;
  for (const std::string_view text : texts) {
    const auto key = ParsePublicKey(text);
    if (!key) {
      throw kalo::Error(kalo::error_number::kInvalidArgument,
                        "A chave pública " + std::string(text) + " não é válida",
                        "cImpLicencas::PublicKeysOf");
    }
    keys.push_back(*key);
  }
  return keys;
}

std::string PublishingTimeText(std::int64_t seconds) {
  using namespace std::chrono;
  const sys_seconds time{std::chrono::seconds(seconds)};
  const auto day = floor<days>(time);
  const year_month_day date{day};
  const hh_mm_ss clock{time - day};
  return cUpdate::FormatStamp("dd/mm/yyyy hh:nn:ss", static_cast<int>(date.year()),
                              static_cast<int>(static_cast<unsigned>(date.month())),
                              static_cast<int>(static_cast<unsigned>(date.day())),
                              static_cast<int>(clock.hours().count()),
                              static_cast<int>(clock.minutes().count()),
                              static_cast<int>(clock.seconds().count())) +
         " UTC";
}

}  // namespace cImpLicencas
