// Shared pieces of the Win32 tests: the helper programs beside the test
// binary, a watcher that answers dialog boxes from a thread of its own, and
// registry state that a test changes and puts back.
#pragma once

#include <windows.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace wintest {

// Emulated Wine is slow: waits are generous, a hang still ends the test.
inline constexpr DWORD kWaitMs = 120000;

inline std::string BinaryFolder() {
  char path[MAX_PATH] = {};
  const std::string self(path, GetModuleFileNameA(nullptr, path, sizeof path));
  return self.substr(0, self.find_last_of('\\'));
}

inline std::string HelperPath() {
  return BinaryFolder() + "\\qlx_win_helper.exe";
}
inline std::string TestServerPath() {
  return BinaryFolder() + "\\qlx_test_server.dll";
}

inline std::string TempFolder() {
  char path[MAX_PATH] = {};
  const DWORD n = GetTempPathA(sizeof path, path);
  std::string folder(path, n);
  if (!folder.empty() && folder.back() == '\\')
    folder.pop_back();
  return folder;
}

inline std::vector<std::string> ReadLines(const std::string& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

inline std::string WindowText(HWND wnd) {
  char text[512] = {};
  return std::string(text, static_cast<size_t>(GetWindowTextA(wnd, text, sizeof text)));
}

inline std::string ClassOf(HWND wnd) {
  char name[64] = {};
  return std::string(name, static_cast<size_t>(GetClassNameA(wnd, name, sizeof name)));
}

inline BOOL CALLBACK FindOwnDialogProc(HWND wnd, LPARAM found) {
  DWORD pid = 0;
  GetWindowThreadProcessId(wnd, &pid);
  if (pid != GetCurrentProcessId() || !IsWindowVisible(wnd) || ClassOf(wnd) != "#32770")
    return TRUE;
  *reinterpret_cast<HWND*>(found) = wnd;
  return FALSE;
}

// The visible dialog box of this process, if one is open.
inline HWND FindOwnDialog() {
  HWND found = nullptr;
  EnumWindows(FindOwnDialogProc, reinterpret_cast<LPARAM>(&found));
  return found;
}

inline void PressButton(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Waits on its own thread for the next dialog box of this process, hands it
// to inspect and presses the button that inspect returns. Read what inspect
// gathered only after the watcher is gone.
class TDialogWatcher {
public:
  explicit TDialogWatcher(std::function<int(HWND)> inspect)
      : FThread([this, inspect = std::move(inspect)] {
          const DWORD start = GetTickCount();
          while (!FStop && GetTickCount() - start < kWaitMs) {
            if (const HWND dialog = FindOwnDialog()) {
              Sleep(200); // let it finish placing itself
              FFound = true;
              PressButton(dialog, inspect(dialog));
              return;
            }
            Sleep(50);
          }
        }) {}
  ~TDialogWatcher() {
    FStop = true;
    FThread.join();
  }
  TDialogWatcher(const TDialogWatcher&) = delete;
  TDialogWatcher& operator=(const TDialogWatcher&) = delete;
  bool Found() const { return FFound; }

private:
  std::atomic<bool> FStop{false};
  std::atomic<bool> FFound{false};
  std::thread FThread;
};

// A registry value as it was, put back when the test ends; a key that did not
// exist before (topKey, an ancestor of the value's key) is removed whole.
class TRegistryBackup {
public:
  TRegistryBackup(HKEY root, std::string key, std::string value, std::string topKey)
      : FRoot(root), FKey(std::move(key)), FValue(std::move(value)), FTopKey(std::move(topKey)) {
    HKEY top = nullptr;
    FTopExisted = RegOpenKeyExA(FRoot, FTopKey.c_str(), 0, KEY_READ, &top) == ERROR_SUCCESS;
    if (FTopExisted)
      RegCloseKey(top);
    HKEY k = nullptr;
    if (RegOpenKeyExA(FRoot, FKey.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
      return;
    DWORD size = 0;
    if (RegQueryValueExA(k, FValue.c_str(), nullptr, &FType, nullptr, &size) == ERROR_SUCCESS) {
      std::vector<BYTE> data(size + 1);
      if (RegQueryValueExA(k, FValue.c_str(), nullptr, &FType, data.data(), &size) ==
          ERROR_SUCCESS) {
        data.resize(size);
        FData = std::move(data);
      }
    }
    RegCloseKey(k);
  }
  ~TRegistryBackup() {
    if (!FTopExisted) {
      RegDeleteTreeA(FRoot, FTopKey.c_str());
      return;
    }
    HKEY k = nullptr;
    if (RegCreateKeyExA(FRoot, FKey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr) !=
        ERROR_SUCCESS)
      return;
    if (FData)
      RegSetValueExA(k, FValue.c_str(), 0, FType, FData->data(), static_cast<DWORD>(FData->size()));
    else
      RegDeleteValueA(k, FValue.c_str());
    RegCloseKey(k);
  }
  TRegistryBackup(const TRegistryBackup&) = delete;
  TRegistryBackup& operator=(const TRegistryBackup&) = delete;

private:
  HKEY FRoot;
  std::string FKey, FValue, FTopKey;
  bool FTopExisted = false;
  DWORD FType = REG_NONE;
  std::optional<std::vector<BYTE>> FData;
};

// Sets a value with raw bytes of any type, creating the key.
inline void SetRawValue(HKEY root, const std::string& key, const std::string& value, DWORD type,
                        const std::string& bytes) {
  HKEY k = nullptr;
  if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr) !=
      ERROR_SUCCESS)
    return;
  RegSetValueExA(k, value.empty() ? nullptr : value.c_str(), 0, type,
                 reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
  RegCloseKey(k);
}

// A value's type and raw bytes, or nothing when it does not exist.
inline std::optional<std::pair<DWORD, std::string>> RawValue(HKEY root, const std::string& key,
                                                             const std::string& value) {
  HKEY k = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
    return std::nullopt;
  char data[1024];
  DWORD type = 0, size = sizeof data;
  const LONG rc = RegQueryValueExA(k, value.empty() ? nullptr : value.c_str(), nullptr, &type,
                                   reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(k);
  if (rc != ERROR_SUCCESS)
    return std::nullopt;
  return std::make_pair(type, std::string(data, size));
}

inline bool KeyExists(HKEY root, const std::string& key) {
  HKEY k = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
    return false;
  RegCloseKey(k);
  return true;
}

} // namespace wintest
