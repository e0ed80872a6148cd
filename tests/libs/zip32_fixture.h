// What the tests of our zip library share: callbacks that record what they saw, a
// fixture that makes the three calls as the updater does, and readers of the archive.
#pragma once

#include <gtest/gtest.h>
#include <zip.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "helpers/temp_folder.h"
#include "helpers/utf8_path.h"
#include "libs/file_times.h"
#include "zip32.h"

namespace kalo::test {

namespace fs = std::filesystem;
using Contents = std::map<std::string, std::string>;

// Callbacks are plain C functions, so what they see and answer lives here.
struct CallbackLog {
  std::string printed;
  bool print_call_well_formed = true;
  int comment_calls = 0;
  std::string comment_answer;
  // Made while the archive is open, to make the final rename fail.
  std::string folder_to_make;
};
inline CallbackLog& Log() {
  static CallbackLog log;
  return log;
}

inline int32_t ZIP32_CALL Print(const char* text, uint32_t length) {
  Log().print_call_well_formed &= length < 4097 && std::strlen(text) == length;
  Log().printed.append(text, length);
  return 0;
}

inline char* ZIP32_CALL Comment(char* buffer) {
  ++Log().comment_calls;
  if (!Log().folder_to_make.empty()) {
    fs::create_directory(FromUtf8(Log().folder_to_make));
  }
  if (buffer[0] != '\0') {
    return nullptr;
  }
  std::strcpy(buffer, Log().comment_answer.c_str());
  return buffer;
}

struct Options {
  bool recurse = false;
  bool update = false;
  std::string root = "\\";
  bool comment_callback = true;
};

template <auto Free>
struct Deleter {
  template <typename T>
  void operator()(T* handle) const {
    Free(handle);
  }
};
using ZipHandle = std::unique_ptr<zip_t, Deleter<zip_discard>>;

inline ZipHandle OpenArchive(const std::string& path) {
  int error = 0;
  return ZipHandle(zip_open(path.c_str(), ZIP_RDONLY, &error));
}

inline Contents Read(const std::string& path, std::string* comment = nullptr) {
  const ZipHandle zip = OpenArchive(path);
  if (!zip) {
    ADD_FAILURE() << "cannot open " << path;
    return {};
  }
  Contents contents;
  for (zip_int64_t i = 0; i < zip_get_num_entries(zip.get(), 0); ++i) {
    const auto index = static_cast<zip_uint64_t>(i);
    zip_stat_t stat;
    zip_stat_index(zip.get(), index, 0, &stat);
    std::string data(stat.size, '\0');
    const std::unique_ptr<zip_file_t, Deleter<zip_fclose>> file(
        zip_fopen_index(zip.get(), index, 0));
    EXPECT_EQ(zip_fread(file.get(), data.data(), data.size()), static_cast<zip_int64_t>(stat.size));
    contents[stat.name] = data;
  }
  if (comment != nullptr) {
    const char* text = zip_get_archive_comment(zip.get(), nullptr, 0);
    *comment = text == nullptr ? "" : text;
  }
  return contents;
}

// What an entry keeps of its file besides the bytes.
struct StoredFacts {
  std::time_t mtime = 0;
  zip_uint16_t method = 0;
  zip_uint8_t system = 0;
  zip_uint32_t attributes = 0;
};

inline StoredFacts FactsOf(const std::string& archive, const std::string& name) {
  StoredFacts facts;
  const ZipHandle zip = OpenArchive(archive);
  zip_stat_t entry;
  if (!zip || zip_stat(zip.get(), name.c_str(), 0, &entry) != 0 ||
      zip_file_get_external_attributes(zip.get(), entry.index, 0, &facts.system,
                                       &facts.attributes) != 0) {
    ADD_FAILURE() << "no entry " << name << " in " << archive;
    return facts;
  }
  facts.mtime = entry.mtime;
  facts.method = entry.comp_method;
  return facts;
}

inline std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

// UTF-8 with slashes, as stored names are.
inline std::string Slashed(const fs::path& path) {
  const std::u8string text = path.generic_u8string();
  return {text.begin(), text.end()};
}

inline std::vector<std::string> FolderListing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(Utf8(entry.path().filename()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

class Zip32Test : public ::testing::Test {
 protected:
  void SetUp() override { Log() = CallbackLog{}; }

  // Runs the three calls as our caller does, names in a list of 100 slots.
  int32_t Zip(const std::string& archive, const std::vector<std::string>& names,
              const Options& options = {}) {
    ZipCallbacks callbacks{Print, nullptr, options.comment_callback ? Comment : nullptr, nullptr};
    ZipOptions record{};
    record.RecurseFolders = options.recurse ? 1 : 0;
    record.UpdateArchive = options.update ? 1 : 0;
    std::string root = options.root;
    record.RootDirectory = root.c_str();
    EXPECT_EQ(ZpInit(&callbacks), ZIP32_OK);
    EXPECT_EQ(ZpSetOptions(&record), ZIP32_OK);
    // The record's text must be copied: overwrite it before the archive call.
    root.assign(root.size(), 'x');
    std::vector<std::string> copies = names;
    std::vector<char*> slots(ZIP32_NAME_LIST_SLOTS, nullptr);
    for (size_t i = 0; i < copies.size(); ++i) {
      slots[i] = copies[i].data();
    }
    return ZpArchive(static_cast<int32_t>(names.size()), archive.c_str(), slots.data());
  }

  // With "sub/inner/loop" a link back to "sub", recursion stores the link's folder entry
  // but does not enter it, or it would never end.
  void ExpectLoopNotEntered() {
    ASSERT_EQ(Zip(archive_, {folder_ / "sub"}, {.recurse = true, .root = root_}), ZIP32_OK);
    EXPECT_EQ(Read(archive_),
              (Contents{{"sub/", ""}, {"sub/inner/", ""}, {"sub/inner/loop/", ""}}));
  }

  TempFolder folder_;
  const std::string archive_ = folder_ / "out.zip";
  const std::string root_ = Upper(Utf8(folder_.Path()));
  // The temp folder as stored without a root: its path without the root ("/", "C:\").
  const std::string as_given_ = Slashed(folder_.Path().relative_path());
};

}  // namespace kalo::test
