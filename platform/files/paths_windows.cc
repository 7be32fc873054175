// Where the executables find themselves and the system's folders on Windows.
#include "platform/files/paths.h"

#include <shlobj.h>
#include <windows.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "platform/files/private_files.h"
#include "platform/text/wide_text_windows.h"

namespace quarrin {

namespace {

std::string ModuleFileName() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return "";
    if (n < buf.size()) return Utf8FromWide(std::wstring_view(buf.data(), n));
    buf.resize(buf.size() * 2);  // cut off: try again with more room
  }
}

size_t LastSeparator(const std::string& path) { return path.find_last_of("\\/"); }

}  // namespace

std::string ExecutablePath() { return ModuleFileName(); }

std::string ExecutableName() {
  const std::string path = ExecutablePath();
  const size_t separator = LastSeparator(path);
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string LocalComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &size)) return "";
  return Utf8FromWide(std::wstring_view(name, size));
}

std::string ProgramFolder() {
  const std::string exe = ExecutablePath();
  const size_t separator = LastSeparator(exe);
  if (separator == std::string::npos) return "";
  std::string folder = exe.substr(0, separator + 1);
  // Ignored on purpose when it fails: callers want the folder whether or not
  // it could become the current directory.
  SetCurrentDirectoryW(WideFromUtf8Lenient(folder).c_str());
  return folder;
}

std::string SpecialFolderPath(int csidl) {
  if (csidl != kCsidlCommonAppData && csidl != kCsidlProgramFiles) return "";
  wchar_t path[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return "";
  return Utf8FromWide(path);
}

std::string CommonAppDataDir() { return SpecialFolderPath(kCsidlCommonAppData); }

// The machine's own folders hold the state: there is no root to put before
// them. The registry and the event log are the system's, so their database
// files are never made; the names only keep the state folder's layout.
std::string StateDir() {
  const std::string common = CommonAppDataDir();
  return common.empty() ? "" : common + "\\TARN\\Quarrin";
}
std::string RegistryDbPath() { return StateDir() + "\\registry.db"; }
std::string EventLogDbPath() { return StateDir() + "\\eventlog.db"; }
std::string ProgramFilesDir() { return SpecialFolderPath(kCsidlProgramFiles); }

std::string SystemDriveRoot() {
  wchar_t windows[MAX_PATH];
  const UINT n = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (n < 3 || n >= MAX_PATH || windows[1] != L':') return "";
  return Utf8FromWide(std::wstring_view(windows, 2)) + "\\";
}

void EnsureStateFolder() {
  const std::string dir = StateDir();
  if (dir.empty()) {
    throw std::runtime_error(
        "the common application data folder is unknown: cannot create the state folder");
  }
  // Private from the start: a protected access list for SYSTEM, the
  // Administrators and this user, not what the folder above hands down.
  try {
    MakePrivateFolder(dir);
  } catch (const std::runtime_error& e) {
    std::string reason = e.what();
    const std::string lead = dir + ": cannot create the folder: ";
    if (reason.starts_with(lead)) reason.erase(0, lead.size());
    throw std::runtime_error(dir + ": cannot create the state folder: " + reason);
  }
  // Writable when a file can be made in it.
  const std::wstring probe = WideFromUtf8Lenient(dir + "\\.write-check");
  HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    throw std::runtime_error(dir + ": the state folder is not writable: " +
                             SystemErrorText(GetLastError()));
  }
  CloseHandle(file);
}

bool MakeDirs(const std::string& path) {
  // std::filesystem takes narrow text in the ANSI code page here, not UTF-8.
  const std::optional<std::wstring> wide = WideFromUtf8(path);
  if (!wide || wide->empty()) return false;
  std::error_code ec;
  std::filesystem::create_directories(*wide, ec);
  return std::filesystem::is_directory(*wide, ec);
}

}  // namespace quarrin
