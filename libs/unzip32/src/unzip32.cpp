// The exported entry point: checks the arguments, converts the caller's texts, then hands
// over to Run.
#include "unzip32.h"

#include <string>
#include <utility>
#include <vector>

#include "caller_text.h"
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
    names.push_back(kalo::caller_text::ToUtf8(name));
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
    kalo::unzip32::RunTexts texts;
    if (command->ZipFileName == nullptr || command->ZipFileName[0] == '\0' ||
        !ReadNameList(include_count, include_list, texts.includes) ||
        !ReadNameList(exclude_count, exclude_list, texts.excludes)) {
      return UNZIP32_BAD_PARAMETERS;
    }
    texts.archive = kalo::caller_text::ToUtf8(command->ZipFileName);
    if (command->ExtractDir != nullptr) {
      texts.destination = kalo::caller_text::ToUtf8(command->ExtractDir);
    }
    kalo::unzip32::Run run(*command, *callbacks, std::move(texts));
    return run.Execute();
  } catch (...) {
    return UNZIP32_ABORTED;
  }
}
