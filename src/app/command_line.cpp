#include "app/command_line.h"

#include "platform/web_address.h"

namespace kalo::app {

const char* const kUsage =
    "Uso: kalo_upd [--server URL] [--client NOME] [--unattended] [--yes] [--version] [--help]\n"
    "\n"
    "  --server URL    endereço base do servidor de atualização para esta execução\n"
    "  --client NOME   põe NOME na caixa Empresa, como se digitado\n"
    "  --unattended    sem janela: executa a atualização uma vez (com NOME ou o nome\n"
    "                  guardado); mensagens na saída de erro, progresso na saída padrão\n"
    "  --yes           no modo --unattended, responde Sim às perguntas\n"
    "  --version       mostra a versão e sai\n"
    "  --help          mostra esta ajuda e sai\n"
    "\n"
    "Saída: 0 a atualização terminou ou passou ao programa; 1 terminou numa mensagem de\n"
    "erro; 2 o nome foi recusado, a pasta não pôde ser criada ou a linha de comando está\n"
    "errada.\n";

std::variant<CommandLine, std::string> ParseCommandLine(std::span<const std::string> arguments) {
  CommandLine options;
  for (auto argument = arguments.begin(); argument != arguments.end(); ++argument) {
    const auto value_of = [&](std::optional<std::string>& target) -> std::optional<std::string> {
      if (++argument == arguments.end()) {
        return *(argument - 1) + " precisa de um valor";
      }
      target = *argument;
      return std::nullopt;
    };
    std::optional<std::string> problem;
    if (*argument == "--server") {
      problem = value_of(options.server);
      // A line break would put lines of its own into every request.
      if (!problem && platform::HasControlCharacters(*options.server)) {
        problem = "--server não aceita caracteres de controle";
      }
    } else if (*argument == "--client") {
      problem = value_of(options.client);
    } else if (*argument == "--unattended") {
      options.unattended = true;
    } else if (*argument == "--yes") {
      options.yes = true;
    } else if (*argument == "--version") {
      options.version = true;
    } else if (*argument == "--help" || *argument == "-h") {
      options.help = true;
    } else {
      problem = "opção desconhecida: " + *argument;
    }
    if (problem) {
      return *problem;
    }
  }
  return options;
}

}  // namespace kalo::app
