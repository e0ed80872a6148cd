#include "platform/transfer_retry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <vector>

#include "platform/internet_transfer_base.h"

namespace {

using kalo::platform::FailedAttempt;
using kalo::platform::RetrySchedule;
using std::chrono::milliseconds;
using std::chrono::seconds;

// transient, brought bytes, Retry-After
constexpr FailedAttempt kDropped{true, false, std::nullopt};
constexpr FailedAttempt kDroppedAfterBytes{true, true, std::nullopt};
constexpr FailedAttempt kRefusedForGood{false, false, std::nullopt};

// The waits a schedule answers for a sequence of failed attempts; nothing ends them.
std::vector<std::optional<milliseconds>> WaitsFor(const std::vector<FailedAttempt>& failures) {
  RetrySchedule schedule;
  std::vector<std::optional<milliseconds>> waits;
  for (const FailedAttempt& failed : failures) {
    waits.push_back(schedule.Next(failed));
  }
  return waits;
}

TEST(RetrySchedule, WaitsLongerAfterEachFruitlessAttemptAndStartsAgainAfterBytes) {
  const std::optional<milliseconds> stop;
  const FailedAttempt busy_for_30s{true, false, seconds(30)};
  const FailedAttempt busy_for_61s{true, false, seconds(61)};
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
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WaitsFor(c.failures), c.waits) << c.what;
  }
}

TEST(RetrySchedule, StatusLineNamesTheNextAttemptItsWaitAndWhy) {
  RetrySchedule schedule;
  const auto wait = schedule.Next(kDropped);
  ASSERT_TRUE(wait);
  EXPECT_EQ(kalo::platform::RetryStatusText(schedule.NextAttemptNumber(), schedule.MostAttempts(),
                                            *wait, "a conexão foi reiniciada"),
            "Nova tentativa 2 de 5 em 1 s: a conexão foi reiniciada");
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
