// What the hidden folder keeps of a download a run could not finish, so that the next
// run asking for the same file continues it: the body in one file, and beside it a
// record of what the body is, written only once the body is on the disk that far.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/internet_transfer_interface.h"

namespace cImpLicencas {

struct KeptDownloadRecord {
  std::string name;  // the file's name on the server
  // The manifest's length and digest fields when the download began; a manifest that
  // changed them names another file, and the body is not continued.
  std::string size;
  std::string sha256;
  kalo::platform::ResumePoint held;

  // Whether it was kept for the manifest entry of `server_name` with these fields.
  bool IsFor(std::string_view server_name, std::string_view entry_size,
             std::string_view entry_sha256) const {
    return name == server_name && size == entry_size && sha256 == entry_sha256;
  }

  // Only bytes whose body the server can name again can be continued.
  bool Resumable() const {
    return held.offset > 0 && !held.validator.empty() && held.total && held.offset <= *held.total;
  }
};

// The names of the kept body and of its record. They carry no dot, so that the journal
// never takes them for set-aside copies, and stand for the server name by a hash of it:
// a server name may be longer or hold more than the folder can name. A record names its
// server name in full, so two names that share the hash never share a body.
std::string KeptBodyName(std::string_view server_name);
std::string KeptRecordName(std::string_view server_name);
// True for a name either of the above gives.
bool IsKeptDownloadName(std::string_view name);
// The body's name for a record's name; nothing for any other name.
std::optional<std::string> KeptBodyOfRecord(std::string_view record_name);

std::string KeptRecordText(const KeptDownloadRecord& record);
// Nothing when the text is not a record this program writes, whole and sound: anyone who
// can write the hidden folder can write it, and its validator travels in a header.
std::optional<KeptDownloadRecord> ParseKeptRecord(std::string_view text);

}  // namespace cImpLicencas
