// The vendor's list of the clients it serves and the channel each follows.
//
// One client per line, its name as users type it, optionally followed by "|" and a
// channel name; blank lines and lines starting with "#" are skipped:
//   acme
//   padaria pão quente | beta
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kalo::publish {

inline constexpr std::string_view kStableChannel = "stable";

struct Client {
  std::string name;     // as the updater sends it: trimmed and lower-cased
  std::string channel;  // kStableChannel unless the line says otherwise
};

struct ClientList {
  std::vector<Client> clients;        // in the file's order
  std::vector<std::string> problems;  // one per line that cannot be taken, with its number
};

ClientList ParseClientsFile(std::string_view text);

// The clients file's text for `clients`, which ParseClientsFile reads back unchanged.
std::string ClientsFileText(const std::vector<Client>& clients);

// Why `name` (already trimmed and lower-cased) cannot be a client's, or empty: the
// updater sends it in a request and it names a file of the server folder.
std::string ProblemWithClientName(const std::string& name);

// Why `channel` cannot be a channel's name, or empty.
std::string ProblemWithChannelName(std::string_view channel);

// The client `name` of `clients`, or nothing.
const Client* FindClient(const std::vector<Client>& clients, const std::string& name);

}  // namespace kalo::publish
