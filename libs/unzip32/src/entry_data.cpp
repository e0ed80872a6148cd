#include "entry_data.h"

#include <zlib.h>

#include <algorithm>
#include <vector>

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

// Large enough that inflate spends its time in its fast loop rather than refilling.
constexpr std::size_t kCompressedChunk = 256 * 1024;

}  // namespace

struct EntryStream::Inflater {
  z_stream stream{};
  std::vector<unsigned char> input = std::vector<unsigned char>(kCompressedChunk);
  zip_uint32_t expected_crc = 0;
  uLong crc = crc32(0, nullptr, 0);
  bool input_ended = false;
  bool finished = false;
  int error = ZIP_ER_OK;
};

EntryStream::EntryStream(ZipFile decoded) : file_(std::move(decoded)) {}

EntryStream::EntryStream(ZipFile raw_deflate, zip_uint32_t expected_crc)
    : file_(std::move(raw_deflate)), inflater_(std::make_unique<Inflater>()) {
  inflater_->expected_crc = expected_crc;
  // Negative window bits: the raw deflate data of a zip entry, without a zlib header.
  if (inflateInit2(&inflater_->stream, -MAX_WBITS) != Z_OK) {
    inflater_->error = ZIP_ER_MEMORY;
  }
}

EntryStream::~EntryStream() {
  if (inflater_) {
    inflateEnd(&inflater_->stream);
  }
}

zip_int64_t EntryStream::Read(char* out, std::size_t size) {
  if (!inflater_) {
    return zip_fread(file_.get(), out, size);
  }
  return Inflate(out, size);
}

int EntryStream::ZipError() const {
  if (inflater_) {
    return inflater_->error;
  }
  return zip_error_code_zip(zip_file_get_error(file_.get()));
}

zip_int64_t EntryStream::Inflate(char* out, std::size_t size) {
  Inflater& state = *inflater_;
  if (state.error != ZIP_ER_OK) {
    return -1;
  }
  z_stream& stream = state.stream;
  stream.next_out = reinterpret_cast<Bytef*>(out);
  stream.avail_out = static_cast<uInt>(std::min<std::size_t>(size, UINT32_MAX));
  while (!state.finished && stream.avail_out > 0) {
    if (stream.avail_in == 0 && !state.input_ended) {
      const zip_int64_t read = zip_fread(file_.get(), state.input.data(), state.input.size());
      if (read < 0) {
        state.error = zip_error_code_zip(zip_file_get_error(file_.get()));
        return -1;
      }
      state.input_ended = read == 0;
      stream.next_in = state.input.data();
      stream.avail_in = static_cast<uInt>(read);
    }
    const uInt before = stream.avail_out;
    const int result = inflate(&stream, Z_NO_FLUSH);
    if (result == Z_STREAM_END) {
      state.finished = true;
    } else if (result == Z_DATA_ERROR || result == Z_MEM_ERROR || result == Z_NEED_DICT ||
               (result == Z_BUF_ERROR && state.input_ended && stream.avail_out == before)) {
      // Bad data, or compressed data that ends before the deflate stream does.
      state.error = result == Z_MEM_ERROR ? ZIP_ER_MEMORY : ZIP_ER_COMPRESSED_DATA;
      return -1;
    }
  }
  const std::size_t produced = size - stream.avail_out;
  state.crc = crc32(state.crc, reinterpret_cast<const Bytef*>(out), static_cast<uInt>(produced));
  if (state.finished && produced == 0 && state.crc != state.expected_crc) {
    state.error = ZIP_ER_CRC;
    return -1;
  }
  return static_cast<zip_int64_t>(produced);
}

DataOutcome PumpEntry(EntryStream& stream, zip_uint64_t declared_size, bool to_crlf,
                      const std::function<bool(std::string_view)>& sink) {
  std::vector<char> buffer(64 * 1024);
  LineEnds line_ends;
  bool first_block = true;
  zip_uint64_t total = 0;
  for (;;) {
    const zip_int64_t count = stream.Read(buffer.data(), buffer.size());
    if (count < 0) {
      return {DataResult::kCorrupt, stream.ZipError()};
    }
    if (count == 0) {
      break;
    }
    const auto length = static_cast<zip_uint64_t>(count);
    if (length > declared_size - total) {
      return {DataResult::kCorrupt, ZIP_ER_INCONS};
    }
    total += length;
    std::string_view block(buffer.data(), static_cast<std::size_t>(length));
    if (first_block) {
      to_crlf = to_crlf && LooksLikeText(block);
      first_block = false;
    }
    if (!sink(to_crlf ? line_ends.Convert(block) : block)) {
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
