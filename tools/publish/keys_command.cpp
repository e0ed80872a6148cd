#include "keys_command.h"

#include <ostream>

#include "platform/error.h"
#include "signing.h"
#include "support/exit_status.h"
#include "support/text.h"

namespace kalo::publish {

int RunKeys(const std::string& key_file, std::ostream& out, std::ostream& err) {
  try {
    const SigningKey key = SigningKey::Generate();
    key.SaveNew(key_file);
    out << cUpdate::HexText(key.PublicKey()) << '\n';
    // The id that signature files name, and that an updater without the key reports.
    err << "kalo-publish: identificação da chave: " << key.KeyId() << '\n';
  } catch (const Error& error) {
    err << "kalo-publish: " << error.Description() << '\n';
    return exit_status::kFailure;
  }
  err << "kalo-publish: a chave pública acima vai no atualizador: cmake --preset release "
         "-DKALO_PUBLIC_KEYS=<chave>\n"
      << "kalo-publish: assine as versões com kalo-publish build ... --sign " << key_file << '\n'
      << "kalo-publish: guarde " << key_file
      << " em segredo e com cópia de segurança: sem ela, os atualizadores com esta chave não "
         "aceitam novas versões\n";
  return exit_status::kSuccess;
}

}  // namespace kalo::publish
