#include "archive/zip_binding.h"

#include <algorithm>
#include <optional>

#include "archive/binding_state.h"
#include "platform/library_text.h"
#include "support/text.h"

namespace cImpZipDeclares {
namespace {

constexpr std::size_t kPrintBound = ZIP32_COMMENT_BUFFER_SIZE;

// Looks up one export; nothing when the library or the function is missing, since
// such a call is skipped rather than reported.
template <typename Function>
std::optional<Function> ExportOf(ArchiveLibraries& libraries, const char* name) {
  try {
    return reinterpret_cast<Function>(libraries.Zip().Function(name));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace

std::int32_t ZipFileList(ArchiveLibraries& libraries, kalo::platform::Ui& ui, std::int16_t count,
                         const std::string& archive, const NameList& names,
                         const ZipOptionValues& options) {
  TheBindingState().last_message.clear();

  ZipCallbacks callbacks{};
  callbacks.Print = &ZipPrint;
  callbacks.Password = &ZipPassword;
  callbacks.Comment = &ZipComment;

  const std::string root =
      kalo::platform::ToLibraryText(cUpdate::UpperCase(options.root_directory));
  const std::string library_archive = kalo::platform::ToLibraryText(archive);
  ZipOptions record{};
  record.RecurseFolders = options.recurse_folders;
  record.UpdateArchive = options.updating_zip;
  record.RootDirectory = root.c_str();

  std::array<char*, ZIP32_NAME_LIST_SLOTS> name_pointers{};
  NameList name_copies;
  std::ranges::transform(names, name_copies.begin(), kalo::platform::ToLibraryText);
  std::ranges::transform(name_copies, name_pointers.begin(),
                         [](std::string& name) { return name.data(); });

  const ActiveUi active(ui);
  std::int32_t result = 0;
  if (const auto init = ExportOf<decltype(&ZpInit)>(libraries, "ZpInit")) {
    result = (*init)(&callbacks);
  }
  if (const auto set_options = ExportOf<decltype(&ZpSetOptions)>(libraries, "ZpSetOptions")) {
    result = (*set_options)(&record);
  }
  if (const auto zip = ExportOf<decltype(&ZpArchive)>(libraries, "ZpArchive")) {
    result = (*zip)(count, library_archive.c_str(), name_pointers.data());
  }
  return result;
}

std::int32_t ZIP32_CALL ZipPrint(const char* text, std::uint32_t length) {
  try {
    BindingState& state = TheBindingState();
    state.last_message += TextFromBuffer(text, std::min<std::size_t>(length, kPrintBound));
    // Writing an archive can take a while; the window keeps answering meanwhile.
    if (state.ui != nullptr) {
      state.ui->ProcessPendingMessages();
    }
  } catch (...) {
  }
  return 0;
}

std::int32_t ZIP32_CALL ZipPassword(char*, std::int32_t, const char*, const char*) {
  return 1;
}

char* ZIP32_CALL ZipComment(char* comment) {
  if (comment != nullptr) {
    comment[0] = '\0';
  }
  return comment;
}

}  // namespace cImpZipDeclares
