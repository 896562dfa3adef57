// Panels, pictures, bevels and shapes.
#pragma once

#include <cstdint>
#include <memory>

#include "Controls.h"
#include "JPEGImage.h"

namespace rtl {
class TStream;
}

namespace ui {

enum TPanelBevel : uint8_t { bvNone, bvLowered, bvRaised, bvSpace };

// A container window; the wizard's pages are borderless panels.
class TPanel : public TWinControl {
public:
  explicit TPanel(rtl::TComponent* owner);
  const char* ClassName() const override { return "TPanel"; }
  TPanelBevel BevelOuter() const { return FBevelOuter; }
  void SetBevelOuter(TPanelBevel value);
  TPanelBevel BevelInner() const { return FBevelInner; }
  void SetBevelInner(TPanelBevel value);

protected:
  void CreateParams(TCreateParams& params) override;
  void PaintWindow(HDC dc) override;

private:
  TPanelBevel FBevelOuter = bvRaised;
  TPanelBevel FBevelInner = bvNone;
};

// The picture of an image: a JPEG graphic read from Picture.Data.
class TPicture : public rtl::TPersistent {
public:
  const char* ClassName() const override { return "TPicture"; }
  void LoadData(rtl::TStream& stream);
  TJPEGImage* Graphic() const { return FGraphic.get(); }
  int Width() const { return FGraphic ? FGraphic->Width() : 0; }
  int Height() const { return FGraphic ? FGraphic->Height() : 0; }
  std::function<void()> OnChange;

private:
  std::unique_ptr<TJPEGImage> FGraphic;
};

class TImage : public TGraphicControl {
public:
  explicit TImage(rtl::TComponent* owner);
  const char* ClassName() const override { return "TImage"; }
  TPicture* Picture() { return &FPicture; }
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool value);
  bool Stretch() const { return FStretch; }
  void SetStretch(bool value);
  bool Center() const { return FCenter; }
  void SetCenter(bool value);
  void Paint(TCanvas& canvas) override;
  // A picture, named by the program for what it shows.
  int32_t AccessibleRole() const override;
  // Where the picture goes in the control.
  RECT DestRect() const;

protected:
  void AdjustSize() override;

private:
  TPicture FPicture;
  bool FAutoSize = false;
  bool FStretch = false;
  bool FCenter = false;
  bool FBroken = false;
};

enum TBevelShape : uint8_t {
  bsBox,
  bsFrame,
  bsTopLine,
  bsBottomLine,
  bsLeftLine,
  bsRightLine,
  bsSpacer
};
enum TBevelStyle : uint8_t { bsLowered, bsRaised };

class TBevel : public TGraphicControl {
public:
  explicit TBevel(rtl::TComponent* owner);
  const char* ClassName() const override { return "TBevel"; }
  TBevelShape Shape() const { return FShape; }
  void SetShape(TBevelShape value);
  TBevelStyle Style() const { return FStyle; }
  void SetStyle(TBevelStyle value);
  void Paint(TCanvas& canvas) override;
  int32_t AccessibleRole() const override;

private:
  TBevelShape FShape = bsBox;
  TBevelStyle FStyle = bsLowered;
};

enum TShapeType : uint8_t {
  stRectangle,
  stSquare,
  stRoundRect,
  stRoundSquare,
  stEllipse,
  stCircle
};

class TShape : public TGraphicControl {
public:
  explicit TShape(rtl::TComponent* owner);
  const char* ClassName() const override { return "TShape"; }
  TBrush* Brush() { return &FBrush; }
  TPen* Pen() { return &FPen; }
  TShapeType Shape() const { return FShape; }
  void SetShape(TShapeType value);
  void Paint(TCanvas& canvas) override;

private:
  TBrush FBrush;
  TPen FPen;
  TShapeType FShape = stRectangle;
};

} // namespace ui
