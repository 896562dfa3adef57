// Screen readers' view of windowless controls: the host window answers
// WM_GETOBJECT with a client object whose children are its windowless
// controls, next to the child windows that the system's object reports.
#pragma once

#include <windows.h>

namespace ui {

class TWinControl;

// The answer to WM_GETOBJECT for host, or 0 when the system's own object
// serves (not the client object, or no windowless control to tell of).
LRESULT AccessibleObjectResult(TWinControl& host, WPARAM wParam, LPARAM lParam);

} // namespace ui
