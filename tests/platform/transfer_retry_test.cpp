#include "platform/transfer_retry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <set>
#include <vector>

#include "platform/internet_transfer_base.h"

namespace {

using kalo::platform::FailedAttempt;
using kalo::platform::RetrySchedule;
using std::chrono::milliseconds;
using std::chrono::seconds;

// transient, brought bytes, Retry-After
constexpr FailedAttempt kDropped{true, false, std::nullopt, false};
constexpr FailedAttempt kDroppedAfterBytes{true, true, std::nullopt, false};
constexpr FailedAttempt kRefusedForGood{false, false, std::nullopt, false};
constexpr FailedAttempt kBusy{true, false, std::nullopt, true};

// The waits a schedule answers for a sequence of failed attempts; nothing ends them.
std::vector<std::optional<milliseconds>> WaitsFor(const std::vector<FailedAttempt>& failures) {
  RetrySchedule schedule(5, 10, false);
  std::vector<std::optional<milliseconds>> waits;
  for (const FailedAttempt& failed : failures) {
    waits.push_back(schedule.Next(failed));
  }
  return waits;
}

TEST(RetrySchedule, WaitsLongerAfterEachFruitlessAttemptAndStartsAgainAfterBytes) {
  const std::optional<milliseconds> stop;
  const FailedAttempt busy_for_30s{true, false, seconds(30), true};
  const FailedAttempt busy_for_61s{true, false, seconds(61), true};
  const struct {
    const char* what;
    std::vector<FailedAttempt> failures;
    std::vector<std::optional<milliseconds>> waits;
  } cases[] = {
      {"five fruitless attempts",
       {kDropped, kDropped, kDropped, kDropped, kDropped},
       {seconds(1), seconds(2), seconds(4), seconds(8), stop}},
      {"bytes reset the count and the next attempt starts at once",
       {kDropped, kDropped, kDroppedAfterBytes, kDropped, kDropped, kDropped, kDropped, kDropped},
       {seconds(1), seconds(2), seconds(0), seconds(1), seconds(2), seconds(4), seconds(8), stop}},
      {"a link that drops every few minutes never runs out",
       std::vector<FailedAttempt>(20, kDroppedAfterBytes),
       std::vector<std::optional<milliseconds>>(20, seconds(0))},
      {"a failure that will not pass", {kRefusedForGood}, {stop}},
      {"Retry-After up to a minute is waited for",
       {busy_for_30s, kDropped},
       {seconds(30), seconds(2)}},
      {"a longer Retry-After ends the attempts", {kDropped, busy_for_61s}, {seconds(1), stop}},
      {"busy without Retry-After: ten attempts, 8 s apart from the fifth",
       std::vector<FailedAttempt>(10, kBusy),
       {seconds(1), seconds(2), seconds(4), seconds(8), seconds(8), seconds(8), seconds(8),
        seconds(8), seconds(8), stop}},
      {"a busy server that gives its own time has five",
       std::vector<FailedAttempt>(5, busy_for_30s),
       {seconds(30), seconds(30), seconds(30), seconds(30), stop}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WaitsFor(c.failures), c.waits) << c.what;
  }
}

// Updaters turned away together come back apart: each wait lies between half and all
// of its length, drawn anew by each schedule.
TEST(RetrySchedule, SpreadWaitsLieBetweenHalfAndAllOfTheirLength) {
  const std::vector<milliseconds> full = {seconds(1), seconds(2), seconds(4), seconds(8),
                                          seconds(8)};
  std::set<milliseconds::rep> drawn;
  for (int updater = 0; updater < 50; ++updater) {
    RetrySchedule schedule(5, 10, true);
    for (const milliseconds length : full) {
      const auto wait = schedule.Next(kBusy);
      ASSERT_TRUE(wait);
      EXPECT_GE(*wait, length / 2);
      EXPECT_LE(*wait, length);
    }
    // After bytes the count starts again, and the next 1 s wait is drawn anew.
    EXPECT_EQ(schedule.Next(kDroppedAfterBytes), milliseconds(0));
    drawn.insert(schedule.Next(kBusy)->count());
  }
  // Fifty draws between 500 and 1000 ms: the same value every time would be no spread.
  EXPECT_GT(drawn.size(), 10u);
}

TEST(RetrySchedule, StatusLineNamesTheNextAttemptItsWaitAndWhy) {
  RetrySchedule schedule(5, 10, false);
  const auto wait = schedule.Next(kDropped);
  ASSERT_TRUE(wait);
  EXPECT_EQ(kalo::platform::RetryStatusText(schedule.NextAttemptNumber(), schedule.MostAttempts(),
                                            *wait, "a conexão foi reiniciada"),
            "Nova tentativa 2 de 5 em 1 s: a conexão foi reiniciada");
  // A busy server is given more attempts, and the line counts them.
  const auto busy_wait = schedule.Next(kBusy);
  ASSERT_TRUE(busy_wait);
  EXPECT_EQ(kalo::platform::RetryStatusText(schedule.NextAttemptNumber(), schedule.MostAttempts(),
                                            *busy_wait, "HTTP 503"),
            "Nova tentativa 3 de 10 em 2 s: HTTP 503");
  for (const auto& [status, transient] : {std::pair{408, true},
                                          {429, true},
                                          {500, true},
                                          {502, true},
                                          {503, true},
                                          {504, true},
                                          {400, false},
                                          {401, false},
                                          {403, false},
                                          {404, false},
                                          {416, false},
                                          {501, false}}) {
    EXPECT_EQ(kalo::platform::IsTransientHttpStatus(status), transient) << status;
  }
}

// Only the seconds form counts; the date form and anything else leave the schedule's own.
TEST(RetryAfterSeconds, ReadsOnlyWholeSeconds) {
  using kalo::platform::RetryAfterSeconds;
  for (const auto& [value, seconds_read] :
       {std::pair<std::string_view, std::optional<seconds>>{" 7\r\n", seconds(7)},
        {"0", seconds(0)},
        {"99999", seconds(99999)},
        {"100000", std::nullopt},
        {"-1", std::nullopt},
        {"1.5", std::nullopt},
        {"", std::nullopt},
        {"Wed, 21 Oct 2026 07:28:00 GMT", std::nullopt}}) {
    EXPECT_EQ(RetryAfterSeconds(value), seconds_read) << value;
  }
}

}  // namespace
