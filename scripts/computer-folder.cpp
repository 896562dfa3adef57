// A stand-in for the system's computer folder as the finish page's picture
// shows it: drives and the installed product's entry in its "Other" group.
// Used only by scripts/make-content.sh; prints the product entry's rectangle
// (screen pixels) to the file named on the command line. No caption buttons:
// Wine without its Marlett font would draw them as letters.
#include <windows.h>

#include <cstdio>
#include <initializer_list>

namespace {

struct TEntry {
  const char* Label;
  const char* Detail;
  int Icon; // shell32 icon index, or -1 for the product's icon
};

struct TGroup {
  const char* Title;
  TEntry Entries[2];
  int Count;
};

const TGroup Groups[] = {
    {"Hard Disk Drives", {{"Local Disk (C:)", "12.4 GB free of 39.9 GB", 8}}, 1},
    {"Devices with Removable Storage", {{"CD Drive (D:)", "", 11}}, 1},
    {"Other", {{"QLX Tessel", "System Folder", -1}}, 1},
};

HICON ProductIcon = nullptr;
const char* RectFile = nullptr;

void Paint(HWND wnd, HDC dc) {
  RECT client;
  GetClientRect(wnd, &client);
  FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  HFONT font = CreateFontA(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Tahoma");
  HFONT bold = CreateFontA(-11, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Tahoma");
  HGDIOBJ old = SelectObject(dc, bold);
  SetBkMode(dc, TRANSPARENT);
  HPEN line = CreatePen(PS_SOLID, 1, RGB(0x3D, 0x95, 0xFF));
  HGDIOBJ oldPen = SelectObject(dc, line);
  int y = 12;
  for (const TGroup& group : Groups) {
    SelectObject(dc, bold);
    SetTextColor(dc, RGB(0x1E, 0x39, 0x87));
    TextOutA(dc, 16, y, group.Title, lstrlenA(group.Title));
    MoveToEx(dc, 16, y + 16, nullptr);
    LineTo(dc, client.right - 16, y + 16);
    y += 26;
    for (int i = 0; i < group.Count; ++i) {
      const TEntry& entry = group.Entries[i];
      const int x = 24 + i * 210;
      HICON icon = ProductIcon;
      if (entry.Icon >= 0) {
        UINT id = 0;
        icon = nullptr;
        PrivateExtractIconsA("shell32.dll", entry.Icon, 48, 48, &icon, &id, 1, 0);
      }
      if (icon)
        DrawIconEx(dc, x, y, icon, 48, 48, 0, nullptr, DI_NORMAL);
      SelectObject(dc, font);
      SetTextColor(dc, RGB(0, 0, 0));
      TextOutA(dc, x + 56, y + 10, entry.Label, lstrlenA(entry.Label));
      SetTextColor(dc, RGB(0x80, 0x80, 0x80));
      TextOutA(dc, x + 56, y + 25, entry.Detail, lstrlenA(entry.Detail));
      if (entry.Icon < 0 && RectFile) {
        SIZE size;
        GetTextExtentPoint32A(dc, entry.Label, lstrlenA(entry.Label), &size);
        POINT a{x - 4, y - 4}, b{x + 56 + 90, y + 52};
        ClientToScreen(wnd, &a);
        ClientToScreen(wnd, &b);
        if (FILE* f = std::fopen(RectFile, "w")) {
          std::fprintf(f, "%ld %ld %ld %ld\n", a.x, a.y, b.x, b.y);
          std::fclose(f);
        }
      }
    }
    y += 66;
  }
  SelectObject(dc, oldPen);
  SelectObject(dc, old);
  DeleteObject(line);
  DeleteObject(font);
  DeleteObject(bold);
}

LRESULT CALLBACK WndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
  case WM_PAINT: {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(wnd, &ps);
    Paint(wnd, dc);
    EndPaint(wnd, &ps);
    return 0;
  }
  case WM_DESTROY:
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(wnd, msg, wp, lp);
}

HMENU MakeMenu() {
  HMENU bar = CreateMenu();
  for (const char* name : {"&File", "&Edit", "&View", "F&avorites", "&Tools", "&Help"})
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(CreatePopupMenu()), name);
  return bar;
}

} // namespace

int main(int argc, char** argv) {
  RectFile = argc > 1 ? argv[1] : nullptr;
  if (argc > 2)
    ProductIcon =
        static_cast<HICON>(LoadImageA(nullptr, argv[2], IMAGE_ICON, 48, 48, LR_LOADFROMFILE));
  WNDCLASSA wc = {};
  wc.lpfnWndProc = WndProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  wc.lpszClassName = "CabinetWClass";
  RegisterClassA(&wc);
  HWND wnd = CreateWindowA("CabinetWClass", "My Computer", WS_CAPTION | WS_THICKFRAME | WS_VISIBLE,
                           0, 0, 500, 434, nullptr, MakeMenu(), wc.hInstance, nullptr);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  (void)wnd;
  return 0;
}
