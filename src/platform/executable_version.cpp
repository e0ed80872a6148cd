#include "platform/executable_version.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace kalo::platform {
namespace {

constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr std::uint64_t kFixedInfoSize = 52;
constexpr std::string_view kElfMagic = "\177ELF";

// Bounds-checked reads of unsigned integers over a span. Offsets are 64-bit and the check
// subtracts instead of adding, so no offset taken from the file can wrap around.
class Reader {
 public:
  explicit Reader(std::span<const std::byte> bytes, bool big_endian = false)
      : bytes_(bytes), big_endian_(big_endian) {}

  std::uint64_t size() const { return bytes_.size(); }

  std::optional<std::span<const std::byte>> Slice(std::uint64_t offset,
                                                  std::uint64_t length) const {
    if (offset > bytes_.size() || length > bytes_.size() - offset) {
      return std::nullopt;
    }
    return bytes_.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
  }

  std::optional<std::uint64_t> Unsigned(std::uint64_t offset, std::size_t width) const {
    const auto field = Slice(offset, width);
    if (!field) {
      return std::nullopt;
    }
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
      const std::size_t index = big_endian_ ? i : width - 1 - i;
      value = (value << 8) | std::to_integer<std::uint64_t>((*field)[index]);
    }
    return value;
  }

  std::optional<std::uint16_t> U16(std::uint64_t offset) const {
    const auto value = Unsigned(offset, 2);
    return value ? std::optional(static_cast<std::uint16_t>(*value)) : std::nullopt;
  }

  std::optional<std::uint32_t> U32(std::uint64_t offset) const {
    const auto value = Unsigned(offset, 4);
    return value ? std::optional(static_cast<std::uint32_t>(*value)) : std::nullopt;
  }

 private:
  std::span<const std::byte> bytes_;
  bool big_endian_;
};

constexpr std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

bool StartsWith(std::span<const std::byte> bytes, std::string_view prefix) {
  return bytes.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), bytes.begin(),
                    [](char c, std::byte b) { return static_cast<std::byte>(c) == b; });
}

// The fixed file information is little-endian in both formats, since the ELF note carries
// the very structure a Windows build stores in its resource.
std::optional<FileVersion> ParseFixedFileInfo(std::span<const std::byte> info) {
  const Reader reader(info);
  const auto signature = reader.U32(0);
  const auto most = reader.U32(8);
  const auto least = reader.U32(12);
  if (!signature || *signature != kFixedInfoSignature || !most || !least) {
    return std::nullopt;
  }
  return FileVersion{static_cast<std::uint16_t>(*most >> 16), static_cast<std::uint16_t>(*most),
                     static_cast<std::uint16_t>(*least >> 16), static_cast<std::uint16_t>(*least)};
}

// ---- PE ----

// The file's section table, used to turn relative virtual addresses into file bytes.
class PeSections {
 public:
  PeSections(const Reader& file, std::uint64_t table_at, std::uint64_t count)
      : file_(file), table_at_(table_at), count_(count) {}

  // The bytes from `rva` to the end of the raw data of the first section covering it. A
  // section spans its virtual size, but only its raw data exists in the file.
  std::optional<std::span<const std::byte>> Tail(std::uint64_t rva) const {
    constexpr std::uint64_t kHeaderSize = 40;
    for (std::uint64_t i = 0; i < count_; ++i) {
      const std::uint64_t at = table_at_ + i * kHeaderSize;
      const auto virtual_size = file_.U32(at + 8);
      const auto address = file_.U32(at + 12);
      const auto raw_size = file_.U32(at + 16);
      const auto raw_at = file_.U32(at + 20);
      if (!virtual_size || !address || !raw_size || !raw_at) {
        return std::nullopt;
      }
      if (rva < *address || rva - *address >= std::max(*virtual_size, *raw_size)) {
        continue;
      }
      // A file cut short keeps what it still holds of the section.
      const std::uint64_t delta = rva - *address;
      const std::uint64_t start = std::uint64_t{*raw_at} + delta;
      if (delta >= *raw_size || start > file_.size()) {
        return std::nullopt;
      }
      return file_.Slice(start, std::min(*raw_size - delta, file_.size() - start));
    }
    return std::nullopt;
  }

  std::optional<std::span<const std::byte>> Slice(std::uint64_t rva, std::uint64_t length) const {
    const auto tail = Tail(rva);
    return tail ? Reader(*tail).Slice(0, length) : std::nullopt;
  }

 private:
  const Reader& file_;
  std::uint64_t table_at_;
  std::uint64_t count_;
};

constexpr std::uint32_t kHighBit = 0x80000000;

// OffsetToData of the resource directory's entry with the integer id `id`, or of its first
// entry when no id is asked for. Named entries never match an id.
std::optional<std::uint32_t> FindResourceEntry(const PeSections& sections,
                                               std::uint64_t directory_rva,
                                               std::optional<std::uint32_t> id) {
  const auto tail = sections.Tail(directory_rva);
  if (!tail) {
    return std::nullopt;
  }
  const Reader directory(*tail);
  const auto named = directory.U16(12);
  const auto numbered = directory.U16(14);
  if (!named || !numbered) {
    return std::nullopt;
  }
  // The counts are not trusted: the loop ends at the first entry past the section's data.
  const std::uint32_t count = std::uint32_t{*named} + *numbered;
  for (std::uint32_t i = 0; i < count; ++i) {
    const auto name = directory.U32(16 + 8 * std::uint64_t{i});
    const auto target = directory.U32(20 + 8 * std::uint64_t{i});
    if (!name || !target) {
      return std::nullopt;
    }
    if (!id || ((*name & kHighBit) == 0 && *name == *id)) {
      return *target;
    }
  }
  return std::nullopt;
}

// Descends type, name and language. Exactly three levels are read, so a subdirectory that
// points back at itself or at the root cannot make the walk loop.
std::optional<std::span<const std::byte>> FindVersionResource(const PeSections& sections,
                                                              std::uint64_t root_rva) {
  constexpr std::uint32_t kRtVersion = 16;
  std::uint64_t directory_rva = root_rva;
  std::optional<std::uint32_t> id = kRtVersion;
  for (int level = 0; level < 2; ++level) {
    const auto target = FindResourceEntry(sections, directory_rva, id);
    if (!target || (*target & kHighBit) == 0) {
      return std::nullopt;
    }
    directory_rva = root_rva + (*target & ~kHighBit);
    id = std::nullopt;
  }
  const auto target = FindResourceEntry(sections, directory_rva, std::nullopt);
  if (!target || (*target & kHighBit) != 0) {
    return std::nullopt;
  }
  const auto entry = sections.Slice(root_rva + *target, 8);
  if (!entry) {
    return std::nullopt;
  }
  // The data entry holds an address relative to the image, not to the resource directory.
  const Reader data_entry(*entry);
  return sections.Slice(data_entry.U32(0).value_or(0), data_entry.U32(4).value_or(0));
}

std::optional<FileVersion> ParseVersionInfo(std::span<const std::byte> resource) {
  constexpr std::u16string_view kKey{u"VS_VERSION_INFO", 16};  // With its terminating NUL.
  constexpr std::uint64_t kKeyAt = 6;
  const Reader block(resource);
  const auto length = block.U16(0);
  const auto value_length = block.U16(2);
  if (!length || !value_length || *length > block.size() || *value_length < kFixedInfoSize) {
    return std::nullopt;
  }
  const Reader info(resource.first(*length));
  for (std::size_t i = 0; i < kKey.size(); ++i) {
    const auto unit = info.U16(kKeyAt + 2 * i);
    if (!unit || *unit != kKey[i]) {
      return std::nullopt;
    }
  }
  // The value is aligned to four bytes from the start of the block.
  const auto value = info.Slice(AlignUp(kKeyAt + 2 * kKey.size(), 4), kFixedInfoSize);
  return value ? ParseFixedFileInfo(*value) : std::nullopt;
}

// ---- ELF ----

// Where the fields of a section header or program header lie, for one ELF class.
struct HeaderLayout {
  std::uint64_t min_entry_size;
  std::uint32_t note_type;
  std::uint64_t type_at;
  std::uint64_t offset_at;
  std::uint64_t size_at;
  std::uint64_t align_at;
};

constexpr HeaderLayout kSection32{40, 7, 4, 16, 20, 32};
constexpr HeaderLayout kSection64{64, 7, 4, 24, 32, 48};
constexpr HeaderLayout kProgram32{32, 4, 0, 4, 16, 28};
constexpr HeaderLayout kProgram64{56, 4, 0, 8, 32, 48};

// Reads notes while `budget` lasts, taking one from it per note.
std::optional<FileVersion> ParseNotes(std::span<const std::byte> notes, bool big_endian,
                                      std::uint64_t alignment, std::uint64_t& budget) {
  constexpr std::uint32_t kVersionNoteType = 1;
  const Reader reader(notes, big_endian);
  std::uint64_t at = 0;
  for (; budget > 0; --budget) {
    const auto name_size = reader.U32(at);
    const auto descriptor_size = reader.U32(at + 4);
    const auto type = reader.U32(at + 8);
    if (!name_size || !descriptor_size || !type) {
      return std::nullopt;
    }
    // The same offsets as binutils: both the descriptor and the next note start at the
    // note alignment, counted from the start of the note.
    const std::uint64_t descriptor_at = at + AlignUp(12 + std::uint64_t{*name_size}, alignment);
    const auto name = reader.Slice(at + 12, *name_size);
    if (*name_size == 5 && *type == kVersionNoteType && *descriptor_size >= kFixedInfoSize &&
        name && StartsWith(*name, std::string_view("KALO", 5))) {
      const auto descriptor = reader.Slice(descriptor_at, kFixedInfoSize);
      if (const auto version = descriptor ? ParseFixedFileInfo(*descriptor) : std::nullopt) {
        return version;
      }
    }
    // Each step advances by at least the 12-byte note header.
    at = AlignUp(descriptor_at + *descriptor_size, alignment);
  }
  return std::nullopt;
}

// Reads the notes of every note section (or segment) of a header table. Only as many headers
// as the file can hold are visited, whatever the count claims. Headers may all cover the same
// bytes, so the notes read are bounded for the whole table by the most the file can hold.
std::optional<FileVersion> ScanNoteHeaders(const Reader& file, bool wide, bool big_endian,
                                           std::uint64_t table_at, std::uint64_t entry_size,
                                           std::uint64_t count, const HeaderLayout& layout) {
  if (entry_size < layout.min_entry_size || table_at > file.size()) {
    return std::nullopt;
  }
  const std::size_t word = wide ? 8 : 4;
  count = std::min(count, (file.size() - table_at) / entry_size);
  std::uint64_t note_budget = file.size() / 12;
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t at = table_at + i * entry_size;
    const auto type = file.U32(at + layout.type_at);
    const auto offset = file.Unsigned(at + layout.offset_at, word);
    const auto size = file.Unsigned(at + layout.size_at, word);
    const auto alignment = file.Unsigned(at + layout.align_at, word);
    if (!type || !offset || !size || !alignment || *type != layout.note_type) {
      continue;
    }
    const auto notes = file.Slice(*offset, *size);
    if (const auto version =
            notes ? ParseNotes(*notes, big_endian, *alignment == 8 ? 8 : 4, note_budget)
                  : std::nullopt) {
      return version;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<FileVersion> ParsePeVersion(std::span<const std::byte> image) {
  const Reader file(image);
  if (!StartsWith(image, "MZ")) {
    return std::nullopt;
  }
  const auto pe_at = file.U32(0x3C);
  const auto signature = pe_at ? file.Slice(*pe_at, 4) : std::nullopt;
  if (!signature || !StartsWith(*signature, std::string_view("PE\0\0", 4))) {
    return std::nullopt;
  }
  const std::uint64_t coff_at = *pe_at + 4;
  const auto section_count = file.U16(coff_at + 2);
  const auto optional_size = file.U16(coff_at + 16);
  const std::uint64_t optional_at = coff_at + 20;
  const auto magic = file.U16(optional_at);
  if (!section_count || !optional_size || !magic || (*magic != 0x10b && *magic != 0x20b)) {
    return std::nullopt;
  }
  // PE32+ drops BaseOfData and widens four fields, moving the data directories by 16 bytes.
  const std::uint64_t directories_at = optional_at + (*magic == 0x10b ? 96 : 112);
  constexpr std::uint64_t kResourceDirectory = 2;
  const auto directory_count = file.U32(directories_at - 4);
  if (!directory_count || *directory_count <= kResourceDirectory ||
      directories_at + 8 * (kResourceDirectory + 1) > optional_at + *optional_size) {
    return std::nullopt;
  }
  const auto resource_rva = file.U32(directories_at + 8 * kResourceDirectory);
  if (!resource_rva || *resource_rva == 0) {
    return std::nullopt;
  }
  const std::uint64_t table_at = optional_at + *optional_size;
  const std::uint64_t available = file.size() - std::min(table_at, file.size());
  const PeSections sections(file, table_at,
                            std::min<std::uint64_t>(*section_count, available / 40));
  const auto resource = FindVersionResource(sections, *resource_rva);
  return resource ? ParseVersionInfo(*resource) : std::nullopt;
}

std::optional<FileVersion> ParseElfVersion(std::span<const std::byte> image) {
  if (!StartsWith(image, kElfMagic) || image.size() < 6) {
    return std::nullopt;
  }
  const auto elf_class = std::to_integer<int>(image[4]);
  const auto encoding = std::to_integer<int>(image[5]);
  if ((elf_class != 1 && elf_class != 2) || (encoding != 1 && encoding != 2)) {
    return std::nullopt;
  }
  const bool wide = elf_class == 2;
  const bool big_endian = encoding == 2;
  const Reader file(image, big_endian);
  const std::size_t word = wide ? 8 : 4;
  const auto program_at = file.Unsigned(wide ? 32 : 28, word);
  const auto section_at = file.Unsigned(wide ? 40 : 32, word);
  const std::uint64_t sizes_at = wide ? 54 : 42;
  const auto program_size = file.U16(sizes_at);
  const auto program_count = file.U16(sizes_at + 2);
  const auto section_size = file.U16(sizes_at + 4);
  const auto section_count = file.U16(sizes_at + 6);
  if (!program_at || !section_at || !program_size || !program_count || !section_size ||
      !section_count) {
    return std::nullopt;
  }
  const HeaderLayout& sections = wide ? kSection64 : kSection32;
  std::uint64_t count = *section_count;
  // With 0xff00 sections or more the count moves into the size field of the first header.
  if (count == 0 && *section_at != 0 && *section_at <= file.size()) {
    count = file.Unsigned(*section_at + sections.size_at, word).value_or(0);
  }
  if (*section_at != 0 && count != 0) {
    return ScanNoteHeaders(file, wide, big_endian, *section_at, *section_size, count, sections);
  }
  return ScanNoteHeaders(file, wide, big_endian, *program_at, *program_size, *program_count,
                         wide ? kProgram64 : kProgram32);
}

std::optional<FileVersion> ParseExecutableVersion(std::span<const std::byte> image) {
  if (StartsWith(image, "MZ")) {
    return ParsePeVersion(image);
  }
  if (StartsWith(image, kElfMagic)) {
    return ParseElfVersion(image);
  }
  return std::nullopt;
}

}  // namespace kalo::platform
