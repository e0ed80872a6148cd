#include "support/files.h"

#include <algorithm>
#include <cctype>

#include "platform/error.h"
#include "support/exit_status.h"

namespace cUpdate {
namespace {

using kalo::platform::EntryKind;

constexpr int kDeleteAttempts = 6;

bool IsBlank(const std::string& text) {
  return std::ranges::all_of(text, [](char c) { return c == ' '; });
}

}  // namespace

bool FileExists(const kalo::platform::FileSystem& fs, const std::string& path) {
  if (IsBlank(path)) {
    return false;
  }
  return fs.FindFile(path).has_value();
}

bool DeleteLocalFile(kalo::platform::FileSystem& fs, const std::string& path) {
  for (int attempt = 0; attempt < kDeleteAttempts; ++attempt) {
    try {
      if (FileExists(fs, path)) {
        fs.RemoveFile(path);
      }
      return true;
    } catch (const kalo::Error&) {
      // A file in use may be released by the process that held it; try again at once.
    }
  }
  return false;
}

bool EnsureFolder(kalo::platform::FileSystem& fs, const std::string& folder) {
  try {
    const auto kind = fs.KindOf(folder);
    if (!kind) {
      fs.CreateFolder(folder);
      return true;
    }
    // A plain file where the folder should be would make every later step fail.
    return *kind == EntryKind::kFolder;
  } catch (const kalo::Error&) {
    return false;
  }
}

bool ExtractResource(kalo::platform::FileSystem& fs,
                     const kalo::platform::CarriedResources& resources, kalo::platform::Ui& ui,
                     const std::string& name, const std::string& target) {
  try {
    if (!fs.FindFile(target)) {
      // The extractor is a program the caller runs next, so it needs its execute
      // permission; the atomic write keeps a half-written program from being run.
      fs.WriteFileAtomically(target, resources.Load(name, "CUSTOM"),
                             kalo::platform::FilePermissions::kExecutable);
    }
    return true;
  } catch (const kalo::Error& error) {
    const bool missing = error.Number() == kalo::error_number::kResourceNotFound;
    ui.ShowMessage((missing ? "Erro Ao baixar Recurso: " : "Erro: ") + error.Description(),
                   kalo::platform::MessageStyle::kError);
    ui.EndProgram(kalo::exit_status::kFailure);
  }
}

}  // namespace cUpdate
