// Private folders and files on Windows, read back through their access
// lists (what the system stores, whether or not it enforces it), and the
// decision on a state folder's owner and access list.
#include "platform/files/private_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h:
#include <aclapi.h>
#include <sddl.h>

#include <filesystem>
#include <set>
#include <string>

#include "platform/files/private_files_windows.h"
#include "platform/text/wide_text_windows.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

using ::testing::StartsWith;
using testing::TempDir;

std::wstring WidePath(const std::string& path) { return *WideFromUtf8(path); }

std::wstring UserSid() {
  HANDLE token = nullptr;
  EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  BYTE buffer[256];
  DWORD size = 0;
  EXPECT_TRUE(GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size));
  CloseHandle(token);
  wchar_t* text = nullptr;
  ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text);
  std::wstring sid = text;
  LocalFree(text);
  return sid;
}

// What a file's DACL holds: whether it is protected, and each entry as
// "<SID> <mask in hex> <ACE flags>".
struct StoredDacl {
  bool is_protected = false;
  std::set<std::string> entries;
};

StoredDacl ReadDacl(const std::string& path) {
  StoredDacl out;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  EXPECT_EQ(GetNamedSecurityInfoW(WidePath(path).c_str(), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &sd),
            static_cast<DWORD>(ERROR_SUCCESS))
      << path;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(sd, &control, &revision);
  out.is_protected = (control & SE_DACL_PROTECTED) != 0;
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    GetAce(dacl, i, &ace);
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    wchar_t* sid = nullptr;
    ConvertSidToStringSidW(&allowed->SidStart, &sid);
    char rest[32];
    std::snprintf(rest, sizeof rest, " %lx %x", static_cast<unsigned long>(allowed->Mask),
                  allowed->Header.AceFlags);
    out.entries.insert(Utf8FromWide(sid) + rest);
    LocalFree(sid);
  }
  LocalFree(sd);
  return out;
}

// Sets the folder's DACL from SDDL ("D:..."), as an administrator might.
void SetDacl(const std::string& path, const std::wstring& sddl) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                   &sd, nullptr));
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(sd, &control, &revision);
  const SECURITY_INFORMATION protection = (control & SE_DACL_PROTECTED) != 0
                                              ? PROTECTED_DACL_SECURITY_INFORMATION
                                              : UNPROTECTED_DACL_SECURITY_INFORMATION;
  ASSERT_EQ(SetNamedSecurityInfoW(const_cast<wchar_t*>(WidePath(path).c_str()), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION | protection, nullptr, nullptr, dacl,
                                  nullptr),
            static_cast<DWORD>(ERROR_SUCCESS));
  LocalFree(sd);
}

// Wine keeps of an access list only what a Unix mode can hold (the
// owner's rights and Everyone's), so what is read back is checked for what
// matters on both: the user has full control and no one but SYSTEM, the
// Administrators and the user has any right.
void ExpectPrivate(const std::string& path) {
  const std::string me = Utf8FromWide(UserSid());
  const StoredDacl stored = ReadDacl(path);
  EXPECT_TRUE(stored.entries.count(me + " 1f01ff 0") + stored.entries.count(me + " 1f01ff 3") == 1)
      << path;
  for (const std::string& entry : stored.entries) {
    const std::string sid = entry.substr(0, entry.find(' '));
    EXPECT_TRUE(sid == me || sid == "S-1-5-18" || sid == "S-1-5-32-544") << path << ": " << entry;
  }
}

TEST(WindowsPrivateFilesTest, FoldersAndFilesGrantOnlySystemAdministratorsAndTheUser) {
  TempDir dir;
  const std::string state = dir / "data/state";
  MakePrivateFolder(state);
  MakePrivateFolder(state);  // there already
  EXPECT_TRUE(std::filesystem::is_directory(dir / "data"));
  ExpectPrivate(state);
  EXPECT_EQ(SecureStateFolder(state), std::nullopt);

  const std::string file = state + "/registry.db";
  MakePrivateFile(file);
  ExpectPrivate(file);
  // An existing file keeps what it holds.
  testing::WriteFileText(file, "kept");
  MakePrivateFile(file);
  EXPECT_EQ(testing::ReadFileText(file), "kept");

  // A name beyond ASCII, which only the W functions keep.
  const std::string named = dir / "Zustand-\xc3\xa4";
  MakePrivateFolder(named);
  ExpectPrivate(named);

  EXPECT_THROW(MakePrivateFolder(file), std::runtime_error);
  EXPECT_THROW(MakePrivateFile(dir / "missing/x.db"), std::runtime_error);
}

TEST(WindowsPrivateFilesTest, FolderThatOthersCanWriteOrThatAnotherUserOwnsIsRefused) {
  const std::wstring me = UserSid();
  const std::wstring own = L"O:" + me + L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;" + me + L")";
  struct Case {
    const char* name;
    std::wstring sddl;
    const char* refused_for;  // nullptr: accepted
  };
  const Case cases[] = {
      {"private", own, nullptr},
      {"Everyone may write", own + L"(A;OICI;FW;;;WD)", "can be written by other users (Everyone)"},
      {"Users may add files", own + L"(A;CI;0x2;;;BU)", "can be written by other users"},
      {"Authenticated Users have full control", own + L"(A;;FA;;;AU)",
       "can be written by other users"},
      {"Users may change the access list", own + L"(A;;WD;;;BU)", "can be written by other users"},
      {"Users may read", own + L"(A;OICI;FR;;;BU)", nullptr},
      // For what is created inside, not for the folder.
      {"Users may write what is created inside", own + L"(A;OICIIO;FW;;;BU)", nullptr},
      {"Everyone is denied", own + L"(D;OICI;FW;;;WD)", nullptr},
      {"owned by SYSTEM", L"O:SYD:P(A;OICI;FA;;;SY)", nullptr},
      {"owned by the Administrators", L"O:BAD:P(A;OICI;FA;;;BA)", nullptr},
      {"owned by the Guests", L"O:BGD:P(A;OICI;FA;;;SY)", "belongs to "},
  };
  for (const Case& c : cases) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl.c_str(),
                                                                     SDDL_REVISION_1, &sd, nullptr))
        << c.name;
    const std::optional<std::string> problem =
        FolderAccessProblem("The state folder C:\\state", "C:\\state", sd);
    LocalFree(sd);
    if (c.refused_for == nullptr) {
      EXPECT_EQ(problem, std::nullopt) << c.name;
    } else {
      EXPECT_THAT(problem.value_or(""),
                  StartsWith(std::string("The state folder C:\\state ") + c.refused_for))
          << c.name;
    }
  }

  // No access list at all: everyone may do anything.
  SECURITY_DESCRIPTOR open{};
  InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof sid;
  ASSERT_TRUE(CreateWellKnownSid(WinLocalSystemSid, nullptr, sid, &size));
  SetSecurityDescriptorOwner(&open, sid, FALSE);
  SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE);
  EXPECT_THAT(FolderAccessProblem("The state folder C:\\state", "C:\\state", &open).value_or(""),
              StartsWith("The state folder C:\\state can be written by other users (Everyone)"));
}

TEST(WindowsPrivateFilesTest, StateFolderOnDiskIsCheckedAndMadePrivate) {
  TempDir dir;
  const std::string state = dir / "state";
  std::filesystem::create_directory(state);
  SetDacl(state, L"D:(A;OICI;FA;;;" + UserSid() + L")(A;OICI;FA;;;WD)");
  EXPECT_THAT(SecureStateFolder(state).value_or(""),
              StartsWith("The state folder " + state + " can be written by other users"));

  // Safe, but not private: others may read it. (It is then made private,
  // which Wine does not show: it only ever adds the rights of Everyone to
  // the folder's Unix mode.)
  SetDacl(state, L"D:(A;OICI;FA;;;" + UserSid() + L")(A;OICI;FR;;;WD)");
  EXPECT_EQ(SecureStateFolder(state), std::nullopt);

  EXPECT_EQ(SecureStateFolder(dir / "none"), std::nullopt);
  testing::WriteFileText(dir / "file", "");
  EXPECT_EQ(SecureStateFolder(dir / "file"),
            "The state folder " + (dir / "file") + " is not a folder");
}

}  // namespace
}  // namespace quarrin
