// Writes one archive with libzip. libzip keeps every change in memory and writes the
// whole archive to a temporary file beside the target at Close, then renames it into
// place, so a failed run leaves the old archive as it was and no temporary file.
#pragma once

#include <zip.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "file_list.h"

namespace kalo::zip32 {

class ArchiveWriter {
 public:
  // Each returns ZIP32_OK or the result code for the caller.
  int32_t Open(const std::string& path, bool update);
  // Empty removes the comment.
  int32_t SetComment(std::string_view comment);
  // Replaces an entry of the same name.
  int32_t Add(const Item& item);
  int32_t Close();

 private:
  bool Comment(std::string_view text);

  struct ZipDiscarder {
    void operator()(zip_t* zip) const { zip_discard(zip); }
  };
  std::unique_ptr<zip_t, ZipDiscarder> zip_;
};

}  // namespace kalo::zip32
