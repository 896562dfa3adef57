#include "ExtCtrls.h"

#include <oleacc.h>

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
  if (FAutoSize && !IsLoading() && FPicture.Width() > 0)
    SetBounds(Left(), Top(), FPicture.Width(), FPicture.Height());
}

RECT TImage::DestRect() const {
  const int w = FPicture.Width();
  const int h = FPicture.Height();
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
  auto line = [dc](COLORREF color, int x1, int y1, int x2, int y2) {
    const TGdiHandle pen(CreatePen(PS_SOLID, 1, color));
    const TSelection selected(dc, pen.get());
    MoveToEx(dc, x1, y1, nullptr);
    LineTo(dc, x2, y2);
  };
  switch (FShape) {
  case bsTopLine:
    line(first, 0, 0, w, 0);
    line(second, 0, 1, w, 1);
    break;
  case bsBottomLine:
    line(first, 0, h - 2, w, h - 2);
    line(second, 0, h - 1, w, h - 1);
    break;
  case bsLeftLine:
    line(first, 0, 0, 0, h);
    line(second, 1, 0, 1, h);
    break;
  case bsRightLine:
    line(first, w - 2, 0, w - 2, h);
    line(second, w - 1, 0, w - 1, h);
    break;
  case bsBox:
  case bsFrame: {
    RECT r = ClientRect();
    DrawEdge(dc, &r, FStyle == bsLowered ? EDGE_ETCHED : EDGE_BUMP, BF_RECT);
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
  canvas.Pen().SetWidth(FPen.Width());
  canvas.Rectangle(ClientRect());
}

} // namespace ui
