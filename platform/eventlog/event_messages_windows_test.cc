// The event-log message table the programs carry: each event ID written has
// an entry whose text is "%1" and CR LF, so a viewer shows the entry's own
// text; ID 0, the host's own messages, has none.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <map>
#include <string>

namespace quarrin {
namespace {

// The English (United States) table of the running program, ID -> text.
std::map<DWORD, std::wstring> MessageTable() {
  std::map<DWORD, std::wstring> table;
  HMODULE self = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceExW(self, MAKEINTRESOURCEW(11), MAKEINTRESOURCEW(1),
                                MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  if (found == nullptr) return table;
  const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(self, found)));
  const DWORD size = SizeofResource(self, found);
  DWORD blocks = 0;
  std::memcpy(&blocks, data, sizeof blocks);
  for (DWORD b = 0; b < blocks; ++b) {
    MESSAGE_RESOURCE_BLOCK block;
    std::memcpy(&block, data + sizeof(DWORD) + b * sizeof block, sizeof block);
    DWORD at = block.OffsetToEntries;
    for (DWORD id = block.LowId; id <= block.HighId && at + 4 <= size; ++id) {
      WORD length = 0, flags = 0;
      std::memcpy(&length, data + at, 2);
      std::memcpy(&flags, data + at + 2, 2);
      EXPECT_EQ(flags, MESSAGE_RESOURCE_UNICODE) << id;
      std::wstring text((length - 4) / 2, L'\0');
      std::memcpy(text.data(), data + at + 4, text.size() * 2);
      table[id] = text.substr(0, text.find(L'\0'));
      at += length;
    }
  }
  return table;
}

TEST(EventMessagesTest, EachWrittenIdHasTheTextOfItsEntry) {
  std::map<DWORD, std::wstring> expected;
  for (DWORD id = 1; id <= 15; ++id) expected[id] = L"%1\r\n";
  for (DWORD id = 100; id <= 106; ++id) expected[id] = L"%1\r\n";
  expected[999] = L"%1\r\n";
  EXPECT_EQ(MessageTable(), expected);

  // What a viewer makes of an entry.
  const wchar_t* insertion = L"1.0.0.0 Service stopped.";
  const DWORD_PTR args[] = {reinterpret_cast<DWORD_PTR>(insertion)};
  wchar_t buf[128];
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                 nullptr, 2, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), buf, 128,
                                 reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(args)));
  EXPECT_EQ(std::wstring(buf, n), L"1.0.0.0 Service stopped.\r\n");
}

}  // namespace
}  // namespace quarrin
