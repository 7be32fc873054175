// The event-log message table the programs carry: each event ID written has
// an entry that shows the entry's own text, and ID 0 has none.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace quarrin {
namespace {

// The text a viewer shows for the ID with one insertion string, or the
// system error when the table has no entry for it.
std::wstring Formatted(DWORD id, const wchar_t* insertion, DWORD* error) {
  const DWORD_PTR args[] = {reinterpret_cast<DWORD_PTR>(insertion)};
  wchar_t buf[256];
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                 GetModuleHandleW(nullptr), id,
                                 MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), buf, 256,
                                 reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(args)));
  *error = n == 0 ? GetLastError() : 0;
  return std::wstring(buf, n);
}

TEST(EventMessagesTest, EveryWrittenIdShowsItsTextAndIdZeroHasNoEntry) {
  DWORD error = 0;
  for (DWORD id : {1, 2, 3, 4, 5, 15, 100, 101, 102, 103, 104, 105, 999}) {
    EXPECT_EQ(Formatted(id, L"1.0.0.0 Service stopped.", &error), L"1.0.0.0 Service stopped.\r\n")
        << id;
    EXPECT_EQ(error, 0u) << id;
  }
  for (DWORD id : {0, 16, 99, 106, 998, 1000}) {
    Formatted(id, L"x", &error);
    EXPECT_EQ(error, DWORD{ERROR_MR_MID_NOT_FOUND}) << id;
  }
}

}  // namespace
}  // namespace quarrin
