// Reading entry data out of libzip, with the checks that libzip leaves to its callers.
#pragma once

#include <zip.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "deflate_codec.h"

namespace kalo::unzip32 {

struct ZipDiscard {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct ZipFileClose {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using ZipArchive = std::unique_ptr<zip_t, ZipDiscard>;
using ZipFile = std::unique_ptr<zip_file_t, ZipFileClose>;

// A byte buffer that grows on demand and is never cleared, since every byte handed out
// is written before it is read.
class Buffer {
 public:
  // At least `size` bytes, and never a null pointer, even for 0.
  char* Reserve(std::size_t size);

 private:
  std::unique_ptr<char[]> data_;
  std::size_t capacity_ = 0;
};

// How an entry's data comes out of libzip.
enum class Encoding {
  kDecoded,   // Decrypted and decompressed by libzip, which also checks the CRC.
  kDeflated,  // Raw deflate data, inflated and checked here.
};

// What the central directory declares about an entry.
struct EntryFacts {
  zip_uint64_t size = 0;
  zip_uint64_t compressed_size = 0;
  zip_uint32_t crc = 0;
};

// Buffers and inflater state for all entries of one run: thousands of small entries
// would otherwise each allocate their own.
class Workspace {
 public:
  Workspace();
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;
  ~Workspace();

 private:
  friend class EntryStream;
  struct Stream;

  Buffer input_;
  Buffer output_;
  WholeInflater whole_;
  std::unique_ptr<Stream> stream_;
};

// The bytes of one entry as they were before compression. Deflated entries that are not
// encrypted are read raw and inflated here: up to kWholeEntryLimit in one piece, larger
// ones in blocks through zlib. libzip decodes everything else.
class EntryStream {
 public:
  EntryStream(ZipFile file, Encoding encoding, const EntryFacts& facts, Workspace& workspace);
  EntryStream(const EntryStream&) = delete;
  EntryStream& operator=(const EntryStream&) = delete;

  // The next bytes of the entry, empty at its end; nullopt on an error, see ZipError().
  // The bytes stay valid until the next call.
  std::optional<std::string_view> Next();
  int ZipError() const { return error_; }

 private:
  std::optional<std::string_view> ReadWhole();
  std::optional<std::string_view> ReadDecoded();
  std::optional<std::string_view> ReadDeflated();
  // Inflates the next block of a large entry into `out`; returns a libzip error code.
  int InflateBlock(char* out, std::string_view& block);
  // Up to `size` bytes from libzip; nullopt on an error.
  std::optional<std::string_view> ReadRaw(char* into, std::size_t size);
  // Adds a block to the running CRC, and at the end (an empty block) compares it.
  std::optional<std::string_view> Checked(std::string_view block);
  std::optional<std::string_view> Fail(int zip_error);

  ZipFile file_;
  Encoding encoding_;
  EntryFacts facts_;
  Workspace& workspace_;
  bool whole_;
  bool input_ended_ = false;
  bool finished_ = false;
  std::uint32_t crc_ = 0;
  int error_ = ZIP_ER_OK;
};

enum class DataResult { kOk, kCorrupt, kSinkFailed };

struct DataOutcome {
  DataResult result;
  int zip_error;  // The libzip error code of kCorrupt.
};

// Reads an entry to its end and hands its bytes to `sink`, which returns false to stop.
// More or fewer bytes than `declared_size` count as corruption (ZIP_ER_INCONS); no byte
// past the declared size reaches the sink. With `to_crlf`, an entry whose first 64 KiB
// look like text gets CR LF line ends.
DataOutcome PumpEntry(EntryStream& stream, zip_uint64_t declared_size, bool to_crlf,
                      const std::function<bool(std::string_view)>& sink);

std::string ZipErrorText(int zip_error);

}  // namespace kalo::unzip32
