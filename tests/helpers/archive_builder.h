// Builds zip archives with libzip for the tests of the archive code, and damages finished
// archives on purpose. Every failure throws std::runtime_error, so a broken fixture stops
// the test instead of passing silently.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kalo::test {

enum class Encryption { kNone, kAes256, kTraditional };

// Options of a file entry, set in a chain: EntryOptions().Mtime(t).Mode(0755).Stored().
struct EntryOptions {
  // Modification time; libzip stores it as a DOS time, so use an even number of seconds
  // to read back exactly the same value.
  std::optional<std::time_t> mtime;
  // Unix permission bits such as 04755, or a whole mode with its file type such as
  // 010644 (a FIFO); without them the entry has libzip's default attributes, which are
  // Unix ones (0666).
  std::optional<std::uint32_t> unix_mode;
  // DOS attributes as Windows archivers store them, so the entry carries no Unix mode.
  bool no_unix_mode = false;
  // Stored entries keep their bytes unchanged in the archive, which makes them easy to damage.
  bool store = false;
  Encryption encryption = Encryption::kNone;
  std::string password;

  EntryOptions& Mtime(std::time_t value) {
    mtime = value;
    return *this;
  }
  EntryOptions& Mode(std::uint32_t value) {
    unix_mode = value;
    return *this;
  }
  EntryOptions& NoUnixMode() {
    no_unix_mode = true;
    return *this;
  }
  EntryOptions& Stored() {
    store = true;
    return *this;
  }
  EntryOptions& Encrypted(Encryption method, std::string_view text) {
    encryption = method;
    password = text;
    return *this;
  }
};

// Collects entries in order and writes them all in Write(). Typical use:
//   ArchiveBuilder().AddFile("a.txt", "text").AddFolder("bin").Write(folder / "test.zip");
class ArchiveBuilder {
 public:
  ArchiveBuilder& AddFile(std::string_view name, std::string_view content,
                          const EntryOptions& options = {});
  // A folder entry; the name gets a trailing slash if it has none.
  ArchiveBuilder& AddFolder(std::string_view name);
  // A Unix symbolic link entry whose content is the link target.
  ArchiveBuilder& AddSymlink(std::string_view name, std::string_view target);
  ArchiveBuilder& SetComment(std::string_view comment);

  // Writes the archive to `path`, replacing any file there, and returns the path.
  std::string Write(const std::string& path) const;

 private:
  enum class Kind { kFile, kFolder, kSymlink };
  struct Entry {
    Kind kind;
    std::string name;
    std::string content;
    EntryOptions options;
  };
  std::vector<Entry> entries_;
  std::string comment_;
};

// Offset in the archive file of the first byte of the named entry's stored data.
std::size_t EntryDataOffset(const std::string& archive, std::string_view name);

// Inverts every bit of the byte at `offset`.
void FlipByte(const std::string& path, std::size_t offset);

// Cuts the file down to `size` bytes.
void TruncateFile(const std::string& path, std::size_t size);

// Rewrites the uncompressed size that the local header and the central directory declare
// for the named entry, so that the entry's data is longer or shorter than announced.
void SetDeclaredSize(const std::string& archive, std::string_view name, std::uint32_t size);

// Rewrites the CRC-32 that the local header and the central directory declare for the
// named entry, so that its data no longer matches.
void SetDeclaredCrc(const std::string& archive, std::string_view name, std::uint32_t crc);

}  // namespace kalo::test
