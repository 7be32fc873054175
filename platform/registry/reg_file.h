// .reg files as regedit reads and writes them.
#ifndef QUARRIN_PLATFORM_REGISTRY_REG_FILE_H_
#define QUARRIN_PLATFORM_REGISTRY_REG_FILE_H_

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry_store.h"

namespace quarrin {

// One change a .reg file asks for, in file order.
struct RegChange {
  enum Kind { kCreateKey, kDeleteKey, kSetValue, kDeleteValue } kind = kCreateKey;
  RootKey root = RootKey::kLocalMachine;
  std::string path;  // below the root, without a leading "\"
  std::string name;  // value name; empty for the default value
  RegValue value;    // for kSetValue
};

// A malformed file. line() is the 1-based line where the fault was found.
class RegFileError : public std::runtime_error {
 public:
  RegFileError(int line, const std::string& what)
      : std::runtime_error("line " + std::to_string(line) + ": " + what), line_(line) {}
  int line() const { return line_; }

 private:
  int line_;
};

// Parses a whole file ("REGEDIT4" or "Windows Registry Editor Version 5.00";
// string, dword, hex, hex(N) values; "-" to delete keys and values;
// continuation lines ending in "\"; CRLF or LF; UTF-8, or UTF-16LE with its
// byte-order mark). In a version 5.00 file the UTF-16LE text of hex(1),
// hex(2) and hex(7) data becomes UTF-8. Throws RegFileError; nothing is
// applied by parsing.
std::vector<RegChange> ParseRegFile(std::string_view text);

// Throws the RegFileError of line 1 that ParseRegFile throws for a file
// that does not begin with a header, when `head`, the first bytes of a file
// (kRegHeaderProbeBytes, or all when fewer), does not begin with one.
inline constexpr size_t kRegHeaderProbeBytes = 4096;
void CheckRegFileHeader(std::string_view head);

// The largest .reg file ReadRegFile reads.
inline constexpr size_t kMaxRegFileBytes = size_t{256} << 20;  // 256 MiB

// Reads and parses the .reg file at `path`. Refuses anything but a regular
// file (a FIFO, a device, a folder) and a file over max_bytes before reading
// it, checks the header in the first bytes before reading on, and reads the
// rest in pieces, stopping as soon as it passes max_bytes. Throws
// RegFileError for the content, std::runtime_error ("cannot read: ...",
// "not a regular file (a FIFO)", "larger than 256 MiB") for the file.
std::vector<RegChange> ReadRegFile(const std::string& path,
                                   size_t max_bytes = kMaxRegFileBytes);

// Applies parsed changes in order, all in one transaction of the store
// (RegistryStore::Atomically): on any failure none of them is kept.
void ApplyRegChanges(RegistryStore& store, const std::vector<RegChange>& changes);

// The key and everything below it in REGEDIT4 form, as regedit writes it
// (CRLF line ends, keys depth first and values in creation order), read as
// one snapshot. nullopt when the key is missing.
std::optional<std::string> ExportRegKey(RegistryStore& store, RootKey root, std::string_view path);

// Splits "HKEY_LOCAL_MACHINE\A\B" (or HKLM, HKCR, HKU, HKCU, in any case)
// into root and path; HKEY_CURRENT_USER is HKEY_USERS\.DEFAULT. False for an
// unknown root or an empty name in the path.
bool ParseKeyName(std::string_view full, RootKey* root, std::string* path);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_REGISTRY_REG_FILE_H_
