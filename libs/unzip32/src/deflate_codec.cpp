#include "deflate_codec.h"

// The build defines UNZIP32_WITH_LIBDEFLATE when libdeflate was found: it inflates whole
// buffers about twice as fast as zlib and computes CRC-32 several times faster.
#if UNZIP32_WITH_LIBDEFLATE

#include <libdeflate.h>

#include <memory>

namespace kalo::unzip32 {

std::uint32_t Crc32(std::uint32_t crc, std::string_view bytes) {
  return libdeflate_crc32(crc, bytes.data(), bytes.size());
}

struct WholeInflater::State {
  struct Free {
    void operator()(libdeflate_decompressor* decompressor) const {
      libdeflate_free_decompressor(decompressor);
    }
  };
  std::unique_ptr<libdeflate_decompressor, Free> decompressor{libdeflate_alloc_decompressor()};
};

WholeInflater::WholeInflater() = default;
WholeInflater::~WholeInflater() = default;

WholeResult WholeInflater::Inflate(std::string_view in, char* out, std::size_t out_size) {
  if (!state_) {
    auto state = std::make_unique<State>();
    if (!state->decompressor) {
      return WholeResult::kNoMemory;
    }
    state_ = std::move(state);
  }
  // Without a place for the actual size, libdeflate insists on exactly `out_size` bytes.
  switch (libdeflate_deflate_decompress(state_->decompressor.get(), in.data(), in.size(), out,
                                        out_size, nullptr)) {
    case LIBDEFLATE_SUCCESS:
      return WholeResult::kOk;
    case LIBDEFLATE_SHORT_OUTPUT:
    case LIBDEFLATE_INSUFFICIENT_SPACE:
      return WholeResult::kWrongSize;
    default:
      return WholeResult::kBadData;
  }
}

}  // namespace kalo::unzip32

#else

#include <zlib.h>

#include <memory>

namespace kalo::unzip32 {

static_assert(kWholeEntryLimit <= UINT32_MAX, "zlib counts buffer sizes in 32 bits");

std::uint32_t Crc32(std::uint32_t crc, std::string_view bytes) {
  return static_cast<std::uint32_t>(
      crc32_z(crc, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
}

struct WholeInflater::State {
  z_stream stream{};
  bool ready = false;
  ~State() {
    if (ready) {
      inflateEnd(&stream);
    }
  }
};

WholeInflater::WholeInflater() = default;
WholeInflater::~WholeInflater() = default;

WholeResult WholeInflater::Inflate(std::string_view in, char* out, std::size_t out_size) {
  if (!state_) {
    auto state = std::make_unique<State>();
    // Negative window bits: the raw deflate data of a zip entry, without a zlib header.
    state->ready = inflateInit2(&state->stream, -MAX_WBITS) == Z_OK;
    if (!state->ready) {
      return WholeResult::kNoMemory;
    }
    state_ = std::move(state);
  }
  z_stream& stream = state_->stream;
  inflateReset(&stream);
  stream.next_in = const_cast<Bytef*>(reinterpret_cast<const Bytef*>(in.data()));
  stream.avail_in = static_cast<uInt>(in.size());
  stream.next_out = reinterpret_cast<Bytef*>(out);
  stream.avail_out = static_cast<uInt>(out_size);
  // One call with Z_FINISH lets zlib skip its sliding window copy.
  const int result = inflate(&stream, Z_FINISH);
  if (result == Z_STREAM_END) {
    return stream.avail_out == 0 ? WholeResult::kOk : WholeResult::kWrongSize;
  }
  if (result == Z_MEM_ERROR) {
    return WholeResult::kNoMemory;
  }
  // A full output before the end of the stream means more bytes than declared; anything
  // else is damaged or cut-off data.
  return result == Z_BUF_ERROR && stream.avail_out == 0 ? WholeResult::kWrongSize
                                                        : WholeResult::kBadData;
}

}  // namespace kalo::unzip32

#endif
