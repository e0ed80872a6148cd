#include "helpers/libarchive_zip.h"

#include <archive.h>
#include <archive_entry.h>

#include <fstream>
#include <memory>
#include <stdexcept>

namespace kalo::test {
namespace {

struct ArchiveFree {
  void operator()(archive* writer) const { archive_write_free(writer); }
};
struct EntryFree {
  void operator()(archive_entry* entry) const { archive_entry_free(entry); }
};

void Check(archive* writer, int result, const std::string& what) {
  if (result != ARCHIVE_OK) {
    const char* reason = archive_error_string(writer);
    throw std::runtime_error("libarchive: " + what + ": " + (reason ? reason : "failed"));
  }
}

// libarchive's write callback: the archive goes to memory, a stream without seeking.
la_ssize_t Append(archive*, void* bytes, const void* data, size_t size) {
  static_cast<std::string*>(bytes)->append(static_cast<const char*>(data), size);
  return static_cast<la_ssize_t>(size);
}

}  // namespace

std::string WriteLibarchiveZip(const std::string& path,
                               const std::vector<std::pair<std::string, std::string>>& files,
                               const LibarchiveZipOptions& options) {
  std::unique_ptr<archive, ArchiveFree> writer(archive_write_new());
  archive* a = writer.get();
  std::string bytes;
  Check(a, archive_write_set_format_zip(a), "zip format");
  // No padding after the end record, which a block device would want.
  Check(a, archive_write_set_bytes_in_last_block(a, 1), "last block");
  Check(a,
        archive_write_set_options(
            a, options.deflate ? "zip:compression=deflate" : "zip:compression=store"),
        "compression");
  if (options.zip64) {
    Check(a, archive_write_set_options(a, "zip:zip64"), "zip64");
  }
  if (!options.traditional_password.empty()) {
    Check(a, archive_write_set_options(a, "zip:encryption=traditional"), "encryption");
    Check(a, archive_write_set_passphrase(a, options.traditional_password.c_str()), "passphrase");
  }
  Check(a, archive_write_open2(a, &bytes, nullptr, Append, nullptr, nullptr), "open");
  for (const auto& [name, content] : files) {
    std::unique_ptr<archive_entry, EntryFree> entry(archive_entry_new());
    archive_entry_set_pathname(entry.get(), name.c_str());
    archive_entry_set_filetype(entry.get(), AE_IFREG);
    archive_entry_set_perm(entry.get(), 0644);
    archive_entry_set_size(entry.get(), static_cast<la_int64_t>(content.size()));
    Check(a, archive_write_header(a, entry.get()), "header of " + name);
    if (archive_write_data(a, content.data(), content.size()) !=
        static_cast<la_ssize_t>(content.size())) {
      Check(a, ARCHIVE_FATAL, "data of " + name);
    }
  }
  Check(a, archive_write_close(a), "close");
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) {
    throw std::runtime_error("cannot write " + path);
  }
  return path;
}

}  // namespace kalo::test
