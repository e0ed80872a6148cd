#include "platform/link_refusal.h"

#include <utility>

namespace kalo::platform {

Error LinkRefused(const std::string& path, std::string source) {
  return Error(error_number::kPathFileAccess,
               "Não foi possível usar " + path +
                   ": é um link (simbólico, junção ou outro ponto de nova análise), que não é "
                   "seguido",
               std::move(source));
}

}  // namespace kalo::platform
