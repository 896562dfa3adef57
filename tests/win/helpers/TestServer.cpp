// A COM server stand-in for the registration tests: registering records the
// library's own full path where the tests look for it, unregistering removes it.
#include <windows.h>

namespace {

constexpr const char* SRecordKey = "Software\\QLXTest\\Server";

HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&ThisModule), &module);
  return module;
}

} // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI DllRegisterServer() {
  char path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameA(ThisModule(), path, sizeof path);
  HKEY key = nullptr;
  if (n == 0 || RegCreateKeyExA(HKEY_CURRENT_USER, SRecordKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                                &key, nullptr) != ERROR_SUCCESS)
    return E_FAIL;
  const LONG rc =
      RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path), n + 1);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS ? S_OK : E_FAIL;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllUnregisterServer() {
  RegDeleteKeyA(HKEY_CURRENT_USER, SRecordKey);
  return S_OK;
}
