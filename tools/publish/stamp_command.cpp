#include "stamp_command.h"

#include <ostream>

#include "platform/error.h"
#include "platform/file_system.h"
#include "support/exit_status.h"
#include "support/timestamps.h"
#include "update/protocol.h"

namespace kalo::publish {

int RunStamp(std::span<const std::string> files, std::ostream& out, std::ostream& err) {
  const platform::FileSystem fs;
  int status = exit_status::kSuccess;
  for (const std::string& file : files) {
    try {
      if (fs.KindOf(file) != platform::EntryKind::kFile) {
        err << "kalo-publish: " << file << ": arquivo não encontrado\n";
        status = exit_status::kFailure;
        continue;
      }
    } catch (const Error& error) {
      err << "kalo-publish: " << file << ": " << error.Description() << "\n";
      status = exit_status::kFailure;
      continue;
    }
    out << file << '\t' << cUpdate::FileVersionStamp(file, cImpLicencas::kStampPattern) << '\n';
  }
  return status;
}

}  // namespace kalo::publish
