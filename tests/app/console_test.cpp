#include "app/console.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <sstream>
#include <vector>

#include "helpers/fake_ui.h"

namespace {

using kalo::app::ConsoleProgress;
using kalo::platform::MessageAnswer;
using kalo::platform::MessageStyle;
using kalo::platform::TransferPhase;
using std::chrono::milliseconds;

constexpr std::uint64_t kMiB = 1024 * 1024;

// Nobody answers in the unattended mode but the command line: a question is Yes only
// with --yes, and the overwrite box, whose Yes would replace a file unasked, is
// Cancel without it.
TEST(ConsoleUi, AnswersOnlyWhatTheCommandLineAllows) {
  struct Case {
    MessageStyle style;
    bool yes;
    MessageAnswer answer;
    const char* printed;
  };
  const Case cases[] = {
      {MessageStyle::kQuestionYesNo, false, MessageAnswer::kNo, "Pergunta\nfim? [Não]\n"},
      {MessageStyle::kQuestionYesNo, true, MessageAnswer::kYes, "Pergunta\nfim? [Sim]\n"},
      {MessageStyle::kExclamationYesNoCancel, false, MessageAnswer::kCancel,
       "Pergunta\nfim? [Não]\n"},
      {MessageStyle::kExclamationYesNoCancel, true, MessageAnswer::kYes, "Pergunta\nfim? [Sim]\n"},
      {MessageStyle::kError, true, MessageAnswer::kOk, "Pergunta\nfim?\n"},
      {MessageStyle::kInformation, false, MessageAnswer::kOk, "Pergunta\nfim?\n"},
  };
  const kalo::test::FakeClock clock;
  std::ostringstream messages;
  ConsoleProgress progress(messages, clock, false);
  for (const Case& c : cases) {
    messages.str("");
    kalo::app::ConsoleUi console(messages, c.yes, progress);
    EXPECT_EQ(console.ShowMessage("Pergunta\r\nfim?", c.style, {}), c.answer);
    EXPECT_EQ(messages.str(), c.printed);
  }
  EXPECT_EQ(kalo::app::ConsoleUi(messages, true, progress).AskText("Senha?", ""), "");
}

TEST(ConsoleProgress, ShowsBytesTotalShareAndRateTheWayTheOtherTextsWriteNumbers) {
  struct Case {
    std::uint64_t bytes;
    std::optional<std::uint64_t> total;
    std::uint64_t rate;
    const char* text;
  };
  const Case cases[] = {
      {25 * kMiB / 2, 200 * kMiB, 10 * kMiB + kMiB / 5,
       "  12,5 MiB de 200,0 MiB (6 %), 10,2 MiB/s"},
      {0, std::nullopt, 0, "  0 B, 0 B/s"},
      {1023, 2048, 512, "  1023 B de 2,0 KiB (49 %), 512 B/s"},
      // What would round to 1024,0 of one unit is 1,0 of the next.
      {kMiB - 1, std::nullopt, 1536, "  1,0 MiB, 1,5 KiB/s"},
      {3 * 1024 * kMiB, std::nullopt, 1023 * kMiB, "  3,0 GiB, 1023,0 MiB/s"},
      {2048 * kMiB * kMiB, std::nullopt, 0, "  2048,0 TiB, 0 B/s"},
      // A body longer than announced, or announced empty, is whole.
      {300, 200, 10, "  300 B de 200 B (100 %), 10 B/s"},
      {0, 0, 0, "  0 B de 0 B (100 %), 0 B/s"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(kalo::app::ProgressText(c.bytes, c.total, c.rate), c.text);
  }
}

// What the console is given, a moment after the step before.
struct ConsoleStep {
  enum Kind { kProgress, kStatusLine, kMessage, kRunLog } kind = kProgress;
  milliseconds after{0};
  TransferPhase phase = TransferPhase::kReceiving;
  std::uint64_t bytes = 0;
  std::optional<std::uint64_t> total;
};

ConsoleStep Bytes(milliseconds after, std::uint64_t bytes,
                  std::optional<std::uint64_t> total = std::nullopt,
                  TransferPhase phase = TransferPhase::kReceiving) {
  return {ConsoleStep::kProgress, after, phase, bytes, total};
}

// A line of another kind, at once.
ConsoleStep Line(ConsoleStep::Kind kind) {
  ConsoleStep step;
  step.kind = kind;
  return step;
}

// Every step through one console whose lines all go to one stream; what it printed.
std::string ConsoleAfter(const std::vector<ConsoleStep>& steps, bool terminal) {
  kalo::test::FakeClock clock;
  std::ostringstream out;
  ConsoleProgress progress(out, clock, terminal);
  kalo::app::ConsoleUi ui(out, false, progress);
  kalo::app::ConsoleView view(out, progress);
  kalo::app::ConsoleRunLog log(out, progress);
  for (const ConsoleStep& step : steps) {
    clock.Advance(step.after);
    switch (step.kind) {
      case ConsoleStep::kProgress: {
        kalo::platform::TransferProgress shown;
        shown.phase = step.phase;
        shown.bytes = step.bytes;
        shown.total = step.total;
        progress.Show(shown);
        break;
      }
      case ConsoleStep::kStatusLine:
        view.SetLabel(kalo::platform::WindowLabel::kDisplay2, "  Recebendo resposta...");
        break;
      case ConsoleStep::kMessage:
        ui.ShowMessage("Falhou", MessageStyle::kError, {});
        break;
      case ConsoleStep::kRunLog:
        log.FileReplaced("a.exe");
        break;
    }
  }
  return out.str();
}

// A person at a terminal sees one line, rewritten at most once a second, that every
// other line ends first; a pipe or a file gets none of it.
TEST(ConsoleProgress, RewritesOneLineAtMostOnceASecondOnATerminalOnly) {
  const milliseconds no_time(0);
  const milliseconds second(1000);
  const std::uint64_t ten = 10 * kMiB;
  const std::vector<ConsoleStep> steady = {
      Bytes(no_time, 0, ten),
      Bytes(milliseconds(500), kMiB, ten),
      Bytes(milliseconds(500), 2 * kMiB, ten),
      Bytes(milliseconds(900), 3 * kMiB, ten),
      Bytes(milliseconds(100), 4 * kMiB, ten),
      Bytes(milliseconds(500), ten, ten, TransferPhase::kFinished),
  };
  const ConsoleStep status_line = Line(ConsoleStep::kStatusLine);
  const ConsoleStep message = Line(ConsoleStep::kMessage);
  const ConsoleStep run_log = Line(ConsoleStep::kRunLog);
  struct Case {
    const char* name;
    std::vector<ConsoleStep> steps;
    bool terminal;
    const char* printed;
  };
  const Case cases[] = {
      {"steady", steady, true,
       "\r  2,0 MiB de 10,0 MiB (20 %), 2,0 MiB/s"
       "\r  4,0 MiB de 10,0 MiB (40 %), 2,0 MiB/s"
       "\r  10,0 MiB de 10,0 MiB (100 %), 4,0 MiB/s\n"},
      {"to a pipe or a file", steady, false, ""},
      {"over in less than a second",
       {Bytes(no_time, 0, ten), Bytes(milliseconds(999), ten, ten, TransferPhase::kFinished)},
       true,
       ""},
      {"other lines end it first, on the latest count",
       {Bytes(no_time, 0), Bytes(second, kMiB), Bytes(milliseconds(500), 2 * kMiB), status_line,
        Bytes(second, 3 * kMiB), message, Bytes(second, 4 * kMiB), run_log,
        Bytes(no_time, 4 * kMiB, std::nullopt, TransferPhase::kFailed)},
       true,
       "\r  1,0 MiB, 1,0 MiB/s\r  2,0 MiB, 1,3 MiB/s\n  Recebendo resposta...\n"
       "\r  3,0 MiB, 1,2 MiB/s\nFalhou\n"
       "\r  4,0 MiB, 1,1 MiB/s\nBaixado: a.exe\n"},
      {"a shorter line blanks the rest of the longer one",
       {Bytes(no_time, 0), Bytes(second, ten), Bytes(second, ten),
        Bytes(no_time, ten, std::nullopt, TransferPhase::kFailed)},
       true,
       "\r  10,0 MiB, 10,0 MiB/s\r  10,0 MiB, 5,0 MiB/s \n"},
      {"a retry measures its own rate from where it resumes",
       {Bytes(no_time, 0, 4 * kMiB), Bytes(second, kMiB, 4 * kMiB),
        Bytes(no_time, kMiB, 4 * kMiB, TransferPhase::kWaitingToRetry),
        Bytes(milliseconds(5000), kMiB, 4 * kMiB), Bytes(second, 3 * kMiB, 4 * kMiB),
        Bytes(second, 4 * kMiB, 4 * kMiB, TransferPhase::kFinished)},
       true,
       "\r  1,0 MiB de 4,0 MiB (25 %), 1,0 MiB/s\n"
       "\r  3,0 MiB de 4,0 MiB (75 %), 2,0 MiB/s"
       "\r  4,0 MiB de 4,0 MiB (100 %), 1,5 MiB/s\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ConsoleAfter(c.steps, c.terminal), c.printed);
  }
}

}  // namespace
