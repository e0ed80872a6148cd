#include "platform/settings_store.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "platform/atomic_file.h"
#include "platform/ini_text.h"
#include "platform/install_folder.h"
#include "platform/system_error.h"

namespace kalo::platform {
namespace {

constexpr const char* kSource = "SettingsStore";

// A missing or unreadable file reads as an empty text.
IniText ReadIni(const std::string& path) {
  std::ifstream file(path);
  return IniText(file);
}

void CreateFolderOnce(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    throw SystemError(errno, "Não foi possível criar a pasta " + path, kSource);
  }
}

}  // namespace

std::string SettingsStore::PlaceOf(const std::string& app) const {
  return PathInFolder(PathInFolder(root_, app), "settings.ini");
}

std::string SettingsStore::Get(const std::string& app, const std::string& section,
                               const std::string& key, const std::string& fallback) const {
  return ReadIni(PlaceOf(app)).Value(section, key).value_or(fallback);
}

void SettingsStore::Save(const std::string& app, const std::string& section, const std::string& key,
                         const std::string& value) {
  IniText ini = ReadIni(PlaceOf(app));
  ini.SetValue(section, key, value);
  CreateFolderOnce(root_);
  CreateFolderOnce(PathInFolder(root_, app));
  const std::string content = ini.Text();
  AtomicFile file(PlaceOf(app));
  file.Write(std::as_bytes(std::span(content.data(), content.size())));
  file.Commit(FilePermissions::kData);
}

std::string DefaultSettingsRoot() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config != '\0') {
    return config;
  }
  const char* home = std::getenv("HOME");
  return PathInFolder(home != nullptr && *home != '\0' ? home : "/", ".config");
}

}  // namespace kalo::platform
