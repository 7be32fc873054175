// Small ELF images built in memory, for tests of the version-resource reader:
// 32- and 64-bit, either byte order, with any sections and any stamp bytes.
#ifndef QUARRIN_TESTS_ELF_IMAGE_H_
#define QUARRIN_TESTS_ELF_IMAGE_H_

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/version/version_stamp_linux.h"

namespace quarrin::testing {

struct ElfLayout {
  bool is_64bit = true;
  bool little_endian = true;
};

// Writes an integer of `bytes` bytes at `offset` in the layout's byte order,
// growing the image as needed.
inline void PutInt(std::string* image, size_t offset, uint64_t value, int bytes,
                   bool little_endian) {
  if (image->size() < offset + static_cast<size_t>(bytes)) {
    image->resize(offset + static_cast<size_t>(bytes), '\0');
  }
  for (int i = 0; i < bytes; ++i) {
    const int shift = 8 * (little_endian ? i : bytes - 1 - i);
    (*image)[offset + static_cast<size_t>(i)] = static_cast<char>((value >> shift) & 0xff);
  }
}

// The bytes of a version stamp: the fixed header followed by the string
// table of "Name\0Value\0" pairs and the empty name that ends it.
inline std::string VersionStampBytes(ElfLayout layout, const uint16_t (&version)[4],
                                     uint16_t language, uint16_t code_page,
                                     const std::vector<std::pair<std::string, std::string>>& strings) {
  std::string table;
  for (const auto& [name, value] : strings) {
    table += name;
    table += '\0';
    table += value;
    table += '\0';
  }
  table += '\0';
  std::string bytes(kVersionStampMagic, sizeof kVersionStampMagic);
  for (int part = 0; part < 2; ++part) {  // file version, then product version
    for (uint16_t v : version) PutInt(&bytes, bytes.size(), v, 2, layout.little_endian);
  }
  PutInt(&bytes, bytes.size(), language, 2, layout.little_endian);
  PutInt(&bytes, bytes.size(), code_page, 2, layout.little_endian);
  PutInt(&bytes, bytes.size(), table.size(), 4, layout.little_endian);
  return bytes + table;
}

// An ELF image (executable type, x86-64 machine number) whose section
// headers are: the null section, ".shstrtab" and then `sections` in order,
// each with its name and contents.
inline std::string BuildElfImage(ElfLayout layout,
                                 const std::vector<std::pair<std::string, std::string>>& sections) {
  const bool le = layout.little_endian;
  const size_t header_size = layout.is_64bit ? 64 : 52;
  const size_t entry_size = layout.is_64bit ? 64 : 40;

  std::string names(1, '\0');
  std::vector<size_t> name_offsets;
  name_offsets.push_back(names.size());
  names += ".shstrtab";
  names += '\0';
  for (const auto& section : sections) {
    name_offsets.push_back(names.size());
    names += section.first;
    names += '\0';
  }

  std::string image(header_size, '\0');
  std::vector<std::pair<size_t, size_t>> placed;  // offset, size of each section
  auto place = [&](const std::string& contents) {
    while (image.size() % 8 != 0) image += '\0';
    placed.emplace_back(image.size(), contents.size());
    image += contents;
  };
  place(names);
  for (const auto& section : sections) place(section.second);
  while (image.size() % 8 != 0) image += '\0';
  const size_t shoff = image.size();

  image[0] = 0x7f;
  image[1] = 'E';
  image[2] = 'L';
  image[3] = 'F';
  image[4] = layout.is_64bit ? 2 : 1;
  image[5] = le ? 1 : 2;
  image[6] = 1;
  PutInt(&image, 16, 2, 2, le);   // e_type: executable
  PutInt(&image, 18, 62, 2, le);  // e_machine: x86-64
  PutInt(&image, 20, 1, 4, le);   // e_version
  const size_t count = sections.size() + 2;
  if (layout.is_64bit) {
    PutInt(&image, 40, shoff, 8, le);
    PutInt(&image, 52, header_size, 2, le);
    PutInt(&image, 58, entry_size, 2, le);
    PutInt(&image, 60, count, 2, le);
    PutInt(&image, 62, 1, 2, le);
  } else {
    PutInt(&image, 32, shoff, 4, le);
    PutInt(&image, 40, header_size, 2, le);
    PutInt(&image, 46, entry_size, 2, le);
    PutInt(&image, 48, count, 2, le);
    PutInt(&image, 50, 1, 2, le);
  }
  image.resize(shoff + count * entry_size, '\0');
  for (size_t i = 1; i < count; ++i) {
    const size_t at = shoff + i * entry_size;
    const auto [offset, size] = placed[i - 1];
    PutInt(&image, at, name_offsets[i - 1], 4, le);  // sh_name
    PutInt(&image, at + 4, i == 1 ? 3 : 1, 4, le);   // sh_type: STRTAB, PROGBITS
    if (layout.is_64bit) {
      PutInt(&image, at + 24, offset, 8, le);
      PutInt(&image, at + 32, size, 8, le);
    } else {
      PutInt(&image, at + 16, offset, 4, le);
      PutInt(&image, at + 20, size, 4, le);
    }
  }
  return image;
}

}  // namespace quarrin::testing

#endif  // QUARRIN_TESTS_ELF_IMAGE_H_
