#include "support/transfers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <vector>

#include "helpers/fake_ui.h"
#include "helpers/temp_folder.h"
#include "helpers/test_server.h"
#include "platform/internet_transfer.h"
#include "support/text.h"

namespace {

using kalo::test::Fault;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

class DownloadFileTest : public testing::Test {
 protected:
  // True when the download succeeded; else `reason`, when given, says why.
  bool Download(const std::string& name, const std::string& target, bool show_error,
                std::string* reason = nullptr,
                std::optional<std::uint64_t> max_bytes = std::nullopt,
                std::optional<kalo::platform::Sha256Digest> sha256 = std::nullopt) {
    const auto failure = cUpdate::DownloadFile(cUpdate::TransferControl(owner_),
                                               server_.BaseAddress() + "/trabalho/versao/" + name,
                                               target, show_error, ui_, {max_bytes, sha256});
    if (failure) {
      // The caller names the step; the reason never repeats the address.
      EXPECT_EQ(failure->step, "");
      EXPECT_EQ(failure->reason.find(server_.BaseAddress()), std::string::npos) << failure->reason;
    }
    if (reason != nullptr) {
      *reason = failure ? failure->reason : "";
    }
    return !failure;
  }

  std::size_t FilesInFolder() const {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder_.Path()), fs::directory_iterator()));
  }

  kalo::test::TestServer server_;
  kalo::test::TempFolder folder_;
  // A clock that never moves: no download here is slow enough to stall.
  kalo::test::FakeClock clock_;
  kalo::test::FakeUi ui_{&clock_};
  int made_ = 0;
  cUpdate::TransferControlOwner owner_{[this] {
    ++made_;
    return kalo::platform::MakeInternetTransfer(ui_, clock_, {2s, 300ms});
  }};
};

TEST_F(DownloadFileTest, WritesTheBodyByteForByte) {
  std::string content;
  for (int i = 0; i < 3 << 20; ++i) {
    content += static_cast<char>((i * 7) % 256);
  }
  server_.SetFile("acme-exe-201012011530.zip", content);
  const std::string target = folder_ / "acme-exe-201012011530.zip";
  EXPECT_TRUE(Download("acme-exe-201012011530.zip", target, false));
  EXPECT_EQ(kalo::test::ReadWholeFile(target), content);
  server_.SetFile("empty.txt", "");
  EXPECT_TRUE(Download("empty.txt", folder_ / "empty.txt", false));
  EXPECT_EQ(fs::file_size(folder_ / "empty.txt"), 0u);
  EXPECT_EQ(FilesInFolder(), 2u);
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_EQ(made_, 1);  // one transfer component for the whole process
}

TEST_F(DownloadFileTest, FailuresLeaveNothingBehind) {
  server_.SetFile("cut.zip", std::string(200000, 'c'));
  server_.SetFault("/trabalho/versao/cut.zip", Fault::kDropMidBody);
  EXPECT_FALSE(Download("cut.zip", folder_ / "cut.zip", false));
  EXPECT_FALSE(Download("missing.zip", folder_ / "missing.zip", false));
  server_.SetFile("logo.jpg", "jpeg");
  EXPECT_FALSE(Download("logo.jpg", folder_ / "no-such-folder/logo.jpg", false));
  EXPECT_EQ(FilesInFolder(), 0u);
  EXPECT_TRUE(ui_.messages.empty());
}

// A body longer than the expected size fails, announced or not, and leaves nothing.
TEST_F(DownloadFileTest, StopsPastTheExpectedSize) {
  server_.SetFile("logo.jpg", "jpeg");
  server_.SetFile("endless.txt", "start\r\n");
  server_.SetFault("/trabalho/versao/endless.txt", Fault::kEndlessBody);
  struct Case {
    const char* name;
    std::uint64_t max_bytes;
    std::string reason;  // empty: downloaded
  };
  const std::vector<Case> cases = {
      {"logo.jpg", 4, ""},
      {"logo.jpg", 3, "o servidor anuncia 4 bytes, mais que os 3 esperados"},
      {"endless.txt", 100000, "a resposta passa dos 100000 bytes esperados"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.max_bytes));
    std::string reason;
    const std::string target = folder_ / (std::to_string(c.max_bytes) + c.name);
    EXPECT_EQ(Download(c.name, target, false, &reason, c.max_bytes), c.reason.empty());
    EXPECT_EQ(reason, c.reason);
    EXPECT_EQ(fs::exists(target), c.reason.empty());
  }
  EXPECT_EQ(FilesInFolder(), 1u);
}

TEST_F(DownloadFileTest, FailureShownWhenAsked) {
  EXPECT_FALSE(Download("missing.zip", folder_ / "missing.zip", true));
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].text, "Ocorreu um erro durante a transferência! ");
  EXPECT_EQ(ui_.messages[0].style, kalo::platform::MessageStyle::kError);
  EXPECT_EQ(ui_.messages[0].title, "");
}

TEST_F(DownloadFileTest, FailedDownloadKeepsAnExistingFile) {
  const std::string target = folder_.Write("logo.jpg", "old logo");
  EXPECT_FALSE(Download("missing.jpg", target, false));
  EXPECT_EQ(kalo::test::ReadWholeFile(target), "old logo");
}

// The body is hashed as it streams, in many pieces for a large one, and a body with
// another digest never takes the place of the file there.
TEST_F(DownloadFileTest, DigestIsCheckedBeforeTheBodyTakesThePlace) {
  std::string content(5 << 20, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) {
    content[i] = static_cast<char>((i * 31) >> 7);
  }
  server_.SetFile("big.zip", content);
  const auto digest = kalo::platform::Sha256Of(std::as_bytes(std::span(content)));
  auto other = digest;
  other[31] ^= std::byte{1};
  const std::string target = folder_.Write("big.zip", "old");
  std::string reason;
  EXPECT_FALSE(Download("big.zip", target, false, &reason, std::nullopt, other));
  EXPECT_EQ(reason, "o arquivo recebido não confere com a lista de arquivos (SHA-256 " +
                        cUpdate::HexText(digest) + ", esperado " + cUpdate::HexText(other) + ")");
  EXPECT_EQ(kalo::test::ReadWholeFile(target), "old");
  EXPECT_EQ(FilesInFolder(), 1u);
  EXPECT_TRUE(Download("big.zip", target, false, &reason, std::nullopt, digest));
  EXPECT_EQ(kalo::test::ReadWholeFile(target), content);
}

}  // namespace
