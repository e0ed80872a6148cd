// kalo_bench_make_program PATH BODY_MIB [BUILD]: writes a Windows program for the
// publishing benchmarks, a PE with a version resource whose resource section lies after BODY_MIB
// MiB of incompressible bytes, so that a reader of the version that reads more than the
// headers and the resources shows in its memory. Written in pieces: the program may be
// larger than the memory this generator should take. BUILD (0 to 59, default 40) is the
// minute of its version's build time and seeds its body, so that each build is another
// program with a version of its own.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "helpers/pe_builder.h"

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::cerr << "usage: kalo_bench_make_program PATH BODY_MIB [BUILD]\n";
    return 2;
  }
  const auto build =
      static_cast<std::uint16_t>(argc == 4 ? std::strtoul(argv[3], nullptr, 10) % 60 : 40);
  const std::uint64_t body = std::strtoull(argv[2], nullptr, 10) << 20;
  // The builder puts the headers and a one-block code section before the resources; the
  // body goes between the two, and the section table says where the resources moved.
  constexpr std::size_t kResourcesAt = 0x400;
  kalo::test::PeOptions options;
  options.file_version =
      kalo::platform::FileVersion{2111, 2018, 0, static_cast<std::uint16_t>(1500 + build)};
  options.resource_raw_data = static_cast<std::uint32_t>(kResourcesAt + body);
  const std::vector<std::byte> image = kalo::test::BuildPe(options);
  const auto resources = image.begin() + kResourcesAt;

  std::ofstream out(argv[1], std::ios::binary);
  out.write(reinterpret_cast<const char*>(image.data()), kResourcesAt);
  std::mt19937_64 random(build);
  std::vector<std::uint64_t> piece(std::size_t{1} << 17);
  for (std::uint64_t written = 0; written < body && out;) {
    std::ranges::generate(piece, random);
    const std::uint64_t length = std::min<std::uint64_t>(body - written, piece.size() * 8);
    out.write(reinterpret_cast<const char*>(piece.data()), static_cast<std::streamsize>(length));
    written += length;
  }
  out.write(reinterpret_cast<const char*>(&*resources),
            static_cast<std::streamsize>(image.end() - resources));
  out.close();
  if (!out) {
    std::cerr << "could not write " << argv[1] << '\n';
    return 1;
  }
  return 0;
}
