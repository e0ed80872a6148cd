// Reading entry data out of libzip, with the checks that libzip leaves to its callers.
#pragma once

#include <zip.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace kalo::unzip32 {

struct ZipDiscard {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct ZipFileClose {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using ZipArchive = std::unique_ptr<zip_t, ZipDiscard>;
using ZipFile = std::unique_ptr<zip_file_t, ZipFileClose>;

// The bytes of one entry as they were before compression. Deflated entries that are
// not encrypted are inflated here from their raw data, with far larger buffers than
// libzip's own reader uses, and checked against the entry's CRC; everything else is
// decoded by libzip.
class EntryStream {
 public:
  explicit EntryStream(ZipFile decoded);
  EntryStream(ZipFile raw_deflate, zip_uint32_t expected_crc);
  EntryStream(const EntryStream&) = delete;
  EntryStream& operator=(const EntryStream&) = delete;
  ~EntryStream();

  // Up to `size` bytes; 0 at the end of the entry; -1 on an error, see ZipError().
  zip_int64_t Read(char* out, std::size_t size);
  int ZipError() const;

 private:
  struct Inflater;
  zip_int64_t Inflate(char* out, std::size_t size);

  ZipFile file_;
  std::unique_ptr<Inflater> inflater_;
};

enum class DataResult { kOk, kCorrupt, kSinkFailed };

struct DataOutcome {
  DataResult result;
  int zip_error;  // The libzip error code of kCorrupt.
};

// Reads an entry to its end and hands its bytes to `sink`, which returns false to stop.
// libzip checks the CRC but not the size, so more or fewer bytes than `declared_size`
// count as corruption (ZIP_ER_INCONS); no byte past the declared size reaches the sink.
// With `to_crlf`, an entry whose first block looks like text gets CR LF line ends.
DataOutcome PumpEntry(EntryStream& stream, zip_uint64_t declared_size, bool to_crlf,
                      const std::function<bool(std::string_view)>& sink);

std::string ZipErrorText(int zip_error);

}  // namespace kalo::unzip32
