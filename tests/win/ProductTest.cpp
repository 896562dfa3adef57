// The sample product as the setup program meets it: registered and
// unregistered through the system's regsvr32, and a working class factory.
#include <gtest/gtest.h>

#include "WinTestSupport.h"
#include "setup/Unit2.h"
#include "ui/Application.h"

#include <objbase.h>

using namespace setup;

namespace {

constexpr const char* SClassKey = "CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}";
constexpr const char* SServerKey = "CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}\\InProcServer32";
constexpr const char* SSettingsKey =
    "CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}\\ShellEx\\Preferencies\\General";

std::string ProductFile(const char* name) {
  return std::string(QLX_PRODUCT_DIR) + "/" + name;
}

class ProductTest : public ::testing::Test {
protected:
  void SetUp() override {
    // The prefix is the tests' own: start without any trace of the class.
    RegDeleteTreeA(HKEY_CLASSES_ROOT, SClassKey);
    FApp.SetTitle("QLXT3SE");
    FApp.Initialize();
    FFolder = wintest::TempFolder() + "\\QLX Product Test";
    CreateDirectoryA(FFolder.c_str(), nullptr);
    FLibrary = FFolder + "\\QLX_Tessel_3.dll";
    ASSERT_TRUE(CopyFileA(ProductFile("QLX_Tessel_3.dll").c_str(), FLibrary.c_str(), FALSE));
  }
  void TearDown() override {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, SClassKey);
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
