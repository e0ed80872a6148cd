// What the tests of Wiz_SingleEntryUnzip share: callbacks that record what they saw, and
// a fixture that runs the library with the updater's own settings into a temp folder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "helpers/archive_builder.h"
#include "helpers/temp_folder.h"
#include "helpers/utf8_path.h"
#include "libs/file_times.h"
#include "unzip32.h"

namespace kalo::test {

namespace fs = std::filesystem;
using Files = std::set<std::string>;
using Contents = std::vector<std::pair<std::string, std::string>>;

inline constexpr std::time_t kTime = 1700000000;  // Even, so the DOS time keeps it exactly.

// What the callbacks saw. They get no context pointer, so the running test sets this one.
struct Recorder {
  std::string printed;
  std::deque<int32_t> replace_answers;
  std::vector<std::string> replace_asked;
  std::deque<std::string> passwords;  // An empty answer refuses.
  std::vector<std::string> password_asked;
  std::vector<std::string> listed;
  std::string listed_time;  // Of the last entry listed.
  std::vector<std::string> serviced;
  std::size_t abort_at_service = 0;
  std::function<void()> on_service;  // Runs inside the library, before each entry.
  bool abort_print = false;
};
inline Recorder* recorder = nullptr;

inline int32_t UNZIP32_CALL OnPrint(const char* text, uint32_t length) {
  recorder->printed.append(text, length);
  return recorder->abort_print ? 1 : 0;
}
inline int32_t UNZIP32_CALL OnReplace(char* name) {
  recorder->replace_asked.emplace_back(name);
  if (recorder->replace_answers.empty()) {
    return 0;
  }
  const int32_t answer = recorder->replace_answers.front();
  recorder->replace_answers.pop_front();
  return answer;
}
inline int32_t UNZIP32_CALL OnPassword(char* buffer, int32_t size, const char*, const char* entry) {
  recorder->password_asked.emplace_back(entry);
  std::string answer;
  if (!recorder->passwords.empty()) {
    answer = recorder->passwords.front();
    recorder->passwords.pop_front();
  }
  std::strncpy(buffer, answer.c_str(), static_cast<std::size_t>(size));
  return answer.empty() ? 1 : 0;
}
inline void UNZIP32_CALL OnList(int32_t size, uint32_t, uint16_t, uint16_t month, uint16_t day,
                                uint16_t year, uint16_t hour, uint16_t minute, uint8_t is_folder,
                                const char* name, const char* method, uint32_t, uint8_t encrypted) {
  char line[200];
  std::snprintf(line, sizeof line, "%s %d %s%s%s", name, size, method, is_folder ? " folder" : "",
                encrypted ? " encrypted" : "");
  recorder->listed.emplace_back(line);
  std::snprintf(line, sizeof line, "%04d-%02d-%02d %02d:%02d", year, month, day, hour, minute);
  recorder->listed_time = line;
}
inline int32_t UNZIP32_CALL OnService(const char* name, uint32_t length) {
  recorder->serviced.emplace_back(name, length);
  if (recorder->on_service) {
    recorder->on_service();
  }
  return recorder->serviced.size() == recorder->abort_at_service ? 1 : 0;
}

// Everything below `root`, folders with a trailing slash and links with " ->".
inline Files Tree(const std::string& root) {
  Files files;
  for (const auto& item : fs::recursive_directory_iterator(FromUtf8(root))) {
    std::string name = item.path().lexically_relative(FromUtf8(root)).generic_string();
    name += item.is_symlink() ? " ->" : item.is_directory() ? "/" : "";
    files.insert(name);
  }
  return files;
}

// A file's bytes, read in one piece: ReadWholeFile takes seconds over the large entries
// in a Debug build.
inline std::string ReadLarge(const std::string& path) {
  std::error_code error;
  const auto size = fs::file_size(FromUtf8(path), error);
  if (error) {
    return "(no file)";
  }
  std::string bytes(size, '\0');
  std::ifstream(FromUtf8(path), std::ios::binary)
      .read(bytes.data(), static_cast<std::streamsize>(size));
  return bytes;
}

// A row of a table of archives that try to write outside the destination: `prepare`
// puts something in the way first, in the destination that Out() names.
struct ConfinementCase {
  ArchiveBuilder archive;
  std::function<void()> prepare;
  int32_t result;
  std::optional<Files> tree;  // What the destination holds afterwards, where it is certain.
};

// Writes a test archive to a path: libzip through ArchiveBuilder, or another writer.
using WriteArchive = std::function<void(const std::string& path, const Contents& contents)>;

// An archive of a writer and what it should look like.
struct WriterCase {
  const char* writer;
  WriteArchive write;
  bool with_large;   // With an entry too large to inflate in one piece, so that it streams.
  bool descriptors;  // Sizes and CRC in data descriptors (general purpose bit 3).
  bool zip64;
  bool encrypted;  // With the password "pw".
};

class Unzip32Test : public ::testing::Test {
 protected:
  Unzip32Test() {
    recorder = &calls_;
    // The values of the updater's own call.
    command_.MessageLevel = 2;
    command_.OverWriteFiles = 1;
    command_.CaseSensitive = 1;
    command_.ExtractDir = out_.c_str();
  }
  ~Unzip32Test() override { recorder = nullptr; }

  int32_t Unzip(const std::string& archive, std::vector<std::string> includes = {},
                std::vector<std::string> excludes = {}) {
    const auto slots = [](std::vector<std::string>& names) {
      std::vector<char*> list(UNZIP32_NAME_LIST_SLOTS, nullptr);
      std::transform(names.begin(), names.end(), list.begin(), [](auto& n) { return n.data(); });
      return list;
    };
    command_.ZipFileName = archive.c_str();
    return Wiz_SingleEntryUnzip(static_cast<int32_t>(includes.size()), slots(includes).data(),
                                static_cast<int32_t>(excludes.size()), slots(excludes).data(),
                                &command_, &callbacks_);
  }
  std::string Out(const std::string& name) const { return out_ + "/" + name; }
  // Starts the next row of a table with an empty destination.
  void ClearOut() const {
    fs::remove_all(FromUtf8(out_));
    fs::create_directory(FromUtf8(out_));
  }

  // Writes the case's archive, checks that it has the expected form, and unpacks it.
  void ExpectUnpacks(const WriterCase& c);
  // Unpacks each row's archive and checks that the folder beside the destination,
  // Outside(), kept its one file.
  void ExpectConfined(const std::vector<ConfinementCase>& cases);
  std::string Outside(const std::string& name) const { return temp_ / ("outside/" + name); }

  TempFolder temp_;
  std::string out_ = temp_ / "out";
  std::string zip_ = temp_ / "test.zip";
  Recorder calls_;
  UnzipCommand command_{};
  UnzipCallbacks callbacks_{OnPrint, nullptr, OnReplace, OnPassword, OnList, OnService,
                            0,       0,       0,         0,          0};
};

inline void Unzip32Test::ExpectUnpacks(const WriterCase& c) {
  SCOPED_TRACE(c.writer);
  // Sizes that leave nothing to a lucky buffer boundary.
  std::string binary(300000, '\0');
  for (std::size_t i = 0; i < binary.size(); ++i) {
    binary[i] = static_cast<char>((i * 2654435761U) >> 13);
  }
  std::string text;
  for (int line = 0; text.size() < 100000; ++line) {
    text += "line " + std::to_string(line) + " of the text entry\n";
  }
  Contents contents = {{"empty.txt", ""}, {"docs/text.txt", text}, {"data.bin", binary}};
  if (c.with_large) {
    contents.emplace_back("large.bin", std::string(std::size_t{17} << 20, 'L') + binary);
  }
  ClearOut();
  c.write(zip_, contents);
  const std::string bytes = ReadLarge(zip_);
  ASSERT_EQ(bytes.compare(0, 4, "PK\x03\x04"), 0);
  EXPECT_EQ((bytes[6] & 0x08) != 0, c.descriptors);
  EXPECT_EQ(bytes.find("PK\x06\x06") != std::string::npos, c.zip64);
  calls_ = {};
  calls_.passwords = {"pw"};
  command_.HonorDirectories = 1;
  EXPECT_EQ(Unzip(zip_), UNZIP32_OK) << calls_.printed;
  EXPECT_EQ(calls_.password_asked.size(), c.encrypted ? 1u : 0u);
  for (const auto& [name, content] : contents) {
    EXPECT_TRUE(ReadLarge(Out(name)) == content) << name;
  }
}

inline void Unzip32Test::ExpectConfined(const std::vector<ConfinementCase>& cases) {
  fs::create_directory(FromUtf8(Outside("")));
  temp_.Write("outside/target.txt", "keep");
  command_.HonorDirectories = 1;
  for (const ConfinementCase& c : cases) {
    SCOPED_TRACE(&c - cases.data());
    ClearOut();
    if (c.prepare) {
      c.prepare();
    }
    EXPECT_EQ(Unzip(c.archive.Write(zip_)), c.result);
    if (c.tree) {
      EXPECT_EQ(Tree(out_), *c.tree);
    }
    EXPECT_EQ(Tree(Outside("")), Files{"target.txt"});
    EXPECT_EQ(ReadWholeFile(Outside("target.txt")), "keep");
  }
}

}  // namespace kalo::test
