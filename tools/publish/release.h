// A release folder as the updater will see it once published: which files become
// which manifest entries, and what makes a file unpublishable.
#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace kalo::publish {

struct ReleaseFile {
  std::string path;
  std::string base_name;  // before the one dot
  std::string extension;  // after it
  bool executable = false;
  std::string stamp;         // executables: their version stamp; other files: their date
  std::time_t modified = 0;  // the file's modification time, which its archive keeps
};

struct ReleasePlan {
  std::vector<ReleaseFile> files;     // in name order
  std::vector<std::string> problems;  // one clear message per unpublishable file
};

// Looks at every file of `folder`. An executable without version information is a
// problem unless `allow_unversioned` is set (it is then published with an empty stamp,
// which the updater accepts only for a file without version information).
ReleasePlan PlanRelease(const std::string& folder, bool allow_unversioned);

// yyyymmddhhnn of `moment` in UTC: a data file's stamp.
std::string DateStamp(std::time_t moment);

}  // namespace kalo::publish
