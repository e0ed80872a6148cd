// kalo-publish: checks and publishes releases for the updater, and serves them.
#include <algorithm>
#include <charconv>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "build_command.h"
#include "desk_commands.h"
#include "keys_command.h"
#include "serve_command.h"
#include "stamp_command.h"
#include "support/exit_status.h"
#include "support/text.h"

namespace {

constexpr std::string_view kUsage =
    "Usage: kalo-publish COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands:\n"
    "  stamp FILE...                       print each file's build stamp yyyymmddhhnn\n"
    "  build RELEASE_DIR --out SERVER_DIR  add a release to the store and roll it out\n"
    "  clients FILE --store SERVER_DIR     take the list of clients and their channels\n"
    "  rollout RELEASE --channel C ...     give a release to a share of a channel\n"
    "  pin CLIENT RELEASE --store DIR      hold a client on a release\n"
    "  unpin CLIENT --store DIR            let a held client follow its channel again\n"
    "  rollback CHANNEL --store DIR        take a channel's newest release back\n"
    "  resign --store DIR --sign KEYFILE   renew every manifest's signature\n"
    "  prune --keep N --store DIR          remove releases no one gets\n"
    "  status --store DIR                  who gets which release\n"
    "  serve SERVER_DIR                    serve a published folder over HTTP\n"
    "  keys KEYFILE                        make the key pair that signs releases\n"
    "\n"
    "Run 'kalo-publish COMMAND --help' for a command's details.\n";

constexpr std::string_view kStampUsage =
    "Usage: kalo-publish stamp FILE...\n"
    "\n"
    "Prints, for each FILE, its path, a tab and the 12-digit stamp yyyymmddhhnn that\n"
    "the updater compares with a manifest entry: the build date and time held in the\n"
    "file's version (a PE version resource or our ELF version note). The stamp is\n"
    "empty when the file carries no version information.\n"
    "\n"
    "Exit status: 0 all files were read; 1 a file was missing (the others are still\n"
    "printed); 2 the command line was wrong.\n";

constexpr std::string_view kBuildUsage =
    "Usage: kalo-publish build RELEASE_DIR --out SERVER_DIR [--release ID]\n"
    "                          [--channel C] [--percent P | --hold] [--client NAME]...\n"
    "                          [--allow-unversioned] [--sign KEYFILE [--expires-in D]]\n"
    "\n"
    "Adds every file of RELEASE_DIR to the release store in SERVER_DIR, the folder the\n"
    "update server serves, as the release ID (by default the year, the month and the\n"
    "next number, as 2026.12.3), and rolls it out to the channel C (stable) for P % of\n"
    "its clients (all of them by default; see 'rollout'); --hold only keeps it. The\n"
    "same files built again are the release the store already has.\n"
    "\n"
    "Executables (names ending in \"exe\") are published as archives named\n"
    "base-ext-STAMP.zip, where STAMP is the build stamp of their version; other files\n"
    "as base-ext-DATE.ext, DATE being their modification time (UTC). A file shared\n"
    "with an earlier release is stored once. Then the manifests (framed, CR LF line\n"
    "ends) that change are replaced, each whole: one per client of the store's clients\n"
    "file (see 'clients'; --client NAME adds NAME to it, following stable) and a\n"
    "default one that serves every other name with stable's release.\n"
    "\n"
    "A file already in SERVER_DIR is never replaced: the same content is published\n"
    "again as it lies; a changed file whose DATE names another gets the next minute\n"
    "not taken. An executable whose name is taken by another program is refused:\n"
    "updaters tell programs apart only by their version.\n"
    "\n"
    "Names must read back unchanged through the manifest: lower case, no blanks, one\n"
    "dot between base and extension, no '-' or '|'. Data files named .zip (every\n"
    "updater unpacks them) and links to files outside RELEASE_DIR are refused. An\n"
    "executable without version information is refused unless --allow-unversioned\n"
    "is given. When anything is refused, nothing is published.\n"
    "\n"
    "With --sign, KEYFILE (made by 'kalo-publish keys') signs every manifest written:\n"
    "each line gets a sixth field, the SHA-256 of the published file, and beside each\n"
    "manifest NAME.txt lies NAME.assinatura, the publishing time and the signature of\n"
    "the manifest's bytes with that time; --expires-in D (90d, 12h, 30m or 45s) makes\n"
    "every signature from then on expire D after it was made (renew with 'resign';\n"
    "0 for no expiry).\n"
    "Without --sign the manifests are unsigned and their signatures are removed.\n"
    "\n"
    "Exit status: 0 published; 1 the release was refused or could not be written;\n"
    "2 the command line was wrong.\n";

constexpr std::string_view kDeskUsage =
    "Usage: kalo-publish clients FILE --store SERVER_DIR [--sign KEYFILE]\n"
    "       kalo-publish rollout RELEASE --channel C (--percent P | --clients A,B)...\n"
    "                            --store SERVER_DIR [--sign KEYFILE]\n"
    "       kalo-publish pin CLIENT RELEASE --store SERVER_DIR [--sign KEYFILE]\n"
    "       kalo-publish unpin CLIENT --store SERVER_DIR [--sign KEYFILE]\n"
    "       kalo-publish rollback CHANNEL --store SERVER_DIR [--sign KEYFILE]\n"
    "       kalo-publish resign --store SERVER_DIR --sign KEYFILE [--expires-in D]\n"
    "       kalo-publish prune --keep N --store SERVER_DIR\n"
    "       kalo-publish status --store SERVER_DIR [--keep N]\n"
    "\n"
    "The release desk over the store that 'build' fills. clients takes FILE as the list\n"
    "of the clients served, one per line, \"name\" or \"name | channel\" (stable when\n"
    "not said; '#' starts a comment); each gets a manifest of its own.\n"
    "\n"
    "rollout gives RELEASE to the first P % of channel C's clients, in an order set by\n"
    "a hash of their names that never changes (raising P only adds clients; lowering\n"
    "it sends the last ones back), and to the clients named by --clients; the others\n"
    "stay on the channel's previous release. A channel takes a new release once its\n"
    "current one reaches 100 %. pin holds CLIENT on RELEASE whatever its channel does;\n"
    "unpin lets it follow again. rollback takes CHANNEL's newest release away: its\n"
    "clients go back to the previous one, signed anew with a new time so that updaters\n"
    "take it. resign signs every manifest again (to renew signatures before they expire,\n"
    "or after --expires-in). prune --keep N removes the releases that no client gets,\n"
    "that no channel stands on, and that are not among the newest N built, with the\n"
    "files no other release names. status prints, per channel, the release each client\n"
    "gets and how many are on each, and what prune --keep N (3) would remove.\n"
    "\n"
    "Only the manifests that change are written, each replaced whole; a store whose\n"
    "manifests are signed needs --sign for every command that changes them.\n"
    "\n"
    "Exit status: 0 done; 1 refused or failed (nothing changed when refused); 2 the\n"
    "command line was wrong.\n";

constexpr std::string_view kServeUsage =
    "Usage: kalo-publish serve SERVER_DIR [--port N] [--bind ADDRESS]\n"
    "\n"
    "Serves SERVER_DIR over HTTP at the paths the updater uses:\n"
    "  /trabalho/versao.php?id=CLIENT      the client's manifest, else the default one\n"
    "  /trabalho/assinatura.php?id=CLIENT  the signature beside that same manifest\n"
    "                                      (404 when it has none)\n"
    "  /trabalho/versao/NAME               a published file\n"
    "Everything else is 404. Prints the base address (http://ADDRESS:PORT) on the first\n"
    "line, then one line per request. --port 0 picks a free port; the defaults are\n"
    "8080 and 127.0.0.1.\n"
    "\n"
    "Exit status: 1 the port could not be opened; 2 the command line was wrong.\n";

constexpr std::string_view kKeysUsage =
    "Usage: kalo-publish keys KEYFILE\n"
    "\n"
    "Makes an ECDSA P-256 key pair for signing releases. The private key goes into the\n"
    "new file KEYFILE (PEM, readable by its owner only; an existing file is never\n"
    "replaced): keep it secret, and give it to 'kalo-publish build --sign'. The public\n"
    "key is printed as 130 hex digits, the form the updater's build takes:\n"
    "  cmake --preset release -DKALO_PUBLIC_KEYS=KEY\n"
    "\n"
    "Exit status: 0 made; 1 KEYFILE exists or could not be written; 2 the command line\n"
    "was wrong.\n";

bool IsHelp(std::string_view argument) {
  return argument == "--help" || argument == "-h";
}

int UsageError(std::string_view problem, std::string_view usage) {
  std::cerr << "kalo-publish: " << problem << "\n\n" << usage;
  return kalo::exit_status::kRefused;
}

std::optional<int> PercentOf(const std::string& text) {
  int percent = -1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), percent);
  if (error != std::errc{} || end != text.data() + text.size() || percent < 0 || percent > 100) {
    return std::nullopt;
  }
  return percent;
}

// A desk command's arguments: its positional ones, and its options with their values.
struct DeskArguments {
  std::vector<std::string> positional;
  std::map<std::string, std::string, std::less<>> options;
  kalo::publish::DeskOptions desk;
  std::string problem;

  std::optional<std::string> Option(std::string_view name) const {
    const auto found = options.find(name);
    return found == options.end() ? std::nullopt : std::optional(found->second);
  }
};

// Reads `arguments` of a command that takes `positional` arguments and the options
// `allowed` (each with a value) besides --store, --sign and --expires-in.
DeskArguments ParseDesk(std::span<const std::string> arguments, std::size_t positional,
                        const std::vector<std::string_view>& allowed) {
  DeskArguments parsed;
  for (auto argument = arguments.begin(); argument != arguments.end(); ++argument) {
    const bool known = *argument == "--store" || *argument == "--sign" ||
                       *argument == "--expires-in" ||
                       std::ranges::find(allowed, *argument) != allowed.end();
    if (known && argument + 1 != arguments.end() && !parsed.options.contains(*argument)) {
      parsed.options[*argument] = *(argument + 1);
      ++argument;
    } else if (!argument->starts_with("--") && parsed.positional.size() < positional) {
      parsed.positional.push_back(*argument);
    } else {
      parsed.problem = "unexpected argument '" + *argument + "'";
      return parsed;
    }
  }
  if (parsed.positional.size() != positional || !parsed.Option("--store")) {
    parsed.problem = "the arguments and --store SERVER_DIR are required";
    return parsed;
  }
  parsed.desk.server_folder = *parsed.Option("--store");
  parsed.desk.signing_key_file = parsed.Option("--sign").value_or("");
  if (const auto expires = parsed.Option("--expires-in")) {
    parsed.desk.expires_in = kalo::publish::DurationSeconds(*expires);
    if (!parsed.desk.expires_in) {
      parsed.problem = "bad duration '" + *expires + "'";
    }
  }
  return parsed;
}

std::vector<std::string> CommaList(const std::string& text) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start <= text.size()) {
    const auto end = std::min(text.find(',', start), text.size());
    if (const std::string item =
            cUpdate::LowerCase(cUpdate::TrimBlanks(text.substr(start, end - start)));
        !item.empty()) {
      items.push_back(item);
    }
    start = end + 1;
  }
  return items;
}

int Rollout(const DeskArguments& a) {
  kalo::publish::RolloutRequest request{a.positional[0], a.Option("--channel").value_or(""),
                                        std::nullopt,
                                        CommaList(a.Option("--clients").value_or(""))};
  if (const auto percent = a.Option("--percent")) {
    request.percent = PercentOf(*percent);
    if (!request.percent) {
      return UsageError("bad percent '" + *percent + "'", kDeskUsage);
    }
  }
  if (request.channel.empty() || (!request.percent && request.named.empty())) {
    return UsageError("--channel and --percent or --clients are required", kDeskUsage);
  }
  return kalo::publish::RunRollout(a.desk, request, std::cout, std::cerr);
}

// --keep N of prune and status.
std::optional<std::size_t> KeepOf(const std::string& text) {
  std::size_t keep = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), keep);
  return error == std::errc{} && end == text.data() + text.size() ? std::optional(keep)
                                                                  : std::nullopt;
}

int Build(std::span<const std::string> arguments) {
  kalo::publish::BuildOptions options;
  for (auto argument = arguments.begin(); argument != arguments.end(); ++argument) {
    const bool has_value = argument + 1 != arguments.end();
    if ((*argument == "--out" || *argument == "--store") && has_value) {
      options.server_folder = *++argument;
    } else if (*argument == "--release" && has_value) {
      options.release_id = *++argument;
    } else if (*argument == "--channel" && has_value) {
      options.channel = *++argument;
    } else if (*argument == "--percent" && has_value) {
      options.percent = PercentOf(*++argument);
      if (!options.percent) {
        return UsageError("bad percent '" + *argument + "'", kBuildUsage);
      }
    } else if (*argument == "--expires-in" && has_value) {
      options.expires_in = kalo::publish::DurationSeconds(*++argument);
      if (!options.expires_in) {
        return UsageError("bad duration '" + *argument + "'", kBuildUsage);
      }
    } else if (*argument == "--hold") {
      options.hold = true;
    } else if (*argument == "--client" && has_value) {
      options.clients.push_back(*++argument);
    } else if (*argument == "--sign" && has_value) {
      options.signing_key_file = *++argument;
    } else if (*argument == "--allow-unversioned") {
      options.allow_unversioned = true;
    } else if (options.release_folder.empty() && !argument->starts_with("--")) {
      options.release_folder = *argument;
    } else {
      return UsageError("unexpected argument '" + *argument + "'", kBuildUsage);
    }
  }
  if (options.release_folder.empty() || options.server_folder.empty()) {
    return UsageError("RELEASE_DIR and --out SERVER_DIR are required", kBuildUsage);
  }
  if (options.hold && options.percent) {
    return UsageError("--hold and --percent do not go together", kBuildUsage);
  }
  return kalo::publish::RunBuild(options, std::cout, std::cerr);
}

int Serve(std::span<const std::string> arguments) {
  kalo::publish::ServeOptions options;
  for (auto argument = arguments.begin(); argument != arguments.end(); ++argument) {
    const bool has_value = argument + 1 != arguments.end();
    if (*argument == "--port" && has_value) {
      const std::string& text = *++argument;
      const auto [end, error] =
          std::from_chars(text.data(), text.data() + text.size(), options.port);
      if (error != std::errc{} || end != text.data() + text.size() || options.port < 0 ||
          options.port > 65535) {
        return UsageError("bad port '" + text + "'", kServeUsage);
      }
    } else if (*argument == "--bind" && has_value) {
      options.bind_address = *++argument;
    } else if (options.server_folder.empty() && !argument->starts_with("--")) {
      options.server_folder = *argument;
    } else {
      return UsageError("unexpected argument '" + *argument + "'", kServeUsage);
    }
  }
  if (options.server_folder.empty()) {
    return UsageError("SERVER_DIR is required", kServeUsage);
  }
  return kalo::publish::RunServe(options);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.empty()) {
    std::cerr << kUsage;
    return kalo::exit_status::kRefused;
  }
  if (IsHelp(arguments[0])) {
    std::cout << kUsage;
    return kalo::exit_status::kSuccess;
  }
  const std::string& command = arguments[0];
  const std::span<const std::string> rest(arguments.begin() + 1, arguments.end());
  struct Command {
    std::string_view name;
    std::string_view usage;
    int (*run)(std::span<const std::string>);
  };
  const Command commands[] = {
      {"stamp", kStampUsage,
       [](std::span<const std::string> files) {
         return files.empty() ? UsageError("FILE is required", kStampUsage)
                              : kalo::publish::RunStamp(files, std::cout, std::cerr);
       }},
      {"build", kBuildUsage, &Build},
      {"serve", kServeUsage, &Serve},
      {"keys", kKeysUsage,
       [](std::span<const std::string> key_file) {
         return key_file.size() != 1 || key_file[0].starts_with("--")
                    ? UsageError("KEYFILE is required, alone", kKeysUsage)
                    : kalo::publish::RunKeys(key_file[0], std::cout, std::cerr);
       }},
  };
  // The desk commands: how many positional arguments, their own options, what they run.
  struct DeskCommand {
    std::string_view name;
    std::size_t positional;
    std::vector<std::string_view> options;
    int (*run)(const DeskArguments&);
  };
  const DeskCommand desk_commands[] = {
      {"clients",
       1,
       {},
       [](const DeskArguments& a) {
         return kalo::publish::RunClients(a.desk, a.positional[0], std::cout, std::cerr);
       }},
      {"rollout", 1, {"--channel", "--percent", "--clients"}, &Rollout},
      {"pin",
       2,
       {},
       [](const DeskArguments& a) {
         return kalo::publish::RunPin(a.desk, a.positional[0], a.positional[1], std::cout,
                                      std::cerr);
       }},
      {"unpin",
       1,
       {},
       [](const DeskArguments& a) {
         return kalo::publish::RunUnpin(a.desk, a.positional[0], std::cout, std::cerr);
       }},
      {"rollback",
       1,
       {},
       [](const DeskArguments& a) {
         return kalo::publish::RunRollback(a.desk, a.positional[0], std::cout, std::cerr);
       }},
      {"resign",
       0,
       {},
       [](const DeskArguments& a) {
         return kalo::publish::RunResign(a.desk, std::cout, std::cerr);
       }},
      {"prune",
       0,
       {"--keep"},
       [](const DeskArguments& a) {
         const auto keep = KeepOf(a.Option("--keep").value_or(""));
         return keep ? kalo::publish::RunPrune(a.desk, *keep, std::cout, std::cerr)
                     : UsageError("--keep N is required", kDeskUsage);
       }},
      {"status",
       0,
       {"--keep"},
       [](const DeskArguments& a) {
         const auto keep = KeepOf(a.Option("--keep").value_or("3"));
         return keep ? kalo::publish::RunStatus(a.desk, *keep, std::cout, std::cerr)
                     : UsageError("bad --keep", kDeskUsage);
       }},
  };
  for (const DeskCommand& candidate : desk_commands) {
    if (candidate.name == command) {
      if (!rest.empty() && IsHelp(rest[0])) {
        std::cout << kDeskUsage;
        return kalo::exit_status::kSuccess;
      }
      const DeskArguments parsed = ParseDesk(rest, candidate.positional, candidate.options);
      return parsed.problem.empty() ? candidate.run(parsed)
                                    : UsageError(parsed.problem, kDeskUsage);
    }
  }
  for (const Command& candidate : commands) {
    if (candidate.name == command) {
      if (!rest.empty() && IsHelp(rest[0])) {
        std::cout << candidate.usage;
        return kalo::exit_status::kSuccess;
      }
      return candidate.run(rest);
    }
  }
  return UsageError("unknown command '" + command + "'", kUsage);
}
