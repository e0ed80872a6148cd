// The demo product: what the updater hands over to in the demo. It says which
// version is running and where from, so the user sees the update arrive.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "kalo/build_version.h"
#include "platform/own_program.h"
#include "support/timestamps.h"

int main() {
  const std::string own_path = kalo::platform::OwnFilePath();
  std::ostringstream line;
  line << "*** Demo KALO, versão " << kalo::build::kVersionText << " de "
       << cUpdate::AppVersionDate("dd/mm/yyyy hh:nn") << ", em execução a partir de " << own_path
       << " ***";
  // The updater may discard our output, so the line goes to a log beside us, where
  // scripts/demo reads it.
  std::ofstream(std::filesystem::path(own_path).parent_path() / "demo.log", std::ios::app)
      << line.str() << '\n';
  return 0;
}
