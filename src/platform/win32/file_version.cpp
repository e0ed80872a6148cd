#include "platform/file_version.h"

#include <cstdint>
#include <span>

#include "platform/executable_version.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"

namespace kalo::platform {
namespace {

class MappedFile {
 public:
  explicit MappedFile(const std::string& path) {
    const auto file = OwnUnlessInvalid<UniqueHandle>(::CreateFileW(
        Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    // An empty file cannot be mapped, and one larger than the address space neither.
    if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 ||
        static_cast<std::uint64_t>(size.QuadPart) > SIZE_MAX) {
      return;
    }
    // The view keeps the mapping and the file open by itself.
    const UniqueHandle mapping(
        ::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (mapping) {
      view_.reset(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    }
    if (view_) {
      bytes_ = {static_cast<const std::byte*>(view_.get()),
                static_cast<std::size_t>(size.QuadPart)};
    }
  }

  std::span<const std::byte> Bytes() const { return bytes_; }

 private:
  UniqueView view_;
  std::span<const std::byte> bytes_;
};

}  // namespace

std::optional<FileVersion> ReadFileVersion(const std::string& path) {
  // Mapping instead of reading keeps a large file cheap: only the pages the
  // reader touches are loaded.
  const MappedFile file(path);
  return ParseExecutableVersion(file.Bytes());
}

}  // namespace kalo::platform
