#include "desk/headless.h"

#include <algorithm>
#include <cstdint>

#include "desk/imagelist.h"
#include "desk/picture_loader.h"

namespace desk {

HeadlessSurface::HeadlessSurface(HeadlessPlatform& platform, const SurfaceDesign& design, SurfaceClient& client)
    : platform_(platform), client_(client), ambientFont_(platform.ambientFont) {
  MakeChildren(design, MakeHeadlessTree());
  platform_.surfaces_.push_back(this);
}

HeadlessSurface::~HeadlessSurface() { std::erase(platform_.surfaces_, this); }

void HeadlessSurface::PropertyChanged(std::u16string_view name) {
  propertyChanges.emplace_back(name);
  if (onPropertyChanged) onPropertyChanged(name);
}

Ref<Font> HeadlessSurface::AmbientFont() {
  if (onAmbientFont) onAmbientFont();
  return ambientFont_;
}

void HeadlessSurface::PopupMenu(const Ref<Object>& menu, const Variant& flags, const Variant& x, const Variant& y,
                                const Variant& defaultMenu) {
  Ref<MenuArray> items = PopupItems(menu);
  Popup p{{}, flags.Value(), x.Value(), y.Value(), defaultMenu.Value()};
  for (const auto& [i, e] : items->Elements())
    if (e->Visible()) p.captions.push_back(e->Caption());
  popups.push_back(std::move(p));
  // The chooser has returned before the click runs, so a click handler may show another popup
  // (the chooser is asked again, nested) or replace the chooser.
  if (!platform_.choosePopupItem) return;
  int chosen = platform_.choosePopupItem(*items);
  if (chosen < 0) return;
  // Only a shown element can be clicked; choosing anything else is the test's own mistake.
  if (chosen > INT16_MAX || !items->Element(static_cast<int16_t>(chosen)).Visible()) Raise(Err::InvalidProcedureCall);
  items->Click(static_cast<int16_t>(chosen));
}

void HeadlessSurface::SetScale(float left, float top, float width, float height) {
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  client_.OnResize();
}

HeadlessPlatform::HeadlessPlatform() : ambientFont(MakeRef<Font>(u"MS Sans Serif", 8.25f)) {}

std::unique_ptr<Surface> HeadlessPlatform::CreateSurface(const SurfaceDesign& design, SurfaceClient& client) {
  return std::make_unique<HeadlessSurface>(*this, design, client);
}

void HeadlessPlatform::MessageBox(const MessageBoxRequest& request) {
  messageBoxes.push_back(request);
  if (onMessageBox) onMessageBox(request);
}

Ref<Object> HeadlessPlatform::CreateImageList() { return MakeImageList(); }

void HeadlessPlatform::DoEvents() {
  ++doEventsCount;
  if (onDoEvents) onDoEvents();
}

void HeadlessPlatform::ProcessPaintAndTimers(int32_t) { ++paintAndTimersCount; }

}  // namespace desk
