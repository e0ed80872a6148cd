#include "update/manifest_trust.h"

#include <algorithm>
#include <chrono>

#include "platform/error.h"
#include "platform/paths.h"
#include "support/text.h"
#include "support/timestamps.h"
#include "update/hidden_folder.h"
#include "update/manifest_signature.h"

namespace cImpLicencas {
namespace {

// Where the newest publishing time of each client is kept, by the client's name as it
// travels in the request (a settings key takes no "=" or "[").
constexpr const char* kSettingsApp = "KALO";
constexpr const char* kSettingsSection = "assinaturas";

// The record in the run journal's hidden folder. The name has no dot: every set-aside
// copy's has one, and the journal's recovery leaves dotless names alone.
constexpr const char* kRecordName = "signatures";
// Far more than the clients one install folder serves; a larger record is not read.
constexpr std::uint64_t kMostRecordBytes = 64 * 1024;

std::string Refused(const SignedFor& signed_for) {
  return "a lista de arquivos foi assinada para outro cliente (" +
         (signed_for.all_but ? std::string("é a lista geral, e este cliente tem a sua própria")
                             : signed_for.ids.front()) +
         ")";
}

// A release signed with a key this updater was not built with: the vendor has moved to
// a new key, and only an updater that carries it takes the release.
std::string UnknownKey(const std::string& key_id,
                       const std::vector<kalo::platform::P256PublicKey>& keys) {
  std::string known;
  for (const auto& key : keys) {
    if (!known.empty()) {
      known += ", ";
    }
    known += KeyIdOf(key);
  }
  return "a lista de arquivos foi assinada com a chave " + key_id +
         ", que este atualizador não tem (ele aceita: " + known +
         "); instale um atualizador com essa chave";
}

}  // namespace

ManifestTrust::ManifestTrust(std::vector<kalo::platform::P256PublicKey> keys,
                             kalo::platform::SettingsStore& settings,
                             kalo::platform::FileSystem& fs, const std::string& install_folder,
                             kalo::platform::WallClock now)
    : keys_(std::move(keys)),
      settings_(settings),
      fs_(fs),
      record_path_(kalo::platform::PathInFolder(HiddenFolderOf(install_folder), kRecordName)),
      now_(std::move(now)) {}

ManifestTrust::Verdict ManifestTrust::Check(const std::string& client, std::string_view manifest,
                                            std::string_view signature_file,
                                            std::vector<std::string>& warnings) const {
  if (!RequiresSignature()) {
    return {};
  }
  const auto refused = [](std::string reason) {
    return Verdict{kalo::Failure{{}, std::move(reason)}};
  };
  const auto signature = ParseSignatureFile(signature_file);
  if (!signature) {
    return refused("a assinatura da lista de arquivos não pôde ser lida");
  }
  const std::string message = SignedMessage(*signature, manifest);
  const auto bytes = std::as_bytes(std::span(message.data(), message.size()));
  if (std::ranges::none_of(keys_, [&](const kalo::platform::P256PublicKey& key) {
        return kalo::platform::VerifyP256Signature(key, bytes, signature->signature);
      })) {
    if (signature->key_id && std::ranges::none_of(keys_, [&](const auto& key) {
          return KeyIdOf(key) == *signature->key_id;
        })) {
      return refused(UnknownKey(*signature->key_id, keys_));
    }
    return refused(
        "a assinatura não confere: a lista de arquivos foi alterada ou não foi assinada por "
        "uma chave que este atualizador aceita");
  }
  if (!signature->signed_for.Serves(client)) {
    return refused(Refused(signature->signed_for));
  }
  // Checked before the time taken last: an expired list is refused for that, whenever
  // it was published.
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(now_().time_since_epoch());
  if (signature->expires_at && now.count() > *signature->expires_at) {
    return refused("a lista de arquivos expirou em " + PublishingTimeText(*signature->expires_at) +
                   "; o servidor pode estar entregando uma lista antiga (avise o fornecedor)");
  }
  const std::string id = cUpdate::PercentEncoded(client);
  const auto recorded = Recorded(warnings);
  const auto in_record = recorded.find(id);
  const std::int64_t newest =
      std::max(NewestInSettings(id), in_record == recorded.end() ? 0 : in_record->second);
  if (signature->published_at < newest) {
    return refused("a lista de arquivos foi publicada em " +
                   PublishingTimeText(signature->published_at) + ", antes da última aceita (" +
                   PublishingTimeText(newest) + "); uma versão anterior não é instalada de volta");
  }
  return {std::nullopt, signature->published_at};
}

std::vector<std::string> ManifestTrust::Accept(const std::string& client,
                                               std::int64_t published_at) {
  std::vector<std::string> warnings;
  const std::string id = cUpdate::PercentEncoded(client);
  const std::string kept = " da lista de arquivos aceita não foi guardada ";
  try {
    settings_.Save(kSettingsApp, kSettingsSection, id, std::to_string(published_at));
  } catch (const kalo::Error& error) {
    warnings.push_back("a data" + kept + "nas configurações deste usuário: " + error.Description());
  }
  // A record that cannot be read was reported by the check, and is written afresh.
  std::vector<std::string> reported;
  auto recorded = Recorded(reported);
  recorded[id] = published_at;
  const std::string text = SignatureRecordText(recorded);
  try {
    fs_.WriteFileAtomically(record_path_, std::as_bytes(std::span(text.data(), text.size())),
                            kalo::platform::FilePermissions::kData);
  } catch (const kalo::Error& error) {
    warnings.push_back("a data" + kept + "em " + record_path_ + ": " + error.Description());
  }
  return warnings;
}

std::map<std::string, std::int64_t> ManifestTrust::Recorded(
    std::vector<std::string>& warnings) const {
  // Another local user may have put a link there: it is refused, never followed.
  const auto kind = fs_.OwnKindOf(record_path_);
  if (!kind) {
    return {};
  }
  std::string problem = "não é um arquivo comum";
  try {
    if (*kind == kalo::platform::EntryKind::kFile) {
      problem = "tem mais de " + std::to_string(kMostRecordBytes / 1024) + " KiB";
      if (fs_.FileLength(record_path_) <= kMostRecordBytes) {
        problem = "não está no formato esperado";
        if (auto recorded = ParseSignatureRecord(fs_.ReadFileNoFollow(record_path_))) {
          return std::move(*recorded);
        }
      }
    }
  } catch (const kalo::Error& error) {
    problem = error.Description();
  }
  warnings.push_back("o registro de assinaturas " + record_path_ +
                     " foi desconsiderado: " + problem);
  return {};
}

std::int64_t ManifestTrust::NewestInSettings(const std::string& id) const {
  return PublishingTimeOf(settings_.Get(kSettingsApp, kSettingsSection, id, "")).value_or(0);
}

std::optional<std::map<std::string, std::int64_t>> ParseSignatureRecord(std::string_view text) {
  std::map<std::string, std::int64_t> newest;
  while (!text.empty()) {
    const auto end = text.find('\n');
    if (end == std::string_view::npos) {
      return std::nullopt;
    }
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    const auto blank = line.find(' ');
    if (blank == std::string_view::npos || !IsEncodedClientId(line.substr(0, blank))) {
      return std::nullopt;
    }
    const auto seconds = PublishingTimeOf(line.substr(blank + 1));
    if (!seconds || !newest.emplace(line.substr(0, blank), *seconds).second) {
      return std::nullopt;
    }
  }
  return newest;
}

std::string SignatureRecordText(const std::map<std::string, std::int64_t>& newest) {
  std::string text;
  for (const auto& [id, seconds] : newest) {
    text += id + ' ' + std::to_string(seconds) + '\n';
  }
  return text;
}

std::vector<kalo::platform::P256PublicKey> PublicKeysOf(std::span<const std::string_view> texts) {
  std::vector<kalo::platform::P256PublicKey> keys;
  for (const std::string_view text : texts) {
    const auto key = ParsePublicKey(text);
    // A key that is no point of the curve would refuse every release without saying why.
    if (!key || !kalo::platform::IsP256Point(*key)) {
      throw kalo::Error(kalo::error_number::kInvalidArgument,
                        "A chave pública " + std::string(text) +
                            " deste atualizador não é válida: " +
                            (key ? "não é um ponto da curva P-256"
                                 : "não são 130 dígitos hexadecimais começando por 04"),
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
