#include "platform/internet_transfer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "helpers/fake_ui.h"
#include "helpers/test_server.h"
#include "platform/error.h"

namespace {

using kalo::platform::TransferState;
using kalo::test::Fault;
using namespace std::chrono_literals;

class InternetTransferTest : public testing::Test {
 protected:
  InternetTransferTest() {
    transfer_->SetStateHandler([this](TransferState state) {
      states_.push_back(state);
      // The reported text and the busy flag as a window's handler would see them.
      seen_.push_back({transfer_->ReportedText(), transfer_->StillExecuting()});
    });
  }

  std::string Url(const std::string& name) const {
    return server_.BaseAddress() + "/trabalho/versao/" + name;
  }

  std::string FetchBytes(const std::string& url) {
    std::string received;
    transfer_->OpenUrlBytes(url, [&received](std::span<const std::byte> bytes) {
      received.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    });
    return received;
  }

  // The error a byte fetch (or a text fetch) of `url` fails with.
  kalo::Error FailureOf(const std::string& url, bool as_text = false) {
    try {
      as_text ? static_cast<void>(transfer_->OpenUrlText(url)) : static_cast<void>(FetchBytes(url));
    } catch (const kalo::Error& error) {
      return error;
    }
    ADD_FAILURE() << url << " did not fail";
    return kalo::Error(0, "", "");
  }

  struct Seen {
    std::string reported_text;
    bool executing;
  };

  kalo::test::TestServer server_;
  kalo::test::FakeUi ui_;
  kalo::platform::Clock clock_;
  std::unique_ptr<kalo::platform::InternetTransfer> transfer_ =
      kalo::platform::MakeInternetTransfer(ui_, clock_, {2s, 300ms});
  std::vector<TransferState> states_;
  std::vector<Seen> seen_;
};

TEST_F(InternetTransferTest, TextFormDeliversAnyBodyWithItsStatusUpToTheCap) {
  server_.SetFile("page.txt", "licenca_\r\n_licenca");
  const auto page = transfer_->OpenUrlText(Url("page.txt"));
  EXPECT_EQ(page.body, "licenca_\r\n_licenca");
  EXPECT_EQ(page.status, 200);
  // An error page reaches the caller as text, with the status that tells it apart.
  const auto missing = transfer_->OpenUrlText(Url("missing.txt"));
  EXPECT_NE(missing.body.find("<html>"), std::string::npos);
  EXPECT_EQ(kalo::platform::HttpStatusText(missing.status, missing.status_text),
            "HTTP 404 Not Found");

  server_.SetFile("endless.txt", std::string(kalo::platform::kMaxTextBytes + 1, 'x'));
  const kalo::Error error = FailureOf(Url("endless.txt"), true);
  EXPECT_NE(error.Description().find("16 MiB"), std::string::npos) << error.Description();
  EXPECT_FALSE(transfer_->StillExecuting());
}

TEST_F(InternetTransferTest, ReportsEveryStateInOrder) {
  server_.SetFile("logo.jpg", "jpeg");
  EXPECT_EQ(FetchBytes(Url("logo.jpg")), "jpeg");
  const std::vector<TransferState> expected{
      TransferState::kResolving, TransferState::kResolved,         TransferState::kConnecting,
      TransferState::kConnected, TransferState::kRequesting,       TransferState::kRequestSent,
      TransferState::kReceiving, TransferState::kResponseReceived, TransferState::kClosing,
      TransferState::kClosed,    TransferState::kCompleted};
  EXPECT_EQ(states_, expected);
  for (const Seen& seen : seen_) {
    EXPECT_EQ(seen.reported_text, Url("logo.jpg"));
    EXPECT_TRUE(seen.executing);
  }
  EXPECT_FALSE(transfer_->StillExecuting());
}

TEST_F(InternetTransferTest, ByteFormFailsOnHttpErrorsAndBrokenBodies) {
  const std::string body(100000, 'x');
  for (const std::string name : {"404", "500", "drop", "short"}) {
    server_.SetFile(name, body);
  }
  server_.SetFault("/trabalho/versao/404", Fault::kNotFound);
  server_.SetFault("/trabalho/versao/500", Fault::kServerError);
  server_.SetFault("/trabalho/versao/drop", Fault::kDropMidBody);
  server_.SetFault("/trabalho/versao/short", Fault::kShortBody);
  for (const std::string name : {"404", "500", "drop", "short"}) {
    states_.clear();
    const kalo::Error error = FailureOf(Url(name));
    EXPECT_EQ(error.Number(), kalo::error_number::kTransferFailed) << name;
    EXPECT_NE(error.Description().find(Url(name)), std::string::npos) << error.Description();
    if (name == "404") {
      EXPECT_TRUE(error.Description().ends_with(": HTTP 404 Not Found")) << error.Description();
    }
    ASSERT_FALSE(states_.empty());
    EXPECT_EQ(states_.back(), TransferState::kError) << name;
    EXPECT_FALSE(transfer_->StillExecuting());
  }
}

TEST_F(InternetTransferTest, StallTimesOutButSlowSteadyBodyDoesNot) {
  const std::string body(6000, 's');
  server_.SetFile("stall.bin", body);
  server_.SetFault("/trabalho/versao/stall.bin", Fault::kStallMidBody);
  EXPECT_EQ(FailureOf(Url("stall.bin")).Number(), kalo::error_number::kTransferTimedOut);

  // Six pieces 100 ms apart: twice the idle time-out in all, but never idle that long.
  server_.SetFile("slow.bin", body);
  server_.SetFault("/trabalho/versao/slow.bin", Fault::kSlowBody);
  server_.SetSlowPause(100ms);
  const int pumps_before = ui_.pumps;
  EXPECT_EQ(FetchBytes(Url("slow.bin")), body);
  // The window was served while the transfer waited.
  EXPECT_GT(ui_.pumps - pumps_before, 5);
}

TEST_F(InternetTransferTest, FollowsRedirectsOnlyToWebAddresses) {
  server_.SetFile("new.bin", "moved");
  server_.SetFault("/trabalho/versao/old.bin", Fault::kRedirect, "/trabalho/versao/new.bin");
  EXPECT_EQ(FetchBytes(Url("old.bin")), "moved");
  server_.SetFault("/trabalho/versao/loop.bin", Fault::kRedirect, "/trabalho/versao/loop.bin");
  EXPECT_EQ(FailureOf(Url("loop.bin")).Number(), kalo::error_number::kTransferFailed);
  server_.SetFault("/trabalho/versao/file.bin", Fault::kRedirect, "file:///etc/passwd");
  EXPECT_EQ(FailureOf(Url("file.bin")).Number(), kalo::error_number::kTransferFailed);
}

TEST_F(InternetTransferTest, UnreachableServerFails) {
  std::string closed_port_url;
  {
    const kalo::test::TestServer gone;
    closed_port_url = gone.BaseAddress() + "/trabalho/versao/x";
  }
  EXPECT_THROW(transfer_->OpenUrlText(closed_port_url), kalo::Error);
  EXPECT_THROW(transfer_->OpenUrlText("ftp://127.0.0.1/x"), kalo::Error);
}

TEST_F(InternetTransferTest, SinkErrorStopsTheTransfer) {
  server_.SetFile("big.bin", std::string(4 << 20, 'b'));
  std::size_t received = 0;
  EXPECT_THROW(transfer_->OpenUrlBytes(Url("big.bin"),
                                       [&received](std::span<const std::byte> bytes) {
                                         received += bytes.size();
                                         throw kalo::Error(61, "disk full", "test");
                                       }),
               kalo::Error);
  EXPECT_LT(received, 4u << 20);
  EXPECT_FALSE(transfer_->StillExecuting());
  // The component stays usable.
  server_.SetFile("after.bin", "ok");
  EXPECT_EQ(FetchBytes(Url("after.bin")), "ok");
}

}  // namespace
