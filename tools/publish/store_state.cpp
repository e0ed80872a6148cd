#include "store_state.h"

#include <algorithm>
#include <charconv>
#include <set>

#include "platform/cryptography.h"
#include "update/manifest_signature.h"

namespace kalo::publish {
namespace {

constexpr std::string_view kHeading = "kalo-publish store 1";

// The words of `line` up to `count`, the last one taking the rest of the line (a client's
// name may hold blanks).
std::vector<std::string_view> Words(std::string_view line, std::size_t count) {
  std::vector<std::string_view> words;
  while (!line.empty() && words.size() + 1 < count) {
    const auto blank = std::min(line.find(' '), line.size());
    words.push_back(line.substr(0, blank));
    line.remove_prefix(std::min(blank + 1, line.size()));
  }
  if (!line.empty()) {
    words.push_back(line);
  }
  return words;
}

std::optional<std::int64_t> NumberOf(std::string_view text, std::int64_t most) {
  std::int64_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size() || number < 0 ||
      number > most) {
    return std::nullopt;
  }
  return number;
}

std::uint64_t StableHash(const std::string& name) {
  const auto digest = platform::Sha256Of(std::as_bytes(std::span(name.data(), name.size())));
  std::uint64_t hash = 0;
  for (std::size_t at = 0; at < sizeof hash; ++at) {
    hash = hash << 8 | std::to_integer<std::uint64_t>(digest[at]);
  }
  return hash;
}

// The release a client of `channel` gets, by its place in the rollout order; nothing
// sends it to the general manifest's.
std::optional<std::string> ChannelRelease(const Channel& channel, bool in_share) {
  if (channel.releases.empty()) {
    return std::nullopt;
  }
  if (in_share || channel.RolledOutFully()) {
    return channel.Newest();
  }
  if (channel.releases.size() >= 2) {
    return channel.releases[channel.releases.size() - 2];
  }
  return std::nullopt;
}

Channel* FindChannel(StoreState& state, std::string_view name) {
  const auto found = std::ranges::find(state.channels, name, &Channel::name);
  return found == state.channels.end() ? nullptr : &*found;
}

}  // namespace

const StoredRelease* StoreState::FindRelease(std::string_view id) const {
  const auto found = std::ranges::find(releases, id, &StoredRelease::id);
  return found == releases.end() ? nullptr : &*found;
}

const Channel* StoreState::FindChannel(std::string_view name) const {
  const auto found = std::ranges::find(channels, name, &Channel::name);
  return found == channels.end() ? nullptr : &*found;
}

std::string ProblemWithReleaseId(std::string_view id) {
  const bool plain = !id.empty() && id.size() <= 64 && id.front() != '.' && id.front() != '-' &&
                     std::ranges::all_of(id, [](char c) {
                       return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                              (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
                     });
  return plain ? std::string()
               : "a versão '" + std::string(id) +
                     "' não é um nome de versão (letras, dígitos, '-', '_' e '.', até 64, sem "
                     "'.' ou '-' no início)";
}

std::string StoreStateText(const StoreState& state) {
  std::string text(kHeading);
  text += "\nsigned " + std::string(state.signed_manifests ? "yes" : "no") + "\nexpires-in " +
          std::to_string(state.expires_in) + "\nnewest-signature " +
          std::to_string(state.newest_signature) + '\n';
  for (const StoredRelease& release : state.releases) {
    text += "release " + release.id + ' ' + std::to_string(release.built_at) + '\n';
  }
  for (const Channel& channel : state.channels) {
    text += "channel " + channel.name + ' ' + std::to_string(channel.percent);
    for (const std::string& release : channel.releases) {
      text += ' ' + release;
    }
    text += '\n';
    for (const std::string& client : channel.named) {
      text += "named " + channel.name + ' ' + client + '\n';
    }
  }
  for (const auto& [client, release] : state.pins) {
    text += "pin " + release + ' ' + client + '\n';
  }
  return text;
}

std::optional<StoreState> ParseStoreState(std::string_view text, std::string& problem) {
  StoreState state;
  int number = 0;
  const auto refuse = [&](const std::string& why) {
    problem = "linha " + std::to_string(number) + ": " + why;
    return std::nullopt;
  };
  bool headed = false;
  while (!text.empty()) {
    const auto end = text.find('\n');
    if (end == std::string_view::npos) {
      ++number;
      return refuse("a última linha não termina");
    }
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    ++number;
    if (!headed) {
      if (line != kHeading) {
        return refuse("não é o registro de um depósito do kalo-publish");
      }
      headed = true;
      continue;
    }
    const auto words = Words(line, 3);
    const std::string_view key = words.empty() ? std::string_view() : words[0];
    const auto value = [&](std::size_t at) {
      return at < words.size() ? words[at] : std::string_view();
    };
    if (key == "signed" && words.size() == 2 && (value(1) == "yes" || value(1) == "no")) {
      state.signed_manifests = value(1) == "yes";
    } else if ((key == "expires-in" || key == "newest-signature") && words.size() == 2 &&
               NumberOf(value(1), std::int64_t{1} << 40)) {
      (key == "expires-in" ? state.expires_in : state.newest_signature) =
          *NumberOf(value(1), std::int64_t{1} << 40);
    } else if (key == "release" && words.size() == 3 && ProblemWithReleaseId(value(1)).empty() &&
               NumberOf(value(2), std::int64_t{1} << 40) && !state.FindRelease(value(1))) {
      state.releases.push_back({std::string(value(1)), *NumberOf(value(2), std::int64_t{1} << 40)});
    } else if (key == "channel") {
      const auto parts = Words(line, 1024);
      Channel channel;
      if (parts.size() < 4 || !ProblemWithChannelName(parts[1]).empty() ||
          !NumberOf(parts[2], 100) || state.FindChannel(parts[1])) {
        return refuse("canal malformado");
      }
      channel.name = parts[1];
      channel.percent = static_cast<int>(*NumberOf(parts[2], 100));
      for (std::size_t at = 3; at < parts.size(); ++at) {
        if (!state.FindRelease(parts[at])) {
          return refuse("o canal " + channel.name + " cita uma versão desconhecida");
        }
        channel.releases.emplace_back(parts[at]);
      }
      state.channels.push_back(std::move(channel));
    } else if (key == "named" && words.size() == 3 && FindChannel(state, value(1)) &&
               ProblemWithClientName(std::string(value(2))).empty()) {
      FindChannel(state, value(1))->named.emplace_back(value(2));
    } else if (key == "pin" && words.size() == 3 && state.FindRelease(value(1)) &&
               ProblemWithClientName(std::string(value(2))).empty() &&
               state.pins.emplace(value(2), value(1)).second) {
    } else {
      return refuse("linha inesperada");
    }
  }
  if (!headed) {
    return refuse("vazio");
  }
  return state;
}

std::size_t Assignment::CountOn(std::string_view release) const {
  return static_cast<std::size_t>(
      std::ranges::count_if(clients, [&](const auto& client) { return client.second == release; }));
}

std::vector<std::string> RolloutOrder(const std::vector<Client>& clients,
                                      std::string_view channel) {
  std::vector<std::pair<std::uint64_t, std::string>> hashed;
  for (const Client& client : clients) {
    if (client.channel == channel) {
      hashed.emplace_back(StableHash(client.name), client.name);
    }
  }
  std::ranges::sort(hashed);
  std::vector<std::string> order;
  for (auto& [hash, name] : hashed) {
    order.push_back(std::move(name));
  }
  return order;
}

std::size_t ShareOf(std::size_t count, int percent) {
  return (count * static_cast<std::size_t>(percent) + 99) / 100;
}

Assignment Assign(const StoreState& state, const std::vector<Client>& clients) {
  Assignment assignment;
  if (const Channel* stable = state.FindChannel(kStableChannel)) {
    assignment.general = ChannelRelease(*stable, false);
  }
  std::map<std::string, bool> in_share;
  for (const Channel& channel : state.channels) {
    const std::vector<std::string> order = RolloutOrder(clients, channel.name);
    const std::size_t share = ShareOf(order.size(), channel.percent);
    for (std::size_t rank = 0; rank < order.size(); ++rank) {
      in_share[order[rank]] =
          rank < share || std::ranges::find(channel.named, order[rank]) != channel.named.end();
    }
  }
  for (const Client& client : clients) {
    std::optional<std::string> release;
    if (const auto pin = state.pins.find(client.name); pin != state.pins.end()) {
      release = pin->second;
    } else if (const Channel* channel = state.FindChannel(client.channel)) {
      release = ChannelRelease(*channel, in_share[client.name]);
    }
    if (!release) {
      release = assignment.general;
    }
    if (release) {
      assignment.clients.emplace(client.name, *release);
    }
  }
  return assignment;
}

std::string Rollout(StoreState& state, const std::vector<Client>& clients,
                    const RolloutRequest& request) {
  if (!state.FindRelease(request.release)) {
    return "a versão " + request.release + " não está no depósito";
  }
  if (std::string problem = ProblemWithChannelName(request.channel); !problem.empty()) {
    return problem;
  }
  if (request.percent && (*request.percent < 0 || *request.percent > 100)) {
    return "a porcentagem vai de 0 a 100";
  }
  for (const std::string& name : request.named) {
    const Client* client = FindClient(clients, name);
    if (!client || client->channel != request.channel) {
      return "o cliente '" + name + "' não está no canal " + request.channel +
             " do arquivo de clientes";
    }
  }
  Channel* channel = FindChannel(state, request.channel);
  if (channel && !channel->releases.empty() && channel->Newest() == request.release) {
    channel->percent = request.percent.value_or(channel->percent);
    for (const std::string& name : request.named) {
      if (std::ranges::find(channel->named, name) == channel->named.end()) {
        channel->named.push_back(name);
      }
    }
    return {};
  }
  const int percent = request.percent.value_or(request.named.empty() ? 100 : 0);
  if (channel && !channel->releases.empty() && !channel->RolledOutFully()) {
    return "o canal " + channel->name + " ainda está levando a versão " + channel->Newest() +
           " a " + std::to_string(channel->percent) +
           "% dos clientes: leve-a a 100% ou desfaça-a com rollback antes de começar outra";
  }
  if ((!channel || channel->releases.empty()) && request.channel == kStableChannel &&
      percent < 100) {
    return "a primeira versão do canal stable vai a todos os clientes dele: não há outra "
           "versão para os demais";
  }
  if (!channel) {
    channel = &state.channels.emplace_back(Channel{request.channel, {}, 100, {}});
  }
  channel->releases.push_back(request.release);
  channel->percent = percent;
  channel->named = request.named;
  return {};
}

std::string Pin(StoreState& state, const std::vector<Client>& clients, const std::string& client,
                const std::string& release) {
  if (!FindClient(clients, client)) {
    return "o cliente '" + client + "' não está no arquivo de clientes";
  }
  if (!state.FindRelease(release)) {
    return "a versão " + release + " não está no depósito";
  }
  state.pins[client] = release;
  return {};
}

std::string Unpin(StoreState& state, const std::string& client) {
  return state.pins.erase(client) == 1 ? std::string()
                                       : "o cliente '" + client + "' não está fixado em uma versão";
}

std::string Rollback(StoreState& state, std::string_view name) {
  Channel* channel = FindChannel(state, name);
  if (!channel || channel->releases.empty()) {
    return "o canal " + std::string(name) + " não tem versão a desfazer";
  }
  if (channel->releases.size() == 1 && name == kStableChannel) {
    return "o canal stable tem uma versão só: não há anterior a que voltar";
  }
  channel->releases.pop_back();
  // The release now newest went to every client before the one taken away was started.
  channel->percent = 100;
  channel->named.clear();
  return {};
}

std::vector<std::string> PrunableReleases(const StoreState& state, const Assignment& assignment,
                                          std::size_t keep) {
  std::set<std::string> used;
  for (const auto& [client, release] : assignment.clients) {
    used.insert(release);
  }
  if (assignment.general) {
    used.insert(*assignment.general);
  }
  for (const auto& [client, release] : state.pins) {
    used.insert(release);
  }
  // What a channel stands on stays even when no listed client gets it now: the channel's
  // own state names it.
  for (const Channel& channel : state.channels) {
    if (!channel.releases.empty()) {
      used.insert(channel.Newest());
      if (!channel.RolledOutFully() && channel.releases.size() >= 2) {
        used.insert(channel.releases[channel.releases.size() - 2]);
      }
    }
  }
  std::vector<std::string> prunable;
  const std::size_t kept_from = state.releases.size() - std::min(keep, state.releases.size());
  for (std::size_t at = 0; at < kept_from; ++at) {
    if (!used.contains(state.releases[at].id)) {
      prunable.push_back(state.releases[at].id);
    }
  }
  return prunable;
}

void ForgetReleases(StoreState& state, const std::vector<std::string>& releases) {
  const auto forgotten = [&](const std::string& id) {
    return std::ranges::find(releases, id) != releases.end();
  };
  std::erase_if(state.releases,
                [&](const StoredRelease& release) { return forgotten(release.id); });
  for (Channel& channel : state.channels) {
    std::erase_if(channel.releases, forgotten);
  }
}

}  // namespace kalo::publish
