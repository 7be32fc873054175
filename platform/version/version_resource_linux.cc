// Reads the ".quarrin.version" section of an ELF file. The file is untrusted
// (any path an administrator or a registry value names), so every offset and
// size is checked against the file before it is used, and only the few
// pieces needed are read: the header, the section headers, the section-name
// table and the stamp itself.
#include "platform/version/version_resource.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/version/version_stamp_linux.h"

namespace quarrin {

namespace {

// Limits far above what any real executable needs; they keep a hostile
// header from making us allocate or read much.
constexpr uint64_t kMaxSectionTableBytes = 16u << 20;
constexpr uint64_t kMaxSectionNamesBytes = 1u << 20;
constexpr uint64_t kMaxStampBytes = 64u << 10;

// Random access to the bytes of an image; false for any range not wholly
// inside it.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t size() const = 0;
  virtual bool ReadAt(uint64_t offset, uint64_t n, void* out) const = 0;

 protected:
  bool InRange(uint64_t offset, uint64_t n) const {
    return offset <= size() && n <= size() - offset;
  }
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  uint64_t size() const override { return bytes_.size(); }
  bool ReadAt(uint64_t offset, uint64_t n, void* out) const override {
    if (!InRange(offset, n)) return false;
    if (n > 0) std::memcpy(out, bytes_.data() + offset, n);
    return true;
  }

 private:
  std::string_view bytes_;
};

class FileSource final : public ByteSource {
 public:
  // Opens a regular file; ok() is false for anything else. O_NONBLOCK keeps
  // a FIFO from blocking the open; it changes nothing for regular files.
  explicit FileSource(const std::string& path)
      : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)) {
    struct stat st;
    if (fd_ >= 0 && fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
      size_ = static_cast<uint64_t>(st.st_size);
      ok_ = true;
    }
  }
  ~FileSource() override {
    if (fd_ >= 0) close(fd_);
  }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  bool ok() const { return ok_; }
  uint64_t size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint64_t n, void* out) const override {
    if (!ok_ || !InRange(offset, n)) return false;
    auto* p = static_cast<char*>(out);
    while (n > 0) {
      const ssize_t got = pread(fd_, p, n, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;  // the file shrank under us, or an I/O error
      p += got;
      offset += static_cast<uint64_t>(got);
      n -= static_cast<uint64_t>(got);
    }
    return true;
  }

 private:
  int fd_;
  bool ok_ = false;
  uint64_t size_ = 0;
};

// Integers of the file's byte order.
class Decoder {
 public:
  explicit Decoder(bool little_endian) : le_(little_endian) {}
  uint64_t Get(const unsigned char* p, int bytes) const {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) {
      const unsigned char b = le_ ? p[bytes - 1 - i] : p[i];
      v = (v << 8) | b;
    }
    return v;
  }
  uint16_t U16(const unsigned char* p) const { return static_cast<uint16_t>(Get(p, 2)); }
  uint32_t U32(const unsigned char* p) const { return static_cast<uint32_t>(Get(p, 4)); }

 private:
  bool le_;
};

struct ElfHeader {
  ElfIdentity identity;
  uint64_t shoff = 0;
  uint16_t shentsize = 0;
  uint16_t shnum = 0;
  uint16_t shstrndx = 0;
};

struct Section {
  uint32_t name = 0;
  uint32_t type = 0;
  uint64_t offset = 0;
  uint64_t size = 0;
  uint32_t link = 0;
};

std::optional<ElfHeader> ReadHeader(const ByteSource& src) {
  unsigned char h[sizeof(Elf64_Ehdr)] = {};
  if (!src.ReadAt(0, EI_NIDENT, h) || std::memcmp(h, ELFMAG, SELFMAG) != 0) return std::nullopt;
  if (h[EI_CLASS] != ELFCLASS32 && h[EI_CLASS] != ELFCLASS64) return std::nullopt;
  if (h[EI_DATA] != ELFDATA2LSB && h[EI_DATA] != ELFDATA2MSB) return std::nullopt;
  ElfHeader e;
  e.identity.is_64bit = h[EI_CLASS] == ELFCLASS64;
  e.identity.little_endian = h[EI_DATA] == ELFDATA2LSB;
  const uint64_t header_size = e.identity.is_64bit ? sizeof(Elf64_Ehdr) : sizeof(Elf32_Ehdr);
  if (!src.ReadAt(0, header_size, h)) return std::nullopt;
  const Decoder d(e.identity.little_endian);
  if (e.identity.is_64bit) {
    e.identity.type = d.U16(h + offsetof(Elf64_Ehdr, e_type));
    e.identity.machine = d.U16(h + offsetof(Elf64_Ehdr, e_machine));
    e.shoff = d.Get(h + offsetof(Elf64_Ehdr, e_shoff), 8);
    e.shentsize = d.U16(h + offsetof(Elf64_Ehdr, e_shentsize));
    e.shnum = d.U16(h + offsetof(Elf64_Ehdr, e_shnum));
    e.shstrndx = d.U16(h + offsetof(Elf64_Ehdr, e_shstrndx));
  } else {
    e.identity.type = d.U16(h + offsetof(Elf32_Ehdr, e_type));
    e.identity.machine = d.U16(h + offsetof(Elf32_Ehdr, e_machine));
    e.shoff = d.U32(h + offsetof(Elf32_Ehdr, e_shoff));
    e.shentsize = d.U16(h + offsetof(Elf32_Ehdr, e_shentsize));
    e.shnum = d.U16(h + offsetof(Elf32_Ehdr, e_shnum));
    e.shstrndx = d.U16(h + offsetof(Elf32_Ehdr, e_shstrndx));
  }
  return e;
}

Section DecodeSection(const Decoder& d, bool is_64bit, const unsigned char* p) {
  Section s;
  if (is_64bit) {
    s.name = d.U32(p + offsetof(Elf64_Shdr, sh_name));
    s.type = d.U32(p + offsetof(Elf64_Shdr, sh_type));
    s.offset = d.Get(p + offsetof(Elf64_Shdr, sh_offset), 8);
    s.size = d.Get(p + offsetof(Elf64_Shdr, sh_size), 8);
    s.link = d.U32(p + offsetof(Elf64_Shdr, sh_link));
  } else {
    s.name = d.U32(p + offsetof(Elf32_Shdr, sh_name));
    s.type = d.U32(p + offsetof(Elf32_Shdr, sh_type));
    s.offset = d.U32(p + offsetof(Elf32_Shdr, sh_offset));
    s.size = d.U32(p + offsetof(Elf32_Shdr, sh_size));
    s.link = d.U32(p + offsetof(Elf32_Shdr, sh_link));
  }
  return s;
}

// The bytes of a section that has them in the file, at most max_bytes.
std::optional<std::string> SectionBytes(const ByteSource& src, const Section& s,
                                        uint64_t max_bytes) {
  if (s.type == SHT_NOBITS || s.size > max_bytes) return std::nullopt;
  std::string bytes(s.size, '\0');
  if (!src.ReadAt(s.offset, s.size, bytes.data())) return std::nullopt;
  return bytes;
}

// The "Name\0Value\0" pairs up to the empty name that ends them.
bool ParseStrings(std::string_view table,
                  std::vector<std::pair<std::string, std::string>>* strings) {
  for (;;) {
    const size_t name_end = table.find('\0');
    if (name_end == std::string_view::npos) return false;
    if (name_end == 0) return true;
    const size_t value_end = table.find('\0', name_end + 1);
    if (value_end == std::string_view::npos) return false;
    strings->emplace_back(table.substr(0, name_end),
                          table.substr(name_end + 1, value_end - name_end - 1));
    table.remove_prefix(value_end + 1);
  }
}

std::optional<VersionResource> ParseStamp(std::string_view bytes, const Decoder& d) {
  if (bytes.size() < sizeof(VersionStampHeader)) return std::nullopt;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  if (std::memcmp(p + offsetof(VersionStampHeader, magic), kVersionStampMagic,
                  sizeof kVersionStampMagic) != 0) {
    return std::nullopt;
  }
  VersionResource r;
  for (int i = 0; i < 4; ++i) {
    r.file_version[i] = d.U16(p + offsetof(VersionStampHeader, file_version) + 2 * i);
    r.product_version[i] = d.U16(p + offsetof(VersionStampHeader, product_version) + 2 * i);
  }
  r.language = d.U16(p + offsetof(VersionStampHeader, language));
  r.code_page = d.U16(p + offsetof(VersionStampHeader, code_page));
  const uint32_t strings_size = d.U32(p + offsetof(VersionStampHeader, strings_size));
  if (strings_size > bytes.size() - sizeof(VersionStampHeader)) return std::nullopt;
  if (!ParseStrings(bytes.substr(sizeof(VersionStampHeader), strings_size), &r.strings)) {
    return std::nullopt;
  }
  return r;
}

std::optional<VersionResource> ReadStamp(const ByteSource& src) {
  const std::optional<ElfHeader> e = ReadHeader(src);
  if (!e || e->shoff == 0) return std::nullopt;
  const bool is64 = e->identity.is_64bit;
  const Decoder d(e->identity.little_endian);
  const uint64_t entry_size = is64 ? sizeof(Elf64_Shdr) : sizeof(Elf32_Shdr);
  if (e->shentsize < entry_size) return std::nullopt;

  // Section 0 carries the real count and name-table index when they do not
  // fit the header's 16-bit fields.
  std::string first(entry_size, '\0');
  if (!src.ReadAt(e->shoff, entry_size, first.data())) return std::nullopt;
  const Section zero = DecodeSection(d, is64, reinterpret_cast<const unsigned char*>(first.data()));
  const uint64_t count = e->shnum != 0 ? e->shnum : zero.size;
  const uint64_t names_index = e->shstrndx != SHN_XINDEX ? e->shstrndx : zero.link;
  if (count == 0 || names_index >= count || count > kMaxSectionTableBytes / e->shentsize) {
    return std::nullopt;
  }

  std::string table(count * e->shentsize, '\0');
  if (!src.ReadAt(e->shoff, table.size(), table.data())) return std::nullopt;
  auto section = [&](uint64_t i) {
    return DecodeSection(d, is64,
                         reinterpret_cast<const unsigned char*>(table.data()) + i * e->shentsize);
  };

  const std::optional<std::string> names = SectionBytes(src, section(names_index),
                                                        kMaxSectionNamesBytes);
  if (!names) return std::nullopt;
  const std::string_view wanted(kVersionStampSection, sizeof kVersionStampSection);  // with NUL
  for (uint64_t i = 0; i < count; ++i) {
    const Section s = section(i);
    if (s.name >= names->size() || std::string_view(*names).substr(s.name, wanted.size()) != wanted) {
      continue;
    }
    const std::optional<std::string> bytes = SectionBytes(src, s, kMaxStampBytes);
    if (!bytes) return std::nullopt;
    return ParseStamp(*bytes, d);
  }
  return std::nullopt;
}

}  // namespace

std::optional<VersionResource> ReadVersionResource(const std::string& path) {
  try {
    FileSource file(path);
    if (!file.ok()) return std::nullopt;
    return ReadStamp(file);
  } catch (...) {
    return std::nullopt;  // out of memory: no resource can be read
  }
}

std::optional<VersionResource> ReadOwnVersionResource() {
  return ReadVersionResource("/proc/self/exe");
}

std::optional<VersionResource> ParseVersionResource(std::string_view image) {
  try {
    return ReadStamp(MemorySource(image));
  } catch (...) {
    return std::nullopt;
  }
}

std::optional<ElfIdentity> ReadElfIdentity(const std::string& path) {
  FileSource file(path);
  if (!file.ok()) return std::nullopt;
  const std::optional<ElfHeader> e = ReadHeader(file);
  if (!e) return std::nullopt;
  return e->identity;
}

ElfIdentity OwnElfIdentity() {
  if (std::optional<ElfIdentity> own = ReadElfIdentity("/proc/self/exe")) return *own;
  // Without /proc: what this program was compiled for.
  ElfIdentity id;
  id.is_64bit = sizeof(void*) == 8;
  id.little_endian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
  id.type = ET_DYN;
#if defined(__x86_64__)
  id.machine = EM_X86_64;
#elif defined(__aarch64__)
  id.machine = EM_AARCH64;
#elif defined(__i386__)
  id.machine = EM_386;
#elif defined(__arm__)
  id.machine = EM_ARM;
#elif defined(__riscv)
  id.machine = EM_RISCV;
#endif
  return id;
}

}  // namespace quarrin
