// The road to the unzip library: one extraction with its command record, and the
// callbacks through which the library prints and asks.
#pragma once

#include <cstdint>
#include <string>

#include "archive/archive_libraries.h"
#include "platform/ui.h"
#include "unzip32.h"

namespace cImpZipDeclares {

// The fifteen option values of one extraction, in the order VBUnzip takes them;
// each is a zip object property, Booleans as 1 or 0.
struct UnzipOptionValues {
  std::int16_t extract_newer = 0;
  std::int16_t space_to_underscore = 0;
  std::int16_t prompt_overwrite = 0;
  std::int16_t message_level = 0;
  std::int16_t write_to_stdout = 0;
  std::int16_t test_zip = 0;
  std::int16_t extract_list = 0;
  std::int16_t extract_only_newer = 0;
  std::int16_t display_comment = 0;
  std::int16_t honor_directories = 0;
  std::int16_t overwrite_files = 0;
  std::int16_t convert_cr_to_crlf = 0;
  std::int16_t verbose = 0;
  std::int16_t case_sensitive = 0;
  std::int16_t privilege = 0;
};

// Extracts the whole archive into `folder` through Wiz_SingleEntryUnzip and answers
// the library's result (0 is success). Errors, such as a missing library, come back
// with the source "CodeModule::VBUnzip".
std::int32_t VBUnzip(ArchiveLibraries& libraries, kalo::platform::Ui& ui,
                     const std::string& archive, const std::string& folder,
                     const UnzipOptionValues& options);

// The callbacks, as the library calls them.
std::int32_t UNZIP32_CALL UnzipPrint(const char* text, std::uint32_t length);
std::int32_t UNZIP32_CALL UnzipReplace(char* file_name);
std::int32_t UNZIP32_CALL UnzipPassword(char* password, std::int32_t size, const char* prompt,
                                        const char* entry_name);
void UNZIP32_CALL UnzipListEntry(std::int32_t size, std::uint32_t compressed_size,
                                 std::uint16_t ratio_percent, std::uint16_t month,
                                 std::uint16_t day, std::uint16_t year, std::uint16_t hour,
                                 std::uint16_t minute, std::uint8_t is_folder, const char* name,
                                 const char* method, std::uint32_t crc, std::uint8_t encrypted);
std::int32_t UNZIP32_CALL UnzipService(const char* entry_name, std::uint32_t size);

}  // namespace cImpZipDeclares
