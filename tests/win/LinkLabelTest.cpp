// The link label on a real form: hover state and cursor, shadow sizes and the
// auto-size pass, the shell hand-off, the version text.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <oleacc.h>

#include "mx/mxLinkLabel.h"
#include "ui/Application.h"
#include "ui/ExtCtrls.h"
#include "ui/Forms.h"

namespace {

// Records what would go to the shell instead of starting a browser.
class TRecordingLinkLabel : public mx::TmxLinkLabel {
public:
  using TmxLinkLabel::TmxLinkLabel;
  std::vector<std::string> Opened;

protected:
  void ShellOpen(const std::string& target) override { Opened.push_back(target); }
};

// The bare text's extent in the label's font, as DrawTextA measures it.
SIZE TextExtent(ui::TFont& font, const std::string& text) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font.Handle());
  RECT r{0, 0, 0, 0};
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &r, DT_EXPANDTABS | DT_CALCRECT);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return {r.right, r.bottom};
}

class LinkLabelTest : public ::testing::Test {
protected:
  void SetUp() override {
    FApp.Initialize();
    FForm = std::make_unique<ui::TForm>(nullptr);
    FForm->Font()->SetName("Tahoma");
    FForm->Font()->SetHeight(-11);
    FLabel = new TRecordingLinkLabel(FForm.get());
    FLabel->SetParent(FForm.get());
    FLabel->SetCaption("Quillon Software Company");
  }

  ui::TApplication FApp;
  std::unique_ptr<ui::TForm> FForm;
  TRecordingLinkLabel* FLabel = nullptr; // owned by the form
};

TEST_F(LinkLabelTest, ConstructionValues) {
  EXPECT_EQ(FLabel->ShadowLayout(), mx::slBottomRight);
  EXPECT_EQ(FLabel->ShadowColor(), ui::clBtnShadow);
  EXPECT_EQ(FLabel->ShadowSize(), 0);
  EXPECT_EQ(FLabel->LinkFont()->Color(), ui::clBlue);
  EXPECT_EQ(FLabel->LinkFont()->Style(), ui::fsUnderline);
  EXPECT_EQ(FLabel->LabelStyle(), mx::lsStandard);
  EXPECT_EQ(FLabel->Link(), "");
  EXPECT_EQ(FLabel->Version(), "1.11");
  FLabel->SetVersion("9.9");
  EXPECT_EQ(FLabel->Version(), "1.11");
}

TEST_F(LinkLabelTest, AutoSizeFitsTheTextAndGrowsByTheShadow) {
  const SIZE text = TextExtent(*FLabel->Font(), FLabel->Caption());
  EXPECT_EQ(FLabel->Width(), text.cx);
  EXPECT_EQ(FLabel->Height(), text.cy);

  FLabel->SetShadowSize(2);
  EXPECT_EQ(FLabel->Width(), text.cx + 2);
  EXPECT_EQ(FLabel->Height(), text.cy + 2);
  FLabel->SetShadowSize(9);
  EXPECT_EQ(FLabel->ShadowSize(), 5);
  EXPECT_EQ(FLabel->Width(), text.cx + 5);
  FLabel->SetShadowSize(-1);
  EXPECT_EQ(FLabel->ShadowSize(), 5) << "a negative size is ignored";

  // Another layout: the grown rectangle shrinks on a negative side.
  FLabel->SetShadowSize(0);
  FLabel->SetShadowLayout(mx::slTopLeft);
  FLabel->SetShadowSize(3);
  EXPECT_EQ(FLabel->Width(), text.cx - 3);
  EXPECT_EQ(FLabel->Height(), text.cy - 3);

  // With AutoSize on, writing the current size runs no auto-size pass;
  // writing another one does.
  ASSERT_TRUE(FLabel->AutoSize());
  FLabel->SetWidth(300);
  ASSERT_EQ(FLabel->Width(), 300) << "a bounds change alone does not auto-size";
  FLabel->SetShadowSize(3);
  EXPECT_EQ(FLabel->Width(), 300);
  FLabel->SetShadowSize(2);
  EXPECT_EQ(FLabel->Width(), text.cx - 2);
}

TEST_F(LinkLabelTest, EmptyCaptionKeepsOneLineHigh) {
  const SIZE text = TextExtent(*FLabel->Font(), " ");
  FLabel->SetCaption("");
  EXPECT_EQ(FLabel->Height(), text.cy);
  EXPECT_EQ(FLabel->Width(), text.cx);
}

TEST_F(LinkLabelTest, HoverOverALinkSwapsCursorAndMeasuresInTheLinkFont) {
  FLabel->SetLabelStyle(mx::lsInternetLink);
  FLabel->LinkFont()->SetName("Courier New");
  FLabel->LinkFont()->SetHeight(-20);
  int entered = 0, left = 0;
  FLabel->OnMouseEnter.Handler = [&](rtl::TObject*) { ++entered; };
  FLabel->OnMouseLeave.Handler = [&](rtl::TObject*) { ++left; };

  FLabel->Perform(ui::CM_MOUSEENTER);
  EXPECT_TRUE(FLabel->MouseOver());
  EXPECT_EQ(FLabel->Cursor(), ui::crHandPoint);
  EXPECT_EQ(entered, 1);
  FLabel->AdjustBounds();
  const SIZE link = TextExtent(*FLabel->LinkFont(), FLabel->Caption());
  EXPECT_EQ(FLabel->Height(), link.cy) << "sized to the link font while hovered";

  FLabel->Perform(ui::CM_MOUSELEAVE);
  EXPECT_FALSE(FLabel->MouseOver());
  EXPECT_EQ(FLabel->Cursor(), ui::crDefault);
  EXPECT_EQ(left, 1);
}

TEST_F(LinkLabelTest, StandardStyleKeepsTheCursorButLeavingRestoresTheSavedOne) {
  FLabel->SetCursor(ui::crIBeam);
  FLabel->Perform(ui::CM_MOUSEENTER);
  EXPECT_TRUE(FLabel->MouseOver());
  EXPECT_EQ(FLabel->Cursor(), ui::crIBeam);
  FLabel->Perform(ui::CM_MOUSELEAVE);
  EXPECT_EQ(FLabel->Cursor(), ui::crDefault) << "the cursor saved at construction";
}

TEST_F(LinkLabelTest, DisabledOrDraggableLabelsIgnoreTheMouse) {
  FLabel->SetLabelStyle(mx::lsInternetLink);
  FLabel->SetDragMode(ui::dmAutomatic);
  FLabel->Perform(ui::CM_MOUSEENTER);
  EXPECT_FALSE(FLabel->MouseOver());
  EXPECT_EQ(FLabel->Cursor(), ui::crDefault);

  FLabel->SetDragMode(ui::dmManual);
  FLabel->Perform(ui::CM_MOUSEENTER);
  ASSERT_TRUE(FLabel->MouseOver());
  FLabel->SetEnabled(false);
  FLabel->Perform(ui::CM_MOUSELEAVE);
  EXPECT_TRUE(FLabel->MouseOver()) << "a leave while disabled is ignored";
  FLabel->SetEnabled(true);
  FLabel->Perform(ui::CM_MOUSELEAVE);
  EXPECT_FALSE(FLabel->MouseOver());
}

TEST_F(LinkLabelTest, ClickHandsTheLinkToTheShell) {
  int clicks = 0;
  FLabel->OnClick.Handler = [&](rtl::TObject*) { ++clicks; };
  FLabel->SetLabelStyle(mx::lsInternetLink);
  FLabel->Click();
  EXPECT_TRUE(FLabel->Opened.empty()) << "an empty link fires only OnClick";
  FLabel->SetLink("www.quillon-software.example");
  FLabel->Click();
  FLabel->SetLabelStyle(mx::lsMailTo);
  FLabel->SetLink("abc");
  FLabel->Click();
  FLabel->SetLabelStyle(mx::lsStandard);
  FLabel->Click();
  EXPECT_EQ(clicks, 4);
  EXPECT_EQ(FLabel->Opened,
            (std::vector<std::string>{"www.quillon-software.example", "mailto:abc"}));
}

// A screen reader finds the windowless link as a link named by its caption,
// whose default action follows it.
TEST_F(LinkLabelTest, ScreenReadersFindTheLinkAndFollowIt) {
  FLabel->SetLabelStyle(mx::lsInternetLink);
  FLabel->SetLink("www.quillon-software.example");
  IAccessible* acc = nullptr;
  ASSERT_EQ(AccessibleObjectFromWindow(FForm->Handle(), OBJID_CLIENT, IID_IAccessible,
                                       reinterpret_cast<void**>(&acc)),
            S_OK);
  long count = 0;
  acc->get_accChildCount(&count);
  EXPECT_EQ(count, 1);
  VARIANT child{};
  child.vt = VT_I4;
  child.lVal = 1;
  BSTR name = nullptr, action = nullptr;
  VARIANT role{};
  EXPECT_EQ(acc->get_accName(child, &name), S_OK);
  EXPECT_EQ(acc->get_accDefaultAction(child, &action), S_OK);
  EXPECT_EQ(acc->get_accRole(child, &role), S_OK);
  EXPECT_STREQ(name, L"Quillon Software Company");
  EXPECT_STREQ(action, L"Jump");
  EXPECT_EQ(role.lVal, ROLE_SYSTEM_LINK);
  SysFreeString(name);
  SysFreeString(action);
  EXPECT_EQ(acc->accDoDefaultAction(child), S_OK);
  FApp.ProcessMessages();
  EXPECT_EQ(FLabel->Opened, std::vector<std::string>{"www.quillon-software.example"});
  acc->Release();
}

// GDI objects the process holds: the system's count where it keeps one; Wine
// 8 answers 0, so there the live entries of Wine's GDI handle table, which the
// process environment block points to (one table per process, owner unset).
DWORD GdiObjectCount() {
  if (const DWORD count = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS))
    return count;
  struct TEntry { // Wine's GDI_HANDLE_ENTRY, the same in 32 and 64 bits
    UINT64 Object;
    USHORT ProcessId, Count;
    USHORT Unique;
    UCHAR Type, Flags;
    UINT64 UserPointer;
  };
  static_assert(sizeof(TEntry) == 24);
  const BYTE* peb = nullptr;
  asm("movl %%fs:0x30, %0" : "=r"(peb)); // the thread's TEB points to the PEB
  const auto* table = *reinterpret_cast<const TEntry* const*>(peb + 0x94); // GdiSharedHandleTable
  if (!table)
    return 0;
  DWORD count = 0;
  for (size_t i = 0; i < 0x10000; ++i)
    if (table[i].Object && table[i].Type)
      ++count;
  return count;
}

// Painting the cases that swap fonts (shadowed link, disabled and centred or
// bottom labels, a stretched picture, bevels) a few hundred times leaves no GDI
// object behind.
TEST_F(LinkLabelTest, PaintingLeavesNoGdiObjectBehind) {
  FLabel->SetShadowSize(2);
  FLabel->SetLabelStyle(mx::lsInternetLink);
  auto* disabled = new ui::TLabel(FForm.get());
  disabled->SetParent(FForm.get());
  disabled->SetCaption("disabled");
  disabled->SetEnabled(false);
  disabled->SetLayout(ui::tlCenter);
  auto* bottom = new ui::TLabel(FForm.get());
  bottom->SetParent(FForm.get());
  bottom->SetCaption("bottom");
  bottom->SetLayout(ui::tlBottom);
  bottom->SetAutoSize(false);
  bottom->SetBounds(0, 40, 100, 40);
  auto* bevel = new ui::TBevel(FForm.get());
  bevel->SetParent(FForm.get());
  bevel->SetShape(ui::bsBottomLine);
  FForm->SetBounds(0, 0, 300, 200);
  FForm->Show();
  const auto paintAll = [&] {
    FLabel->Perform(ui::CM_MOUSEENTER); // the link font and its shadow
    FLabel->Perform(ui::CM_MOUSELEAVE);
    RedrawWindow(FForm->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  };
  paintAll();
  const DWORD before = GdiObjectCount();
  ASSERT_GT(before, 0u) << "no way to count the GDI objects";
  for (int i = 0; i < 300; ++i)
    paintAll();
  EXPECT_LE(GdiObjectCount(), before + 2) << "a few may be cached, not one per paint";
}

} // namespace
