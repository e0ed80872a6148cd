#include "helpers/links.h"

namespace kalo::test {

bool MakeSymbolicLink(const std::filesystem::path& link, const std::filesystem::path& target,
                      bool /*folder*/) {
  std::error_code error;
  std::filesystem::create_symlink(target, link, error);
  return !error;
}

}  // namespace kalo::test
