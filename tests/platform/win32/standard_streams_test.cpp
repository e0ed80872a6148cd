// Text written for the user reaches a console as characters, whatever its code page,
// and a file as the UTF-8 bytes written.
#include "platform/standard_streams.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <memory>
#include <sstream>
#include <string>
#include <utility>

#include "helpers/temp_folder.h"
#include "helpers/utf8_path.h"

namespace {

using kalo::platform::ConsoleText;
using kalo::platform::StandardStream;

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using OwnedHandle = std::unique_ptr<void, HandleCloser>;

// The process's standard handles are put back as they were when it goes.
class StandardHandlesKept {
 public:
  StandardHandlesKept() = default;
  ~StandardHandlesKept() {
    for (std::size_t i = 0; i < kWhich.size(); ++i) {
      SetStdHandle(kWhich[i], kept_[i]);
    }
  }
  StandardHandlesKept(const StandardHandlesKept&) = delete;
  StandardHandlesKept& operator=(const StandardHandlesKept&) = delete;

 private:
  static constexpr std::array<DWORD, 3> kWhich = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE,
                                                  STD_ERROR_HANDLE};
  const std::array<HANDLE, 3> kept_ = {GetStdHandle(kWhich[0]), GetStdHandle(kWhich[1]),
                                       GetStdHandle(kWhich[2])};
};

// Writes a line to a stream that writes through the console buffer of a standard
// output leading to `output`, a character cut in two between writes as a stream may
// pass it on; answers what reached the stream's own buffer instead.
std::string BytesKeptWhenWritingTo(HANDLE output) {
  SetStdHandle(STD_OUTPUT_HANDLE, output);
  std::ostringstream stream;
  const ConsoleText text(stream, StandardStream::kOutput);
  stream << "Versões não" << '\xc3' << "\xa7\n";
  return stream.str();
}

// A console of the test's own, and a screen of it; the test frees the console.
OwnedHandle OwnConsoleScreen() {
  FreeConsole();
  EXPECT_TRUE(AllocConsole());
  return OwnedHandle(CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                               CONSOLE_TEXTMODE_BUFFER, nullptr));
}

// A file of the test's own, to write to.
OwnedHandle NewFile(const kalo::test::TempFolder& folder) {
  return OwnedHandle(CreateFileW(kalo::test::FromUtf8(folder / "out.txt").c_str(), GENERIC_WRITE, 0,
                                 nullptr, CREATE_NEW, 0, nullptr));
}

TEST(ConsoleTextOnWindows, AConsoleGetsCharactersAFileTheBytesWritten) {
  const StandardHandlesKept kept;
  const OwnedHandle screen = OwnConsoleScreen();
  ASSERT_NE(screen.get(), INVALID_HANDLE_VALUE);
  // In the code page of a Portuguese cmd window, where UTF-8 bytes would come out as
  // "Vers├Áes".
  ASSERT_TRUE(SetConsoleOutputCP(850));
  EXPECT_EQ(BytesKeptWhenWritingTo(screen.get()), "");
  std::array<wchar_t, 12> shown{};
  DWORD read = 0;
  ASSERT_TRUE(ReadConsoleOutputCharacterW(screen.get(), shown.data(),
                                          static_cast<DWORD>(shown.size()), {0, 0}, &read));
  EXPECT_EQ(std::wstring(shown.data(), read), L"Versões nãoç");
  FreeConsole();

  const kalo::test::TempFolder folder;
  const OwnedHandle file = NewFile(folder);
  ASSERT_NE(file.get(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(BytesKeptWhenWritingTo(file.get()), "Versões nãoç\n");
}

TEST(ConsoleTextOnWindows, OnlyAConsoleIsATerminalNotAPipeOrAFile) {
  const StandardHandlesKept kept;
  const OwnedHandle screen = OwnConsoleScreen();
  ASSERT_NE(screen.get(), INVALID_HANDLE_VALUE);
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 0));
  const OwnedHandle pipe_read(read_end);
  const OwnedHandle pipe_write(write_end);
  const kalo::test::TempFolder folder;
  const OwnedHandle file = NewFile(folder);
  ASSERT_NE(file.get(), INVALID_HANDLE_VALUE);

  for (const auto& [which, handle_id] : {std::pair{StandardStream::kOutput, STD_OUTPUT_HANDLE},
                                         std::pair{StandardStream::kError, STD_ERROR_HANDLE}}) {
    const auto terminal_with = [&](HANDLE handle) {
      SetStdHandle(handle_id, handle);
      return kalo::platform::IsTerminal(which);
    };
    EXPECT_TRUE(terminal_with(screen.get()));
    EXPECT_FALSE(terminal_with(pipe_write.get()));
    EXPECT_FALSE(terminal_with(file.get()));
  }
  FreeConsole();
}

}  // namespace
