// kalo-publish: checks and publishes releases for the updater, and serves them.
#include <charconv>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "build_command.h"
#include "keys_command.h"
#include "serve_command.h"
#include "stamp_command.h"
#include "support/exit_status.h"

namespace {

constexpr std::string_view kUsage =
    "Usage: kalo-publish COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands:\n"
    "  stamp FILE...                       print each file's build stamp yyyymmddhhnn\n"
    "  build RELEASE_DIR --out SERVER_DIR  publish a release for the updater\n"
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
    "Usage: kalo-publish build RELEASE_DIR --out SERVER_DIR [--client NAME]...\n"
    "                          [--allow-unversioned] [--sign KEYFILE]\n"
    "\n"
    "Publishes every file of RELEASE_DIR into SERVER_DIR, the folder the update server\n"
    "serves: executables (names ending in \"exe\") as archives named\n"
    "base-ext-STAMP.zip, where STAMP is the build stamp of their version; other files\n"
    "as base-ext-DATE.ext, DATE being their modification time (UTC). Then writes the\n"
    "manifest (framed, CR LF line ends) for each --client NAME and a default one\n"
    "that serves every other client, each replaced as a whole.\n"
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
    "With --sign, KEYFILE (made by 'kalo-publish keys') signs every manifest: each line\n"
    "gets a sixth field, the SHA-256 of the published file, and beside each manifest\n"
    "NAME.txt lies NAME.assinatura, the publishing time and the signature of the\n"
    "manifest's bytes with that time. Without --sign the manifests are unsigned and\n"
    "signatures left beside them by an earlier build are removed.\n"
    "\n"
    "Exit status: 0 published; 1 the release was refused or could not be written;\n"
    "2 the command line was wrong.\n";

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

int Build(std::span<const std::string> arguments) {
  kalo::publish::BuildOptions options;
  for (auto argument = arguments.begin(); argument != arguments.end(); ++argument) {
    const bool has_value = argument + 1 != arguments.end();
    if (*argument == "--out" && has_value) {
      options.server_folder = *++argument;
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
