// How every step above the platform layer answers that it failed: as data, never as a
// message of its own. The update run turns a failure into its message (" Erro: <step>",
// then "Motivo: <reason>") and ends the program; nothing below it shows or ends anything,
// but the two written interfaces with a message of their own (DownloadFile when asked to
// show it, ExtractResource).
#pragma once

#include <string>

namespace kalo {

struct Failure {
  // What failed, as the failure message names it ("Baixar: logo-jpg-1.jpg"). A routine
  // that cannot know how its caller names the step leaves it empty for the caller.
  std::string step;
  // Why: the server's, the network's, the disk's or a library's words.
  std::string reason;

  bool operator==(const Failure&) const = default;
};

}  // namespace kalo
