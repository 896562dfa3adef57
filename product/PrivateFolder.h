// The security of the uninstaller's private folder, shared with its test.
#pragma once

#include <windows.h>

namespace {

// The private folder's security: a protected list that its files inherit,
// full control for SYSTEM and the administrators only. Written out, since
// building one takes advapi32. Without it, any program of the same user that
// runs without elevation could replace the uninstaller between its writing
// and its start, and have it run elevated.
alignas(4) inline const BYTE SPrivateSecurity[] = {
    // self-relative descriptor: revision 1; DACL present, protected; DACL at 20
    1, 0, 0x04, 0x90, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0,
    // ACL: revision 2, 52 bytes, two entries
    2, 0, 52, 0, 2, 0, 0, 0,
    // allow, inherited by files and folders, FILE_ALL_ACCESS, S-1-5-18
    0, 0x03, 20, 0, 0xFF, 0x01, 0x1F, 0, 1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0,
    // allow, inherited by files and folders, FILE_ALL_ACCESS, S-1-5-32-544
    0, 0x03, 24, 0, 0xFF, 0x01, 0x1F, 0, 1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0};

} // namespace
