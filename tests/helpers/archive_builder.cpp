#include "helpers/archive_builder.h"

#include <zip.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "helpers/utf8_path.h"

namespace kalo::test {
namespace {

struct ZipDiscard {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
using ZipHandle = std::unique_ptr<zip_t, ZipDiscard>;

[[noreturn]] void Fail(const std::string& what, zip_t* archive) {
  throw std::runtime_error(what + ": " + zip_strerror(archive));
}

// Read in one piece: archives of many mebibytes took seconds byte by byte in Debug builds.
std::string ReadBytes(const std::string& path) {
  std::ifstream file(FromUtf8(path), std::ios::binary | std::ios::ate);
  std::string bytes(file ? static_cast<std::size_t>(file.tellg()) : 0, '\0');
  if (!file.seekg(0) || !file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
    throw std::runtime_error("cannot read " + path);
  }
  return bytes;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream file(FromUtf8(path), std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) {
    throw std::runtime_error("cannot write " + path);
  }
}

std::uint32_t Get(const std::string& bytes, std::size_t at, int width) {
  if (at + static_cast<std::size_t>(width) > bytes.size()) {
    throw std::runtime_error("zip structure runs past the end of the file");
  }
  std::uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) {
    value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
  }
  return value;
}

void Put32(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  }
}

// Offsets of the named entry's central directory record and local header.
struct EntryRecords {
  std::size_t central;
  std::size_t local;
};

EntryRecords FindRecords(const std::string& bytes, std::string_view name) {
  const std::size_t end_record = bytes.rfind(std::string_view("PK\x05\x06", 4));
  if (end_record == std::string::npos) {
    throw std::runtime_error("no end of central directory record");
  }
  const std::uint32_t count = Get(bytes, end_record + 10, 2);
  std::size_t at = Get(bytes, end_record + 16, 4);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t name_length = Get(bytes, at + 28, 2);
    if (std::string_view(bytes).substr(at + 46, name_length) == name) {
      return {at, Get(bytes, at + 42, 4)};
    }
    at += 46 + name_length + Get(bytes, at + 30, 2) + Get(bytes, at + 32, 2);
  }
  throw std::runtime_error("no entry named " + std::string(name));
}

// The "archive" attribute, which Windows sets on every file it writes.
constexpr zip_uint32_t kDosArchiveAttribute = 0x20;
// Unix file types as archives store them, whatever system writes the archive.
constexpr zip_uint32_t kUnixRegularFile = 0100000;
constexpr zip_uint32_t kUnixSymlink = 0120000;
constexpr zip_uint32_t kUnixTypeBits = 0170000;

zip_uint16_t MethodOf(Encryption encryption) {
  return encryption == Encryption::kAes256 ? ZIP_EM_AES_256 : ZIP_EM_TRAD_PKWARE;
}

}  // namespace

ArchiveBuilder& ArchiveBuilder::AddFile(std::string_view name, std::string_view content,
                                        const EntryOptions& options) {
  entries_.push_back({Kind::kFile, std::string(name), std::string(content), options});
  return *this;
}

ArchiveBuilder& ArchiveBuilder::AddFolder(std::string_view name) {
  std::string folder(name);
  if (folder.empty() || folder.back() != '/') {
    folder += '/';
  }
  entries_.push_back({Kind::kFolder, folder, {}, EntryOptions()});
  return *this;
}

ArchiveBuilder& ArchiveBuilder::AddSymlink(std::string_view name, std::string_view target) {
  entries_.push_back(
      {Kind::kSymlink, std::string(name), std::string(target), EntryOptions().Mode(0777)});
  return *this;
}

ArchiveBuilder& ArchiveBuilder::SetComment(std::string_view comment) {
  comment_ = comment;
  return *this;
}

std::string ArchiveBuilder::Write(const std::string& path) const {
  int error = 0;
  ZipHandle archive(zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error));
  if (!archive) {
    throw std::runtime_error("cannot create " + path);
  }
  zip_t* za = archive.get();
  for (const Entry& entry : entries_) {
    zip_int64_t index = 0;
    if (entry.kind == Kind::kFolder) {
      index = zip_dir_add(za, entry.name.c_str(), ZIP_FL_ENC_UTF_8);
    } else {
      // libzip reads the buffers only in zip_close, and the entries outlive that call.
      zip_source_t* source = zip_source_buffer(za, entry.content.data(), entry.content.size(), 0);
      index = source == nullptr ? -1 : zip_file_add(za, entry.name.c_str(), source, 0);
      if (index < 0) {
        zip_source_free(source);
      }
    }
    if (index < 0) {
      Fail("cannot add " + entry.name, za);
    }
    const auto at = static_cast<zip_uint64_t>(index);
    const EntryOptions& options = entry.options;
    // A mode with type bits of its own (a FIFO's, say) keeps them.
    const bool typed = options.unix_mode && (*options.unix_mode & kUnixTypeBits) != 0;
    const zip_uint32_t type = typed                          ? 0
                              : entry.kind == Kind::kSymlink ? kUnixSymlink
                                                             : kUnixRegularFile;
    if ((options.mtime && zip_file_set_mtime(za, at, *options.mtime, 0) != 0) ||
        (options.unix_mode && zip_file_set_external_attributes(
                                  za, at, 0, ZIP_OPSYS_UNIX, (type | *options.unix_mode) << 16)) ||
        (options.no_unix_mode &&
         zip_file_set_external_attributes(za, at, 0, ZIP_OPSYS_DOS, kDosArchiveAttribute)) ||
        (options.store && zip_set_file_compression(za, at, ZIP_CM_STORE, 0) != 0) ||
        (options.encryption != Encryption::kNone &&
         zip_file_set_encryption(za, at, MethodOf(options.encryption), options.password.c_str()))) {
      Fail("cannot set the options of " + entry.name, za);
    }
  }
  if (!comment_.empty() &&
      zip_set_archive_comment(za, comment_.data(), static_cast<zip_uint16_t>(comment_.size()))) {
    Fail("cannot set the comment", za);
  }
  if (zip_close(za) != 0) {
    Fail("cannot write " + path, za);
  }
  static_cast<void>(archive.release());  // zip_close freed it.
  return path;
}

std::size_t EntryDataOffset(const std::string& archive, std::string_view name) {
  const std::string bytes = ReadBytes(archive);
  const std::size_t local = FindRecords(bytes, name).local;
  return local + 30 + Get(bytes, local + 26, 2) + Get(bytes, local + 28, 2);
}

void FlipByte(const std::string& path, std::size_t offset) {
  std::string bytes = ReadBytes(path);
  if (offset >= bytes.size()) {
    throw std::runtime_error("offset past the end of " + path);
  }
  bytes[offset] = static_cast<char>(~bytes[offset]);
  WriteBytes(path, bytes);
}

void TruncateFile(const std::string& path, std::size_t size) {
  std::filesystem::resize_file(FromUtf8(path), size);
}

namespace {

// Rewrites one 32-bit field of the named entry in its local header and in the central
// directory, at the two offsets the format gives it there.
void SetDeclaredField(const std::string& archive, std::string_view name, std::size_t local_offset,
                      std::size_t central_offset, std::uint32_t value) {
  std::string bytes = ReadBytes(archive);
  const EntryRecords records = FindRecords(bytes, name);
  Put32(bytes, records.local + local_offset, value);
  Put32(bytes, records.central + central_offset, value);
  WriteBytes(archive, bytes);
}

}  // namespace

void SetDeclaredSize(const std::string& archive, std::string_view name, std::uint32_t size) {
  SetDeclaredField(archive, name, 22, 24, size);
}

void SetDeclaredCrc(const std::string& archive, std::string_view name, std::uint32_t crc) {
  SetDeclaredField(archive, name, 14, 16, crc);
}

}  // namespace kalo::test
