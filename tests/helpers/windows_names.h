// File names as a Windows folder takes them, for every check that must refuse what
// Windows cannot hold (the manifest's names, unzip32 on Windows) and let the rest pass.
#pragma once

#include <string>
#include <vector>

namespace kalo::test {

struct WindowsNameCase {
  std::string name;
  bool holdable;  // Windows holds it as written and opens it as a file.
};

inline const std::vector<WindowsNameCase>& WindowsNames() {
  static const std::vector<WindowsNameCase> names = {
      // Devices, in any case and with any extension, matched before the first dot once
      // trailing blanks are cut.
      {"con", false},
      {"PRN", false},
      {"Aux.txt", false},
      {"nul.tar.gz", false},
      {"com1", false},
      {"COM9.dll", false},
      {"lpt1.exe", false},
      {"LpT9", false},
      {"con .txt", false},
      // Windows drops a trailing dot or blank, so the file would get another name.
      {"a.", false},
      {"readme.txt.", false},
      {"a ", false},
      {"b. ", false},
      // Reserved characters: a colon addresses a stream, the others are wildcards or
      // redirections.
      {"a.txt:stream", false},
      {"x<y", false},
      {"x>y", false},
      {"say\"hi\"", false},
      {"x|y", false},
      {"x?y", false},
      {"x*y", false},
      // Controls: libzip reads other ones in names without the UTF-8 flag as code page 437
      // pictures (0x07 as a bullet), which are ordinary characters.
      {"tab\there", false},
      {"line\nfeed", false},
      {"carriage\rreturn", false},
      // Near misses that are ordinary names.
      {"console.txt", true},
      {"com10.dll", true},
      {"lpt.txt", true},
      {"nul1", true},
      {"auxiliar.dat", true},
      {"com1x.log", true},
      {"a.b.c", true},
      {".hidden", true},
      {"two words.txt", true},
  };
  return names;
}

}  // namespace kalo::test
