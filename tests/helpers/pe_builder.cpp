#include "helpers/pe_builder.h"

#include <algorithm>
#include <span>
#include <string_view>

namespace kalo::test {
namespace {

constexpr std::size_t AlignUp(std::size_t value, std::size_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

// Writes integers of either byte order at fixed offsets, growing the buffer as needed so
// that structures can be laid out in any order.
class Writer {
 public:
  explicit Writer(bool big_endian = false) : big_endian_(big_endian) {}

  void Put(std::size_t at, std::uint64_t value, std::size_t width) {
    Reserve(at + width);
    for (std::size_t i = 0; i < width; ++i) {
      const std::size_t shift = 8 * (big_endian_ ? width - 1 - i : i);
      bytes_[at + i] = static_cast<std::byte>((value >> shift) & 0xFF);
    }
  }
  void U16(std::size_t at, std::uint64_t value) { Put(at, value, 2); }
  void U32(std::size_t at, std::uint64_t value) { Put(at, value, 4); }
  void U64(std::size_t at, std::uint64_t value) { Put(at, value, 8); }

  void Bytes(std::size_t at, std::span<const std::byte> bytes) {
    Reserve(at + bytes.size());
    std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(at));
  }
  void Text(std::size_t at, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      Put(at + i, static_cast<unsigned char>(text[i]), 1);
    }
  }

  void Reserve(std::size_t size) { bytes_.resize(std::max(bytes_.size(), size)); }
  std::size_t size() const { return bytes_.size(); }
  const std::vector<std::byte>& bytes() const { return bytes_; }

 private:
  bool big_endian_;
  std::vector<std::byte> bytes_;
};

std::uint32_t High(const platform::FileVersion& version) {
  return std::uint32_t{version.major} << 16 | version.minor;
}
std::uint32_t Low(const platform::FileVersion& version) {
  return std::uint32_t{version.build} << 16 | version.revision;
}

// VS_FIXEDFILEINFO, little-endian in both formats.
std::vector<std::byte> FixedFileInfo(const platform::FileVersion& file,
                                     const platform::FileVersion& product,
                                     std::uint32_t signature) {
  Writer info;
  info.U32(0, signature);
  info.U32(4, 0x00010000);  // dwStrucVersion
  info.U32(8, High(file));
  info.U32(12, Low(file));
  info.U32(16, High(product));
  info.U32(20, Low(product));
  info.U32(24, 0x3F);     // dwFileFlagsMask
  info.U32(32, 0x40004);  // dwFileOS: VOS_NT_WINDOWS32
  info.U32(36, 1);        // dwFileType: VFT_APP
  info.Reserve(52);
  return info.bytes();
}

// The .rsrc section: type directory (a named decoy whose low bits read 16, RT_ICON and
// RT_VERSION), an empty directory, name and language directories, the data entry and the
// VS_VERSIONINFO block.
std::vector<std::byte> ResourceSection(const PeOptions& options, std::uint32_t section_rva) {
  constexpr std::uint32_t kSubdirectory = 0x80000000;
  constexpr std::size_t kEmpty = 0x28, kName = 0x38, kLanguage = 0x50, kData = 0x68;
  constexpr std::size_t kBlock = 0x78;
  Writer rsrc;
  const bool has_version = options.file_version.has_value();
  rsrc.U16(12, 1);
  rsrc.U16(14, options.root_id_entries.value_or(has_version ? 2 : 1));
  rsrc.U32(16, kSubdirectory | 0x10);
  rsrc.U32(20, kSubdirectory | kEmpty);
  rsrc.U32(24, 3);
  rsrc.U32(28, kSubdirectory | kEmpty);
  rsrc.Reserve(kEmpty + 16);
  if (!has_version) {
    return rsrc.bytes();
  }
  rsrc.U32(32, 16);
  rsrc.U32(36, kSubdirectory | (options.version_entry_points_to_root ? 0 : kName));
  rsrc.U16(kName + 14, 1);
  rsrc.U32(kName + 16, 1);
  rsrc.U32(kName + 20, kSubdirectory | kLanguage);
  rsrc.U16(kLanguage + 14, 1);
  rsrc.U32(kLanguage + 16, 0x409);
  rsrc.U32(kLanguage + 20, kData);

  const std::size_t value_at = AlignUp(6 + 2 * (options.key.size() + 1), 4);
  const std::size_t block_size = value_at + 52;
  rsrc.U32(kData, options.data_rva.value_or(section_rva + kBlock));
  rsrc.U32(kData + 4, options.data_size.value_or(block_size));
  rsrc.U16(kBlock, block_size);
  rsrc.U16(kBlock + 2, options.value_length);
  for (std::size_t i = 0; i < options.key.size(); ++i) {
    rsrc.U16(kBlock + 6 + 2 * i, options.key[i]);
  }
  rsrc.Bytes(kBlock + value_at,
             FixedFileInfo(*options.file_version, options.product_version, options.signature));
  return rsrc.bytes();
}

}  // namespace

std::vector<std::byte> BuildPe(const PeOptions& options) {
  constexpr std::size_t kPeAt = 0x80, kFileAlignment = 0x200;
  constexpr std::uint32_t kTextRva = 0x1000, kResourceRva = 0x2000;
  const std::vector<std::byte> rsrc = ResourceSection(options, kResourceRva);
  const std::size_t rsrc_raw_size = AlignUp(rsrc.size(), kFileAlignment);

  Writer image;
  image.Text(0, "MZ");
  image.U32(0x3C, options.pe_header_offset);
  image.Text(kPeAt, std::string_view("PE\0\0", 4));
  const std::size_t coff_at = kPeAt + 4;
  image.U16(coff_at, options.pe32_plus ? 0x8664 : 0x14C);
  image.U16(coff_at + 2, 2);
  const std::size_t directories_offset = options.pe32_plus ? 112 : 96;
  const std::size_t optional_size = directories_offset + 16 * 8;
  image.U16(coff_at + 16, optional_size);
  image.U16(coff_at + 18, options.pe32_plus ? 0x0022 : 0x0102);

  const std::size_t optional_at = coff_at + 20;
  image.U16(optional_at, options.pe32_plus ? 0x20B : 0x10B);
  image.U32(optional_at + 16, kTextRva);  // AddressOfEntryPoint
  image.U32(optional_at + 20, kTextRva);  // BaseOfCode
  if (options.pe32_plus) {
    image.U64(optional_at + 24, 0x140000000);
  } else {
    image.U32(optional_at + 28, 0x400000);
  }
  image.U32(optional_at + 32, 0x1000);
  image.U32(optional_at + 36, kFileAlignment);
  image.U16(optional_at + 48, 6);  // MajorSubsystemVersion
  image.U32(optional_at + 56, kResourceRva + AlignUp(rsrc.size(), 0x1000));  // SizeOfImage
  image.U32(optional_at + 60, kFileAlignment);                               // SizeOfHeaders
  image.U16(optional_at + 68, 2);                                            // GUI subsystem
  image.U32(optional_at + directories_offset - 4, options.data_directory_count);
  image.U32(optional_at + directories_offset + 16, options.resource_rva.value_or(kResourceRva));
  image.U32(optional_at + directories_offset + 20, rsrc.size());

  struct Section {
    std::string_view name;
    std::uint32_t virtual_size, rva, raw_size, raw_at, characteristics;
  };
  const Section sections[] = {
      {".text", 0x10, kTextRva, kFileAlignment, kFileAlignment, 0x60000020},
      {".rsrc", static_cast<std::uint32_t>(rsrc.size()), kResourceRva,
       static_cast<std::uint32_t>(rsrc_raw_size),
       options.resource_raw_data.value_or(2 * kFileAlignment), 0x40000040},
  };
  std::size_t header_at = optional_at + optional_size;
  for (const Section& section : sections) {
    image.Text(header_at, section.name);
    image.U32(header_at + 8, section.virtual_size);
    image.U32(header_at + 12, section.rva);
    image.U32(header_at + 16, section.raw_size);
    image.U32(header_at + 20, section.raw_at);
    image.U32(header_at + 36, section.characteristics);
    header_at += 40;
  }
  image.Put(kFileAlignment, 0xC3, 1);  // ret
  image.Bytes(2 * kFileAlignment, rsrc);
  image.Reserve(2 * kFileAlignment + rsrc_raw_size);
  return image.bytes();
}

std::vector<std::byte> BuildElf(const ElfOptions& options) {
  const bool wide = options.elf64;
  const std::size_t header_size = wide ? 64 : 52;
  const std::size_t program_size = wide ? 56 : 32;
  const std::size_t section_size = wide ? 64 : 40;
  const std::size_t word = wide ? 8 : 4;
  const std::size_t align = options.note_alignment;

  // Notes in the file's byte order; descriptor and next note start at the note alignment.
  Writer notes(options.big_endian);
  const std::size_t gnu_at = AlignUp(12 * options.empty_notes, align);
  notes.U32(gnu_at, 4);
  notes.U32(gnu_at + 4, 20);
  notes.U32(gnu_at + 8, 3);  // NT_GNU_BUILD_ID
  notes.Text(gnu_at + 12, std::string_view("GNU\0", 4));
  notes.Put(gnu_at + AlignUp(16, align) + 19, 0xAB, 1);
  const std::size_t kalo_at = gnu_at + AlignUp(AlignUp(16, align) + 20, align);
  notes.U32(kalo_at, options.owner.size() + 1);
  notes.U32(kalo_at + 4, options.descriptor_size);
  notes.U32(kalo_at + 8, options.note_type);
  notes.Text(kalo_at + 12, options.owner);
  const std::size_t descriptor_at = kalo_at + AlignUp(12 + options.owner.size() + 1, align);
  std::vector<std::byte> descriptor =
      FixedFileInfo(options.file_version, options.product_version, options.signature);
  descriptor.resize(options.descriptor_size);
  notes.Bytes(descriptor_at, descriptor);
  notes.Reserve(AlignUp(descriptor_at + descriptor.size(), align));

  constexpr std::string_view kNames("\0.note.kalo\0.shstrtab\0", 22);
  const std::size_t program_at = header_size;
  const std::size_t notes_at = AlignUp(program_at + program_size, 8);
  const std::size_t names_at = notes_at + notes.size();
  const std::size_t sections_at = AlignUp(names_at + kNames.size(), 8);
  const std::uint64_t note_size = options.note_size.value_or(notes.size());

  Writer elf(options.big_endian);
  elf.Text(0, "\177ELF");
  elf.Put(4, wide ? 2 : 1, 1);
  elf.Put(5, options.big_endian ? 2 : 1, 1);
  elf.Put(6, 1, 1);            // EV_CURRENT
  elf.U16(16, 3);              // ET_DYN
  elf.U16(18, wide ? 62 : 3);  // x86-64 or i386
  elf.U32(20, 1);              // EV_CURRENT
  elf.Put(wide ? 32 : 28, program_at, word);
  const std::size_t sizes_at = wide ? 52 : 40;
  elf.U16(sizes_at, header_size);
  elf.U16(sizes_at + 2, program_size);
  elf.U16(sizes_at + 4, 1);
  if (options.section_headers) {
    elf.Put(wide ? 40 : 32, options.section_header_offset.value_or(sections_at), word);
    elf.U16(sizes_at + 6, section_size);
    elf.U16(sizes_at + 8, options.section_count.value_or(options.note_sections + 2));
    elf.U16(sizes_at + 10, options.note_sections + 1);
  }

  elf.U32(program_at, 4);  // PT_NOTE
  if (wide) {
    elf.U32(program_at + 4, 4);  // PF_R
    elf.U64(program_at + 8, notes_at);
    elf.U64(program_at + 16, notes_at);
    elf.U64(program_at + 24, notes_at);
    elf.U64(program_at + 32, note_size);
    elf.U64(program_at + 40, note_size);
    elf.U64(program_at + 48, align);
  } else {
    elf.U32(program_at + 4, notes_at);
    elf.U32(program_at + 8, notes_at);
    elf.U32(program_at + 12, notes_at);
    elf.U32(program_at + 16, note_size);
    elf.U32(program_at + 20, note_size);
    elf.U32(program_at + 24, 4);
    elf.U32(program_at + 28, align);
  }
  elf.Bytes(notes_at, notes.bytes());
  elf.Text(names_at, kNames);

  if (options.section_headers) {
    struct Section {
      std::uint32_t name, type;
      std::uint64_t flags, offset, size, alignment;
    };
    std::vector<Section> sections{{0, 0, 0, 0, 0, 0}};
    sections.insert(sections.end(), options.note_sections, {1, 7, 2, notes_at, note_size, align});
    sections.push_back({12, 3, 0, names_at, kNames.size(), 1});
    std::size_t at = sections_at;
    for (const Section& section : sections) {
      elf.U32(at, section.name);
      elf.U32(at + 4, section.type);
      elf.Put(at + 8, section.flags, word);
      elf.Put(at + (wide ? 24 : 16), section.offset, word);
      elf.Put(at + (wide ? 32 : 20), section.size, word);
      elf.Put(at + (wide ? 48 : 32), section.alignment, word);
      at += section_size;
    }
    elf.Reserve(at);
  }
  return elf.bytes();
}

}  // namespace kalo::test
