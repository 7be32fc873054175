// Private files on Windows: a protected DACL (nothing inherited from the
// folder above) that grants full control to SYSTEM, the Administrators and
// the user the process runs as, and to no one else.
#include "platform/files/private_files.h"
#include "platform/files/private_files_windows.h"

#include <windows.h>
// After windows.h:
#include <aclapi.h>
#include <sddl.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "platform/text/wide_text_windows.h"

namespace quarrin {
namespace {

struct LocalFreer {
  void operator()(void* p) const { LocalFree(p); }
};
using LocalMemory = std::unique_ptr<void, LocalFreer>;

[[noreturn]] void Fail(const std::string& what, const std::string& path, DWORD error) {
  throw std::runtime_error(path + ": " + what + ": " + SystemErrorText(error));
}

std::wstring Wide(const std::string& path, const char* what) {
  std::optional<std::wstring> wide = WideFromUtf8(path);
  if (!wide) throw std::runtime_error(path + ": " + what + ": the path is not valid UTF-8");
  return *std::move(wide);
}

// A SID of the process's token (TokenUser or TokenOwner); empty when the
// token cannot be read.
std::vector<BYTE> TokenSid(TOKEN_INFORMATION_CLASS which) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  GetTokenInformation(token, which, nullptr, 0, &size);
  std::vector<BYTE> info(size);
  std::vector<BYTE> sid;
  if (size != 0 && GetTokenInformation(token, which, info.data(), size, &size)) {
    PSID p = which == TokenUser ? reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid
                                : reinterpret_cast<TOKEN_OWNER*>(info.data())->Owner;
    const BYTE* bytes = static_cast<const BYTE*>(p);
    sid.assign(bytes, bytes + GetLengthSid(p));
  }
  CloseHandle(token);
  return sid;
}

std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return L"?";
  LocalMemory owned(text);
  return text;
}

// "DOMAIN\name" of an account, or its SID in text when it has no name.
std::string AccountName(PSID sid) {
  wchar_t name[256], domain[256];
  DWORD name_size = 256, domain_size = 256;
  SID_NAME_USE use;
  if (!LookupAccountSidW(nullptr, sid, name, &name_size, domain, &domain_size, &use)) {
    return Utf8FromWide(SidText(sid));
  }
  return Utf8FromWide(domain_size > 0 ? std::wstring(domain) + L"\\" + name : name);
}

// The private security descriptor: for a folder, its grants are inherited
// by what is created in it.
LocalMemory PrivateDescriptor(bool folder) {
  std::vector<BYTE> me = TokenSid(TokenUser);
  if (me.empty()) return nullptr;
  const std::wstring flags = folder ? L"OICI" : L"";
  const std::wstring sddl = L"D:P(A;" + flags + L";FA;;;SY)(A;" + flags + L";FA;;;BA)(A;" + flags +
                            L";FA;;;" + SidText(me.data()) + L")";
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd,
                                                            nullptr)) {
    return nullptr;
  }
  return LocalMemory(sd);
}

// Rights on a folder that let their holder put something in it, take
// something out, or change who may.
constexpr ACCESS_MASK kWriteRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD |
                                     DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                     GENERIC_ALL;

// The group among Everyone, Authenticated Users and Users that the DACL
// lets write the folder, or nullopt.
std::optional<std::string> OtherWriter(PACL dacl) {
  if (dacl == nullptr) return "Everyone";  // a null DACL grants everything
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    const ACE_HEADER* header = static_cast<const ACE_HEADER*>(ace);
    // An inherit-only entry is for what is created inside, not the folder.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE) != 0) {
      continue;
    }
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if ((allowed->Mask & kWriteRights) == 0) continue;
    PSID sid = &allowed->SidStart;
    if (IsWellKnownSid(sid, WinWorldSid) || IsWellKnownSid(sid, WinAuthenticatedUserSid) ||
        IsWellKnownSid(sid, WinBuiltinUsersSid)) {
      return AccountName(sid);
    }
  }
  return std::nullopt;
}

bool SameSid(const std::vector<BYTE>& sid, PSID other) {
  return !sid.empty() && EqualSid(const_cast<BYTE*>(sid.data()), other);
}

}  // namespace

std::optional<std::string> FolderAccessProblem(const std::string& named, const std::string& path,
                                               const void* security_descriptor) {
  auto* sd = const_cast<void*>(security_descriptor);
  PSID owner = nullptr;
  BOOL defaulted = FALSE, present = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorOwner(sd, &owner, &defaulted)) owner = nullptr;
  if (!GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted) || !present) dacl = nullptr;
  const bool trusted = owner != nullptr && (OwnedByThisProcess(sd) ||
                                            IsWellKnownSid(owner, WinLocalSystemSid) ||
                                            IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
  if (!trusted) {
    const std::vector<BYTE> me = TokenSid(TokenUser);
    const std::string me_name = me.empty() ? "?" : AccountName(const_cast<BYTE*>(me.data()));
    return named + " belongs to " + (owner != nullptr ? AccountName(owner) : "no one") +
           ", who could change what this program runs; it must belong to " + me_name +
           " (icacls \"" + path + "\" /setowner \"" + me_name + "\")";
  }
  if (std::optional<std::string> writer = OtherWriter(dacl)) {
    return named + " can be written by other users (" + *writer +
           "), who could change what this program runs; it must be private (icacls \"" + path +
           "\" /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F)";
  }
  return std::nullopt;
}

bool OwnedByThisProcess(const void* security_descriptor) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!GetSecurityDescriptorOwner(const_cast<void*>(security_descriptor), &owner, &defaulted) ||
      owner == nullptr) {
    return false;
  }
  // What this process creates belongs to its token's default owner, which
  // for an administrator is the Administrators group.
  return SameSid(TokenSid(TokenUser), owner) || SameSid(TokenSid(TokenOwner), owner);
}

void MakePrivateFolder(const std::string& path) {
  constexpr char kWhat[] = "cannot create the folder";
  const std::wstring wide = Wide(path, kWhat);
  const std::filesystem::path parent = std::filesystem::path(wide).parent_path();
  std::error_code ec;
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  if (ec) throw std::runtime_error(path + ": " + kWhat + ": " + ec.message());
  LocalMemory sd = PrivateDescriptor(true);
  if (sd == nullptr) Fail(kWhat, path, GetLastError());
  SECURITY_ATTRIBUTES sa{sizeof sa, sd.get(), FALSE};
  if (!CreateDirectoryW(wide.c_str(), &sa)) {
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS) Fail(kWhat, path, error);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) Fail(kWhat, path, GetLastError());
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) Fail(kWhat, path, ERROR_DIRECTORY);
  }
}

void MakePrivateFile(const std::string& path) {
  constexpr char kWhat[] = "cannot create the file";
  const std::wstring wide = Wide(path, kWhat);
  LocalMemory sd = PrivateDescriptor(false);
  if (sd == nullptr) Fail(kWhat, path, GetLastError());
  SECURITY_ATTRIBUTES sa{sizeof sa, sd.get(), FALSE};
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, &sa, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return;
    Fail(kWhat, path, error);
  }
  CloseHandle(file);
}

std::optional<std::string> SecureStateFolder(const std::string& path) {
  const std::string named = "The state folder " + path;
  const std::optional<std::wstring> wide = WideFromUtf8(path);
  if (!wide) return named + " cannot be examined: the path is not valid UTF-8";
  const DWORD attributes = GetFileAttributesW(wide->c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::nullopt;
    return named + " cannot be examined: " + SystemErrorText(error);
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return named + " is not a folder";
  }
  PSECURITY_DESCRIPTOR sd = nullptr;
  const DWORD error = GetNamedSecurityInfoW(wide->c_str(), SE_FILE_OBJECT,
                                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                            nullptr, nullptr, nullptr, nullptr, &sd);
  if (error != ERROR_SUCCESS) return named + " cannot be examined: " + SystemErrorText(error);
  LocalMemory owned(sd);
  if (std::optional<std::string> problem = FolderAccessProblem(named, path, sd)) return problem;
  if (!OwnedByThisProcess(sd)) return std::nullopt;
  // State left by an agent that did not keep it private: the folder's
  // grants become the private ones, and the system hands them down to what
  // lies in it in place of what it had inherited.
  LocalMemory private_sd = PrivateDescriptor(true);
  BOOL present = FALSE, defaulted = FALSE;
  PACL private_dacl = nullptr;
  if (private_sd != nullptr &&
      GetSecurityDescriptorDacl(private_sd.get(), &present, &private_dacl, &defaulted) &&
      present) {
    SetNamedSecurityInfoW(const_cast<wchar_t*>(wide->c_str()), SE_FILE_OBJECT,
                          DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                          nullptr, nullptr, private_dacl, nullptr);
  }
  return std::nullopt;
}

}  // namespace quarrin
