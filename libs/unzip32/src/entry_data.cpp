#include "entry_data.h"

#include <zlib.h>

#include <algorithm>

namespace kalo::unzip32 {
namespace {

// Text has no NUL and no control characters beyond the usual layout ones; the check
// runs on the first block only, so a binary tail in a text file is not seen.
bool LooksLikeText(std::string_view block) {
  return std::none_of(block.begin(), block.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != 0x1A &&
           c != 0x1B;
  });
}

// Turns lone LF and lone CR into CR LF; a CR at the end of one block may pair with an
// LF at the start of the next.
class LineEnds {
 public:
  std::string_view Convert(std::string_view in) {
    out_.clear();
    for (const char c : in) {
      if (after_cr_) {
        after_cr_ = false;
        out_ += '\n';
        if (c == '\n') {
          continue;
        }
      }
      if (c == '\r') {
        out_ += '\r';
        after_cr_ = true;
      } else if (c == '\n') {
        out_ += "\r\n";
      } else {
        out_ += c;
      }
    }
    return out_;
  }
  std::string_view Finish() { return after_cr_ ? "\n" : ""; }

 private:
  std::string out_;
  bool after_cr_ = false;
};

// Blocks of entries that do not come in one piece. Large enough that zlib spends its time
// in its fast loop and copies its 32 KiB window rarely.
constexpr std::size_t kBlockSize = 256 * 1024;
// The start of an entry that decides whether it is text.
constexpr std::size_t kTextSniffSize = 64 * 1024;

}  // namespace

char* Buffer::Reserve(std::size_t size) {
  if (!data_ || size > capacity_) {
    capacity_ = std::max<std::size_t>(size, 1);
    data_.reset();  // The old bytes are not needed; free them before asking for more.
    data_ = std::make_unique_for_overwrite<char[]>(capacity_);
  }
  return data_.get();
}

struct Workspace::Stream {
  z_stream z{};
  bool ready = false;
};

Workspace::Workspace() : stream_(std::make_unique<Stream>()) {}

Workspace::~Workspace() {
  if (stream_->ready) {
    inflateEnd(&stream_->z);
  }
}

EntryStream::EntryStream(ZipFile file, Encoding encoding, const EntryFacts& facts,
                         Workspace& workspace)
    : file_(std::move(file)),
      encoding_(encoding),
      facts_(facts),
      workspace_(workspace),
      whole_(facts.size <= kWholeEntryLimit && facts.compressed_size <= kWholeEntryLimit) {
  if (encoding_ != Encoding::kDeflated || whole_) {
    return;
  }
  Workspace::Stream& stream = *workspace_.stream_;
  // Negative window bits: the raw deflate data of a zip entry, without a zlib header.
  if (!stream.ready) {
    stream.ready = inflateInit2(&stream.z, -MAX_WBITS) == Z_OK;
  } else {
    inflateReset(&stream.z);
  }
  stream.z.avail_in = 0;
  if (!stream.ready) {
    error_ = ZIP_ER_MEMORY;
  }
}

std::optional<std::string_view> EntryStream::Next() {
  if (error_ != ZIP_ER_OK) {
    return std::nullopt;
  }
  if (encoding_ == Encoding::kDecoded) {
    return ReadDecoded();
  }
  return whole_ ? ReadWhole() : ReadDeflated();
}

std::optional<std::string_view> EntryStream::ReadWhole() {
  if (finished_) {
    return std::string_view();
  }
  finished_ = true;
  const auto raw_size = static_cast<std::size_t>(facts_.compressed_size);
  const std::optional<std::string_view> raw =
      ReadRaw(workspace_.input_.Reserve(raw_size), raw_size);
  if (!raw) {
    return std::nullopt;
  }
  if (raw->size() != raw_size) {
    return Fail(ZIP_ER_EOF);
  }
  const auto size = static_cast<std::size_t>(facts_.size);
  char* out = workspace_.output_.Reserve(size);
  switch (workspace_.whole_.Inflate(*raw, out, size)) {
    case WholeResult::kOk:
      break;
    case WholeResult::kWrongSize:
      return Fail(ZIP_ER_INCONS);
    case WholeResult::kNoMemory:
      return Fail(ZIP_ER_MEMORY);
    case WholeResult::kBadData:
      return Fail(ZIP_ER_COMPRESSED_DATA);
  }
  // The whole entry is checked before any of it is written.
  const std::string_view data(out, size);
  if (Crc32(0, data) != facts_.crc) {
    return Fail(ZIP_ER_CRC);
  }
  return data;
}

std::optional<std::string_view> EntryStream::ReadDecoded() {
  char* out = workspace_.output_.Reserve(kBlockSize);
  const zip_int64_t read = zip_fread(file_.get(), out, kBlockSize);
  if (read < 0) {
    return Fail(zip_error_code_zip(zip_file_get_error(file_.get())));
  }
  return std::string_view(out, static_cast<std::size_t>(read));
}

std::optional<std::string_view> EntryStream::ReadDeflated() {
  std::string_view block;
  const int error = InflateBlock(workspace_.output_.Reserve(kBlockSize), block);
  return error == ZIP_ER_OK ? Checked(block) : Fail(error);
}

int EntryStream::InflateBlock(char* out, std::string_view& block) {
  z_stream& stream = workspace_.stream_->z;
  stream.next_out = reinterpret_cast<Bytef*>(out);
  stream.avail_out = static_cast<uInt>(kBlockSize);
  while (!finished_ && stream.avail_out > 0) {
    if (stream.avail_in == 0 && !input_ended_) {
      char* in = workspace_.input_.Reserve(kBlockSize);
      const zip_int64_t read = zip_fread(file_.get(), in, kBlockSize);
      if (read < 0) {
        return zip_error_code_zip(zip_file_get_error(file_.get()));
      }
      input_ended_ = read == 0;
      stream.next_in = reinterpret_cast<Bytef*>(in);
      stream.avail_in = static_cast<uInt>(read);
    }
    const uInt before = stream.avail_out;
    const int result = inflate(&stream, Z_NO_FLUSH);
    if (result == Z_STREAM_END) {
      finished_ = true;
    } else if (result == Z_DATA_ERROR || result == Z_MEM_ERROR || result == Z_NEED_DICT ||
               (result == Z_BUF_ERROR && input_ended_ && stream.avail_out == before)) {
      // Bad data, or compressed data that ends before the deflate stream does.
      return result == Z_MEM_ERROR ? ZIP_ER_MEMORY : ZIP_ER_COMPRESSED_DATA;
    }
  }
  block = std::string_view(out, kBlockSize - stream.avail_out);
  return ZIP_ER_OK;
}

std::optional<std::string_view> EntryStream::ReadRaw(char* into, std::size_t size) {
  const zip_int64_t read = zip_fread(file_.get(), into, size);
  if (read < 0) {
    return Fail(zip_error_code_zip(zip_file_get_error(file_.get())));
  }
  return std::string_view(into, static_cast<std::size_t>(read));
}

std::optional<std::string_view> EntryStream::Checked(std::string_view block) {
  if (block.empty() && crc_ != facts_.crc) {
    return Fail(ZIP_ER_CRC);
  }
  crc_ = Crc32(crc_, block);
  return block;
}

std::optional<std::string_view> EntryStream::Fail(int zip_error) {
  error_ = zip_error;
  return std::nullopt;
}

DataOutcome PumpEntry(EntryStream& stream, zip_uint64_t declared_size, bool to_crlf,
                      const std::function<bool(std::string_view)>& sink) {
  LineEnds line_ends;
  bool first_block = true;
  zip_uint64_t total = 0;
  for (;;) {
    const std::optional<std::string_view> block = stream.Next();
    if (!block) {
      return {DataResult::kCorrupt, stream.ZipError()};
    }
    if (block->empty()) {
      break;
    }
    if (block->size() > declared_size - total) {
      return {DataResult::kCorrupt, ZIP_ER_INCONS};
    }
    total += block->size();
    if (first_block) {
      to_crlf = to_crlf && LooksLikeText(block->substr(0, kTextSniffSize));
      first_block = false;
    }
    if (!sink(to_crlf ? line_ends.Convert(*block) : *block)) {
      return {DataResult::kSinkFailed, ZIP_ER_OK};
    }
  }
  if (total != declared_size) {
    return {DataResult::kCorrupt, ZIP_ER_INCONS};
  }
  if (to_crlf && !line_ends.Finish().empty() && !sink(line_ends.Finish())) {
    return {DataResult::kSinkFailed, ZIP_ER_OK};
  }
  return {DataResult::kOk, ZIP_ER_OK};
}

std::string ZipErrorText(int zip_error) {
  zip_error_t error;
  zip_error_init_with_code(&error, zip_error);
  std::string text = zip_error_strerror(&error);
  zip_error_fini(&error);
  return text;
}

}  // namespace kalo::unzip32
