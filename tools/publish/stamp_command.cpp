#include "stamp_command.h"

#include <ostream>

#include "platform/error.h"
#include "platform/file_system.h"
#include "support/timestamps.h"

namespace kalo::publish {

int RunStamp(std::span<const std::string> files, std::ostream& out, std::ostream& err) {
  const platform::FileSystem fs;
  int status = 0;
  for (const std::string& file : files) {
    try {
      if (fs.KindOf(file) != platform::EntryKind::kFile) {
        err << "kalo-publish: " << file << ": arquivo não encontrado\n";
        status = 1;
        continue;
      }
    } catch (const Error& error) {
      err << "kalo-publish: " << file << ": " << error.Description() << "\n";
      status = 1;
      continue;
    }
    out << file << '\t' << cUpdate::FileVersionStamp(file, "yyyymmddhhnn") << '\n';
  }
  return status;
}

}  // namespace kalo::publish
