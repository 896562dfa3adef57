// The registry routines against Wine's real registry: a scratch key under
// HKEY_CURRENT_USER, and the system's and product's locations changed only
// for the length of a test.
#include <gtest/gtest.h>

#include "WinTestSupport.h"
#include "rtl/SysUtils.h"
#include "setup/Unit2.h"

using namespace setup;
using wintest::RawValue;
using wintest::SetRawValue;

namespace {

constexpr const char* SScratch = "Software\\QLXTest\\Unit2";

class RegistryTest : public ::testing::Test {
protected:
  void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\QLXTest"); }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\QLXTest"); }

  void Set(const std::string& name, DWORD type, const std::string& bytes) {
    SetRawValue(HKEY_CURRENT_USER, SScratch, name, type, bytes);
  }
  TRegistryVariant Read(const std::string& name, const std::string& key = SScratch) {
    TRegistryVariant value;
    return ReadRegistryValue(HKEY_CURRENT_USER, key, name, value);
  }
  // The message of the rtl::Exception (and not of a subclass) that reading raises.
  std::string ReadFailure(const std::string& name, const std::string& key = SScratch) {
    try {
      Read(name, key);
    } catch (const rtl::Exception& e) {
      EXPECT_STREQ(e.ClassName(), "Exception");
      return e.Message();
    }
    ADD_FAILURE() << "no exception for " << key << " / " << name;
    return {};
  }
};

std::string Dword(uint32_t v) {
  return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 24)};
}

TEST_F(RegistryTest, ReadsEveryAcceptedType) {
  Set("sz", REG_SZ, std::string("C:\\Program Files\0", 17));
  Set("expand", REG_EXPAND_SZ, std::string("%SystemRoot%\\x\0", 15));
  Set("minus", REG_DWORD, Dword(0xFFFFFFFF));
  Set("dword", REG_DWORD, Dword(42));
  Set("binary", REG_BINARY, std::string("a\0b\xff", 4));
  Set("emptysz", REG_SZ, std::string("\0", 1));
  Set("nodata", REG_SZ, "");
  Set("emptybin", REG_BINARY, "");
  Set("", REG_SZ, std::string("default\0", 8));

  EXPECT_EQ(Read("sz"), TRegistryVariant(std::string("C:\\Program Files")));
  EXPECT_EQ(Read("expand"), TRegistryVariant(std::string("%SystemRoot%\\x")));
  EXPECT_EQ(Read("minus"), TRegistryVariant(int32_t{-1}));
  EXPECT_EQ(Read("dword"), TRegistryVariant(int32_t{42}));
  EXPECT_EQ(Read("binary"), TRegistryVariant(std::string("a\0b\xff", 4)));
  EXPECT_EQ(Read("emptysz"), TRegistryVariant(std::string()));
  EXPECT_EQ(Read("nodata"), TRegistryVariant(std::string()));
  EXPECT_EQ(Read("emptybin"), TRegistryVariant(std::string()));
  EXPECT_EQ(Read(""), TRegistryVariant(std::string("default")));
  // A string is cut at its first NUL.
  Set("twice", REG_SZ, std::string("one\0two\0", 8));
  EXPECT_EQ(Read("twice"), TRegistryVariant(std::string("one")));
}

TEST_F(RegistryTest, ReadFailsWithTheSystemsTexts) {
  const std::string cantRead = rtl::SysErrorMessage(ERROR_CANTREAD);
  ASSERT_FALSE(cantRead.empty());
  EXPECT_NE(cantRead.back(), '.');
  Set("multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5));
  Set("qword", REG_QWORD, std::string(8, '\1'));
  EXPECT_EQ(ReadFailure("multi"), cantRead);
  EXPECT_EQ(ReadFailure("qword"), cantRead);
  EXPECT_EQ(ReadFailure("missing"), cantRead);
  // A missing key gives the text of the code the open returned, not a stale last error.
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(ReadFailure("sz", "Software\\QLXTest\\NoSuchKey"),
            rtl::SysErrorMessage(ERROR_FILE_NOT_FOUND));
}

TEST_F(RegistryTest, LeadingDelimiterAndCaseNameTheSameKey) {
  Set("Value", REG_SZ, std::string("x\0", 2));
  const TRegistryVariant expected{std::string("x")};
  EXPECT_EQ(Read("Value", "\\Software\\QLXTest\\Unit2"), expected);
  EXPECT_EQ(Read("value", "SOFTWARE\\qlxtest\\unit2"), expected);
  // Only one delimiter is dropped.
  EXPECT_THROW(Read("Value", "\\\\Software\\QLXTest\\Unit2"), rtl::Exception);
}

TEST_F(RegistryTest, ReadRegistryStringTakesAtMost255Characters) {
  const std::string full(255, 'p');
  Set("full", REG_SZ, full + '\0');
  Set("long", REG_SZ, full + "q" + '\0');
  Set("bin", REG_BINARY, "abc");
  Set("one", REG_SZ, std::string("\0", 1));
  Set("dword", REG_DWORD, Dword(0x00636261));
  EXPECT_EQ(ReadRegistryString(SScratch, "full", HKEY_CURRENT_USER), full);
  EXPECT_EQ(ReadRegistryString(SScratch, "long", HKEY_CURRENT_USER), "");
  // The last byte is taken for the NUL whether or not there is one. (A REG_SZ
  // stored without one gets one from the ANSI query itself.)
  EXPECT_EQ(ReadRegistryString(SScratch, "bin", HKEY_CURRENT_USER), "ab");
  EXPECT_EQ(ReadRegistryString(SScratch, "one", HKEY_CURRENT_USER), "");
  EXPECT_EQ(ReadRegistryString(SScratch, "dword", HKEY_CURRENT_USER), std::string("abc"));
  EXPECT_EQ(ReadRegistryString(SScratch, "missing", HKEY_CURRENT_USER), "");
  EXPECT_EQ(ReadRegistryString("Software\\QLXTest\\None", "full", HKEY_CURRENT_USER), "");
}

TEST_F(RegistryTest, WriteRegistryStringCreatesKeysAndStoresTheNul) {
  const std::string deep = std::string(SScratch) + "\\A\\B";
  WriteRegistryString(deep, "Name", "QLX Tessel 3 Starter Edition", HKEY_CURRENT_USER);
  WriteRegistryString(deep, "Empty", "", HKEY_CURRENT_USER);
  WriteRegistryString(deep, "", "default", HKEY_CURRENT_USER);
  const auto name = RawValue(HKEY_CURRENT_USER, deep, "Name");
  ASSERT_TRUE(name);
  EXPECT_EQ(name->first, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(name->second, std::string("QLX Tessel 3 Starter Edition\0", 29));
  const auto empty = RawValue(HKEY_CURRENT_USER, deep, "Empty");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->first, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(empty->second, std::string("\0", 1));
  EXPECT_EQ(ReadRegistryString(deep, "", HKEY_CURRENT_USER), "default");
  // Overwriting replaces the value.
  WriteRegistryString(deep, "Name", "x", HKEY_CURRENT_USER);
  EXPECT_EQ(ReadRegistryString(deep, "Name", HKEY_CURRENT_USER), "x");

  try {
    WriteRegistryString(SScratch, "v", "x", reinterpret_cast<HKEY>(0x7654321));
    FAIL() << "no exception";
  } catch (const rtl::EOleRegistrationError& e) {
    EXPECT_EQ(e.Message(), "Error creating system registry entry");
  }
}

TEST_F(RegistryTest, DeleteRegistryKeyIgnoresEveryFailure) {
  const std::string parent = std::string(SScratch) + "\\Parent";
  WriteRegistryString(parent + "\\Child", "v", "x", HKEY_CURRENT_USER);
  EXPECT_NO_THROW(DeleteRegistryKey(std::string(SScratch) + "\\Missing", HKEY_CURRENT_USER));
  EXPECT_NO_THROW(DeleteRegistryKey(parent, HKEY_CURRENT_USER)); // has a subkey: stays
  EXPECT_TRUE(wintest::KeyExists(HKEY_CURRENT_USER, parent));
  DeleteRegistryKey(parent + "\\Child", HKEY_CURRENT_USER);
  EXPECT_FALSE(wintest::KeyExists(HKEY_CURRENT_USER, parent + "\\Child"));
}

// The real locations, each put back as it was.
TEST(RegistryLocations, ProgramFilesDirAcceptsEachTypeAndRaisesOtherwise) {
  const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion";
  const std::wstring original = GetProgramFilesDir();
  EXPECT_EQ(WideToAnsi(original), ReadRegistryString(key, "ProgramFilesDir", HKEY_LOCAL_MACHINE));
  EXPECT_FALSE(original.empty());

  wintest::TRegistryBackup backup(HKEY_LOCAL_MACHINE, key, "ProgramFilesDir", key);
  SetRawValue(HKEY_LOCAL_MACHINE, key, "ProgramFilesDir", REG_DWORD, Dword(0xFFFFFFFF));
  EXPECT_EQ(GetProgramFilesDir(), L"-1");
  SetRawValue(HKEY_LOCAL_MACHINE, key, "ProgramFilesDir", REG_EXPAND_SZ,
              std::string("%ProgramFiles%\0", 15));
  EXPECT_EQ(GetProgramFilesDir(), L"%ProgramFiles%");
  SetRawValue(HKEY_LOCAL_MACHINE, key, "ProgramFilesDir", REG_BINARY, "D:\\Apps");
  EXPECT_EQ(GetProgramFilesDir(), L"D:\\Apps");
  SetRawValue(HKEY_LOCAL_MACHINE, key, "ProgramFilesDir", REG_MULTI_SZ, std::string("C:\\\0\0", 5));
  EXPECT_THROW(GetProgramFilesDir(), rtl::Exception);
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE, &k), ERROR_SUCCESS);
  RegDeleteValueA(k, "ProgramFilesDir");
  RegCloseKey(k);
  try {
    GetProgramFilesDir();
    FAIL() << "no exception";
  } catch (const rtl::Exception& e) {
    EXPECT_EQ(e.Message(), rtl::SysErrorMessage(ERROR_CANTREAD));
  }
}

TEST(RegistryLocations, InstalledServerPathComesFromTheMachinesClasses) {
  const std::string machineClsid = std::string("Software\\Classes\\CLSID\\") + SProductClassId;
  wintest::TRegistryBackup backup(HKEY_LOCAL_MACHINE, SMachineInProcServerKey, "", machineClsid);
  wintest::TRegistryBackup user(HKEY_CURRENT_USER, SMachineInProcServerKey, "", machineClsid);
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, machineClsid.c_str());
  EXPECT_EQ(GetInstalledServerPath(), L"");

  // What any user can write does not count, however good it looks.
  const std::string planted = "C:\\Users\\Public\\QLX_Tessel_3.dll";
  SetRawValue(HKEY_CURRENT_USER, SMachineInProcServerKey, "", REG_SZ, planted + '\0');
  EXPECT_EQ(GetInstalledServerPath(), L"");

  std::string path = "C:\\Program Files\\QLXT3SE\\";
  path += std::string(255 - path.size() - 17, 'd') + "\\QLX_Tessel_3.dll";
  ASSERT_EQ(path.size(), 255u);
  SetRawValue(HKEY_LOCAL_MACHINE, SMachineInProcServerKey, "", REG_SZ, path + '\0');
  EXPECT_EQ(GetInstalledServerPath(), AnsiToWide(path));
  path.insert(path.size() - 17, "d");
  SetRawValue(HKEY_LOCAL_MACHINE, SMachineInProcServerKey, "", REG_SZ, path + '\0');
  EXPECT_EQ(GetInstalledServerPath(), L"");
  // A value the rule refuses reads as not installed.
  SetRawValue(HKEY_LOCAL_MACHINE, SMachineInProcServerKey, "", REG_SZ,
              std::string("C:QLX_Tessel_3.dll\0", 19));
  EXPECT_EQ(GetInstalledServerPath(), L"");
}

TEST(RegistryLocations, OnlyFullPathsToOurLibraryCount) {
  for (const char* good : {"C:\\Program Files\\QLXT3SE\\QLX_Tessel_3.dll", "d:\\qlx_tessel_3.DLL",
                           "\\\\server\\share\\QLX_Tessel_3.dll", "C:\\a b\\x.y\\QLX_Tessel_3.dll"})
    EXPECT_TRUE(IsProductServerPath(good)) << good;
  for (const char* bad : {"",
                          "QLX_Tessel_3.dll",
                          "C:QLX_Tessel_3.dll",
                          "\\QLX_Tessel_3.dll",
                          "C:\\Decoy\\other.dll",
                          "C:\\Decoy\\..\\QLX_Tessel_3.dll",
                          "C:\\.\\QLX_Tessel_3.dll",
                          "C:\\a\\\\QLX_Tessel_3.dll",
                          "\\\\server\\QLX_Tessel_3.dll",
                          "\\\\?\\C:\\QLX_Tessel_3.dll",
                          "\\\\.\\C:\\QLX_Tessel_3.dll",
                          "C:/Decoy/QLX_Tessel_3.dll",
                          "C:\\Decoy/../QLX_Tessel_3.dll",
                          "C:\\x\\QLX_Tessel_3.dll:s",
                          "C:\\a.\\QLX_Tessel_3.dll",
                          "C:\\a \\QLX_Tessel_3.dll",
                          "C:\\NUL\\QLX_Tessel_3.dll",
                          "C:\\x\\QLX_Tessel_3.dll.",
                          "C:\\x\\QLX_Tessel_3.dll ",
                          "\"C:\\x\\QLX_Tessel_3.dll\"",
                          "C:\\x\\my_QLX_Tessel_3.dll",
                          "1:\\QLX_Tessel_3.dll"})
    EXPECT_FALSE(IsProductServerPath(bad)) << bad;
  constexpr char withNul[] = "C:\\a\0b\\QLX_Tessel_3.dll";
  EXPECT_FALSE(IsProductServerPath(std::string(withNul, sizeof withNul - 1)));
}

TEST(TextConversions, RoundTripThroughTheAnsiCodePage) {
  const std::string ansi = "C:\\Program Files\\Caf\xe9";
  const std::wstring wide = AnsiToWide(ansi);
  EXPECT_EQ(wide.size(), ansi.size());
  EXPECT_EQ(WideToAnsi(wide), ansi);
  EXPECT_EQ(WideToAnsi(L"\x4e2d"), "?"); // not in the code page
  EXPECT_EQ(AnsiToWide(""), L"");
}

} // namespace
