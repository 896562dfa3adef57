#include "ExtCtrls.h"

#include <oleacc.h>

#include <algorithm>
#include <vector>

#include "rtl/Streams.h"

namespace ui {

// --- TPanel ---

TPanel::TPanel(rtl::TComponent* owner) : TWinControl(owner) {
  SetBounds(0, 0, 185, 41);
}

void TPanel::SetBevelOuter(TPanelBevel value) {
  FBevelOuter = value;
  Invalidate();
}

void TPanel::SetBevelInner(TPanelBevel value) {
  FBevelInner = value;
  Invalidate();
}

void TPanel::CreateParams(TCreateParams& params) {
  TWinControl::CreateParams(params);
  // Tab moves through the panel's controls as through the form's own.
  params.ExStyle |= WS_EX_CONTROLPARENT;
}

namespace {

void PaintPanelBevel(HDC dc, RECT& rect, TPanelBevel bevel) {
  if (bevel == bvLowered)
    DrawEdge(dc, &rect, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
  else if (bevel == bvRaised)
    DrawEdge(dc, &rect, BDR_RAISEDINNER, BF_RECT | BF_ADJUST);
}

} // namespace

void TPanel::PaintWindow(HDC dc) {
  TWinControl::PaintWindow(dc);
  RECT rect = ClientRect();
  PaintPanelBevel(dc, rect, FBevelOuter);
  PaintPanelBevel(dc, rect, FBevelInner);
  const std::string text = Caption();
  if (!text.empty()) {
    TCanvas canvas(dc);
    canvas.Font().Assign(Font());
    canvas.DrawText(text, rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  }
}

// --- TPicture, TImage ---

void TPicture::LoadData(rtl::TStream& stream) {
  std::vector<uint8_t> bytes(static_cast<size_t>(stream.Size()));
  stream.SetPosition(0);
  if (!bytes.empty())
    stream.ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  auto graphic = std::make_unique<TJPEGImage>();
  graphic->LoadFromPictureData(bytes.data(), bytes.size());
  FGraphic = std::move(graphic);
  if (OnChange)
    OnChange();
}

TImage::TImage(rtl::TComponent* owner) : TGraphicControl(owner) {
  SetBounds(0, 0, 105, 105);
  FPicture.OnChange = [this] {
    FBroken = false;
    AdjustSize();
    Invalidate();
  };
}

void TImage::SetAutoSize(bool value) {
  FAutoSize = value;
  AdjustSize();
}

void TImage::SetStretch(bool value) {
  FStretch = value;
  Invalidate();
}

void TImage::SetCenter(bool value) {
  FCenter = value;
  Invalidate();
}

void TImage::AdjustSize() {
  // A picture pixel is a pixel at 96 DPI.
  if (FAutoSize && !IsLoading() && FPicture.Width() > 0)
    SetBounds(Left(), Top(), Scaled(FPicture.Width()), Scaled(FPicture.Height()));
}

RECT TImage::DestRect() const {
  const int w = Scaled(FPicture.Width());
  const int h = Scaled(FPicture.Height());
  if (FStretch)
    return ClientRect();
  if (FCenter) {
    const int x = (Width() - w) / 2;
    const int y = (Height() - h) / 2;
    return {x, y, x + w, y + h};
  }
  return {0, 0, w, h};
}

void TImage::Paint(TCanvas& canvas) {
  TJPEGImage* graphic = FPicture.Graphic();
  if (!graphic || FBroken)
    return;
  // A picture that cannot be decoded is reported once, not at every paint.
  FBroken = true;
  graphic->Draw(canvas.Handle(), DestRect());
  FBroken = false;
}

int32_t TImage::AccessibleRole() const {
  return ROLE_SYSTEM_GRAPHIC;
}

// --- TBevel ---

int32_t TBevel::AccessibleRole() const {
  return FShape == bsSpacer ? 0 : ROLE_SYSTEM_SEPARATOR;
}

TBevel::TBevel(rtl::TComponent* owner) : TGraphicControl(owner) {
  SetBounds(0, 0, 50, 50);
}

void TBevel::SetShape(TBevelShape value) {
  FShape = value;
  Invalidate();
}

void TBevel::SetStyle(TBevelStyle value) {
  FStyle = value;
  Invalidate();
}

void TBevel::Paint(TCanvas& canvas) {
  const COLORREF first = ColorToRGB(FStyle == bsLowered ? clBtnShadow : clBtnHighlight);
  const COLORREF second = ColorToRGB(FStyle == bsLowered ? clBtnHighlight : clBtnShadow);
  HDC dc = canvas.Handle();
  const int w = Width();
  const int h = Height();
  // Each of the two lines is one pixel at 96 DPI.
  const int t = std::max(1, Scaled(1));
  auto line = [dc](COLORREF color, int left, int top, int right, int bottom) {
    const TGdiHandle brush(CreateSolidBrush(color));
    const RECT r{left, top, right, bottom};
    ::FillRect(dc, &r, static_cast<HBRUSH>(brush.get()));
  };
  switch (FShape) {
  case bsTopLine:
    line(first, 0, 0, w, t);
    line(second, 0, t, w, 2 * t);
    break;
  case bsBottomLine:
    line(first, 0, h - 2 * t, w, h - t);
    line(second, 0, h - t, w, h);
    break;
  case bsLeftLine:
    line(first, 0, 0, t, h);
    line(second, t, 0, 2 * t, h);
    break;
  case bsRightLine:
    line(first, w - 2 * t, 0, w - t, h);
    line(second, w - t, 0, w, h);
    break;
  case bsBox:
  case bsFrame: {
    // The outer and the inner edge, each t pixels wide.
    const bool lowered = FStyle == bsLowered;
    RECT r = ClientRect();
    if (t == 1) {
      DrawEdge(dc, &r, lowered ? EDGE_ETCHED : EDGE_BUMP, BF_RECT);
      break;
    }
    for (int i = 0; i < t; ++i)
      DrawEdge(dc, &r, lowered ? BDR_SUNKENOUTER : BDR_RAISEDOUTER, BF_RECT | BF_ADJUST);
    for (int i = 0; i < t; ++i)
      DrawEdge(dc, &r, lowered ? BDR_RAISEDINNER : BDR_SUNKENINNER, BF_RECT | BF_ADJUST);
    break;
  }
  case bsSpacer:
    break;
  }
}

// --- TShape ---

TShape::TShape(rtl::TComponent* owner) : TGraphicControl(owner) {
  SetBounds(0, 0, 65, 65);
}

void TShape::SetShape(TShapeType value) {
  FShape = value;
  Invalidate();
}

void TShape::Paint(TCanvas& canvas) {
  canvas.Brush().SetColor(FBrush.Color());
  canvas.Brush().SetStyle(FBrush.Style());
  canvas.Pen().SetColor(FPen.Color());
  canvas.Pen().SetStyle(FPen.Style());
  canvas.Pen().SetWidth(Scaled(FPen.Width()));
  canvas.Rectangle(ClientRect());
}

} // namespace ui
