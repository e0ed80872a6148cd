// The road to the zip library: one archive built from a list of names, and the
// callbacks through which the library prints and asks.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "archive/archive_libraries.h"
#include "platform/ui.h"
#include "zip32.h"

namespace cImpZipDeclares {

// The name list of both libraries: 100 slots.
using NameList = std::array<std::string, 100>;

// The option arguments of ZipFileList that have a meaning; the others are 0 on every
// call this system makes and reach the library as 0.
struct ZipOptionValues {
  std::int16_t recurse_folders = 0;  // option field 14
  std::int16_t updating_zip = 0;     // option field 19
  std::string root_directory;        // option field 30, sent upper-cased
};

// Builds the archive `archive` from the first `count` names through ZpInit,
// ZpSetOptions and ZpArchive; answers the result of the last call that could be
// made, 0 when none could (a missing library is no error here).
std::int32_t ZipFileList(ArchiveLibraries& libraries, kalo::platform::Ui& ui, std::int16_t count,
                         const std::string& archive, const NameList& names,
                         const ZipOptionValues& options);

// The callbacks, as the library calls them.
std::int32_t ZIP32_CALL ZipPrint(const char* text, std::uint32_t length);
std::int32_t ZIP32_CALL ZipPassword(char* password, std::int32_t size, const char* prompt,
                                    const char* name);
char* ZIP32_CALL ZipComment(char* comment);

}  // namespace cImpZipDeclares
