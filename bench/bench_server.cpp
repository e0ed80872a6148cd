// kalo_bench_server FOLDER: serves FOLDER's files at /<name> on a free loopback
// port, printing the port on the first line. Files are streamed from disk, so the
// server's memory does not grow with their size.
#include <httplib.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: kalo_bench_server FOLDER\n";
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  httplib::Server server;
  server.Get(R"(/([^/]+))", [&folder](const httplib::Request& request,
                                      httplib::Response& response) {
    const std::filesystem::path path = folder / std::string(request.matches[1]);
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error) {
      response.status = 404;
      return;
    }
    auto file = std::make_shared<std::ifstream>(path, std::ios::binary);
    response.set_content_provider(
        size, "application/octet-stream",
        [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
          static thread_local std::vector<char> buffer(1 << 20);
          file->seekg(static_cast<std::streamoff>(offset));
          file->read(buffer.data(), static_cast<std::streamsize>(std::min(length, buffer.size())));
          sink.write(buffer.data(), static_cast<std::size_t>(file->gcount()));
          return file->gcount() > 0;
        });
  });
  const int port = server.bind_to_any_port("127.0.0.1");
  std::cout << port << std::endl;
  server.listen_after_bind();
}
