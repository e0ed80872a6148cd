// How our programs end, for the scripts that start them.
#pragma once

namespace kalo::exit_status {

inline constexpr int kSuccess = 0;
// The work failed: a failure message, an error report, nothing received.
inline constexpr int kFailure = 1;
// The input was refused before any work: the command line, a name, a folder.
inline constexpr int kRefused = 2;

}  // namespace kalo::exit_status
