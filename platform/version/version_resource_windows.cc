// Version resources of Windows executables: the VERSIONINFO resource the
// build compiles into every program (cmake/version_info.rc.in).
#include "platform/version/version_resource.h"

#include <windows.h>

#include <array>
#include <cstring>

#include "platform/text/wide_text_windows.h"

namespace quarrin {

namespace {

// The string values a resource is asked for, in the order the build writes
// them; a resource's other strings are not read.
constexpr std::array<const wchar_t*, 8> kStringNames = {
    L"CompanyName",    L"FileDescription",  L"FileVersion", L"InternalName",
    L"LegalCopyright", L"OriginalFilename", L"ProductName", L"ProductVersion"};

void SetVersion(uint16_t (&out)[4], DWORD high, DWORD low) {
  out[0] = HIWORD(high);
  out[1] = LOWORD(high);
  out[2] = HIWORD(low);
  out[3] = LOWORD(low);
}

// The resource of a whole VS_VERSIONINFO block, as GetFileVersionInfoW
// returns it (VerQueryValueW may write into it, so it is not const).
std::optional<VersionResource> FromBlock(std::vector<BYTE>& block) {
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), L"\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO)) {
    return std::nullopt;
  }
  VS_FIXEDFILEINFO fixed;
  std::memcpy(&fixed, value, sizeof fixed);
  if (fixed.dwSignature != VS_FFI_SIGNATURE) return std::nullopt;
  VersionResource resource;
  SetVersion(resource.file_version, fixed.dwFileVersionMS, fixed.dwFileVersionLS);
  SetVersion(resource.product_version, fixed.dwProductVersionMS, fixed.dwProductVersionLS);
  if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length) || length < 4) {
    return resource;  // numbers only
  }
  WORD translation[2];
  std::memcpy(translation, value, sizeof translation);
  resource.language = translation[0];
  resource.code_page = translation[1];
  wchar_t table[32];
  swprintf(table, 32, L"\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
  for (const wchar_t* name : kStringNames) {
    const std::wstring query = std::wstring(table) + name;
    if (!VerQueryValueW(block.data(), query.c_str(), &value, &length)) continue;
    std::wstring_view text(static_cast<const wchar_t*>(value), length);
    while (!text.empty() && text.back() == L'\0') text.remove_suffix(1);
    resource.strings.emplace_back(Utf8FromWide(name), Utf8FromWide(text));
  }
  return resource;
}

}  // namespace

std::optional<VersionResource> ReadVersionResource(const std::string& path) {
  try {
    const std::optional<std::wstring> wide = WideFromUtf8(path);
    if (!wide || wide->empty() || wide->find(L'\0') != std::wstring::npos) return std::nullopt;
    // A bare name would be looked for along the DLL search path.
    wchar_t full[MAX_PATH * 4];
    const DWORD n = GetFullPathNameW(wide->c_str(), MAX_PATH * 4, full, nullptr);
    if (n == 0 || n >= MAX_PATH * 4) return std::nullopt;
    const DWORD attributes = GetFileAttributesW(full);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return std::nullopt;
    }
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(full, &ignored);
    if (size == 0) return std::nullopt;
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(full, 0, size, block.data())) return std::nullopt;
    return FromBlock(block);
  } catch (...) {
    return std::nullopt;  // out of memory: no resource can be read
  }
}

std::optional<VersionResource> ReadOwnVersionResource() {
  try {
    // The loaded image's own resource, not its file's.
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
    if (found == nullptr) return std::nullopt;
    HGLOBAL loaded = LoadResource(nullptr, found);
    const DWORD size = SizeofResource(nullptr, found);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr || size == 0) return std::nullopt;
    // VerQueryValueW wants a writable copy with room to spare, as
    // GetFileVersionInfoW would have made.
    std::vector<BYTE> block(size * 2);
    std::memcpy(block.data(), data, size);
    return FromBlock(block);
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace quarrin
