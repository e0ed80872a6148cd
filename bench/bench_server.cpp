// kalo_bench_server FOLDER [MB_PER_SECOND [CUT_AFTER_MIB]]: serves FOLDER's files at
// their paths (no part starting with a dot) on a free loopback port, printing the port on the first
// line. Files are streamed from disk, so the server's memory does not grow with their size, and
// ranges are answered (with an ETag), as a static server does. With MB_PER_SECOND (10^6 bytes; 0
// for no limit) each response is paced to that rate, as a server behind a slower link sends; with
// CUT_AFTER_MIB every connection is cut after that much of a body, as a flaky link does. /__sent
// answers the body bytes sent so far.
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

// Holds a response back until `sent` bytes are due at `bytes_per_second` since `start`.
void Pace(std::chrono::steady_clock::time_point start, std::size_t sent, double bytes_per_second) {
  const auto due =
      start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                  std::chrono::duration<double>(static_cast<double>(sent) / bytes_per_second));
  std::this_thread::sleep_until(due);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::cerr << "usage: kalo_bench_server FOLDER [MB_PER_SECOND [CUT_AFTER_MIB]]\n";
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  const double bytes_per_second = argc >= 3 ? std::stod(argv[2]) * 1e6 : 0;
  const std::size_t cut_after = argc == 4 ? std::stoul(argv[3]) << 20 : 0;
  std::atomic<std::uint64_t> sent{0};
  httplib::Server server;
  server.Get("/__sent", [&sent](const httplib::Request&, httplib::Response& response) {
    response.set_content(std::to_string(sent.load()), "text/plain");
  });
  server.Get(R"(/((?:[^/.][^/]*/)*[^/.][^/]*))", [&folder, bytes_per_second, cut_after, &sent](
                                                     const httplib::Request& request,
                                                     httplib::Response& response) {
    const std::filesystem::path path = folder / std::string(request.matches[1]);
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error) {
      response.status = 404;
      return;
    }
    // Appended piece by piece: GCC 12 warns falsely on "literal" + temporary when optimising.
    std::string etag = "\"";
    etag.append(std::to_string(size)).append("\"");
    response.set_header("ETag", etag);
    auto file = std::make_shared<std::ifstream>(path, std::ios::binary);
    const auto start = std::chrono::steady_clock::now();
    // Where this answer's body starts in the file: its range's first byte.
    auto first = std::make_shared<std::optional<std::size_t>>();
    response.set_content_provider(
        size, "application/octet-stream",
        [file, start, bytes_per_second, cut_after, first, &sent](
            std::size_t offset, std::size_t length, httplib::DataSink& sink) {
          if (!*first) {
            *first = offset;
          }
          if (cut_after > 0 && offset - **first >= cut_after) {
            return false;  // the link drops
          }
          // Paced responses go in smaller pieces, so the rate holds over short stretches.
          static thread_local std::vector<char> buffer(1 << 20);
          std::size_t piece = bytes_per_second > 0 ? 64 * 1024 : buffer.size();
          if (cut_after > 0) {
            piece = std::min(piece, **first + cut_after - offset);
          }
          if (bytes_per_second > 0) {
            Pace(start, offset - **first, bytes_per_second);
          }
          file->seekg(static_cast<std::streamoff>(offset));
          file->read(buffer.data(), static_cast<std::streamsize>(std::min(length, piece)));
          const auto got = static_cast<std::size_t>(file->gcount());
          sent += got;
          sink.write(buffer.data(), got);
          return got > 0;
        });
  });
  const int port = server.bind_to_any_port("127.0.0.1");
  std::cout << port << std::endl;
  server.listen_after_bind();
}
