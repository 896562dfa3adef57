// Owners of Win32 handles that must be released on every path: one owner per
// handle, moved but never copied.
#pragma once

#include <utility>

#include <windows.h>

namespace ui {

// Owns a handle of Traits::Type; Traits::Close releases it. A null handle is
// owned by nobody.
template <typename Traits> class TOwned {
public:
  using Type = typename Traits::Type;

  TOwned() = default;
  explicit TOwned(Type handle) : FHandle(handle) {}
  ~TOwned() { Reset(); }
  TOwned(const TOwned&) = delete;
  TOwned& operator=(const TOwned&) = delete;
  TOwned(TOwned&& other) noexcept : FHandle(std::exchange(other.FHandle, nullptr)) {}
  TOwned& operator=(TOwned&& other) noexcept {
    if (this != &other)
      Reset(std::exchange(other.FHandle, nullptr));
    return *this;
  }

  Type Get() const { return FHandle; }
  explicit operator bool() const { return FHandle != nullptr; }
  void Reset(Type handle = nullptr) {
    if (FHandle)
      Traits::Close(FHandle);
    FHandle = handle;
  }

private:
  Type FHandle = nullptr;
};

struct THandleTraits {
  using Type = HANDLE;
  static void Close(HANDLE handle) { CloseHandle(handle); }
};

struct TRegKeyTraits {
  using Type = HKEY;
  static void Close(HKEY key) { RegCloseKey(key); }
};

// Kernel objects: processes, threads, events.
using THandle = TOwned<THandleTraits>;
// An open registry key.
using TRegKey = TOwned<TRegKeyTraits>;

} // namespace ui
