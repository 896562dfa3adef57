// The sample product as the setup program meets it: registered and
// unregistered through the system's regsvr32, and a working class factory.
#include <gtest/gtest.h>

#include "WinTestSupport.h"
#include "product/PrivateFolder.h"
#include "setup/Unit2.h"
#include "ui/Application.h"

#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <vector>

using namespace setup;

namespace {

constexpr const char* SClassKey = "CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}";
constexpr const char* SServerKey = "CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}\\InProcServer32";
constexpr const char* SSettingsKey =
    "CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}\\ShellEx\\Preferencies\\General";

// The user's own classes, which the product never touches.
constexpr const char* SUserClassKey =
    "Software\\Classes\\CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}";

constexpr const char* SNameSpaceKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
    "MyComputer\\NameSpace\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}";

// Releases a COM interface pointer.
template <class T> struct TComPtr {
  T* P = nullptr;
  ~TComPtr() {
    if (P)
      P->Release();
  }
  T* operator->() const { return P; }
  void** Out() { return reinterpret_cast<void**>(&P); }
};

struct TItemList {
  LPITEMIDLIST P = nullptr;
  TItemList() = default;
  TItemList(const TItemList&) = delete;
  TItemList& operator=(const TItemList&) = delete;
  ~TItemList() { CoTaskMemFree(P); }
};

// The display names of a shell folder's items; found keeps the item named
// wanted, if any.
std::vector<std::string> Items(IShellFolder* folder, const std::string& wanted = "",
                               TItemList* found = nullptr) {
  std::vector<std::string> names;
  TComPtr<IEnumIDList> list;
  if (folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &list.P) != S_OK)
    return names;
  TItemList item;
  while (list->Next(1, &item.P, nullptr) == S_OK) {
    STRRET name{};
    char text[MAX_PATH] = {};
    if (SUCCEEDED(folder->GetDisplayNameOf(item.P, SHGDN_NORMAL, &name)))
      StrRetToBufA(&name, item.P, text, sizeof text);
    names.emplace_back(text);
    if (found && !found->P && names.back() == wanted)
      std::swap(found->P, item.P);
    CoTaskMemFree(item.P);
    item.P = nullptr;
  }
  return names;
}

// The computer folder, as the shell's desktop reaches it.
bool BindToComputer(TComPtr<IShellFolder>& computer) {
  TComPtr<IShellFolder> desktop;
  if (FAILED(SHGetDesktopFolder(&desktop.P)))
    return false;
  TItemList pidl;
  wchar_t name[] = L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}";
  return SUCCEEDED(desktop->ParseDisplayName(nullptr, nullptr, name, nullptr, &pidl.P, nullptr)) &&
         SUCCEEDED(desktop->BindToObject(pidl.P, nullptr, IID_IShellFolder, computer.Out()));
}

int CountNamed(IShellFolder* folder, const std::string& name) {
  const std::vector<std::string> names = Items(folder);
  return static_cast<int>(std::count(names.begin(), names.end(), name));
}

std::string ProductFile(const char* name) {
  return std::string(QLX_PRODUCT_DIR) + "/" + name;
}

class ProductTest : public ::testing::Test {
protected:
  void SetUp() override {
    // The prefix is the tests' own: start without any trace of the class.
    RegDeleteTreeA(HKEY_CLASSES_ROOT, SClassKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, SNameSpaceKey);
    FApp.SetTitle("QLXT3SE");
    FApp.Initialize();
    FFolder = wintest::TempFolder() + "\\QLX Product Test";
    CreateDirectoryA(FFolder.c_str(), nullptr);
    FLibrary = FFolder + "\\QLX_Tessel_3.dll";
    ASSERT_TRUE(CopyFileA(ProductFile("QLX_Tessel_3.dll").c_str(), FLibrary.c_str(), FALSE));
  }
  void TearDown() override {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, SClassKey);
    RegDeleteTreeA(HKEY_CURRENT_USER, SUserClassKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, SNameSpaceKey);
    DeleteFileA(FLibrary.c_str());
    RemoveDirectoryA(FFolder.c_str());
  }

  ui::TApplication FApp;
  std::string FFolder, FLibrary;
};

TEST_F(ProductTest, RegistrationLeavesItsPathAndUnregistrationKeepsTheSettings) {
  RegisterServer(AnsiToWide(FLibrary));
  EXPECT_EQ(FLibrary, ReadRegistryString(SServerKey, "", HKEY_CLASSES_ROOT));
  EXPECT_EQ(AnsiToWide(FLibrary), GetInstalledServerPath());
  EXPECT_EQ("Apartment", ReadRegistryString(SServerKey, "ThreadingModel", HKEY_CLASSES_ROOT));

  WriteRegistryString(SSettingsKey, "InstallFolder", FFolder, HKEY_CLASSES_ROOT);
  UnregisterServer(AnsiToWide(FLibrary));
  EXPECT_EQ(L"", GetInstalledServerPath());
  EXPECT_FALSE(wintest::KeyExists(HKEY_CLASSES_ROOT, SServerKey));
  EXPECT_EQ(FFolder, ReadRegistryString(SSettingsKey, "InstallFolder", HKEY_CLASSES_ROOT));

  // Without the setup's settings, unregistration leaves no trace of the class.
  RegDeleteTreeA(HKEY_CLASSES_ROOT, SClassKey);
  RegisterServer(AnsiToWide(FLibrary));
  UnregisterServer(AnsiToWide(FLibrary));
  EXPECT_FALSE(wintest::KeyExists(HKEY_CLASSES_ROOT, SClassKey));
}

// A per-user key of the class, planted or left over, takes nothing from the
// registration and loses nothing to the unregistration: both keep to the
// machine's own classes. (Wine does not merge the two into the classes view,
// so what shows here is which key is written.)
TEST_F(ProductTest, RegistrationKeepsToTheMachinesClassesBesideAUsersKey) {
  const std::string userServer = std::string(SUserClassKey) + "\\InProcServer32";
  const std::string planted = "C:\\Users\\Public\\QLX_Tessel_3.dll";
  wintest::SetRawValue(HKEY_CURRENT_USER, userServer, "", REG_SZ, planted + '\0');
  const auto before = wintest::RawValue(HKEY_CURRENT_USER, userServer, "");
  const std::string machine = std::string("Software\\Classes\\") + SClassKey;
  const auto userKeyIsAsPlanted = [&] {
    EXPECT_EQ(before, wintest::RawValue(HKEY_CURRENT_USER, userServer, ""));
    EXPECT_FALSE(wintest::RawValue(HKEY_CURRENT_USER, userServer, "ThreadingModel"));
    EXPECT_FALSE(wintest::RawValue(HKEY_CURRENT_USER, SUserClassKey, ""));
    for (const char* sub : {"\\DefaultIcon", "\\ShellFolder"})
      EXPECT_FALSE(wintest::KeyExists(HKEY_CURRENT_USER, SUserClassKey + std::string(sub))) << sub;
  };

  RegisterServer(AnsiToWide(FLibrary));
  EXPECT_EQ(FLibrary, ReadRegistryString(machine + "\\InProcServer32", "", HKEY_LOCAL_MACHINE));
  EXPECT_EQ("QLX Tessel", ReadRegistryString(machine, "", HKEY_LOCAL_MACHINE));
  EXPECT_EQ(FLibrary + ",0", ReadRegistryString(machine + "\\DefaultIcon", "", HKEY_LOCAL_MACHINE));
  EXPECT_TRUE(wintest::RawValue(HKEY_LOCAL_MACHINE, machine + "\\ShellFolder", "Attributes"));
  EXPECT_EQ(AnsiToWide(FLibrary), GetInstalledServerPath());
  userKeyIsAsPlanted();

  UnregisterServer(AnsiToWide(FLibrary));
  EXPECT_FALSE(wintest::KeyExists(HKEY_LOCAL_MACHINE, machine));
  EXPECT_EQ(L"", GetInstalledServerPath());
  userKeyIsAsPlanted();
}

// The computer folder lists the registered product as "QLX Tessel"; bound
// through the shell, it is an empty folder that knows where it is.
TEST_F(ProductTest, ComputerFolderListsTheProductUntilItIsUnregistered) {
  RegisterServer(AnsiToWide(FLibrary));
  EXPECT_EQ("QLX Tessel", ReadRegistryString(SClassKey, "", HKEY_CLASSES_ROOT));
  EXPECT_EQ(FLibrary + ",0",
            ReadRegistryString(std::string(SClassKey) + "\\DefaultIcon", "", HKEY_CLASSES_ROOT));
  EXPECT_TRUE(wintest::KeyExists(HKEY_LOCAL_MACHINE, SNameSpaceKey));
  {
    TComPtr<IShellFolder> computer;
    ASSERT_TRUE(BindToComputer(computer));
    TItemList product;
    const std::vector<std::string> names = Items(computer.P, "QLX Tessel", &product);
    ASSERT_TRUE(product.P) << names.size() << " items, none of them the product";
    EXPECT_EQ(1, std::count(names.begin(), names.end(), "QLX Tessel"));
    ULONG attributes = SFGAO_FOLDER | SFGAO_HASSUBFOLDER;
    LPCITEMIDLIST child = product.P;
    EXPECT_EQ(S_OK, computer->GetAttributesOf(1, &child, &attributes));
    EXPECT_EQ(static_cast<ULONG>(SFGAO_FOLDER), attributes);

    TComPtr<IShellFolder> tessel;
    ASSERT_EQ(S_OK, computer->BindToObject(child, nullptr, IID_IShellFolder, tessel.Out()));
    EXPECT_TRUE(Items(tessel.P).empty());
    TComPtr<IPersistFolder2> persist;
    ASSERT_EQ(S_OK, tessel->QueryInterface(IID_IPersistFolder2, persist.Out()));
    TItemList where;
    EXPECT_EQ(S_OK, persist->GetCurFolder(&where.P));
    EXPECT_TRUE(where.P && where.P->mkid.cb != 0);
    TComPtr<IShellView> view;
    EXPECT_EQ(S_OK, tessel->CreateViewObject(nullptr, IID_IShellView, view.Out()));
  }

  UnregisterServer(AnsiToWide(FLibrary));
  EXPECT_FALSE(wintest::KeyExists(HKEY_LOCAL_MACHINE, SNameSpaceKey));
  EXPECT_FALSE(wintest::KeyExists(HKEY_CLASSES_ROOT, SClassKey));
  TComPtr<IShellFolder> computer;
  ASSERT_TRUE(BindToComputer(computer));
  EXPECT_EQ(0, CountNamed(computer.P, "QLX Tessel"));
}

// Written out byte by byte for the uninstaller's kernel32-only part, so read
// back through the system: only SYSTEM and the administrators, nothing
// inherited from the user's temporary folder. (Wine keeps no descriptor on
// files, so the folder itself cannot show it here.)
TEST(UninstallerFolder, SecurityIsPrivate) {
  char* text = nullptr;
  ASSERT_TRUE(IsValidSecurityDescriptor(const_cast<BYTE*>(SPrivateSecurity)));
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(
      const_cast<BYTE*>(SPrivateSecurity), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
      nullptr));
  EXPECT_STREQ("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", text);
  LocalFree(text);
}

TEST_F(ProductTest, ClassFactoryMakesTheObjectAndTracksUnloading) {
  HMODULE library = LoadLibraryA(FLibrary.c_str());
  ASSERT_NE(nullptr, library);
  using TGetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
  using TCanUnload = HRESULT(WINAPI*)();
  // Through void*: FARPROC's own type does not match the exports'.
  auto getClassObject = reinterpret_cast<TGetClassObject>(
      reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")));
  auto canUnload = reinterpret_cast<TCanUnload>(
      reinterpret_cast<void*>(GetProcAddress(library, "DllCanUnloadNow")));
  ASSERT_NE(nullptr, getClassObject);
  ASSERT_NE(nullptr, canUnload);

  const CLSID clsid = {
      0x5E2A9C71, 0x3B64, 0x4D0F, {0xA8, 0xE2, 0x91, 0xC7, 0xD0, 0x4B, 0x36, 0xF5}};
  IClassFactory* factory = nullptr;
  ASSERT_EQ(S_OK, getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
  void* none = nullptr;
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject(IID_IUnknown, IID_IClassFactory, &none));

  IUnknown* object = nullptr;
  ASSERT_EQ(S_OK,
            factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)));
  EXPECT_EQ(S_FALSE, canUnload());
  void* other = nullptr;
  EXPECT_EQ(E_NOINTERFACE, object->QueryInterface(IID_IClassFactory, &other));
  IShellFolder* folder = nullptr;
  EXPECT_EQ(S_OK, object->QueryInterface(IID_IShellFolder, reinterpret_cast<void**>(&folder)));
  if (folder)
    folder->Release();
  object->Release();
  EXPECT_EQ(S_OK, canUnload());
  factory->LockServer(TRUE);
  EXPECT_EQ(S_FALSE, canUnload());
  factory->LockServer(FALSE);
  factory->Release();
  EXPECT_EQ(S_OK, canUnload());
  FreeLibrary(library);
}

} // namespace
