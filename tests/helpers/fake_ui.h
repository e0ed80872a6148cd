// Test doubles at the seams: a user interface that records what it is asked and
// answers from a script, and a clock that only moves when the program waits.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/ui.h"

namespace kalo::test {

class FakeClock : public platform::Clock {
 public:
  TimePoint Now() const override { return now_; }
  void Advance(std::chrono::nanoseconds step) { now_ += step; }

 private:
  TimePoint now_{std::chrono::hours(1)};
};

// Thrown where the real program would end, so the test sees the exit status.
struct ProgramEnded {
  int exit_status;
};

struct ShownMessage {
  std::string text;
  platform::MessageStyle style;
  std::string title;
};

class FakeUi : public platform::Ui {
 public:
  // Waiting for messages moves `clock` by the time-out, as if nothing arrived.
  explicit FakeUi(FakeClock* clock = nullptr) : clock_(clock) {}

  platform::MessageAnswer ShowMessage(const std::string& text, platform::MessageStyle style,
                                      const std::string& title) override {
    messages.push_back({text, style, title});
    if (answers.empty()) {
      return platform::MessageAnswer::kOk;
    }
    const platform::MessageAnswer answer = answers.front();
    answers.pop_front();
    return answer;
  }

  std::string AskText(const std::string& prompt, const std::string& title) override {
    prompts.push_back(prompt + "|" + title);
    if (text_answers.empty()) {
      return {};
    }
    std::string answer = text_answers.front();
    text_answers.pop_front();
    return answer;
  }

  void ProcessPendingMessages() override {
    ++pumps;
    if (clock_ != nullptr) {
      clock_->Advance(pump_step);
    }
    // Messages that were waiting, delivered once.
    if (const auto pending = std::exchange(pending_messages, {})) {
      pending();
    }
  }

  void WaitForMessages(std::chrono::milliseconds timeout) override {
    // A program started by the code under test works in real time; a wait gives it
    // up to five seconds to get where `settled` expects it.
    for (int i = 0; i < 500 && settled && !settled(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ++pumps;
    waits.push_back(timeout);
    if (clock_ != nullptr) {
      clock_->Advance(timeout);
    }
  }

  std::vector<ShownMessage> messages;
  std::deque<platform::MessageAnswer> answers;
  std::vector<std::string> prompts;
  std::deque<std::string> text_answers;
  std::vector<std::chrono::milliseconds> waits;
  int pumps = 0;
  // When set, each wait lasts (in real time) until it answers true.
  std::function<bool()> settled;
  // What the next pump delivers, as events the user queued.
  std::function<void()> pending_messages;
  // How far each pump moves the clock: the time a transfer's wait between two looks at
  // the window lasted.
  std::chrono::milliseconds pump_step{0};

 private:
  void End(int exit_status) override { throw ProgramEnded{exit_status}; }

  FakeClock* clock_;
};

}  // namespace kalo::test
