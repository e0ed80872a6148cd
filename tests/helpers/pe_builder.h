// Builds small PE and ELF images byte by byte for the tests of the version readers. The
// defaults give well-formed files; the other fields damage one structure at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_version.h"

namespace kalo::test {

struct PeOptions {
  bool pe32_plus = false;
  // Nothing leaves the RT_VERSION resource out; the image keeps its other resources.
  std::optional<platform::FileVersion> file_version;
  platform::FileVersion product_version{9, 9, 9, 9};

  std::uint32_t pe_header_offset = 0x80;  // e_lfanew.
  std::uint32_t data_directory_count = 16;
  std::optional<std::uint32_t> resource_rva;       // Data directory entry 2.
  std::optional<std::uint32_t> resource_raw_data;  // PointerToRawData of .rsrc.
  std::optional<std::uint16_t> root_id_entries;    // NumberOfIdEntries of the type directory.
  bool version_entry_points_to_root = false;
  std::optional<std::uint32_t> data_rva;   // OffsetToData of the data entry.
  std::optional<std::uint32_t> data_size;  // Size of the data entry.
  std::u16string key = u"VS_VERSION_INFO";
  std::uint16_t value_length = 52;
  std::uint32_t signature = 0xFEEF04BD;
};

std::vector<std::byte> BuildPe(const PeOptions& options);

struct ElfOptions {
  bool elf64 = true;
  bool big_endian = false;
  // Without section headers the note is reachable only through its PT_NOTE segment.
  bool section_headers = true;
  std::uint32_t note_alignment = 4;
  platform::FileVersion file_version;
  platform::FileVersion product_version{9, 9, 9, 9};

  std::string owner = "KALO";
  std::uint32_t note_type = 1;
  std::uint32_t descriptor_size = 52;
  std::uint32_t signature = 0xFEEF04BD;
  std::optional<std::uint64_t> section_header_offset;  // e_shoff.
  std::optional<std::uint16_t> section_count;          // e_shnum.
  std::optional<std::uint64_t> note_size;              // sh_size and p_filesz of the notes.
  std::size_t empty_notes = 0;      // Notes with no name or descriptor before the others.
  std::uint16_t note_sections = 1;  // Section headers that all cover the same notes.
};

// A relocatable-looking file with a GNU build-id note followed by the version note.
std::vector<std::byte> BuildElf(const ElfOptions& options);

}  // namespace kalo::test
