// The sample product: a COM in-process server that registers its class with
// the library's full path, so the setup program can find, register and
// unregister it. What the class does in the shell is not part of the sample.
#include <windows.h>

#include <objbase.h>
#include <olectl.h>
#include <unknwn.h>

#include <atomic>

namespace {

// {5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}
const CLSID CLSID_QLXTessel = {
    0x5E2A9C71, 0x3B64, 0x4D0F, {0xA8, 0xE2, 0x91, 0xC7, 0xD0, 0x4B, 0x36, 0xF5}};
constexpr const char* SClassKey = "CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}";
constexpr const char* SServerKey = "CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}\\InProcServer32";

std::atomic<long> ObjectCount{0};
std::atomic<long> LockCount{0};
HMODULE ThisModule = nullptr;

// The product's object: nothing but its identity for now.
class TTessel : public IUnknown {
public:
  TTessel() { ++ObjectCount; }
  virtual ~TTessel() { --ObjectCount; }
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out)
      return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown))
      return E_NOINTERFACE;
    *out = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++FRefs); }
  STDMETHODIMP_(ULONG) Release() override {
    const long n = --FRefs;
    if (n == 0)
      delete this;
    return static_cast<ULONG>(n);
  }

private:
  std::atomic<long> FRefs{1};
};

class TFactory : public IClassFactory {
public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out)
      return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory))
      return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  // One static factory: counting it would only keep the library alive.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out)
      return E_POINTER;
    *out = nullptr;
    if (outer)
      return CLASS_E_NOAGGREGATION;
    auto* object = new (std::nothrow) TTessel;
    if (!object)
      return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    lock ? ++LockCount : --LockCount;
    return S_OK;
  }
};

TFactory Factory;

LONG SetString(HKEY root, const char* key, const char* name, const char* value) {
  HKEY k = nullptr;
  LONG rc = RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr);
  if (rc != ERROR_SUCCESS)
    return rc;
  rc = RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                      static_cast<DWORD>(lstrlenA(value) + 1));
  RegCloseKey(k);
  return rc;
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    ThisModule = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" HRESULT WINAPI DllRegisterServer() {
  char path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameA(ThisModule, path, sizeof path);
  if (n == 0 || n >= sizeof path)
    return SELFREG_E_CLASS;
  if (SetString(HKEY_CLASSES_ROOT, SClassKey, nullptr, "QLX Tessel 3 Starter Edition") ||
      SetString(HKEY_CLASSES_ROOT, SServerKey, nullptr, path) ||
      SetString(HKEY_CLASSES_ROOT, SServerKey, "ThreadingModel", "Apartment"))
    return SELFREG_E_CLASS;
  return S_OK;
}

// Removes what registration wrote; the class key itself goes only when nothing
// else (the setup program's own settings) lives under it.
extern "C" HRESULT WINAPI DllUnregisterServer() {
  RegDeleteKeyA(HKEY_CLASSES_ROOT, SServerKey);
  HKEY k = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, SClassKey, 0, KEY_READ | KEY_WRITE, &k) == ERROR_SUCCESS) {
    DWORD subkeys = 0;
    RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr);
    RegDeleteValueA(k, nullptr);
    RegCloseKey(k);
    if (subkeys == 0)
      RegDeleteKeyA(HKEY_CLASSES_ROOT, SClassKey);
  }
  return S_OK;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out)
    return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_QLXTessel))
    return CLASS_E_CLASSNOTAVAILABLE;
  return Factory.QueryInterface(iid, out);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
  return ObjectCount == 0 && LockCount == 0 ? S_OK : S_FALSE;
}
