#include "desk_commands.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <map>
#include <ostream>

#include "platform/error.h"
#include "platform/file_system.h"
#include "support/exit_status.h"
#include "support/text.h"
#include "update/manifest_trust.h"

namespace kalo::publish {
namespace {

namespace fs = std::filesystem;

int Refuse(const std::string& problem, std::ostream& err) {
  err << "kalo-publish: " << problem << '\n';
  return exit_status::kFailure;
}

// Opens the store of `options` for a command that changes it, runs `change` on it and
// publishes what changes; `renew` signs every manifest again. Only the clients file may
// come before the first release.
int ChangeStore(const DeskOptions& options, const std::function<std::string(ReleaseStore&)>& change,
                bool renew, std::ostream& out, std::ostream& err, bool may_start = false) {
  try {
    ReleaseStore store = ReleaseStore::Open(options.server_folder);
    if (store.IsNew() && !may_start) {
      return Refuse("não há depósito em " + options.server_folder +
                        " (a primeira versão se publica com kalo-publish build)",
                    err);
    }
    std::optional<SigningKey> key;
    if (!options.signing_key_file.empty()) {
      key = LoadSigningKey(options.signing_key_file, err);
    } else if (store.State().signed_manifests) {
      return Refuse("as listas deste depósito são assinadas: dê a chave com --sign KEYFILE", err);
    }
    if (options.expires_in) {
      store.State().expires_in = *options.expires_in;
    }
    if (const std::string problem = change(store); !problem.empty()) {
      return Refuse(problem + "; nada mudou", err);
    }
    PublishStore(store, key ? &*key : nullptr, renew, out, err);
  } catch (const std::exception& error) {
    return Refuse(error.what(), err);
  }
  return exit_status::kSuccess;
}

std::string Joined(const std::vector<std::string>& texts, std::string_view separator) {
  std::string joined;
  for (const std::string& text : texts) {
    joined += joined.empty() ? text : std::string(separator) + text;
  }
  return joined;
}

// "1 cliente", "2 clientes".
std::string Counted(std::size_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

void PrintChannel(const StoreState& state, const std::vector<Client>& clients,
                  const Assignment& assignment, const std::string& name, std::ostream& out) {
  const Channel* channel = state.FindChannel(name);
  std::vector<const Client*> members;
  for (const Client& client : clients) {
    if (client.channel == name) {
      members.push_back(&client);
    }
  }
  out << "canal " << name << " (" << Counted(members.size(), "cliente") << "): ";
  if (!channel || channel->releases.empty()) {
    out << "sem versão própria; segue a lista geral ("
        << assignment.general.value_or("nenhuma versão") << ")\n";
  } else if (channel->RolledOutFully()) {
    out << channel->Newest() << " para todos\n";
  } else {
    out << channel->Newest() << " para " << channel->percent << "% ("
        << ShareOf(members.size(), channel->percent) << ")";
    if (!channel->named.empty()) {
      out << " e para " << Joined(channel->named, ", ");
    }
    out << "; os demais ficam em "
        << (channel->releases.size() >= 2 ? channel->releases[channel->releases.size() - 2]
                                          : "a lista geral")
        << '\n';
  }
  std::map<std::string, std::size_t> counts;
  for (const Client* client : members) {
    const auto release = assignment.clients.find(client->name);
    ++counts[release == assignment.clients.end() ? "(nenhuma)" : release->second];
  }
  for (const auto& [release, count] : counts) {
    out << "  " << release << ": " << Counted(count, "cliente") << '\n';
  }
  for (const Client* client : members) {
    const auto release = assignment.clients.find(client->name);
    out << "    " << client->name << " -> "
        << (release == assignment.clients.end() ? "(nenhuma)" : release->second)
        << (state.pins.contains(client->name) ? " (fixado)" : "") << '\n';
  }
}

}  // namespace

SigningKey LoadSigningKey(const std::string& path, std::ostream& err) {
  SigningKey key = SigningKey::Load(path);
  constexpr auto kReadByOthers = fs::perms::group_read | fs::perms::others_read;
  std::error_code ignored;
  if ((fs::status(path, ignored).permissions() & kReadByOthers) != fs::perms::none) {
    err << "kalo-publish: aviso: outros usuários podem ler a chave " << path
        << " (chmod 600 a deixa só para o dono)\n";
  }
  return key;
}

void PublishStore(ReleaseStore& store, const SigningKey* key, bool renew, std::ostream& out,
                  std::ostream& err) {
  store.State().signed_manifests = key != nullptr;
  // The state first: a publication cut short is finished by the next command.
  store.SaveState();
  const std::size_t written =
      store.PublishManifests({key, store.State().expires_in}, renew, out, err);
  store.SaveState();
  out << "listas de arquivos gravadas: " << written << '\n';
}

std::optional<std::int64_t> DurationSeconds(std::string_view text) {
  static const std::map<char, std::int64_t> kUnits{{'d', 86400}, {'h', 3600}, {'m', 60}, {'s', 1}};
  if (text == "0") {
    return 0;  // signatures good for ever again
  }
  if (text.size() < 2 || !kUnits.contains(text.back())) {
    return std::nullopt;
  }
  std::int64_t count = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size() - 1, count);
  // Up to about 30 years: further than any key is kept.
  if (error != std::errc{} || end != text.data() + text.size() - 1 || count <= 0 ||
      count > (std::int64_t{1} << 30) / kUnits.at(text.back())) {
    return std::nullopt;
  }
  return count * kUnits.at(text.back());
}

int RunRollout(const DeskOptions& options, const RolloutRequest& request, std::ostream& out,
               std::ostream& err) {
  return ChangeStore(
      options,
      [&](ReleaseStore& store) { return Rollout(store.State(), store.Clients(), request); }, false,
      out, err);
}

int RunPin(const DeskOptions& options, const std::string& client, const std::string& release,
           std::ostream& out, std::ostream& err) {
  return ChangeStore(
      options,
      [&](ReleaseStore& store) {
        return Pin(store.State(), store.Clients(), cUpdate::LowerCase(cUpdate::TrimBlanks(client)),
                   release);
      },
      false, out, err);
}

int RunUnpin(const DeskOptions& options, const std::string& client, std::ostream& out,
             std::ostream& err) {
  return ChangeStore(
      options,
      [&](ReleaseStore& store) {
        return Unpin(store.State(), cUpdate::LowerCase(cUpdate::TrimBlanks(client)));
      },
      false, out, err);
}

int RunRollback(const DeskOptions& options, const std::string& channel, std::ostream& out,
                std::ostream& err) {
  return ChangeStore(
      options, [&](ReleaseStore& store) { return Rollback(store.State(), channel); }, false, out,
      err);
}

int RunResign(const DeskOptions& options, std::ostream& out, std::ostream& err) {
  if (options.signing_key_file.empty()) {
    return Refuse("resign assina de novo: dê a chave com --sign KEYFILE", err);
  }
  return ChangeStore(
      options, [](ReleaseStore&) { return std::string(); }, true, out, err);
}

int RunClients(const DeskOptions& options, const std::string& clients_file, std::ostream& out,
               std::ostream& err) {
  std::string text;
  try {
    text = platform::FileSystem().ReadFile(clients_file);
  } catch (const Error& error) {
    return Refuse(error.Description(), err);
  }
  ClientList list = ParseClientsFile(text);
  if (!list.problems.empty()) {
    for (const std::string& problem : list.problems) {
      err << "kalo-publish: " << clients_file << ", " << problem << '\n';
    }
    return Refuse("o arquivo de clientes não foi aceito; nada mudou", err);
  }
  return ChangeStore(
      options,
      [&](ReleaseStore& store) {
        store.KeepClients(text, std::move(list.clients));
        out << "clientes: " << store.Clients().size() << '\n';
        return std::string();
      },
      false, out, err, true);
}

int RunPrune(const DeskOptions& options, std::size_t keep, std::ostream& out, std::ostream& err) {
  try {
    ReleaseStore store = ReleaseStore::Open(options.server_folder);
    const std::vector<std::string> pruned =
        PrunableReleases(store.State(), Assign(store.State(), store.Clients()), keep);
    // Forgotten before their files go, so the store never names what is missing; no
    // manifest serves them, so nothing served changes.
    ForgetReleases(store.State(), pruned);
    store.SaveState();
    const std::uint64_t freed = store.RemoveReleases(pruned);
    for (const std::string& release : pruned) {
      out << "removida: " << release << '\n';
    }
    out << pruned.size() << (pruned.size() == 1 ? " versão removida, " : " versões removidas, ")
        << freed << " bytes liberados\n";
  } catch (const std::exception& error) {
    return Refuse(error.what(), err);
  }
  return exit_status::kSuccess;
}

int RunStatus(const DeskOptions& options, std::size_t keep, std::ostream& out, std::ostream& err) {
  try {
    const ReleaseStore store = ReleaseStore::Open(options.server_folder);
    if (store.IsNew()) {
      return Refuse("não há depósito em " + options.server_folder, err);
    }
    const StoreState& state = store.State();
    const Assignment assignment = Assign(state, store.Clients());
    out << "depósito: " << options.server_folder << " ("
        << (!state.signed_manifests ? "listas sem assinatura"
            : state.expires_in > 0
                ? "listas assinadas, válidas por " + std::to_string(state.expires_in / 86400) +
                      " dias e " + std::to_string(state.expires_in % 86400 / 3600) + " horas"
                : "listas assinadas, sem validade")
        << ")\nversões, da mais antiga à mais nova:\n";
    for (const StoredRelease& release : state.releases) {
      out << "  " << release.id << "  guardada em "
          << cImpLicencas::PublishingTimeText(release.built_at) << ", "
          << Counted(store.ReleaseFiles(release.id).size(), "arquivo") << ", "
          << Counted(assignment.CountOn(release.id), "cliente") << '\n';
    }
    std::vector<std::string> channels;
    for (const Channel& channel : state.channels) {
      channels.push_back(channel.name);
    }
    for (const Client& client : store.Clients()) {
      if (std::ranges::find(channels, client.channel) == channels.end()) {
        channels.push_back(client.channel);
      }
    }
    for (const std::string& channel : channels) {
      PrintChannel(state, store.Clients(), assignment, channel, out);
    }
    out << "lista geral (nomes fora do arquivo de clientes): "
        << assignment.general.value_or("nenhuma versão") << '\n';
    for (const auto& [client, release] : state.pins) {
      out << "fixado: " << client << " em " << release
          << (FindClient(store.Clients(), client) ? "" : " (fora do arquivo de clientes)") << '\n';
    }
    const auto prunable = PrunableReleases(state, assignment, keep);
    out << "prune --keep " << keep
        << " removeria: " << (prunable.empty() ? "nada" : Joined(prunable, ", ")) << '\n';
  } catch (const std::exception& error) {
    return Refuse(error.what(), err);
  }
  return exit_status::kSuccess;
}

}  // namespace kalo::publish
