// kalo_bench_make_archives FOLDER: writes the archives of the unpacking benchmark
// with libzip: many.zip (5,000 small files in 50 folders) and big.zip (one 256 MiB
// file). The contents are text-like, so inflating is real work.
#include <zip.h>

#include <cstdint>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

// A fixed sequence of words, so that every run benchmarks the same bytes.
class TextMaker {
 public:
  std::string Make(std::size_t size) {
    static const char* const kWords[] = {"kalo ",    "update ", "archive ",  "client ",
                                         "version ", "folder ", "manifest ", "\n"};
    std::string text;
    text.reserve(size + 16);
    while (text.size() < size) {
      state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
      text += kWords[state_ >> 61];
      text += std::to_string((state_ >> 20) & 0xFFFF);
    }
    text.resize(size);
    return text;
  }

 private:
  std::uint64_t state_ = 42;
};

struct ArchiveCloser {
  void operator()(zip_t* archive) const { zip_close(archive); }
};

bool Write(const std::string& path, const std::vector<std::pair<std::string, std::string>>& files) {
  int error = 0;
  std::unique_ptr<zip_t, ArchiveCloser> archive(
      zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error));
  if (!archive) {
    return false;
  }
  for (const auto& [name, content] : files) {
    zip_source_t* source = zip_source_buffer(archive.get(), content.data(), content.size(), 0);
    if (source == nullptr || zip_file_add(archive.get(), name.c_str(), source, 0) < 0) {
      zip_source_free(source);
      return false;
    }
  }
  return zip_close(archive.release()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: kalo_bench_make_archives FOLDER\n";
    return 2;
  }
  const std::string folder = argv[1];
  TextMaker maker;
  std::vector<std::pair<std::string, std::string>> many;
  for (int i = 0; i < 5000; ++i) {
    many.emplace_back("folder" + std::to_string(i % 50) + "/file" + std::to_string(i) + ".txt",
                      maker.Make(512 + static_cast<std::size_t>(i % 7) * 700));
  }
  const std::vector<std::pair<std::string, std::string>> big{
      {"big.bin", maker.Make(std::size_t{256} << 20)}};
  if (!Write(folder + "/many.zip", many) || !Write(folder + "/big.zip", big)) {
    std::cerr << "could not write the archives in " << folder << '\n';
    return 1;
  }
  return 0;
}
