// The demo product: what the updater hands over to in the demo. It says which
// version is running and where from, so the user sees the update arrive.
#include <iostream>

#include "kalo/build_version.h"
#include "platform/own_program.h"
#include "support/timestamps.h"

int main() {
  std::cout << "\n*** Demo KALO, versão " << kalo::build::kVersionText << " de "
            << cUpdate::AppVersionDate("dd/mm/yyyy hh:nn") << ", em execução a partir de "
            << kalo::platform::OwnFilePath() << " ***\n"
            << std::endl;
  return 0;
}
