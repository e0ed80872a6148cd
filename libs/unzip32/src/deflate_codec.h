// CRC-32 and whole-buffer inflating, from libdeflate when the build has it and from zlib
// otherwise. deflate_codec.cpp is the only file that knows which.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace kalo::unzip32 {

// Continues `crc` (0 to start) over `bytes`.
std::uint32_t Crc32(std::uint32_t crc, std::string_view bytes);

// The largest entry, compressed or not, that is inflated whole; larger ones stream. Both
// buffers of one entry then stay well inside the library's 64 MiB memory budget.
constexpr std::size_t kWholeEntryLimit = std::size_t{16} << 20;

enum class WholeResult { kOk, kBadData, kWrongSize, kNoMemory };

// Inflates a complete raw deflate stream in one step. One object serves a whole run, so
// that its state is allocated once and not per entry.
class WholeInflater {
 public:
  WholeInflater();
  WholeInflater(const WholeInflater&) = delete;
  WholeInflater& operator=(const WholeInflater&) = delete;
  ~WholeInflater();

  // Succeeds only when `in` inflates to exactly `out_size` bytes; neither may exceed
  // kWholeEntryLimit. `out` is valid even when `out_size` is 0.
  WholeResult Inflate(std::string_view in, char* out, std::size_t out_size);

 private:
  struct State;                   // the backend's decompressor
  std::unique_ptr<State> state_;  // made at first use
};

}  // namespace kalo::unzip32
