// The exported functions. The C interface hands the callbacks and options over in
// separate calls before the archive call, so they wait in one session object.
#include "zip32.h"

#include <array>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "archive_writer.h"
#include "caller_text.h"
#include "file_list.h"

namespace kalo::zip32 {
namespace {

struct Session {
  bool initialised = false;
  ZipCallbacks callbacks{};
  bool recurse = false;
  bool update = false;
  std::string root;  // UTF-8.
};

Session& TheSession() {
  static Session session;
  return session;
}

// Lines stay far below the caller's 4,097-byte limit; a longer name is cut.
constexpr size_t kLongestLine = 1024;

void PrintLine(ZipPrintCallback print, std::string_view prefix, std::string_view name) {
  if (print == nullptr) {
    return;
  }
  constexpr std::string_view kCut = "...";
  std::string line(prefix);
  const size_t room = kLongestLine - prefix.size() - kCut.size() - 1;
  if (name.size() > room) {
    line.append(name.substr(0, room)).append(kCut);
  } else {
    line.append(name);
  }
  line += '\n';
  // The caller's code page never takes more bytes than UTF-8, so the line stays as short.
  line = caller_text::FromUtf8(line);
  print(line.c_str(), static_cast<uint32_t>(line.size()));
}

std::string AskComment(ZipCommentCallback ask) {
  if (ask == nullptr) {
    return {};
  }
  std::array<char, ZIP32_COMMENT_BUFFER_SIZE> buffer{};
  const char* answer = ask(buffer.data());
  if (answer == nullptr) {
    return {};
  }
  // The answer may be another buffer than ours; it is read no further than ours is long.
  return std::string(answer, ::strnlen(answer, ZIP32_COMMENT_BUFFER_SIZE));
}

int32_t BuildArchive(const Session& session, int32_t count, const char* archive, char** names) {
  if (!session.initialised) {
    return ZIP32_NOT_INITIALISED;
  }
  if (count < 0 || count > ZIP32_NAME_LIST_SLOTS || archive == nullptr || *archive == '\0' ||
      (count > 0 && names == nullptr)) {
    return ZIP32_BAD_PARAMETERS;
  }
  const ZipPrintCallback print = session.callbacks.Print;
  const std::string archive_path = WithSlashes(caller_text::ToUtf8(archive));

  CollectOptions options;
  options.recurse = session.recurse;
  options.root = WithSlashes(session.root);
  if (const std::optional<FileFacts> facts = Inspect(archive_path)) {
    options.archive = facts->identity;
  }
  std::vector<std::string> listed;
  for (int32_t i = 0; i < count; ++i) {
    const char* name = names[i];
    if (name != nullptr && *name != '\0') {
      listed.push_back(WithSlashes(caller_text::ToUtf8(name)));
    }
  }
  const std::vector<Item> items = CollectItems(listed, options, [print](std::string_view text) {
    PrintLine(print, "  zip warning: ", text);
  });
  if (items.empty()) {
    return ZIP32_NOTHING_TO_DO;
  }

  ArchiveWriter writer;
  if (const int32_t result = writer.Open(archive_path, session.update); result != ZIP32_OK) {
    return result;
  }
  // An empty answer keeps the comment of an archive being updated.
  const std::string comment = caller_text::ToUtf8(AskComment(session.callbacks.Comment));
  if (!comment.empty()) {
    if (const int32_t result = writer.SetComment(comment); result != ZIP32_OK) {
      return result;
    }
  }
  for (const Item& item : items) {
    if (const int32_t result = writer.Add(item); result != ZIP32_OK) {
      return result;
    }
    PrintLine(print, "  adding: ", item.stored_name);
  }
  return writer.Close();
}

}  // namespace
}  // namespace kalo::zip32

using kalo::zip32::TheSession;

extern "C" {

int32_t ZIP32_CALL ZpInit(ZipCallbacks* callbacks) {
  if (callbacks == nullptr) {
    return ZIP32_BAD_PARAMETERS;
  }
  TheSession().callbacks = *callbacks;
  TheSession().initialised = true;
  return ZIP32_OK;
}

int32_t ZIP32_CALL ZpSetOptions(ZipOptions* options) {
  if (options == nullptr) {
    return ZIP32_BAD_PARAMETERS;
  }
  try {
    // The text is copied because the caller's buffer may be gone by the archive call.
    std::string root =
        options->RootDirectory == nullptr ? "" : kalo::caller_text::ToUtf8(options->RootDirectory);
    kalo::zip32::Session& session = TheSession();
    session.recurse = options->RecurseFolders != 0;
    session.update = options->UpdateArchive != 0;
    session.root = std::move(root);
    return ZIP32_OK;
  } catch (const std::exception&) {
    return ZIP32_BAD_PARAMETERS;
  }
}

int32_t ZIP32_CALL ZpArchive(int32_t count, const char* archive, char** names) {
  // No exception may cross the C boundary.
  try {
    return kalo::zip32::BuildArchive(TheSession(), count, archive, names);
  } catch (const kalo::zip32::ReadFailure&) {
    return ZIP32_READ_FAILED;
  } catch (const std::exception&) {
    return ZIP32_WRITE_FAILED;
  }
}

}  // extern "C"
