#include "archive_writer.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "zip32.h"

namespace kalo::zip32 {
namespace {

struct SourceFreer {
  void operator()(zip_source_t* source) const { zip_source_free(source); }
};
using SourceHandle = std::unique_ptr<zip_source_t, SourceFreer>;

// The MS-DOS attributes that Windows tools look at.
constexpr uint32_t kDosReadOnly = 0x01;
constexpr uint32_t kDosFolder = 0x10;

}  // namespace

int32_t ArchiveWriter::Open(const std::string& path, bool update) {
  int error = 0;
  const int flags = update ? ZIP_CREATE : ZIP_CREATE | ZIP_TRUNCATE;
  zip_.reset(zip_open(path.c_str(), flags, &error));
  if (zip_) {
    return ZIP32_OK;
  }
  return update && Inspect(path) ? ZIP32_BAD_ARCHIVE : ZIP32_WRITE_FAILED;
}

int32_t ArchiveWriter::SetComment(std::string_view comment) {
  if (Comment(comment)) {
    return ZIP32_OK;
  }
  // libzip takes only UTF-8, while the caller writes in its ANSI code page; reading
  // the bytes as Latin-1 keeps at least the common accented letters.
  std::string converted;
  for (const char c : comment) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      converted += c;
    } else {
      converted += static_cast<char>(0xC0 | (byte >> 6));
      converted += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return Comment(converted) ? ZIP32_OK : ZIP32_WRITE_FAILED;
}

bool ArchiveWriter::Comment(std::string_view text) {
  // A zip comment holds at most 65,535 bytes; the caller's buffer is far smaller.
  const auto length = static_cast<zip_uint16_t>(std::min<size_t>(text.size(), UINT16_MAX));
  return zip_set_archive_comment(zip_.get(), length == 0 ? nullptr : text.data(), length) == 0;
}

int32_t ArchiveWriter::Add(const Item& item) {
  zip_error_t error;
  zip_error_init(&error);
  SourceHandle source(item.is_folder ? zip_source_buffer_create(nullptr, 0, 0, &error)
                                     : zip_source_file_create(item.path.c_str(), 0, -1, &error));
  zip_error_fini(&error);
  if (!source) {
    return item.is_folder ? ZIP32_WRITE_FAILED : ZIP32_READ_FAILED;
  }
  const zip_int64_t index = zip_file_add(zip_.get(), item.stored_name.c_str(), source.get(),
                                         ZIP_FL_OVERWRITE | ZIP_FL_ENC_GUESS);
  if (index < 0) {
    return ZIP32_WRITE_FAILED;
  }
  // The archive owns the source from here on.
  source.release();
  const auto entry = static_cast<zip_uint64_t>(index);
  // Where the system has Unix modes, they travel in the upper half, as unix tools expect;
  // they carry the executable bit that installed programs need. Elsewhere (Windows) the
  // entry has the MS-DOS attributes alone, as Windows archivers write them.
  const std::optional<uint32_t>& unix_mode = item.facts.unix_mode;
  uint32_t attributes = unix_mode              ? (*unix_mode & 0xFFFFu) << 16
                        : item.facts.read_only ? kDosReadOnly
                                               : 0;
  if (item.is_folder) {
    attributes |= kDosFolder;
  }
  const bool ok =
      zip_set_file_compression(zip_.get(), entry, item.is_folder ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                               0) == 0 &&
      zip_file_set_mtime(zip_.get(), entry, item.facts.mtime, 0) == 0 &&
      zip_file_set_external_attributes(zip_.get(), entry, 0,
                                       unix_mode ? ZIP_OPSYS_UNIX : ZIP_OPSYS_DOS, attributes) == 0;
  return ok ? ZIP32_OK : ZIP32_WRITE_FAILED;
}

int32_t ArchiveWriter::Close() {
  if (zip_close(zip_.get()) == 0) {
    // A successful close frees the archive.
    zip_.release();
    return ZIP32_OK;
  }
  // Files are read only now; a file that vanished or failed to read since it was
  // found is a read failure, anything else a failure to write the archive.
  switch (zip_error_code_zip(zip_get_error(zip_.get()))) {
    case ZIP_ER_READ:
    case ZIP_ER_OPEN:
    case ZIP_ER_NOENT:
      return ZIP32_READ_FAILED;
    default:
      return ZIP32_WRITE_FAILED;
  }
}

}  // namespace kalo::zip32
