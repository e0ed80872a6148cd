#include "platform/mapped_file.h"

#include <cstdint>

#include "win32/handle.h"
#include "win32/wide_text.h"

namespace kalo::platform {

MappedFile::MappedFile(const std::string& path) {
  const auto file =
      win32::Handle(::CreateFileW(win32::Widen(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  // An empty file cannot be mapped, and one larger than the address space neither.
  if (!file.valid() || !::GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 ||
      static_cast<std::uint64_t>(size.QuadPart) > SIZE_MAX) {
    return;
  }
  // The view keeps the mapping and the file open by itself.
  const win32::Handle mapping(
      ::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  const void* view =
      mapping.valid() ? ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0) : nullptr;
  if (view != nullptr) {
    bytes_ = {static_cast<const std::byte*>(view), static_cast<std::size_t>(size.QuadPart)};
  }
}

MappedFile::~MappedFile() {
  if (!bytes_.empty()) {
    ::UnmapViewOfFile(bytes_.data());
  }
}

}  // namespace kalo::platform
