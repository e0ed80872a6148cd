#include "platform/internet_transfer.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "helpers/fake_ui.h"
#include "helpers/test_server.h"
#include "platform/error.h"

namespace {

using kalo::platform::TransferState;
using kalo::test::Fault;
using namespace std::chrono_literals;

// The earlier cases look at one attempt's failure; retries have their own tests.
kalo::platform::TransferTimeouts OneAttempt(kalo::platform::TransferTimeouts timeouts) {
  timeouts.attempts = 1;
  timeouts.busy_attempts = 1;
  return timeouts;
}

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

  // A sink that keeps the body in `body`, as a file would.
  static kalo::platform::ByteSink Into(std::string& body) {
    return {[&body](std::span<const std::byte> bytes) {
              body.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            },
            [&body] { body.clear(); }};
  }

  std::string FetchBytes(const std::string& url) {
    std::string received;
    transfer_->OpenUrlBytes(url, Into(received));
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
  // The clock moves only when a test moves it, so no transfer is ever slow enough to stall
  // but those that a test makes so.
  kalo::test::FakeClock clock_;
  kalo::test::FakeUi ui_{&clock_};
  std::unique_ptr<kalo::platform::InternetTransfer> transfer_ =
      kalo::platform::MakeInternetTransfer(ui_, clock_, OneAttempt({2s, 300ms}));
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

// Every 300 ms must bring 1 KiB once connected: silence and a drip fail, a slow but
// steady body that spans several of those stretches arrives whole.
TEST_F(InternetTransferTest, TransferBelowTheMinimumRateIsStalled) {
  // Half the body and then nothing, or a byte now and then: the clock moves 150 ms at
  // every look at the window, and never 1 KiB comes in two of them.
  ui_.pump_step = 150ms;
  const struct {
    const char* name;
    Fault fault;
    std::size_t size;
  } stalls[] = {{"silent.bin", Fault::kStallMidBody, 6000}, {"drip.bin", Fault::kDripBody, 200}};
  for (const auto& c : stalls) {
    SCOPED_TRACE(c.name);
    server_.SetFile(c.name, std::string(c.size, 's'));
    server_.SetFault(std::string("/trabalho/versao/") + c.name, c.fault);
    const kalo::Error error = FailureOf(Url(c.name));
    EXPECT_EQ(error.Number(), kalo::error_number::kTransferTimedOut);
    EXPECT_EQ(error.Description(), "Falha na transferência de " + Url(c.name) +
                                       ": a transferência parou: menos de 1 KiB em 300 ms");
  }

  // Six pieces of 2000 bytes, each 150 ms after the one before: 900 ms in all.
  ui_.pump_step = 0ms;
  const std::string body(12000, 's');
  server_.SetFile("steady.bin", body);
  server_.SetFault("/trabalho/versao/steady.bin", Fault::kSlowBody);
  // Pieces apart by more than one look at the window, so that the window is served between.
  server_.SetSlowPause(60ms);
  const int pumps_before = ui_.pumps;
  std::string received;
  const kalo::platform::ByteSink into = Into(received);
  transfer_->OpenUrlBytes(Url("steady.bin"), {[&](std::span<const std::byte> bytes) {
                                                into.append(bytes);
                                                clock_.Advance(bytes.size() * 75us);
                                              },
                                              into.restart});
  EXPECT_EQ(received, body);
  EXPECT_GT(ui_.pumps - pumps_before, 5);
}

// A body longer than the caller allows is refused at once when the server announces
// its length, and stopped as soon as it grows past the limit when it does not.
TEST_F(InternetTransferTest, ByteFormStopsAtItsLimit) {
  server_.SetFile("exact.bin", std::string(5000, 'e'));
  server_.SetFile("announced.bin", std::string(200000, 'a'));
  server_.SetFile("endless.txt", "start\r\n");
  server_.SetFault("/trabalho/versao/endless.txt", Fault::kEndlessBody);
  struct Case {
    const char* name;
    std::uint64_t limit;
    std::string reason;  // empty: the body arrives whole
    std::size_t most_received;
  };
  const std::vector<Case> cases = {
      {"exact.bin", 5000, "", 5000},
      {"announced.bin", 5000, "o servidor anuncia 200000 bytes, mais que os 5000 esperados", 0},
      {"endless.txt", 1 << 20, "a resposta passa dos 1048576 bytes esperados", 1 << 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::size_t received = 0;
    int calls = 0;
    const auto fetch = [&] {
      transfer_->OpenUrlBytes(Url(c.name),
                              {[&](std::span<const std::byte> bytes) {
                                 received += bytes.size();
                                 ++calls;
                               },
                               [] {}},
                              c.limit);
    };
    if (c.reason.empty()) {
      fetch();
      EXPECT_EQ(received, c.most_received);
      continue;
    }
    try {
      fetch();
      ADD_FAILURE() << "no failure";
    } catch (const kalo::platform::TransferError& error) {
      EXPECT_EQ(error.Number(), kalo::error_number::kTransferFailed);
      EXPECT_EQ(error.Reason(), c.reason);
      EXPECT_EQ(error.Description(), "Falha na transferência de " + Url(c.name) + ": " + c.reason);
    }
    EXPECT_LE(received, c.most_received);
    EXPECT_EQ(calls == 0, c.most_received == 0);
    EXPECT_FALSE(transfer_->StillExecuting());
  }
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

// A line break in an address would put a header line of its own into the request.
TEST_F(InternetTransferTest, AddressesWithControlCharactersAreRefused) {
  server_.SetFile("page.txt", "page");
  for (const std::string tail : {"\r\nX-Evil: 1", "\x7f"}) {
    const kalo::Error error = FailureOf(Url("page.txt") + tail, true);
    EXPECT_NE(error.Description().find("caracteres de controle"), std::string::npos)
        << error.Description();
  }
  EXPECT_TRUE(server_.RequestTargets().empty());
}

// A proxy setting that names no proxy must not let the transfers go past it.
TEST_F(InternetTransferTest, AProxySettingThatIsNoProxyAddressIsRefused) {
  for (const std::string setting : {"http://", "lixo qualquer", "ftp://proxy:21", "http://proxy:0",
                                    "http://ana:segredo@:3128", "http://proxy:3128/caminho"}) {
    try {
      kalo::platform::MakeInternetTransfer(ui_, clock_, {2s, 300ms}, setting);
      ADD_FAILURE() << setting << " was taken";
    } catch (const kalo::Error& error) {
      EXPECT_NE(error.Description().find("não é o endereço de um proxy"), std::string::npos)
          << error.Description();
      EXPECT_EQ(error.Description().find("segredo"), std::string::npos) << error.Description();
    }
  }
}

// The user and password of an address reach the server that asks for them and the proxy
// that asks for them, and never a text that shows the address.
TEST_F(InternetTransferTest, CredentialsInAddressesReachServerAndProxy) {
  const kalo::test::Credentials credentials{"ana", "segredo"};
  server_.SetFile("page.txt", "for ana");
  server_.RequireCredentials(credentials);
  const std::string base = server_.BaseAddress();
  const auto with = [&base](const std::string& user_info) {
    return "http://" + user_info + "@" + base.substr(base.find("://") + 3) +
           "/trabalho/versao/page.txt";
  };
  EXPECT_EQ(transfer_->OpenUrlText(with("ana:segredo")).body, "for ana");
  const kalo::Error refused = FailureOf(with("ana:errada"));
  EXPECT_NE(refused.Description().find("ana:***@"), std::string::npos) << refused.Description();
  EXPECT_NE(refused.Description().find("401"), std::string::npos) << refused.Description();
  EXPECT_EQ(refused.Description().find("errada"), std::string::npos) << refused.Description();
  ASSERT_FALSE(seen_.empty());
  for (const Seen& seen : seen_) {
    EXPECT_EQ(seen.reported_text.find("segredo"), std::string::npos) << seen.reported_text;
  }

  kalo::test::TestProxy proxy;
  proxy.RequireCredentials(credentials);
  kalo::test::TestServer open_server;
  open_server.SetFile("page.txt", "through");
  const std::string url = open_server.BaseAddress() + "/trabalho/versao/page.txt";
  const std::string proxy_host = proxy.Address().substr(proxy.Address().find("://") + 3);
  for (const auto& [user_info, passes] : {std::pair{"ana:segredo", true}, {"ana:errada", false}}) {
    const auto through = kalo::platform::MakeInternetTransfer(
        ui_, clock_, {2s, 300ms}, "http://" + std::string(user_info) + "@" + proxy_host);
    if (passes) {
      EXPECT_EQ(through->OpenUrlText(url).body, "through");
    } else {
      EXPECT_EQ(through->OpenUrlText(url).status, 407);
    }
  }
  EXPECT_FALSE(proxy.RequestTargets().empty());
  for (const std::string& target : proxy.RequestTargets()) {
    EXPECT_EQ(target, url);
  }
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
  EXPECT_THROW(
      transfer_->OpenUrlBytes(Url("big.bin"), {[&received](std::span<const std::byte> bytes) {
                                                 received += bytes.size();
                                                 throw kalo::Error(61, "disk full", "test");
                                               },
                                               [] {}}),
      kalo::Error);
  EXPECT_LT(received, 4u << 20);
  EXPECT_FALSE(transfer_->StillExecuting());
  // The component stays usable.
  server_.SetFile("after.bin", "ok");
  EXPECT_EQ(FetchBytes(Url("after.bin")), "ok");
}

// A failed transfer carries its parts, so that no caller cuts them back out of its text.
// A failure carries its address, status and reason, and whether trying again may mend it.
TEST_F(InternetTransferTest, AFailedTransferCarriesItsParts) {
  std::string closed_port_url;
  {
    const kalo::test::TestServer gone;
    closed_port_url = gone.BaseAddress() + "/trabalho/versao/x";
  }
  const struct {
    std::string url;
    Fault fault;
    std::optional<int> status;
    bool transient;
    std::optional<std::chrono::seconds> retry_after;
  } cases[] = {
      {Url("404"), Fault::kNotFound, 404, false, std::nullopt},
      {Url("500"), Fault::kServerError, 500, true, std::nullopt},
      {Url("busy"), Fault::kBusy, 503, true, 7s},
      {Url("drop"), Fault::kDropMidBody, std::nullopt, true, std::nullopt},
      {Url("short"), Fault::kShortBody, std::nullopt, true, std::nullopt},
      {closed_port_url, Fault::kNone, std::nullopt, true, std::nullopt},
  };
  for (const auto& c : cases) {
    const std::string name = c.url.substr(c.url.rfind('/') + 1);
    server_.SetFile(name, std::string(100000, 'x'));
    server_.SetFault("/trabalho/versao/" + name, c.fault);
    try {
      FetchBytes(c.url);
      ADD_FAILURE() << c.url << " did not fail";
    } catch (const kalo::platform::TransferError& error) {
      EXPECT_EQ(error.Url(), c.url);
      EXPECT_EQ(error.HttpStatusCode(), c.status) << c.url;
      EXPECT_EQ(error.Transient(), c.transient) << c.url << ": " << error.Reason();
      EXPECT_EQ(error.RetryAfter(), c.retry_after) << c.url;
      EXPECT_FALSE(error.Reason().empty());
      EXPECT_EQ(error.Description(), "Falha na transferência de " + c.url + ": " + error.Reason());
    }
  }
}

// Failures that may pass are tried again on the injected clock, continuing from the bytes
// held when the server sends the rest of the same file, and from the first byte when it
// cannot or the file changed: two versions are never joined.
TEST_F(InternetTransferTest, RetriesResumeTheSameFileAndRestartAnyOther) {
  using kalo::test::FaultPlan;
  std::string body(100000, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) {
    body[i] = static_cast<char>('a' + i % 23);
  }
  const std::string changed(80000, 'n');
  const FaultPlan drop_once{Fault::kDropAfter, 1, 30000};
  const std::string none;
  const std::string from_30000 = "bytes=30000-";
  struct Case {
    const char* what;
    std::vector<FaultPlan> plans;
    bool as_text;
    std::string expected;  // the body, or "!" and the start of the reason it fails with
    std::vector<std::string> ranges;
    std::vector<std::chrono::milliseconds> waits;
  };
  const Case cases[] = {
      {"dropped every 30000 bytes, resumed each time",
       {{Fault::kDropAfter, -1, 30000}},
       false,
       body,
       {none, from_30000, "bytes=60000-", "bytes=90000-"},
       {0s, 0s, 0s}},
      {"busy twice, asked again after its Retry-After",
       {{Fault::kBusy, 2, 0}},
       false,
       body,
       {none, none, none},
       {7s, 7s}},
      {"the range ignored: the whole file again",
       {drop_once, {Fault::kIgnoreRange, 1, 0}},
       false,
       body,
       {none, from_30000},
       {0s}},
      {"416: the whole file again",
       {drop_once, {Fault::kRangeNotSatisfiable, 1, 0}},
       false,
       body,
       {none, from_30000, none},
       {0s, 1s}},
      {"a part that starts elsewhere: the whole file again",
       {drop_once, {Fault::kWrongRange, 1, 0}},
       false,
       body,
       {none, from_30000, none},
       {0s, 1s}},
      {"the file changed on the server: only the new one",
       {{Fault::kDropAfter, 1, 30000, changed}},
       false,
       changed,
       {none, from_30000},
       {0s}},
      {"never passes: five attempts, then the failure",
       {{Fault::kServerError, -1, 0}},
       false,
       "!HTTP 500",
       {none, none, none, none, none},
       {1s, 2s, 4s, 8s}},
      {"busy without Retry-After, as a crowd is turned away: ten attempts",
       {{Fault::kBusy, -1, 0, std::nullopt, -1}},
       false,
       "!HTTP 503",
       std::vector<std::string>(10, none),
       {1s, 2s, 4s, 8s, 8s, 8s, 8s, 8s, 8s}},
      {"a refusal that will not pass: one attempt",
       {{Fault::kNotFound, -1, 0}},
       false,
       "!HTTP 404",
       {none},
       {}},
      {"text form: dropped, asked again from the start",
       {drop_once},
       true,
       body,
       {none, none},
       {1s}},
      {"text form: busy twice, then the answer",
       {{Fault::kBusy, 2, 0}},
       true,
       body,
       {none, none, none},
       {7s, 7s}},
  };
  // Waits at their full length, so that each is known.
  kalo::platform::TransferTimeouts steady{2s, 300ms};
  steady.spread_waits = false;
  const auto transfer = kalo::platform::MakeInternetTransfer(ui_, clock_, steady);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    kalo::test::TestServer server;
    server.SetFile("f.bin", body);
    server.PlanFaults("/trabalho/versao/f.bin", c.plans);
    std::vector<std::chrono::milliseconds> waits;
    transfer->SetProgressHandler([&waits](const kalo::platform::TransferProgress& progress) {
      if (progress.phase == kalo::platform::TransferPhase::kWaitingToRetry) {
        waits.push_back(progress.wait);
      }
    });
    std::optional<kalo::platform::TransferOutcome> outcome;
    transfer->SetOutcomeHandler(
        [&outcome](const kalo::platform::TransferOutcome& told) { outcome = told; });
    const std::string url = server.BaseAddress() + "/trabalho/versao/f.bin";
    std::string received;
    try {
      received = c.as_text ? transfer->OpenUrlText(url).body
                           : (transfer->OpenUrlBytes(url, Into(received)), received);
    } catch (const kalo::platform::TransferError& error) {
      received = "!" + error.Reason();
    }
    EXPECT_EQ(received.substr(0, std::min(received.size(), c.expected.size())), c.expected);
    EXPECT_EQ(received.size() == c.expected.size(), c.expected[0] != '!');
    EXPECT_EQ(server.RangeRequests(), c.ranges);
    EXPECT_EQ(waits, c.waits);
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->attempts, static_cast<int>(c.ranges.size()));
    EXPECT_EQ(outcome->failure.has_value(), c.expected[0] == '!');
    EXPECT_FALSE(transfer->StillExecuting());
  }
}

// What one call held in part is continued by a later call (another run) that names where
// it stopped; a file that changed in between comes whole, never joined to the old part.
TEST_F(InternetTransferTest, ABodyHeldInPartIsContinuedByALaterCall) {
  const std::string body(100000, 'b');
  const std::string changed(70000, 'c');
  for (const bool change : {false, true}) {
    SCOPED_TRACE(change ? "changed in between" : "the same file");
    kalo::test::TestServer server;
    server.SetFile("f.bin", body);
    server.PlanFaults("/trabalho/versao/f.bin", {{Fault::kDropAfter, 1, 40000}});
    const std::string url = server.BaseAddress() + "/trabalho/versao/f.bin";
    std::string held;
    kalo::platform::ResumePoint stopped;
    const kalo::platform::ByteSink into = Into(held);
    // The first run ends with the part the server sent before the link dropped.
    kalo::platform::ByteSink sink{[&](std::span<const std::byte> bytes) {
                                    into.append(bytes);
                                    if (held.size() == 40000 && stopped.offset == 0) {
                                      stopped.offset = held.size();
                                      throw kalo::Error(1, "the run ended", "test");
                                    }
                                  },
                                  into.restart,
                                  [&stopped](const kalo::platform::ResumePoint& point) {
                                    stopped.validator = point.validator;
                                    stopped.total = point.total;
                                  }};
    EXPECT_THROW(transfer_->OpenUrlBytes(url, sink), kalo::Error);
    ASSERT_EQ(held.size(), 40000u);
    ASSERT_FALSE(stopped.validator.empty());
    if (change) {
      server.SetFile("f.bin", changed);
    }
    transfer_->OpenUrlBytes(url, sink, std::nullopt, stopped);
    EXPECT_EQ(held, change ? changed : body);
    EXPECT_EQ(server.RangeRequests(), (std::vector<std::string>{"", "bytes=40000-"}));
    EXPECT_EQ(server.FileBytesSent(), 40000 + (change ? changed.size() : body.size() - 40000));
  }
}

}  // namespace
