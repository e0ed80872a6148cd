#include "release.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>

#include "support/timestamps.h"
#include "update/manifest.h"
#include "update/protocol.h"

namespace kalo::publish {
namespace {

namespace fs = std::filesystem;

// The manifest splits its lines at ".", "-" and "|", drops blanks and lower-cases
// everything, so a name with any of these would reach the updater changed.
std::string ProblemWithName(const std::string& name) {
  if (name.find_first_of(" \t") != std::string::npos) {
    return "o nome tem espaços, que o manifesto descarta";
  }
  if (std::ranges::any_of(name, [](char c) { return c >= 'A' && c <= 'Z'; })) {
    return "o nome tem letras maiúsculas, que o atualizador troca por minúsculas";
  }
  if (name.find_first_of("-|") != std::string::npos) {
    return "o nome tem '-' ou '|', que separam os campos do manifesto";
  }
  const auto dot = name.find('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) {
    return "o nome precisa de uma base e de uma extensão (base.ext)";
  }
  if (name.find('.', dot + 1) != std::string::npos) {
    return "o nome tem mais de um ponto, que separa os campos do manifesto";
  }
  if (std::ranges::any_of(name, [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte >= 0x7f || c == '<' || c == '>' || c == '\\' || c == ':' ||
               c == '*' || c == '?' || c == '"';
      })) {
    return "o nome tem caracteres que o manifesto não transporta";
  }
  // Every updater skips these, so the release would never install.
  if (cImpLicencas::IsWindowsDeviceName(name)) {
    return "o nome é reservado pelo Windows (CON, PRN, AUX, NUL, COM1 a COM9 e LPT1 a LPT9, "
           "com qualquer extensão), e nenhum atualizador o instala";
  }
  return {};
}

// The file's modification time; nothing, with the system's reason, when it cannot be
// read: a time made up would date the release wrongly without a word.
std::optional<std::time_t> ModificationTime(const std::string& path, std::string& reason) {
  std::error_code error;
  const fs::file_time_type written = fs::last_write_time(path, error);
  if (error) {
    reason = error.message();
    return std::nullopt;
  }
  return std::chrono::system_clock::to_time_t(
      std::chrono::time_point_cast<std::chrono::system_clock::duration>(
          std::chrono::file_clock::to_sys(written)));
}

// Why the link `entry` may not be published, or nothing: a link that leads out of the
// release folder would publish what lies there, which no one chose to release.
std::string ProblemWithLink(const fs::directory_entry& entry, const fs::path& folder) {
  std::error_code error;
  const fs::path target = fs::weakly_canonical(entry.path(), error);
  if (error) {
    return "o link simbólico não pôde ser seguido (" + error.message() + ")";
  }
  const fs::path inside = target.lexically_relative(folder);
  if (inside.empty() || *inside.begin() == "..") {
    return "é um link simbólico para " + target.string() +
           ", fora da pasta da versão (copie o arquivo para a pasta)";
  }
  return {};
}

}  // namespace

// In UTC, so that every machine that publishes the same files writes the same names.
std::string DateStamp(std::time_t moment) {
  using namespace std::chrono;
  const sys_seconds utc{seconds{moment}};
  const sys_days day = floor<days>(utc);
  const year_month_day date(day);
  const hh_mm_ss time(utc - day);
  return cUpdate::FormatStamp(cImpLicencas::kStampPattern, static_cast<int>(date.year()),
                              static_cast<int>(static_cast<unsigned>(date.month())),
                              static_cast<int>(static_cast<unsigned>(date.day())),
                              static_cast<int>(time.hours().count()),
                              static_cast<int>(time.minutes().count()), 0);
}

ReleasePlan PlanRelease(const std::string& folder, bool allow_unversioned) {
  ReleasePlan plan;
  std::error_code error;
  std::vector<fs::directory_entry> entries;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    entries.push_back(entry);
  }
  if (error) {
    plan.problems.push_back(folder + ": " + error.message());
    return plan;
  }
  std::ranges::sort(entries, {}, [](const fs::directory_entry& e) { return e.path().filename(); });
  const fs::path resolved_folder = fs::canonical(folder, error);
  for (const auto& entry : entries) {
    const std::string name = entry.path().filename().string();
    if (entry.is_symlink()) {
      if (const std::string problem = ProblemWithLink(entry, resolved_folder); !problem.empty()) {
        plan.problems.push_back(name + ": " + problem);
        continue;
      }
    }
    if (!entry.is_regular_file()) {
      plan.problems.push_back(name +
                              ": só arquivos comuns são publicados (a pasta de instalação "
                              "não tem subpastas)");
      continue;
    }
    if (const std::string problem = ProblemWithName(name); !problem.empty()) {
      plan.problems.push_back(name + ": " + problem);
      continue;
    }
    ReleaseFile file;
    file.path = entry.path().string();
    std::string reason;
    const auto modified = ModificationTime(file.path, reason);
    if (!modified) {
      plan.problems.push_back(file.path + ": a data do arquivo não pôde ser lida (" + reason + ")");
      continue;
    }
    file.modified = *modified;
    file.base_name = name.substr(0, name.find('.'));
    file.extension = name.substr(name.find('.') + 1);
    // The updater's own test: a name ending in "exe" is judged by its version.
    file.executable = cImpLicencas::IsExecutableName(name);
    // Every updater takes a "zip" entry for an archive and unpacks it, whatever it holds.
    if (!file.executable && file.extension == "zip") {
      plan.problems.push_back(name +
                              ": todo atualizador trata um arquivo .zip como pacote: descompacta "
                              "o que ele contém na pasta de instalação e falha em \"Versao\" "
                              "(dê ao arquivo outra extensão)");
      continue;
    }
    file.stamp = file.executable ? cUpdate::FileVersionStamp(file.path, cImpLicencas::kStampPattern)
                                 : DateStamp(file.modified);
    if (file.executable && file.stamp.empty() && !allow_unversioned) {
      plan.problems.push_back(name +
                              ": executável sem informação de versão (use "
                              "--allow-unversioned para publicá-lo assim mesmo)");
      continue;
    }
    if (file.stamp.find_first_of(".-|") != std::string::npos) {
      plan.problems.push_back(name + ": a versão " + file.stamp +
                              " não cabe no manifesto (campos de versão acima de 32767)");
      continue;
    }
    plan.files.push_back(std::move(file));
  }
  return plan;
}

}  // namespace kalo::publish
