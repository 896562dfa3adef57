// The link label on a real form: hover state and cursor, shadow sizes and the
// auto-size pass, the shell hand-off, the version text.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mx/mxLinkLabel.h"
#include "ui/Application.h"
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

} // namespace
