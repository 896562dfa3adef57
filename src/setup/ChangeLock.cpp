#include "ChangeLock.h"

#include <sddl.h>

namespace setup {

namespace {

// SYSTEM and the administrators own it; every user may wait on it, so that
// an elevated setup in any session can open what another one created.
constexpr const char* SChangeLockRules = "D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;WD)";

HANDLE CreateChangeMutex() {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ConvertStringSecurityDescriptorToSecurityDescriptorA(SChangeLockRules, SDDL_REVISION_1,
                                                       &descriptor, nullptr);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  HANDLE mutex = CreateMutexA(descriptor ? &attributes : nullptr, FALSE, SChangeLockName);
  // Created by someone else with rules that keep us from creating it with
  // ours: opening is all that is left.
  if (!mutex && GetLastError() == ERROR_ACCESS_DENIED)
    mutex = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, SChangeLockName);
  if (descriptor)
    LocalFree(descriptor);
  return mutex;
}

} // namespace

TChangeLock::TChangeLock() : FMutex(CreateChangeMutex()) {
  if (!FMutex)
    return;
  const DWORD result = WaitForSingleObject(FMutex.Get(), 0);
  FHeld = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

TChangeLock::~TChangeLock() {
  if (FHeld)
    ReleaseMutex(FMutex.Get());
}

} // namespace setup
