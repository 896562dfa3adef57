// The wizard form read from its compiled form stream, in process: captions,
// the confirmation texts, the folder field's change rule and the delimiter
// collapse of "Browse".
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include <oleacc.h>

#include "WinTestSupport.h"
#include "mx/mxLinkLabel.h"
#include "mx/mxStorage.h"
#include "rtl/Streams.h"
#include "setup/Unit1.h"
#include "setup/Unit2.h"
#include "setup/Unit3.h"
#include "ui/Application.h"
#include "ui/ComCtrls.h"

namespace {

std::vector<uint8_t> ReadFile(std::string path) {
  if (!path.empty() && path[0] == '/') {
    for (char& c : path)
      if (c == '/')
        c = '\\';
    path = "Z:" + path;
  }
  rtl::TFileStream file(path, rtl::TFileMode::fmOpenRead);
  std::vector<uint8_t> bytes(static_cast<size_t>(file.Size()));
  file.ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  return bytes;
}

constexpr const char* SClassKey = "CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}";
constexpr const char* SServerKey = "CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}\\InProcServer32";

void RegisterProduct(const std::string& path) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, SServerKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                 static_cast<DWORD>(path.size() + 1));
  RegCloseKey(key);
}

class WizardFormTest : public ::testing::Test {
protected:
  void SetUp() override {
    FApp.Initialize();
    FApp.SetTitle("QLXT3SE");
    mx::RegisterStorageClasses();
    mx::RegisterLinkLabelClass();
    setup::RegisterForm1Class();
    RegDeleteTreeA(HKEY_CLASSES_ROOT, SClassKey);
  }
  // The whole class key, so later tests find the prefix as it was.
  void TearDown() override { RegDeleteTreeA(HKEY_CLASSES_ROOT, SClassKey); }

  setup::TForm1& Load() {
    const std::vector<uint8_t> bytes = ReadFile(QLX_FORM1_BIN);
    rtl::TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
    FForm = std::make_unique<setup::TForm1>(nullptr);
    FForm->ReadForm(stream);
    return *FForm;
  }
  template <typename T> T& Get(const char* name) {
    auto* c = dynamic_cast<T*>(FForm->FindComponent(name));
    EXPECT_NE(c, nullptr) << name;
    return *c;
  }

  ui::TApplication FApp;
  std::unique_ptr<setup::TForm1> FForm;
};

TEST_F(WizardFormTest, PagesCarryTheirTextsAndPlaces) {
  setup::TForm1& form = Load();
  EXPECT_EQ(form.Caption(), "QLX Installer");
  RECT client{};
  GetClientRect(form.Handle(), &client);
  EXPECT_EQ(client.right, 434);
  EXPECT_EQ(client.bottom, 218);
  EXPECT_EQ(GetWindowLongA(form.Handle(), GWL_STYLE) & WS_SYSMENU, 0);

  EXPECT_EQ(Get<ui::TLabel>("Label1").Caption(),
            "Welcome to QLX Tessel 3 Starter Edition Install program");
  EXPECT_EQ(Get<ui::TLabel>("Label3").Caption(), "License Information and EULA");
  EXPECT_EQ(Get<ui::TLabel>("Label6").Caption(), "Version of install");
  EXPECT_EQ(Get<ui::TLabel>("Label9").Caption(), "Choose an installation folder");
  EXPECT_EQ(Get<ui::TLabel>("Label13").Caption(), "Confirmation");
  EXPECT_EQ(Get<ui::TLabel>("Label2").Caption(), "QLX Tessel has been successfully installed");
  EXPECT_EQ(Get<ui::TLabel>("Label7").Caption(), "build 6.2.15.1");
  EXPECT_EQ(Get<ui::TLabel>("Label16").Caption(), "Installation folder:");

  const ui::TLabel& heading = Get<ui::TLabel>("Label1");
  EXPECT_EQ(heading.Left(), 8);
  EXPECT_EQ(heading.Top(), 16);
  EXPECT_TRUE(heading.Transparent());
  ui::TLabel& label17 = Get<ui::TLabel>("Label17");
  EXPECT_EQ(label17.Width(), 417);
  EXPECT_EQ(label17.Height(), 33);
  EXPECT_TRUE(label17.WordWrap());
  EXPECT_FALSE(label17.Transparent());

  for (int i = 1; i <= 6; ++i) {
    auto& link = Get<mx::TmxLinkLabel>(("mxLinkLabel" + std::to_string(i)).c_str());
    EXPECT_EQ(link.Caption(), "Quillon Software Company");
    EXPECT_EQ(link.Link(), "www.quillon-software.example");
    EXPECT_EQ(link.LabelStyle(), mx::lsInternetLink);
    EXPECT_EQ(link.Cursor(), ui::crHandPoint);
    EXPECT_EQ(link.Left(), 8);
    EXPECT_EQ(link.Top(), 200);
    EXPECT_EQ(link.Height(), 13) << "auto-sized to one line of Tahoma 8";
    EXPECT_EQ(link.LinkFont()->Name(), "MS Shell Dlg 2");
    EXPECT_EQ(link.Font()->Name(), "Tahoma");
  }

  mx::TmxStorage& store = Get<mx::TmxStorage>("mxStorage1");
  ASSERT_EQ(store.StoredItems()->Count(), 4);
  EXPECT_EQ(store.GetStoredItem(0)->FileName(), "QLX_Tessel_3.dll");
  EXPECT_EQ(store.GetStoredItem(3)->FileName(), "Msvcrt.dll");
  EXPECT_EQ(store.GetStoredItem(3)->Name(), "mxStoredItem4");
}

TEST_F(WizardFormTest, StartUpWithoutTheProductOffersNewInstallOnly) {
  setup::TForm1& form = Load();
  EXPECT_TRUE(form.RadioButton1->Checked());
  EXPECT_TRUE(form.RadioButton1->Enabled());
  EXPECT_FALSE(form.RadioButton2->Enabled());
  EXPECT_FALSE(form.RadioButton3->Enabled());
  const std::string folder = form.Edit1->Text();
  EXPECT_EQ(folder, setup::WideToAnsi(setup::GetProgramFilesDir()) + "\\QLXT3SE")
      << "the default is used as read, without the delimiter collapse";
  EXPECT_EQ(form.Label17->Caption(), folder) << "setting the default ran Edit1Change";
  EXPECT_TRUE(form.Button10->Enabled());
}

TEST_F(WizardFormTest, ConfirmationTextsFollowTheKind) {
  RegisterProduct("C:\\Apps\\QLXT3SE\\QLX_Tessel_3.dll");
  setup::TForm1& form = Load();
  EXPECT_TRUE(form.RadioButton2->Checked());
  EXPECT_FALSE(form.RadioButton1->Enabled());
  EXPECT_TRUE(form.RadioButton3->Enabled());

  form.Edit1->SetText("D:\\Target\\QLXT3SE");
  form.Button7Click(nullptr);
  EXPECT_EQ(form.Label14->Caption(), "You are now ready to install QLX Tessel 3 SE");
  EXPECT_EQ(form.Label15->Caption(), "Please click \"Start\" to install");
  EXPECT_EQ(form.Label17->Caption(), "D:\\Target\\QLXT3SE");

  form.RadioButton3->SetChecked(true);
  EXPECT_FALSE(form.RadioButton2->Checked());
  form.Button7Click(nullptr);
  EXPECT_EQ(form.Label14->Caption(), "You are now ready to uninstall QLX Tessel 3 SE");
  EXPECT_EQ(form.Label15->Caption(), "Please click \"Start\" to uninstall");
  EXPECT_EQ(form.Label17->Caption(), "C:\\Apps\\QLXT3SE") << "the library's folder, no delimiter";
}

TEST_F(WizardFormTest, FolderFieldChangeRule) {
  setup::TForm1& form = Load();
  int changes = 0;
  auto original = form.Edit1->OnChange.Handler;
  form.Edit1->OnChange.Handler = [&](rtl::TObject* sender) {
    ++changes;
    original(sender);
  };
  form.Edit1->SetText("");
  EXPECT_EQ(changes, 1);
  EXPECT_FALSE(form.Button10->Enabled());
  EXPECT_EQ(form.Label17->Caption(), "");
  form.Edit1->SetText("");
  EXPECT_EQ(changes, 1) << "the same text is no change";
  form.Edit1->SetText("C:\\X");
  EXPECT_EQ(changes, 2);
  EXPECT_TRUE(form.Button10->Enabled());
  EXPECT_EQ(form.Label17->Caption(), "C:\\X");
  // "Next" on the folder page changes no text.
  form.Label17->SetCaption("kept");
  form.Button10Click(nullptr);
  EXPECT_EQ(form.Label17->Caption(), "kept");
}

TEST_F(WizardFormTest, LicencePageAgreementEnablesNext) {
  setup::TForm1& form = Load();
  EXPECT_FALSE(form.Button3->Enabled());
  form.CheckBox1->SetChecked(true);
  EXPECT_TRUE(form.Button3->Enabled());
  form.CheckBox1->SetChecked(false);
  EXPECT_FALSE(form.Button3->Enabled());
}

TEST_F(WizardFormTest, ShowingAPageCoversTheOthers) {
  setup::TForm1& form = Load();
  form.Show();
  form.Button2Click(nullptr);
  EXPECT_TRUE(IsWindowVisible(form.Panel2->Handle()));
  for (ui::TPanel* covered : {form.Panel1, form.Panel3, form.Panel4, form.Panel5, form.Panel6}) {
    EXPECT_FALSE(IsWindowVisible(covered->Handle()));
    EXPECT_TRUE(covered->Visible()) << "the program still sees the page as visible";
  }
  const HWND focus = GetFocus();
  EXPECT_TRUE(focus && IsChild(form.Panel2->Handle(), focus)) << "the focus moved into the page";
  form.Button5Click(nullptr);
  EXPECT_TRUE(IsWindowVisible(form.Panel1->Handle()));
  EXPECT_FALSE(IsWindowVisible(form.Panel2->Handle()));
}

TEST_F(WizardFormTest, HiddenPagesGetTheirWindowsWhenFirstShown) {
  setup::TForm1& form = Load();
  form.Show();
  auto& licence = Get<ui::TRichEdit>("RichEdit1");
  EXPECT_TRUE(Get<ui::TButton>("Button2").HandleAllocated()) << "the welcome page is built";
  EXPECT_FALSE(licence.HandleAllocated());
  EXPECT_FALSE(form.Edit1->HandleAllocated());
  EXPECT_FALSE(form.RadioButton4->HandleAllocated());

  // What the program set while the page had no windows shows once it has.
  const std::string folder = form.Edit1->Text();
  ASSERT_FALSE(folder.empty());
  form.CheckBox1->SetChecked(true);
  form.Button2Click(nullptr);
  ASSERT_TRUE(licence.HandleAllocated());
  EXPECT_GT(GetWindowTextLengthA(licence.Handle()), 1000) << "the licence text";
  EXPECT_EQ(SendMessageA(form.CheckBox1->Handle(), BM_GETCHECK, 0, 0), BST_CHECKED);
  const HWND focus = GetFocus();
  EXPECT_TRUE(focus && IsChild(form.Panel2->Handle(), focus));

  form.ShowPage(form.Panel4);
  ASSERT_TRUE(form.Edit1->HandleAllocated());
  EXPECT_EQ(wintest::WindowText(form.Edit1->Handle()), folder);
  EXPECT_TRUE(IsWindowVisible(form.Edit1->Handle()));
  EXPECT_FALSE(IsWindowVisible(licence.Handle()));
}

// A caption's extent in its control's font, with the room of a radio
// button's or check box's glyph (13 pixels at 96 DPI); none without one.
SIZE TextRoom(ui::TControl& c) {
  auto* label = dynamic_cast<ui::TCustomLabel*>(&c);
  const std::string text = c.Caption();
  if ((!label && !dynamic_cast<ui::TButtonControl*>(&c)) || text.empty())
    return {};
  const HDC dc = GetDC(nullptr);
  const HGDIOBJ old = SelectObject(dc, c.Font()->Handle());
  RECT r{0, 0, c.Width(), 0};
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &r,
            DT_CALCRECT | (label && label->WordWrap() ? DT_WORDBREAK : 0));
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  const bool glyph = dynamic_cast<ui::TRadioButton*>(&c) || dynamic_cast<ui::TCheckBox*>(&c);
  return {r.right + (glyph ? MulDiv(13, c.PixelsPerInch(), 96) : 0), r.bottom};
}

// On a monitor of another DPI every page is laid out again from its 96-DPI
// values: bounds times DPI / 96 (auto-sized labels fit their text), every
// text that fits its box at 96 DPI still fits; back at 96 all is as it was.
TEST_F(WizardFormTest, EveryPageIsLaidOutAgainAtTheMonitorsDpi) {
  setup::TForm1& form = Load();
  form.Show();
  form.Button7Click(nullptr); // the confirmation texts
  std::vector<ui::TControl*> all(form.Controls().begin(), form.Controls().end());
  for (size_t i = 0; i < all.size(); ++i) // every page's controls
    if (auto* w = dynamic_cast<ui::TWinControl*>(all[i]))
      all.insert(all.end(), w->Controls().begin(), w->Controls().end());
  std::vector<std::pair<RECT, bool>> at96; // bounds, whether the text fits
  for (ui::TControl* c : all) {
    const SIZE room = TextRoom(*c);
    at96.push_back({c->BoundsRect(), room.cx <= c->Width() && room.cy <= c->Height()});
  }
  for (const int dpi : {120, 144, 192, 96}) {
    const auto s = [dpi](LONG v) { return MulDiv(v, dpi, 96); };
    RECT suggested{40, 30, 700, 500}, client{};
    SendMessageA(form.Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                 reinterpret_cast<LPARAM>(&suggested));
    GetClientRect(form.Handle(), &client);
    EXPECT_TRUE(client.right == s(434) && client.bottom == s(218)) << dpi;
    for (size_t i = 0; i < all.size(); ++i) {
      ui::TControl& c = *all[i];
      const RECT& was = at96[i].first;
      const SIZE room = TextRoom(c);
      auto* label = dynamic_cast<ui::TCustomLabel*>(&c);
      const bool fitted = label && label->AutoSize() && dpi != 96;
      const RECT want{s(was.left), s(was.top),
                      s(was.left) + (fitted ? std::max<LONG>(room.cx, 1) : s(was.right - was.left)),
                      s(was.top) + (fitted ? room.cy : s(was.bottom - was.top))};
      const RECT r = c.BoundsRect();
      EXPECT_TRUE(EqualRect(&r, &want)) << c.Name() << " at " << dpi;
      EXPECT_TRUE(!at96[i].second || (room.cx <= c.Width() && room.cy <= c.Height()))
          << c.Name() << " clipped at " << dpi << ": " << c.Caption();
      if (auto* b = dynamic_cast<ui::TButton*>(&c); b && b->HandleAllocated()) {
        LOGFONTA font{};
        GetObjectA(reinterpret_cast<HFONT>(SendMessageA(b->Handle(), WM_GETFONT, 0, 0)),
                   sizeof font, &font);
        EXPECT_EQ(font.lfHeight, c.Font()->PixelHeight()) << c.Name() << " window's font";
      }
    }
  }
  // The viewer grows with its picture, drawn at the scaled size.
  setup::RegisterForm3Class();
  std::string viewerPath = QLX_FORM1_BIN;
  const std::vector<uint8_t> bytes =
      ReadFile(viewerPath.replace(viewerPath.rfind("TFORM1"), 6, "TFORM3"));
  rtl::TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
  setup::TForm3 viewer(nullptr);
  viewer.ReadForm(stream);
  RECT suggested{0, 0, 900, 900}, client{};
  SendMessageA(viewer.Handle(), WM_DPICHANGED, MAKEWPARAM(144, 144),
               reinterpret_cast<LPARAM>(&suggested));
  GetClientRect(viewer.Handle(), &client);
  EXPECT_TRUE(client.right == 773 && client.bottom == 785); // 515 x 523 at 150 %
  const RECT drawn = dynamic_cast<ui::TImage&>(*viewer.FindComponent("Image1")).DestRect();
  EXPECT_TRUE(drawn.right == 750 && drawn.bottom == 651); // 500 x 434
}

// What a screen reader finds of a window's windowless controls, through oleacc.
struct TAccessibleItem {
  std::string Name, Action;
  long Role = 0;
  bool operator==(const TAccessibleItem&) const = default;
};

std::string Narrow(BSTR text) {
  std::string result;
  for (const wchar_t* c = text; c && *c; ++c)
    result += static_cast<char>(*c);
  SysFreeString(text);
  return result;
}

class TAccessibleWindow {
public:
  explicit TAccessibleWindow(HWND wnd) {
    AccessibleObjectFromWindow(wnd, OBJID_CLIENT, IID_IAccessible,
                               reinterpret_cast<void**>(&FObject));
  }
  ~TAccessibleWindow() {
    if (FObject)
      FObject->Release();
  }
  TAccessibleWindow(const TAccessibleWindow&) = delete;
  TAccessibleWindow& operator=(const TAccessibleWindow&) = delete;
  // The simple-element children: the windowless controls.
  std::vector<TAccessibleItem> Items() const {
    std::vector<TAccessibleItem> items;
    long count = 0;
    if (!FObject || FAILED(FObject->get_accChildCount(&count)))
      return items;
    for (long i = 1; i <= count; ++i) {
      IDispatch* window = nullptr;
      if (FObject->get_accChild(Child(i), &window) == S_OK) { // a child window
        window->Release();
        continue;
      }
      TAccessibleItem item;
      BSTR text = nullptr;
      FObject->get_accName(Child(i), &text);
      item.Name = Narrow(text);
      text = nullptr;
      FObject->get_accDefaultAction(Child(i), &text);
      item.Action = Narrow(text);
      VARIANT role{};
      FObject->get_accRole(Child(i), &role);
      item.Role = role.lVal;
      items.push_back(item);
    }
    return items;
  }
  bool Has(const TAccessibleItem& wanted) const {
    const auto items = Items();
    return std::find(items.begin(), items.end(), wanted) != items.end();
  }
  HRESULT DoDefaultAction(const std::string& name) const {
    const auto items = Items();
    for (size_t i = 0; i < items.size(); ++i)
      if (items[i].Name == name)
        return FObject->accDoDefaultAction(Child(static_cast<long>(i + 1)));
    return E_INVALIDARG;
  }
  IAccessible* Object() const { return FObject; }
  long ChildCount() const {
    long count = 0;
    return FObject && SUCCEEDED(FObject->get_accChildCount(&count)) ? count : -1;
  }
  // Where navigating from start leads: a child id, a child window, or nothing.
  struct TStep {
    HRESULT Result = E_FAIL;
    long Id = 0;
    HWND Window = nullptr;
  };
  TStep Navigate(long direction, VARIANT start) const {
    TStep step;
    VARIANT end{};
    step.Result = FObject->accNavigate(direction, start, &end);
    if (end.vt == VT_I4) {
      step.Id = end.lVal;
    } else if (end.vt == VT_DISPATCH && end.pdispVal) {
      IAccessible* object = nullptr;
      if (SUCCEEDED(
              end.pdispVal->QueryInterface(IID_IAccessible, reinterpret_cast<void**>(&object)))) {
        WindowFromAccessibleObject(object, &step.Window);
        object->Release();
      }
      end.pdispVal->Release();
    }
    return step;
  }

  static VARIANT Child(long id) {
    VARIANT v{};
    v.vt = VT_I4;
    v.lVal = id;
    return v;
  }

private:
  IAccessible* FObject = nullptr;
};

// Every page tells a screen reader its heading, its texts, the link and the
// separator; the thumbnail is a named picture that opens the viewer, whose
// picture closes it again.
TEST_F(WizardFormTest, ScreenReadersReadEveryPage) {
  setup::TForm1& form = Load();
  setup::RegisterForm3Class();
  std::string viewerPath = QLX_FORM1_BIN;
  viewerPath.replace(viewerPath.rfind("TFORM1"), 6, "TFORM3");
  const std::vector<uint8_t> bytes = ReadFile(viewerPath);
  rtl::TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
  setup::TForm3 viewer(nullptr);
  viewer.ReadForm(stream);
  setup::Form3 = &viewer;
  form.Show();
  form.Button7Click(nullptr); // sets the confirmation texts
  const TAccessibleItem link{"Quillon Software Company", "Jump", ROLE_SYSTEM_LINK};
  const TAccessibleItem separator{"", "", ROLE_SYSTEM_SEPARATOR};
  const auto text = [](const std::string& caption) {
    return TAccessibleItem{caption, "", ROLE_SYSTEM_STATICTEXT};
  };
  const std::vector<std::pair<ui::TPanel*, std::vector<std::string>>> pages = {
      {form.Panel1, {"Welcome to QLX Tessel 3 Starter Edition Install program", "build 6.2.15.1"}},
      {form.Panel2, {"License Information and EULA"}},
      {form.Panel3, {"Version of install"}},
      {form.Panel4,
       {"Choose an installation folder", "Tessel will be installed to the following folder:"}},
      {form.Panel5,
       {"Confirmation", setup::SInstallReady, "Installation folder:", form.Edit1->Text(),
        setup::SInstallStart}},
      {form.Panel6, {"QLX Tessel has been successfully installed"}},
  };
  for (const auto& [page, texts] : pages) {
    form.ShowPage(page);
    const TAccessibleWindow accessible(page->Handle());
    const auto items = accessible.Items();
    ASSERT_FALSE(items.empty()) << page->Name();
    for (const std::string& caption : texts)
      EXPECT_TRUE(accessible.Has(text(caption))) << page->Name() << ": " << caption;
    EXPECT_TRUE(accessible.Has(link)) << page->Name();
    EXPECT_TRUE(accessible.Has(separator)) << page->Name();
  }
  const TAccessibleWindow finish(form.Panel6->Handle());
  EXPECT_TRUE(finish.Has({setup::SScreenshotName, "Open larger view", ROLE_SYSTEM_GRAPHIC}));
  EXPECT_EQ(finish.DoDefaultAction(setup::SScreenshotName), S_OK);
  FApp.ProcessMessages();
  EXPECT_TRUE(IsWindowVisible(viewer.Handle())) << "the thumbnail's action opens the viewer";

  const TAccessibleWindow picture(viewer.Handle());
  EXPECT_TRUE(picture.Has({setup::SScreenshotName, "Close", ROLE_SYSTEM_GRAPHIC}));
  EXPECT_EQ(picture.DoDefaultAction(setup::SScreenshotName), S_OK);
  FApp.ProcessMessages();
  EXPECT_FALSE(IsWindowVisible(viewer.Handle()));
  setup::Form3 = nullptr;
}

// A screen reader steps into a page at its first windowless control, along
// them, on to the child windows and to the last child; it may pass the child
// as a missing, 16-bit or by-reference argument.
TEST_F(WizardFormTest, ScreenReadersStepThroughAPage) {
  setup::TForm1& form = Load();
  form.Show();
  form.ShowPage(form.Panel4);
  const TAccessibleWindow page(form.Panel4->Handle());
  const long own = static_cast<long>(page.Items().size());
  const long count = page.ChildCount();
  ASSERT_GT(own, 0);
  ASSERT_GT(count, own) << "the folder field and the buttons are windows";
  ASSERT_NE(page.Items()[0].Name, "");
  using TStep = TAccessibleWindow::TStep;
  const VARIANT self{}; // VT_EMPTY: the page itself
  EXPECT_EQ(page.Navigate(NAVDIR_FIRSTCHILD, self).Id, 1);
  std::vector<HWND> windows;
  long at = 1;
  for (TStep next; (next = page.Navigate(NAVDIR_NEXT, TAccessibleWindow::Child(at))).Result == S_OK;
       ++at) {
    if (at < own) {
      EXPECT_EQ(next.Id, at + 1);
    } else {
      EXPECT_TRUE(next.Window && GetParent(next.Window) == form.Panel4->Handle()) << at;
      windows.push_back(next.Window);
    }
    ASSERT_LE(at, count);
  }
  EXPECT_EQ(at, count) << "every child once";
  EXPECT_NE(std::find(windows.begin(), windows.end(), form.Edit1->Handle()), windows.end());
  EXPECT_EQ(page.Navigate(NAVDIR_LASTCHILD, TAccessibleWindow::Child(0)).Window, windows.back());
  EXPECT_EQ(page.Navigate(NAVDIR_PREVIOUS, TAccessibleWindow::Child(own + 1)).Id, own);
  EXPECT_EQ(page.Navigate(NAVDIR_FIRSTCHILD, TAccessibleWindow::Child(1)).Result, E_INVALIDARG);

  const auto name = [&](VARIANT child) {
    BSTR text = nullptr;
    const HRESULT result = page.Object()->get_accName(child, &text);
    return result == S_OK ? Narrow(text) : "error " + std::to_string(result);
  };
  VARIANT shortId{}, target = TAccessibleWindow::Child(1), byReference{}, text{};
  shortId.vt = VT_I2;
  shortId.iVal = 1;
  byReference.vt = VT_BYREF | VT_VARIANT;
  byReference.pvarVal = &target;
  text.vt = VT_BSTR;
  EXPECT_EQ(name(shortId), page.Items()[0].Name);
  EXPECT_EQ(name(byReference), page.Items()[0].Name);
  EXPECT_EQ(name(self), name(TAccessibleWindow::Child(CHILDID_SELF)));
  EXPECT_EQ(name(text), "error " + std::to_string(E_INVALIDARG));
}

TEST(BrowseDelimiters, DoubleDelimitersCollapseLeftToRight) {
  EXPECT_EQ(setup::CollapseDoubleDelimiters("C:\\\\QLXT3SE"), "C:\\QLXT3SE");
  EXPECT_EQ(setup::CollapseDoubleDelimiters("C:\\a\\\\\\b"), "C:\\a\\\\b") << "three become two";
  EXPECT_EQ(setup::CollapseDoubleDelimiters("\\\\\\\\"), "\\\\");
  EXPECT_EQ(setup::CollapseDoubleDelimiters("C:\\Apps\\QLXT3SE\\QLXT3SE"),
            "C:\\Apps\\QLXT3SE\\QLXT3SE");
  EXPECT_EQ(setup::CollapseDoubleDelimiters(""), "");
}

TEST(BrowseDelimiters, FolderOfFileCutsAfterTheLastDelimiter) {
  EXPECT_EQ(setup::FolderOfFile("C:\\Apps\\QLXT3SE\\QLX_Tessel_3.dll"), "C:\\Apps\\QLXT3SE");
  EXPECT_EQ(setup::FolderOfFile("C:QLX_Tessel_3.dll"), "C:");
  EXPECT_EQ(setup::FolderOfFile("C:\\QLX_Tessel_3.dll"), "C:");
  EXPECT_EQ(setup::FolderOfFile("QLX_Tessel_3.dll"), "");
}

} // namespace
