#include "archive/zip_compact.h"

#include <algorithm>
#include <limits>

#include "archive/binding_state.h"
#include "archive/unzip_binding.h"
#include "archive/zip_binding.h"
#include "platform/error.h"
#include "support/text.h"
#include "support/waits.h"

namespace {

// Application-defined error numbers: the platform's base 0x80040000 plus 2001, 2002.
constexpr std::int32_t kAlreadyInList = -2147219503;
constexpr std::int32_t kNotInList = -2147219502;
constexpr const char* kPlaceholder = "querty";

std::int16_t ToInt16(std::int32_t value) {
  if (value < std::numeric_limits<std::int16_t>::min() ||
      value > std::numeric_limits<std::int16_t>::max()) {
    throw kalo::Error(kalo::error_number::kOverflow,
                      "Estouro de capacidade: " + std::to_string(value) + " não cabe em 16 bits",
                      "clsZipUn::Unzip");
  }
  return static_cast<std::int16_t>(value);
}

// The library's warnings and errors from what it printed, one after the other; its
// result code when it said nothing of the kind.
std::string FailureReasonOf(const std::string& printed, std::int32_t result) {
  std::string reason;
  for (std::size_t start = 0; start < printed.size();) {
    const std::size_t end = std::min(printed.find('\n', start), printed.size());
    std::string line = printed.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (line.starts_with("error: ") || line.starts_with("warning: ")) {
      reason += (reason.empty() ? "" : "; ") + line;
    }
    start = end + 1;
  }
  return reason.empty() ? "a biblioteca de descompactação respondeu " + std::to_string(result)
                        : reason;
}

}  // namespace

cImpZipCompact::cImpZipCompact(cImpZipDeclares::ArchiveLibraries& libraries, kalo::platform::Ui& ui)
    : libraries_(libraries), ui_(ui), file_list_{{kPlaceholder, kPlaceholder}} {}

std::int32_t cImpZipCompact::ZipFileCount() const {
  return static_cast<std::int32_t>(file_list_.size()) - 1;
}

std::vector<cImpZipCompact::FileEntry>::iterator cImpZipCompact::FindFile(const std::string& key) {
  const std::string wanted = cUpdate::LowerCase(key);
  return std::ranges::find_if(file_list_, [&wanted](const FileEntry& entry) {
    return cUpdate::LowerCase(entry.key) == wanted;
  });
}

void cImpZipCompact::AddFile(const std::string& sFileName) {
  if (FindFile(sFileName) != file_list_.end()) {
    throw kalo::Error(kAlreadyInList, "File is already in Zip List", "CGZip::AddFile");
  }
  file_list_.push_back({sFileName, sFileName});
}

void cImpZipCompact::RemoveFile(const std::string& sFileName) {
  const auto found = FindFile(sFileName);
  if (found == file_list_.end()) {
    throw kalo::Error(kNotInList, "File is not in Zip List", "CGZip::RemoveFile");
  }
  file_list_.erase(found);
}

std::int32_t cImpZipCompact::MakeZipFile() {
  try {
    cImpZipDeclares::NameList names;
    if (file_list_.size() > names.size()) {
      throw kalo::Error(kalo::error_number::kSubscriptOutOfRange,
                        "Subscrito fora do intervalo: a lista tem mais de " +
                            std::to_string(names.size()) + " nomes",
                        "clsZip::MakeZipFile");
    }
    // The placeholder keeps its slot in the list's capacity but is not handed to the
    // library, which would otherwise zip any file that happens to be named like it.
    std::int16_t count = 0;
    for (auto entry = file_list_.begin() + 1; entry != file_list_.end(); ++entry) {
      names[static_cast<std::size_t>(count++)] = entry->item;
    }
    return cImpZipDeclares::ZipFileList(libraries_, ui_, count, zip_file_name_, names,
                                        {.recurse_folders = recurse_folders_,
                                         .updating_zip = updating_zip_,
                                         .root_directory = root_directory_});
  } catch (const kalo::Error& error) {
    throw error.WithSource("clsZip::MakeZipFile");
  }
}

std::int32_t cImpZipCompact::Unzip(const std::string& sZipFileName,
                                   const std::string& sExtractDir) {
  try {
    if (!sZipFileName.empty()) {
      zip_file_name_ = sZipFileName;
    }
    if (!sExtractDir.empty()) {
      extract_dir_ = sExtractDir;
    }
    const cImpZipDeclares::UnzipOptionValues options{.extract_newer = extract_newer_,
                                                     .space_to_underscore = space_to_underscore_,
                                                     .prompt_overwrite = prompt_overwrite_,
                                                     .message_level = ToInt16(message_level_),
                                                     .write_to_stdout = write_to_stdout_,
                                                     .test_zip = test_zip_,
                                                     .extract_list = ToInt16(extract_list_),
                                                     .extract_only_newer = extract_only_newer_,
                                                     .display_comment = display_comment_,
                                                     .honor_directories = honor_directories_,
                                                     .overwrite_files = overwrite_files_,
                                                     .convert_cr_to_crlf = convert_cr_to_crlf_,
                                                     .verbose = verbose_,
                                                     .case_sensitive = case_sensitive_,
                                                     .privilege = ToInt16(privilege_)};
    return cImpZipDeclares::VBUnzip(libraries_, ui_, zip_file_name_, extract_dir_, options);
  } catch (const kalo::Error& error) {
    throw error.WithSource("clsZipUn::Unzip");
  }
}

std::string cImpZipCompact::GetLastMessage() const {
  return cImpZipDeclares::TheBindingState().last_message;
}

namespace cImpZipDeclares {

std::optional<kalo::Failure> UnzipToFolder(ArchiveLibraries& libraries, kalo::platform::Ui& ui,
                                           const kalo::platform::Clock& clock,
                                           const std::string& archive, const std::string& folder) {
  std::optional<kalo::Failure> failure;
  {
    cImpZipCompact zip(libraries, ui);
    zip.SetZipFileName(archive);
    zip.SetExtractDir(folder);
    zip.SetHonorDirectories(false);
    if (const std::int32_t result = zip.Unzip("", ""); result != 0) {
      failure = kalo::Failure{{}, FailureReasonOf(zip.GetLastMessage(), result)};
    }
  }
  cUpdate::WaitSeconds(ui, clock, 2);
  return failure;
}

std::optional<std::uint64_t> DeclaredUnpackedSize(ArchiveLibraries& libraries,
                                                  kalo::platform::Ui& ui,
                                                  const std::string& archive) {
  cImpZipCompact zip(libraries, ui);
  zip.SetExtractList(1);
  zip.SetMessageLevel(0);
  if (zip.Unzip(archive, "") != 0) {
    return std::nullopt;
  }
  return TheBindingState().listed_size;
}

bool IsUnpackTemporary(std::string_view name) {
  return name.starts_with(".unzip32-") && name.ends_with(".tmp");
}

}  // namespace cImpZipDeclares
