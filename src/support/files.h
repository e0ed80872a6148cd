// Small file and folder routines of the update run. Each answers true for success
// and false for failure, except where a comment says otherwise.
#pragma once

#include <string>

#include "platform/file_system.h"
#include "platform/resources.h"
#include "platform/ui.h"

namespace cUpdate {

// True when `path` names an ordinary, visible file; the last component of the path
// is a search pattern, so * and ? match. Throws when the search itself fails.
bool FileExists(const kalo::platform::FileSystem& fs, const std::string& path);

// True when no ordinary file is at `path` afterwards. A file that resists is tried
// six times in a row before the routine gives up.
bool DeleteLocalFile(kalo::platform::FileSystem& fs, const std::string& path);

// True when `folder` is a folder afterwards, creating one level when it is missing.
// False when it cannot be created, or when something other than a folder stands there.
bool EnsureFolder(kalo::platform::FileSystem& fs, const std::string& folder);

// Writes the carried resource `name` (type "CUSTOM") to `target` as an executable
// file, unless a file is already there. On failure it shows why ("Erro Ao baixar
// Recurso: " or "Erro: ", then the description) and ends the program through `ui`, so it
// only ever returns true: the written interface's own message and ending, the one routine
// below the run that ends the program itself.
bool ExtractResource(kalo::platform::FileSystem& fs,
                     const kalo::platform::CarriedResources& resources, kalo::platform::Ui& ui,
                     const std::string& name, const std::string& target);

}  // namespace cUpdate
