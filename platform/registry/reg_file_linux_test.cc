#include "platform/registry/reg_file.h"

#include <memory>
#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "platform/registry/registry_store.h"
#include "platform/registry/scratch_registry_double.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using namespace std::string_literals;

constexpr RootKey kLM = RootKey::kLocalMachine;

RegValue Raw(uint32_t type, std::string bytes) {
  return {static_cast<ValueType>(type), std::move(bytes)};
}

// "a\nb" with CRLF line ends.
std::string Crlf(const std::string& lf) {
  std::string out;
  for (char c : lf) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// UTF-16LE bytes of ASCII text, with the byte-order mark.
std::string Utf16File(const std::string& ascii) {
  std::string out = "\xff\xfe";
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

class RegFileTest : public ::testing::Test {
 protected:
  RegFileTest() : store_(OpenScratchRegistryStore(dir_.path())) {}
  testing::TempDir dir_;
  std::unique_ptr<RegistryStore> store_;
};

// A file of every value type, in the form regedit writes, comes back byte
// for byte.
TEST_F(RegFileTest, ImportThenExportGivesTheSameFileByteForByte) {
  const std::string file =
      testing::ReadFileText(testing::SourcePath("tests/fixtures/registry_roundtrip.reg"));
  ASSERT_THAT(file, HasSubstr("\r\n"));  // checked out as it was written
  ApplyRegChanges(*store_, ParseRegFile(file));
  std::optional<std::string> exported = ExportRegKey(*store_, kLM, "software\\tarn");
  ASSERT_TRUE(exported.has_value());
  EXPECT_EQ(*exported, file);
}

TEST_F(RegFileTest, ParsesEveryFormAndAppliesItInOrder) {
  const std::string file =
      "REGEDIT4\n"
      "; a comment\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARN]\n"
      "@=\"default\"\n"
      "\"Quote\\\"d\"=\"C:\\\\dir\\\\\"\n"
      "\"Num\" = dword:0000002A\n"
      "\"Bin\"=hex:01,ab,\\\n"
      "    FF\n"
      "\"Exp\"=hex(2):25,41,25,00\n"
      "\"Gone\"=\"soon\"\n"
      "\"Gone\"=-\n"
      "  [HKEY_CURRENT_USER\\Software\\X]\n"
      "[HKLM\\SOFTWARE\\Old\\Sub]\n"
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\n";
  std::vector<RegChange> changes = ParseRegFile(file);
  ASSERT_EQ(changes.size(), 11u);
  EXPECT_EQ(changes[2].name, "Quote\"d");
  EXPECT_EQ(changes[2].value, Raw(1, "C:\\dir\\\0"s));
  EXPECT_EQ(changes[3].value, Raw(4, "\x2a\0\0\0"s));
  EXPECT_EQ(changes[4].value, Raw(3, "\x01\xab\xff"s));
  EXPECT_EQ(changes[5].value, Raw(2, "%A%\0"s));  // REGEDIT4: bytes as they are
  EXPECT_EQ(changes[8].root, RootKey::kUsers);
  EXPECT_EQ(changes[8].path, ".DEFAULT\\Software\\X");

  store_->CreateKey(kLM, "SOFTWARE\\Old\\Kept");
  ApplyRegChanges(*store_, changes);
  EXPECT_THAT(store_->ValueNames(kLM, "SOFTWARE\\TARN"),
              ElementsAre("", "Quote\"d", "Num", "Bin", "Exp"));
  EXPECT_EQ(store_->GetValue(kLM, "SOFTWARE\\TARN", ""), Raw(1, "default\0"s));
  EXPECT_TRUE(store_->KeyExists(RootKey::kUsers, ".DEFAULT\\Software\\X"));
  EXPECT_FALSE(store_->KeyExists(kLM, "SOFTWARE\\Old"));  // created, then deleted with all below
}

TEST_F(RegFileTest, Version5FilesHoldTextAsUtf16) {
  // hex(2) of "Aé" + zero in UTF-16LE, and a surrogate pair (U+1F600).
  const std::string file =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\U]\r\n"
      "\"Exp\"=hex(2):41,00,e9,00,00,00\r\n"
      "\"Multi\"=hex(7):61,00,00,00,3d,d8,00,de,00,00,00,00\r\n"
      "\"Bin\"=hex:41,00\r\n"
      "\"Text\"=\"plain\"\r\n";
  std::vector<RegChange> changes = ParseRegFile(file);
  ASSERT_EQ(changes.size(), 5u);
  EXPECT_EQ(changes[1].value, Raw(2, "A\xc3\xa9\0"s));
  EXPECT_EQ(changes[2].value, Raw(7, "a\0\xf0\x9f\x98\x80\0\0"s));
  EXPECT_EQ(changes[3].value, Raw(3, "A\0"s));  // binary stays binary
  EXPECT_EQ(changes[4].value, Raw(1, "plain\0"s));

  // The same file as regedit saves it: UTF-16LE with a byte-order mark.
  std::vector<RegChange> from_utf16 = ParseRegFile(Utf16File(file));
  ASSERT_EQ(from_utf16.size(), 5u);
  EXPECT_EQ(from_utf16[1].value, changes[1].value);
  EXPECT_EQ(from_utf16[4].value, changes[4].value);
}

TEST_F(RegFileTest, MalformedFilesNameTheLineAndChangeNothing) {
  const std::string head = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\n";  // lines 1-3
  struct Case {
    std::string file;
    int line;
    const char* message;
  } cases[] = {
      {"", 1, "empty file"},
      {"REGEDIT5\n[HKLM\\A]\n", 1, "not a registry file"},
      {"REGEDIT4\n\"v\"=\"x\"\n", 2, "value before any [key]"},
      {head + "\"v\"=\"open\n", 4, "no closing quote"},
      {head + "\"v=\"x\"\n", 4, "expected '='"},
      {head + "\"v\"=\"a\\tb\"\n", 4, "unknown escape \\t"},
      {head + "\"v\"=\"x\" junk\n", 4, "unexpected text"},
      {head + "\"v\"=dword:123456789\n", 4, "bad dword"},
      {head + "\"v\"=dword:\n", 4, "bad dword"},
      {head + "\"v\"=dword:12g4\n", 4, "bad dword"},
      {head + "\"v\"=hex:01,0g\n", 4, "bad hex byte '0g'"},
      {head + "\"v\"=hex:01,,02\n", 4, "bad hex byte ''"},
      {head + "\"v\"=hex:123\n", 4, "bad hex byte '123'"},
      {head + "\"v\"=hex(z):01\n", 4, "bad hex(N)"},
      {head + "\"v\"=hex;01\n", 4, "expected ':'"},
      {head + "\"a\"=\"ok\"\n\"v\"=hex:01,\\\n", 5, "past the end"},
      {head + "\"v\"=text\n", 4, "unknown value data"},
      {head + "[HKEY_LOCAL_MACHINE\\SOFTWARE\n", 4, "does not end with ']'"},
      {head + "[HKEY_NOWHERE\\SOFTWARE]\n", 4, "bad key name"},
      {head + "[HKLM\\A\\\\B]\n", 4, "bad key name"},
      {head + "[-HKEY_LOCAL_MACHINE]\n", 4, "root key cannot be deleted"},
      {head + "[-HKLM\\SOFTWARE\\T]\n\"v\"=\"x\"\n", 5, "under a deleted key"},
      {head + "garbage\n", 4, "expected [key]"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\U]\n\"v\"=hex(2):41,00,00\n", 3,
       "not UTF-16LE"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\U]\n\"v\"=hex(1):00,dc\n", 3, "not UTF-16LE"},
      {Utf16File("REGEDIT4\n\n") + "\0\xd8"s, 3, "not valid UTF-16LE"},
  };
  for (const Case& c : cases) {
    try {
      ParseRegFile(c.file);
      ADD_FAILURE() << "accepted: " << c.file;
    } catch (const RegFileError& e) {
      EXPECT_EQ(e.line(), c.line) << c.file;
      EXPECT_THAT(e.what(), HasSubstr("line " + std::to_string(c.line) + ": ")) << c.file;
      EXPECT_THAT(e.what(), HasSubstr(c.message)) << c.file;
    }
    // CRLF files fail the same way.
    if (c.file.starts_with("\xff\xfe")) continue;
    try {
      ParseRegFile(Crlf(c.file));
    } catch (const RegFileError& e) {
      EXPECT_EQ(e.line(), c.line) << "CRLF: " << c.file;
    }
  }
}

TEST_F(RegFileTest, ApplyingKeepsAllOrNothing) {
  std::vector<RegChange> changes = ParseRegFile("REGEDIT4\n[HKLM\\A]\n\"v\"=\"1\"\n[HKLM\\B]\n");
  RegChange bad;
  bad.kind = RegChange::kCreateKey;
  bad.path = "B\\\\C";  // cannot be created
  changes.push_back(bad);
  EXPECT_THROW(ApplyRegChanges(*store_, changes), StoreError);
  EXPECT_THAT(store_->SubkeyNames(kLM, ""), IsEmpty());
}

TEST_F(RegFileTest, ExportUsesTheStoredCaseAndWrapsLongData) {
  store_->CreateKey(kLM, "Software\\Tarn");
  store_->SetValue(kLM, "Software\\Tarn", "B", Raw(3, std::string(200, '\x5a')));
  std::optional<std::string> text = ExportRegKey(*store_, kLM, "SOFTWARE\\TARN");
  ASSERT_TRUE(text.has_value());
  EXPECT_THAT(*text, HasSubstr("\r\n[HKEY_LOCAL_MACHINE\\Software\\Tarn]\r\n"));
  size_t start = 0, longest = 0, lines = 0;
  for (size_t end; (end = text->find("\r\n", start)) != std::string::npos; start = end + 2) {
    longest = std::max(longest, end - start);
    ++lines;
  }
  EXPECT_LE(longest, 80u);
  EXPECT_EQ(lines, 2u + 1u + 9u + 1u);  // header, blank, key, 200 bytes on 9 lines, blank
  EXPECT_FALSE(ExportRegKey(*store_, kLM, "Software\\Missing").has_value());
  EXPECT_EQ(ExportRegKey(*store_, RootKey::kUsers, ""), "REGEDIT4\r\n\r\n[HKEY_USERS]\r\n\r\n");
}

TEST(ParseKeyNameTest, KnowsTheRootsLongAndShortInAnyCase) {
  struct Case {
    const char* text;
    bool ok;
    RootKey root;
    const char* path;
  } cases[] = {
      {"HKEY_LOCAL_MACHINE\\SOFTWARE\\TARN", true, kLM, "SOFTWARE\\TARN"},
      {"hklm\\a", true, kLM, "a"},
      {"HKLM", true, kLM, ""},
      {"HKEY_CLASSES_ROOT\\.txt", true, RootKey::kClassesRoot, ".txt"},
      {"HKCR", true, RootKey::kClassesRoot, ""},
      {"HKEY_USERS\\.DEFAULT", true, RootKey::kUsers, ".DEFAULT"},
      {"HKU\\S-1-5-18", true, RootKey::kUsers, "S-1-5-18"},
      {"HKEY_CURRENT_USER\\Software", true, RootKey::kUsers, ".DEFAULT\\Software"},
      {"HKCU", true, RootKey::kUsers, ".DEFAULT"},
      {"HKEY_LOCAL", false, kLM, ""},
      {"", false, kLM, ""},
      {"SOFTWARE\\TARN", false, kLM, ""},
      {"HKLM\\A\\\\B", false, kLM, ""},
      {"HKLM\\\\A", false, kLM, ""},
  };
  for (const Case& c : cases) {
    RootKey root = RootKey::kClassesRoot;
    std::string path = "unchanged";
    ASSERT_EQ(ParseKeyName(c.text, &root, &path), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(root, c.root) << c.text;
    EXPECT_EQ(path, c.path) << c.text;
  }
}

}  // namespace
}  // namespace quarrin
