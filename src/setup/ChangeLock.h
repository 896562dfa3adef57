// One change of the product at a time: the setup's "Start" and the product's
// uninstaller each hold a machine-wide named mutex while they change it.
#pragma once

#include "ui/WinHandles.h"

namespace setup {

// The mutex's name: in the global namespace, so that setups and uninstallers
// of every session meet on it.
inline constexpr const char* SChangeLockName = "Global\\QLXT3SE-Change";
inline constexpr const char* SChangeLockBusy =
    "QLX Tessel 3 Starter Edition is being changed by another setup or uninstaller. Try again "
    "when it has finished.";

// Takes the mutex without waiting; Held() tells whether it was taken. A mutex
// left by a process that ended while holding it counts as taken: that change
// is over. Released when the lock goes.
class TChangeLock {
public:
  TChangeLock();
  ~TChangeLock();
  TChangeLock(const TChangeLock&) = delete;
  TChangeLock& operator=(const TChangeLock&) = delete;
  bool Held() const { return FHeld; }

private:
  ui::THandle FMutex;
  bool FHeld = false;
};

} // namespace setup
