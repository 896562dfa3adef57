// The sample product: a COM in-process server that registers its class with
// the library's full path, so the setup program can find, register and
// unregister it, and that shows in the computer folder as "QLX Tessel", an
// empty shell folder that the shell can list and open.
#include <windows.h>

#include <objbase.h>
#include <olectl.h>
#include <shlobj.h>
#include <unknwn.h>

#include <atomic>
#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <new>

namespace {

// {5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}
const CLSID CLSID_QLXTessel = {
    0x5E2A9C71, 0x3B64, 0x4D0F, {0xA8, 0xE2, 0x91, 0xC7, 0xD0, 0x4B, 0x36, 0xF5}};
// Every key below is under HKEY_LOCAL_MACHINE. The class goes into the
// machine's own classes, never through HKEY_CLASSES_ROOT: that view writes
// into the user's classes wherever a key of the same name exists there, so a
// key planted or left over by the user would take the registration, and the
// unregistration would never reach the machine's.
constexpr const char* SClassKey =
    "Software\\Classes\\CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}";
constexpr const char* SServerKey =
    "Software\\Classes\\CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}\\InProcServer32";
constexpr const char* SIconKey =
    "Software\\Classes\\CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}\\DefaultIcon";
constexpr const char* SShellFolderKey =
    "Software\\Classes\\CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}\\ShellFolder";
// The computer folder lists the classes named here.
constexpr const char* SNameSpaceKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
    "MyComputer\\NameSpace\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}";
constexpr const char* SDisplayName = "QLX Tessel";
constexpr const wchar_t* SDisplayNameW = L"QLX Tessel";
// A folder that can be opened; it holds nothing, so it has no subfolders.
constexpr DWORD SFolderAttributes = SFGAO_FOLDER | SFGAO_BROWSABLE;

std::atomic<long> ObjectCount{0};
std::atomic<long> LockCount{0};
HMODULE ThisModule = nullptr;

// Copies an item list with the allocator the shell frees it with.
LPITEMIDLIST CloneItemList(LPCITEMIDLIST list) {
  UINT size = sizeof(USHORT);
  for (auto* item = reinterpret_cast<const BYTE*>(list); list && item;) {
    const USHORT cb = reinterpret_cast<const SHITEMID*>(item)->cb;
    if (cb == 0)
      break;
    size += cb;
    item += cb;
  }
  auto* copy = static_cast<LPITEMIDLIST>(CoTaskMemAlloc(size));
  if (!copy)
    return nullptr;
  if (list)
    std::memcpy(copy, list, size);
  else
    std::memset(copy, 0, size);
  return copy;
}

bool IsEmptyList(LPCITEMIDLIST list) {
  return !list || list->mkid.cb == 0;
}

// Reference counting shared by the objects the library hands out.
template <class TBase> class TCounted : public TBase {
public:
  TCounted() { ++ObjectCount; }
  virtual ~TCounted() { --ObjectCount; }
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

// The folder's items: there are none.
class TEmptyEnumeration : public TCounted<IEnumIDList> {
public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out)
      return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IEnumIDList))
      return E_NOINTERFACE;
    *out = static_cast<IEnumIDList*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP Next(ULONG, LPITEMIDLIST* items, ULONG* fetched) override {
    if (items)
      *items = nullptr;
    if (fetched)
      *fetched = 0;
    return S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override { return count == 0 ? S_OK : S_FALSE; }
  STDMETHODIMP Reset() override { return S_OK; }
  STDMETHODIMP Clone(IEnumIDList** out) override {
    if (!out)
      return E_POINTER;
    *out = new (std::nothrow) TEmptyEnumeration;
    return *out ? S_OK : E_OUTOFMEMORY;
  }
};

// The product's shell folder: what the shell needs to list it in the computer
// folder and to open it.
class TTessel : public TCounted<IShellFolder>, public IPersistFolder2 {
public:
  ~TTessel() override { CoTaskMemFree(FRoot); }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out)
      return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IShellFolder))
      *out = static_cast<IShellFolder*>(this);
    else if (IsEqualIID(iid, IID_IPersist) || IsEqualIID(iid, IID_IPersistFolder) ||
             IsEqualIID(iid, IID_IPersistFolder2))
      *out = static_cast<IPersistFolder2*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return TCounted<IShellFolder>::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return TCounted<IShellFolder>::Release(); }

  // IPersistFolder2
  STDMETHODIMP GetClassID(CLSID* clsid) override {
    if (!clsid)
      return E_POINTER;
    *clsid = CLSID_QLXTessel;
    return S_OK;
  }
  STDMETHODIMP Initialize(LPCITEMIDLIST root) override {
    LPITEMIDLIST copy = CloneItemList(root);
    if (!copy)
      return E_OUTOFMEMORY;
    CoTaskMemFree(FRoot);
    FRoot = copy;
    return S_OK;
  }
  STDMETHODIMP GetCurFolder(LPITEMIDLIST* out) override {
    if (!out)
      return E_POINTER;
    *out = nullptr;
    if (!FRoot)
      return S_FALSE;
    *out = CloneItemList(FRoot);
    return *out ? S_OK : E_OUTOFMEMORY;
  }

  // IShellFolder: no item exists, so everything that names one is refused.
  STDMETHODIMP ParseDisplayName(HWND, LPBC, LPOLESTR, ULONG* eaten, LPITEMIDLIST* out,
                                ULONG*) override {
    if (eaten)
      *eaten = 0;
    if (out)
      *out = nullptr;
    return E_INVALIDARG;
  }
  STDMETHODIMP EnumObjects(HWND, SHCONTF, IEnumIDList** out) override {
    if (!out)
      return E_POINTER;
    *out = new (std::nothrow) TEmptyEnumeration;
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  STDMETHODIMP BindToObject(LPCITEMIDLIST, LPBC, REFIID, void** out) override {
    if (out)
      *out = nullptr;
    return E_INVALIDARG;
  }
  STDMETHODIMP BindToStorage(LPCITEMIDLIST, LPBC, REFIID, void** out) override {
    if (out)
      *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP CompareIDs(LPARAM, LPCITEMIDLIST a, LPCITEMIDLIST b) override {
    return IsEmptyList(a) && IsEmptyList(b) ? S_OK : E_INVALIDARG;
  }
  STDMETHODIMP CreateViewObject(HWND, REFIID iid, void** out) override {
    if (!out)
      return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IShellView))
      return E_NOINTERFACE;
    // The shell's own view over this folder: an empty list.
    SFV_CREATE create{};
    create.cbSize = sizeof create;
    create.pshf = this;
    IShellView* view = nullptr;
    const HRESULT hr = SHCreateShellFolderView(&create, &view);
    if (SUCCEEDED(hr))
      *out = view;
    return hr;
  }
  STDMETHODIMP GetAttributesOf(UINT count, LPCITEMIDLIST*, SFGAOF* attributes) override {
    if (!attributes)
      return E_POINTER;
    if (count != 0)
      return E_INVALIDARG;
    *attributes &= SFolderAttributes;
    return S_OK;
  }
  STDMETHODIMP GetUIObjectOf(HWND, UINT, LPCITEMIDLIST*, REFIID, UINT*, void** out) override {
    if (out)
      *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP GetDisplayNameOf(LPCITEMIDLIST item, SHGDNF, STRRET* name) override {
    if (!name)
      return E_POINTER;
    if (!IsEmptyList(item))
      return E_INVALIDARG;
    const size_t bytes = (std::wcslen(SDisplayNameW) + 1) * sizeof(wchar_t);
    auto* text = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!text)
      return E_OUTOFMEMORY;
    std::memcpy(text, SDisplayNameW, bytes);
    name->uType = STRRET_WSTR;
    name->pOleStr = text;
    return S_OK;
  }
  STDMETHODIMP SetNameOf(HWND, LPCITEMIDLIST, LPCOLESTR, SHGDNF, LPITEMIDLIST* out) override {
    if (out)
      *out = nullptr;
    return E_NOTIMPL;
  }

private:
  LPITEMIDLIST FRoot = nullptr;
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

LONG SetValue(HKEY root, const char* key, const char* name, DWORD type, const void* data,
              DWORD size) {
  HKEY k = nullptr;
  LONG rc = RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr);
  if (rc != ERROR_SUCCESS)
    return rc;
  rc = RegSetValueExA(k, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(k);
  return rc;
}

LONG SetString(HKEY root, const char* key, const char* name, const char* value) {
  return SetValue(root, key, name, REG_SZ, value, static_cast<DWORD>(lstrlenA(value) + 1));
}

LONG SetDword(HKEY root, const char* key, const char* name, DWORD value) {
  return SetValue(root, key, name, REG_DWORD, &value, sizeof value);
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    ThisModule = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

// Removes what registration wrote; the class key itself goes only when nothing
// else (the setup program's own settings) lives under it.
extern "C" HRESULT WINAPI DllUnregisterServer() {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, SNameSpaceKey);
  for (const char* key : {SServerKey, SIconKey, SShellFolderKey})
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
  HKEY k = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SClassKey, 0, KEY_READ | KEY_WRITE, &k) == ERROR_SUCCESS) {
    DWORD subkeys = 0;
    RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr);
    RegDeleteValueA(k, nullptr);
    RegCloseKey(k);
    if (subkeys == 0)
      RegDeleteKeyA(HKEY_LOCAL_MACHINE, SClassKey);
  }
  return S_OK;
}

// The server's path goes in last: it is what tells the setup program that the
// product is installed, so a registration that fails half way takes back what
// it wrote instead of leaving a class without its folder entries.
extern "C" HRESULT WINAPI DllRegisterServer() {
  char path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameA(ThisModule, path, sizeof path);
  if (n == 0 || n >= sizeof path - 2)
    return SELFREG_E_CLASS;
  char icon[MAX_PATH + 2] = {};
  lstrcpyA(icon, path);
  lstrcatA(icon, ",0");
  if (SetString(HKEY_LOCAL_MACHINE, SClassKey, nullptr, SDisplayName) ||
      SetString(HKEY_LOCAL_MACHINE, SIconKey, nullptr, icon) ||
      SetDword(HKEY_LOCAL_MACHINE, SShellFolderKey, "Attributes", SFolderAttributes) ||
      SetString(HKEY_LOCAL_MACHINE, SNameSpaceKey, nullptr, SDisplayName) ||
      SetString(HKEY_LOCAL_MACHINE, SServerKey, "ThreadingModel", "Apartment") ||
      SetString(HKEY_LOCAL_MACHINE, SServerKey, nullptr, path)) {
    DllUnregisterServer();
    return SELFREG_E_CLASS;
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
