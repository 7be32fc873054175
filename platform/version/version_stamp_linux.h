// Layout of the version resource that the build stamps into every executable.
//
// The resource lives in the ELF section ".quarrin.version": a fixed header
// (magic, file and product version, one translation) followed by a string
// table of "Name\0Value\0" pairs ending with an empty name. It plays the part
// of a version resource: the fixed numbers answer GetFileVersion, the string
// table answers GetFileVersionText.
#ifndef QUARRIN_PLATFORM_VERSION_VERSION_STAMP_LINUX_H_
#define QUARRIN_PLATFORM_VERSION_VERSION_STAMP_LINUX_H_

#include <cstdint>

namespace quarrin {

inline constexpr char kVersionStampSection[] = ".quarrin.version";
inline constexpr char kVersionStampMagic[16] = "QUARRIN-VERSION";
// US English, UTF-8: the translation every stamp carries.
inline constexpr uint16_t kVersionStampLanguage = 0x0409;
inline constexpr uint16_t kVersionStampCodePage = 0xFDE9;

struct VersionStampHeader {
  char magic[16];
  uint16_t file_version[4];     // major, minor, release, build
  uint16_t product_version[4];
  uint16_t language;
  uint16_t code_page;
  uint32_t strings_size;        // bytes of the string table after the header
};
static_assert(sizeof(VersionStampHeader) == 40);

}  // namespace quarrin

#define QUARRIN_VERSION_STAMP_STRINGS(text, product)                       \
  "CompanyName\0TARN\0FileDescription\0" product "\0FileVersion\0" text    \
  "\0ProductName\0" product "\0ProductVersion\0" text "\0"

// Defines the stamp of one executable; used once, by the generated source.
#define QUARRIN_VERSION_STAMP(major, minor, release, build, text, product)     \
  namespace {                                                                  \
  struct QuarrinVersionStamp {                                                 \
    ::quarrin::VersionStampHeader header;                                      \
    char strings[sizeof(QUARRIN_VERSION_STAMP_STRINGS(text, product))];        \
  };                                                                           \
  [[gnu::used, gnu::section(".quarrin.version")]]                              \
  const QuarrinVersionStamp quarrin_version_stamp = {                          \
      {"QUARRIN-VERSION",                                                      \
       {major, minor, release, build},                                         \
       {major, minor, release, build},                                         \
       ::quarrin::kVersionStampLanguage,                                       \
       ::quarrin::kVersionStampCodePage,                                       \
       sizeof(QUARRIN_VERSION_STAMP_STRINGS(text, product))},                  \
      QUARRIN_VERSION_STAMP_STRINGS(text, product)};                           \
  }                                                                            \
  static_assert(true)

#endif  // QUARRIN_PLATFORM_VERSION_VERSION_STAMP_LINUX_H_
