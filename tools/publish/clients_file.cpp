#include "clients_file.h"

#include <algorithm>
#include <set>

#include "platform/web_address.h"
#include "support/text.h"

namespace kalo::publish {
namespace {

// Far below a file name's 255 bytes once percent-encoded and given ".assinatura".
constexpr std::size_t kMostEncodedNameBytes = 200;

}  // namespace

std::string ProblemWithClientName(const std::string& name) {
  if (name.empty()) {
    return "nome vazio";
  }
  if (name == "default") {
    return "o nome 'default' é o da lista geral";
  }
  if (platform::HasControlCharacters(name)) {
    return "o nome tem caracteres de controle";
  }
  if (cUpdate::PercentEncoded(name).size() > kMostEncodedNameBytes) {
    return "o nome é longo demais";
  }
  return {};
}

std::string ProblemWithChannelName(std::string_view channel) {
  const bool plain =
      !channel.empty() && channel.size() <= 64 && std::ranges::all_of(channel, [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
      });
  return plain ? std::string()
               : "o canal '" + std::string(channel) +
                     "' não é um nome de canal (letras minúsculas, dígitos, '-', "
                     "'_' e '.', até 64)";
}

ClientList ParseClientsFile(std::string_view text) {
  ClientList list;
  std::set<std::string> seen;
  int number = 0;
  while (!text.empty()) {
    const auto end = std::min(text.find('\n'), text.size());
    std::string line(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    ++number;
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    const std::string trimmed = cUpdate::TrimBlanks(line);
    if (trimmed.empty() || trimmed.front() == '#') {
      continue;
    }
    const auto bar = trimmed.find('|');
    Client client{cUpdate::LowerCase(cUpdate::TrimBlanks(trimmed.substr(0, bar))),
                  bar == std::string::npos ? std::string(kStableChannel)
                                           : cUpdate::TrimBlanks(trimmed.substr(bar + 1))};
    std::string problem = ProblemWithClientName(client.name);
    if (problem.empty()) {
      problem = ProblemWithChannelName(client.channel);
    }
    if (problem.empty() && !seen.insert(client.name).second) {
      problem = "o cliente '" + client.name + "' já foi listado";
    }
    if (!problem.empty()) {
      list.problems.push_back("linha " + std::to_string(number) + ": " + problem);
      continue;
    }
    list.clients.push_back(std::move(client));
  }
  return list;
}

std::string ClientsFileText(const std::vector<Client>& clients) {
  std::string text;
  for (const Client& client : clients) {
    text += client.name;
    text += " | ";
    text += client.channel;
    text += '\n';
  }
  return text;
}

const Client* FindClient(const std::vector<Client>& clients, const std::string& name) {
  const auto found = std::ranges::find(clients, name, &Client::name);
  return found == clients.end() ? nullptr : &*found;
}

}  // namespace kalo::publish
