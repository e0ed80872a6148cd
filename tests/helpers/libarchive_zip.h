// Zip archives written by libarchive, the library behind bsdtar (which is also the tar of
// current Windows). It writes as if to a stream it cannot seek back in, so every entry
// has its sizes and CRC in a data descriptor after its data. Failures throw
// std::runtime_error, so a broken fixture stops the test.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace kalo::test {

struct LibarchiveZipOptions {
  bool deflate = true;
  bool zip64 = false;                // Zip64 records even where the sizes do not need them.
  std::string traditional_password;  // Traditional PKWARE encryption when not empty.
};

// Writes `files` (name, content) to `path` and returns the path.
std::string WriteLibarchiveZip(const std::string& path,
                               const std::vector<std::pair<std::string, std::string>>& files,
                               const LibarchiveZipOptions& options);

}  // namespace kalo::test
