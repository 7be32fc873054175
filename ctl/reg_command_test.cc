// quarrinctl reg, run as the administrator runs it, on a registry below a
// fresh QUARRIN_ROOT.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

using testing::CommandResult;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

class RegCommandTest : public ::testing::Test {
 protected:
  CommandResult Reg(std::vector<std::string> args) {
    args.insert(args.begin(), {testing::BuiltExecutable("quarrinctl"), "reg"});
    return testing::RunCommand(args, {"QUARRIN_ROOT=" + root_.path(), "QUARRIN_LIVE_FACTS=0"});
  }
  std::string DbPath() const { return root_ / "var/lib/quarrin/registry.db"; }

  testing::TempDir root_;
};

TEST_F(RegCommandTest, ImportQueryExportAndDelete) {
  const std::string file = root_ / "in.reg";
  testing::WriteFileText(file,
                         "REGEDIT4\n\n"
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARN\\QuarrinSrvc]\n"
                         "\"SerialNo\"=\"ABC123\"\n"
                         "\"Count\"=dword:0000002a\n"
                         "\"Float\"=hex:00,00,00,00,00,00,f8,3f\n"
                         "@=\"default\"\n"
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARN\\QuarrinSrvc\\Disk]\n");
  CommandResult r = Reg({"import", file});
  ASSERT_EQ(r.exit_status, 0) << r.err;

  r = Reg({"query", "HKLM\\SOFTWARE\\TARN\\QuarrinSrvc"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out,
            "\n"
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\TARN\\QuarrinSrvc\n"
            "    SerialNo    REG_SZ    ABC123\n"
            "    Count    REG_DWORD    0x2a\n"
            "    Float    REG_BINARY    000000000000F83F\n"
            "    (Default)    REG_SZ    default\n"
            "\n"
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\TARN\\QuarrinSrvc\\Disk\n");

  CommandResult to_stdout = Reg({"export", "HKEY_LOCAL_MACHINE\\SOFTWARE\\TARN"});
  ASSERT_EQ(to_stdout.exit_status, 0) << to_stdout.err;
  EXPECT_THAT(to_stdout.out,
              StartsWith("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARN]\r\n\r\n"));
  EXPECT_THAT(to_stdout.out, HasSubstr("\"Count\"=dword:0000002a\r\n"));
  const std::string out_file = root_ / "out.reg";
  ASSERT_EQ(Reg({"export", "HKLM\\SOFTWARE\\TARN", out_file}).exit_status, 0);
  EXPECT_EQ(testing::ReadFileText(out_file), to_stdout.out);

  EXPECT_EQ(Reg({"delete", "HKLM\\SOFTWARE\\TARN\\QuarrinSrvc", "count"}).exit_status, 0);
  EXPECT_THAT(Reg({"query", "HKLM\\SOFTWARE\\TARN\\QuarrinSrvc"}).out, Not(HasSubstr("Count")));
  r = Reg({"delete", "HKLM\\SOFTWARE\\TARN\\QuarrinSrvc", "Count"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_THAT(r.err, HasSubstr("value 'Count' not found"));

  EXPECT_EQ(Reg({"delete", "HKLM\\SOFTWARE\\TARN"}).exit_status, 0);
  r = Reg({"query", "HKLM\\SOFTWARE\\TARN\\QuarrinSrvc\\Disk"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_THAT(r.err,
              HasSubstr("HKEY_LOCAL_MACHINE\\SOFTWARE\\TARN\\QuarrinSrvc\\Disk: key not found"));
}

TEST_F(RegCommandTest, SetStoresEachTypeAndCreatesTheKey) {
  struct Case {
    std::vector<std::string> set;  // name, type, data
    std::string shown;             // the query line
  } cases[] = {
      {{"Text", "REG_SZ", "hello world"}, "    Text    REG_SZ    hello world\n"},
      {{"Path", "reg_expand_sz", "%TEMP%\\x"}, "    Path    REG_EXPAND_SZ    %TEMP%\\x\n"},
      {{"Dec", "REG_DWORD", "42"}, "    Dec    REG_DWORD    0x2a\n"},
      {{"Neg", "REG_DWORD", "-1"}, "    Neg    REG_DWORD    0xffffffff\n"},
      {{"Hex", "REG_DWORD", "0xFFFFFFFF"}, "    Hex    REG_DWORD    0xffffffff\n"},
      {{"Bin", "REG_BINARY", "01ab,FF"}, "    Bin    REG_BINARY    01ABFF\n"},
      {{"", "REG_SZ", "unnamed"}, "    (Default)    REG_SZ    unnamed\n"},
  };
  for (const Case& c : cases) {
    CommandResult r = Reg({"set", "HKLM\\SOFTWARE\\New\\Key", c.set[0], c.set[1], c.set[2]});
    ASSERT_EQ(r.exit_status, 0) << c.set[0] << ": " << r.err;
  }
  std::string expected = "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\New\\Key\n";
  for (const Case& c : cases) expected += c.shown;
  EXPECT_EQ(Reg({"query", "HKLM\\SOFTWARE\\New\\Key"}).out, expected);
}

TEST_F(RegCommandTest, BadInputIsRefusedWithAClearErrorAndChangesNothing) {
  ASSERT_EQ(Reg({"set", "HKLM\\SOFTWARE\\TARN", "Kept", "REG_SZ", "yes"}).exit_status, 0);
  const std::string bad = root_ / "bad.reg";
  testing::WriteFileText(bad,
                         "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARN]\r\n"
                         "\"Kept\"=\"overwritten\"\r\n\"New\"=dword:xyz\r\n");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
  } cases[] = {
      {{"import", bad}, 1, "bad.reg: line 5: bad dword"},
      {{"import", root_ / "missing.reg"}, 1, "missing.reg: cannot read"},
      {{"set", "HKLM\\SOFTWARE\\TARN", "Kept", "REG_DWORD", "4294967296"}, 1, "bad REG_DWORD data"},
      {{"set", "HKLM\\SOFTWARE\\TARN", "Kept", "REG_DWORD", "12abc"}, 1, "bad REG_DWORD data"},
      {{"set", "HKLM\\SOFTWARE\\TARN", "Kept", "REG_BINARY", "abc"}, 1, "bad REG_BINARY data"},
      {{"set", "HKLM\\SOFTWARE\\TARN", "Kept", "REG_QWORD", "1"}, 1, "unknown type 'REG_QWORD'"},
      {{"set", "HKXX\\SOFTWARE", "Kept", "REG_SZ", "1"}, 1, "bad key name 'HKXX\\SOFTWARE'"},
      {{"set", "HKLM\\A\\\\B", "Kept", "REG_SZ", "1"}, 1, "bad key name"},
      {{"delete", "HKLM"}, 1, "a root key cannot be deleted"},
      {{"delete", "HKLM\\SOFTWARE\\Missing"}, 1, "key not found"},
      {{"export", "HKLM\\SOFTWARE\\Missing"}, 1, "key not found"},
      {{"query"}, 2, "usage: quarrinctl reg"},
      {{"frobnicate", "x"}, 2, "usage: quarrinctl reg"},
  };
  for (const Case& c : cases) {
    CommandResult r = Reg(c.args);
    EXPECT_EQ(r.exit_status, c.status) << c.args[0] << ": " << r.err;
    EXPECT_THAT(r.err, HasSubstr(c.message)) << c.args[0];
  }
  CommandResult q = Reg({"query", "HKLM\\SOFTWARE\\TARN"});
  EXPECT_EQ(q.out, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\TARN\n    Kept    REG_SZ    yes\n");
}

TEST_F(RegCommandTest, ImportRefusesWhatIsNotAReasonableRegistryFileBeforeReadingIt) {
  const std::string fifo = root_ / "pipe.reg";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = root_ / "folder.reg";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  const std::string garbage = root_ / "garbage.reg";
  testing::WriteFileText(garbage, std::string(8u << 20, '\xA5'));
  // Larger than the cap, sparse: nothing of it is on disk or ever read.
  const std::string huge = root_ / "huge.reg";
  testing::WriteFileText(huge, "REGEDIT4\n");
  ASSERT_EQ(truncate(huge.c_str(), off_t{300} << 20), 0);
  const std::string empty = root_ / "empty.reg";
  testing::WriteFileText(empty, "");
  struct {
    std::string file;
    std::string message;
  } cases[] = {
      {"/dev/zero", "/dev/zero: not a regular file (a character device)"},
      {fifo, "pipe.reg: not a regular file (a FIFO)"},
      {folder, "folder.reg: not a regular file (a folder)"},
      {garbage, "garbage.reg: line 1: not a registry file"},
      {huge, "huge.reg: larger than 256 MiB"},
      {empty, "empty.reg: line 1: empty file"},
  };
  for (const auto& c : cases) {
    CommandResult r = Reg({"import", c.file});
    EXPECT_EQ(r.exit_status, 1) << c.file;
    EXPECT_THAT(r.err, HasSubstr(c.message));
    EXPECT_THAT(r.err, HasSubstr("(nothing was imported)"));
  }
}

TEST_F(RegCommandTest, NamesBeyondTheLimitsAreRefusedByImportAndSet) {
  std::string deep = "HKLM";
  for (int i = 0; i < 513; ++i) deep += "\\L";
  struct {
    std::string text;  // the file after its header
    std::string message;
  } imports[] = {
      {"[HKLM\\" + std::string(256, 'k') + "]\n", "line 2: key name 'kkkk"},
      {"[" + deep + "]\n", "line 2: key 'L\\L\\L"},
      {"[HKLM\\A]\n\"" + std::string(16384, 'v') + "\"=\"x\"\n", "line 3: value name 'vvv"},
      {std::string("[HKLM\\A]\n\"N\0ame\"=\"x\"\n", 21), "line 3: value name 'N' holds a zero byte"},
  };
  const std::string file = root_ / "limits.reg";
  for (const auto& c : imports) {
    testing::WriteFileText(file, "REGEDIT4\n" + c.text);
    CommandResult r = Reg({"import", file});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_THAT(r.err, HasSubstr(c.message));
  }
  CommandResult r = Reg({"set", "HKLM\\" + std::string(256, 'k'), "v", "REG_SZ", "x"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_THAT(r.err, HasSubstr("is longer than 255 characters"));
  r = Reg({"set", "HKLM\\A", std::string(16384, 'v'), "REG_SZ", "x"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_THAT(r.err, HasSubstr("is longer than 16383 characters"));
  EXPECT_EQ(Reg({"query", "HKLM\\A"}).exit_status, 1);  // nothing was made

  ASSERT_EQ(Reg({"set", "HKLM\\A", "Comment", "REG_SZ", "caf\xE9"}).exit_status, 0);
  EXPECT_THAT(Reg({"query", "HKLM\\A"}).out, HasSubstr("Comment    REG_SZ    caf\xC3\xA9\n"));
}

TEST_F(RegCommandTest, ARegistryFileThatIsNotADatabaseIsNamedAndLeftAlone) {
  ASSERT_EQ(Reg({"set", "HKLM\\SOFTWARE\\TARN", "v", "REG_SZ", "x"}).exit_status, 0);
  const std::string garbage = "this is not a database, but it is someone's file\n";
  testing::WriteFileText(DbPath(), garbage);
  for (auto args : std::vector<std::vector<std::string>>{
           {"query", "HKLM\\SOFTWARE"}, {"set", "HKLM\\SOFTWARE\\TARN", "v", "REG_SZ", "y"}}) {
    CommandResult r = Reg(args);
    EXPECT_EQ(r.exit_status, 1) << args[0];
    EXPECT_THAT(r.err, HasSubstr(DbPath() + ": not a database")) << args[0];
  }
  EXPECT_EQ(testing::ReadFileText(DbPath()), garbage);
}

}  // namespace
}  // namespace quarrin
