#include "archive/unzip_binding.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "archive/binding_state.h"
#include "platform/error.h"
#include "platform/library_text.h"

namespace cImpZipDeclares {
namespace {

constexpr std::size_t kPrintBound = 32801;
constexpr std::size_t kFileNameBound = 256;
constexpr std::size_t kPasswordBufferBound = 257;

using SingleEntryUnzip = decltype(&Wiz_SingleEntryUnzip);

// `archive` and `folder` are in the library's encoding and must outlive the command.
UnzipCommand CommandFor(const std::string& archive, const std::string& folder,
                        const UnzipOptionValues& options) {
  UnzipCommand command{};
  command.ExtractOnlyNewer = options.extract_only_newer;
  command.SpaceToUnderScore = options.space_to_underscore;
  command.PromptOverwrite = options.prompt_overwrite;
  command.MessageLevel = options.message_level;
  command.WriteToStdOut = options.write_to_stdout;
  command.TestZip = options.test_zip;
  command.ExtractList = options.extract_list;
  command.ExtractNewer = options.extract_newer;
  command.DisplayComment = options.display_comment;
  command.HonorDirectories = options.honor_directories;
  command.OverWriteFiles = options.overwrite_files;
  command.ConvertCRtoCRLF = options.convert_cr_to_crlf;
  command.Verbose = options.verbose;
  command.CaseSensitive = options.case_sensitive;
  command.Privilege = options.privilege;
  command.ZipFileName = archive.c_str();
  command.ExtractDir = folder.c_str();
  return command;
}

}  // namespace

std::int32_t VBUnzip(ArchiveLibraries& libraries, kalo::platform::Ui& ui,
                     const std::string& archive, const std::string& folder,
                     const UnzipOptionValues& options) {
  try {
    BindingState& state = TheBindingState();
    state.last_message.clear();
    state.print_text.clear();
    state.password_refused = 0;
    state.listed_size = 0;

    // Both name lists are empty with a count of 0: the whole archive is extracted.
    std::array<char*, UNZIP32_NAME_LIST_SLOTS> include_list{};
    std::array<char*, UNZIP32_NAME_LIST_SLOTS> exclude_list{};
    char empty_name[] = "";
    include_list[0] = empty_name;
    exclude_list[0] = empty_name;

    const std::string library_archive = kalo::platform::ToLibraryText(archive);
    const std::string library_folder = kalo::platform::ToLibraryText(folder);
    UnzipCommand command = CommandFor(library_archive, library_folder, options);
    UnzipCallbacks callbacks{};
    callbacks.Print = &UnzipPrint;
    callbacks.Replace = &UnzipReplace;
    callbacks.Password = &UnzipPassword;
    callbacks.ListEntry = &UnzipListEntry;
    callbacks.Service = &UnzipService;

    const auto unzip =
        reinterpret_cast<SingleEntryUnzip>(libraries.Unzip().Function("Wiz_SingleEntryUnzip"));
    const ActiveUi active(ui);
    return unzip(0, include_list.data(), 0, exclude_list.data(), &command, &callbacks);
  } catch (const kalo::Error& error) {
    throw error.WithSource("CodeModule::VBUnzip");
  }
}

// Every callback keeps its own failures to itself: nothing may unwind into the
// library's C frames.

std::int32_t UNZIP32_CALL UnzipPrint(const char* text, std::uint32_t length) {
  try {
    std::string printed = TextFromBuffer(text, std::min<std::size_t>(length, kPrintBound));
    if (!printed.empty() && printed.front() == '\n') {
      printed = "\r\n";
    }
    BindingState& state = TheBindingState();
    state.print_text += printed;
    state.last_message = state.print_text;
  } catch (...) {
  }
  return 0;
}

std::int32_t UNZIP32_CALL UnzipReplace(char* file_name) {
  try {
    kalo::platform::Ui* ui = TheBindingState().ui;
    if (ui == nullptr) {
      return UNZIP32_REPLACE_NONE;
    }
    const auto answer = ui->ShowMessage(
        "Overwrite " + TextFromBuffer(file_name, kFileNameBound) + "?",
        kalo::platform::MessageStyle::kExclamationYesNoCancel, "VBUnZip32 - File Already Exists!");
    switch (answer) {
      case kalo::platform::MessageAnswer::kYes:
        return UNZIP32_REPLACE_YES;
      case kalo::platform::MessageAnswer::kNo:
        return UNZIP32_REPLACE_NO;
      default:
        return UNZIP32_REPLACE_NONE;
    }
  } catch (...) {
    return UNZIP32_REPLACE_NONE;
  }
}

std::int32_t UNZIP32_CALL UnzipPassword(char* password, std::int32_t size, const char* /*prompt*/,
                                        const char* /*entry_name*/) {
  try {
    BindingState& state = TheBindingState();
    if (state.password_refused == 1 || state.ui == nullptr) {
      return 1;
    }
    const std::string answer =
        kalo::platform::ToLibraryText(state.ui->AskText("Please Enter The Password!", ""));
    if (answer.empty()) {
      state.password_refused = 1;
      return 1;
    }
    const std::size_t buffer_size =
        std::min<std::size_t>(static_cast<std::size_t>(std::max(size, 0)), kPasswordBufferBound);
    if (buffer_size == 0 || password == nullptr) {
      return 0;
    }
    std::memset(password, 0, buffer_size);
    // The answer is cut so that its terminating NUL always fits in the buffer.
    std::memcpy(password, answer.data(), std::min(answer.size(), buffer_size - 1));
  } catch (...) {
  }
  return 0;
}

void UNZIP32_CALL UnzipListEntry(std::int32_t size, std::uint32_t, std::uint16_t, std::uint16_t,
                                 std::uint16_t, std::uint16_t, std::uint16_t, std::uint16_t,
                                 std::uint8_t, const char*, const char*, std::uint32_t,
                                 std::uint8_t) {
  if (size > 0) {
    TheBindingState().listed_size += static_cast<std::uint64_t>(size);
  }
}

std::int32_t UNZIP32_CALL UnzipService(const char* /*entry_name*/, std::uint32_t /*size*/) {
  return 0;
}

}  // namespace cImpZipDeclares
