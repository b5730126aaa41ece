// The headless platform: no window system. Tests and servers drive it as the host would: it
// records every PropertyChanged, message box and popup menu, supplies the ambient font,
// chooses an element of a shown popup menu (or dismisses it), and counts the points where
// pending messages would be dispatched.
#pragma once

#include "desk/export.h"

#include <functional>
#include <vector>

#include "desk/platform.h"
#include "desk/surface_base.h"
#include "desk/tree.h"

namespace desk {

class HeadlessPlatform;

class DESK_API HeadlessSurface : public SurfaceBase {
 public:
  HeadlessSurface(HeadlessPlatform& platform, const SurfaceDesign& design, SurfaceClient& client);
  ~HeadlessSurface() override;

  float ScaleLeft() const override { return left_; }
  float ScaleTop() const override { return top_; }
  float ScaleWidth() const override { return width_; }
  float ScaleHeight() const override { return height_; }
  void PropertyChanged(std::u16string_view name) override;
  Ref<Font> AmbientFont() override;
  void PopupMenu(const Ref<Object>& menu, const Variant& flags, const Variant& x, const Variant& y,
                 const Variant& defaultMenu) override;

  // The host sizes the control: the surface takes the new interior and tells the control.
  void SetScale(float left, float top, float width, float height);
  void SetAmbientFont(Ref<Font> f) { ambientFont_ = std::move(f); }
  const Ref<TreeView>& TreeRef() const { return tree_; }

  // Recorded calls to the host.
  std::vector<std::u16string> propertyChanges;
  // Runs on every PropertyChanged (after it is recorded); may throw to make it fail.
  std::function<void(std::u16string_view)> onPropertyChanged;
  // Runs on every request for the ambient font, before it is answered (may change it).
  std::function<void()> onAmbientFont;

  struct Popup {
    std::vector<std::u16string> captions;  // visible elements, in index order
    Variant flags, x, y, defaultMenu;
  };
  std::vector<Popup> popups;

 private:
  HeadlessPlatform& platform_;
  SurfaceClient& client_;
  float left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  Ref<Font> ambientFont_;
};

class DESK_API HeadlessPlatform : public Platform {
 public:
  HeadlessPlatform();
  std::unique_ptr<Surface> CreateSurface(const SurfaceDesign& design, SurfaceClient& client) override;
  void MessageBox(const MessageBoxRequest& request) override;
  Ref<Object> CreateImageList() override;
  void DoEvents() override;
  // Counted and left alone: the headless platform has nothing to paint, and its host is
  // re-entered only at DoEvents.
  void ProcessPaintAndTimers(int32_t maxMs) override;

  // Surfaces alive now, oldest first.
  const std::vector<HeadlessSurface*>& Surfaces() const { return surfaces_; }
  HeadlessSurface* LastSurface() const { return surfaces_.empty() ? nullptr : surfaces_.back(); }

  // The ambient font a new surface starts with.
  Ref<Font> ambientFont;
  std::vector<MessageBoxRequest> messageBoxes;
  // Runs while a box is "shown" (after it is recorded).
  std::function<void(const MessageBoxRequest&)> onMessageBox;
  // Chooses the element to click in a shown popup: its index, or -1 to dismiss. Unset: dismiss.
  std::function<int(MenuArray&)> choosePopupItem;
  int doEventsCount = 0;
  int paintAndTimersCount = 0;
  std::function<void()> onDoEvents;

 private:
  friend class HeadlessSurface;
  std::vector<HeadlessSurface*> surfaces_;
};

// The current platform as the headless one; null when the host chose another.
DESK_API HeadlessPlatform* Headless();

}  // namespace desk
