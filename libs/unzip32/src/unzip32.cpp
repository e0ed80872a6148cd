// The exported entry point: checks the arguments, then hands over to Run.
#include "unzip32.h"

#include <new>
#include <string>
#include <vector>

#include "run.h"

namespace {

bool ReadNameList(int32_t count, char** list, std::vector<std::string>& names) {
  if (count < 0 || count > UNZIP32_NAME_LIST_SLOTS || (count > 0 && list == nullptr)) {
    return false;
  }
  for (int32_t i = 0; i < count; ++i) {
    const char* name = list[i];
    if (name == nullptr) {
      return false;
    }
    names.emplace_back(name);
  }
  return true;
}

}  // namespace

extern "C" UNZIP32_EXPORT int32_t UNZIP32_CALL
Wiz_SingleEntryUnzip(int32_t include_count, char** include_list, int32_t exclude_count,
                     char** exclude_list, UnzipCommand* command, UnzipCallbacks* callbacks) {
  if (command == nullptr || callbacks == nullptr) {
    return UNZIP32_BAD_PARAMETERS;
  }
  callbacks->TotalCompressedSize = 0;
  callbacks->TotalSize = 0;
  callbacks->CompressionPercent = 0;
  callbacks->EntryCount = 0;
  callbacks->CommentLength = 0;
  // No exception may cross into a C caller; running out of memory is the only one expected.
  try {
    std::vector<std::string> includes;
    std::vector<std::string> excludes;
    if (command->ZipFileName == nullptr || command->ZipFileName[0] == '\0' ||
        !ReadNameList(include_count, include_list, includes) ||
        !ReadNameList(exclude_count, exclude_list, excludes)) {
      return UNZIP32_BAD_PARAMETERS;
    }
    kalo::unzip32::Run run(*command, *callbacks, std::move(includes), std::move(excludes));
    return run.Execute();
  } catch (const std::bad_alloc&) {
    return UNZIP32_ABORTED;
  } catch (...) {
    return UNZIP32_ABORTED;
  }
}
