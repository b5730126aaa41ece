// The narrow seams between the controls and the platform they run on.
//
// A host picks one Platform at start-up (SetPlatform): the headless one for tests and
// servers, or a GUI backend. The controls reach the platform only through these interfaces,
// so the same control code runs on every backend.
#pragma once

#include "desk/export.h"

#include <memory>
#include <optional>
#include <string>

#include "desk/dispatch.h"
#include "desk/events.h"
#include "desk/font.h"
#include "desk/menu.h"

namespace desk {

class TreeView;

// Container-supplied member ids that the extended-control wrapper of a child answers.
namespace ext {
inline constexpr DispId kName = static_cast<DispId>(0x80010000);
inline constexpr DispId kVisible = static_cast<DispId>(0x80010007);
inline constexpr DispId kLeft = static_cast<DispId>(0x80010003);
inline constexpr DispId kTop = static_cast<DispId>(0x80010004);
inline constexpr DispId kWidth = static_cast<DispId>(0x80010005);
inline constexpr DispId kHeight = static_cast<DispId>(0x80010006);
inline constexpr DispId kEnabled = static_cast<DispId>(0x8001000D);
inline constexpr DispId kWhatsThisHelpID = static_cast<DispId>(0x80010046);
inline constexpr DispId kCausesValidation = static_cast<DispId>(0x80010048);
inline constexpr DispId kToolTipText = static_cast<DispId>(0x8001004A);
}  // namespace ext

// What a user control's design puts on its surface.
struct DESK_API SurfaceDesign {
  std::u16string treeName;       // the inner tree child
  std::u16string mainMenuName;   // the top-level popup menu
  std::u16string mainMenuCaption;
  std::u16string arrayName;      // the item array under it
  std::u16string arrayCaption0;  // caption of its design-time element 0
};

// Notifications from the surface to the control that owns it.
class DESK_API SurfaceClient {
 public:
  virtual ~SurfaceClient() = default;
  virtual void OnResize() = 0;
};

// The user-control base: the control's area, its children and menus, and its calls to the
// host.
class DESK_API Surface {
 public:
  virtual ~Surface() = default;

  // The interior in the surface's own scale units.
  virtual float ScaleLeft() const = 0;
  virtual float ScaleTop() const = 0;
  virtual float ScaleWidth() const = 0;
  virtual float ScaleHeight() const = 0;

  // The inner tree wrapped in the container's extended-control object: it answers the
  // container-supplied ids (0x8001xxxx) itself and passes every other id to the tree.
  virtual Ref<Object> TreeChild() = 0;
  // The inner tree's own object, whose events the control handles.
  virtual TreeView& Tree() = 0;

  virtual Menu& MainMenu() = 0;
  virtual MenuArray& ItemArray() = 0;

  // Tells the host that a setting changed.
  virtual void PropertyChanged(std::u16string_view name) = 0;
  // The container's current font.
  virtual Ref<Font> AmbientFont() = 0;
  // Shows a popup menu on the surface; modal: a chosen element's click is delivered before
  // it returns. Omitted arguments are Missing; without x and y the menu opens at the mouse.
  virtual void PopupMenu(const Ref<Object>& menu, const Variant& flags, const Variant& x, const Variant& y,
                         const Variant& defaultMenu) = 0;
};

// A modal message box request as the platform receives it.
struct DESK_API MessageBoxRequest {
  std::u16string text;
  int32_t style;
  std::optional<std::u16string> caption;  // none given: the box shows appTitle
  std::u16string appTitle;                 // the calling library's own title
  std::u16string EffectiveCaption() const { return caption ? *caption : appTitle; }
};

class DESK_API Platform {
 public:
  virtual ~Platform() = default;
  virtual std::unique_ptr<Surface> CreateSurface(const SurfaceDesign& design, SurfaceClient& client) = 0;
  // Blocks until the user dismisses the box.
  virtual void MessageBox(const MessageBoxRequest& request) = 0;
  // LoadPicture(""): a new empty picture; otherwise the picture in the file, failing with 53
  // for a missing file and 481 for one that is not a picture. The run-time's own loader
  // (LoadPictureFile) unless a platform brings its own, which then also answers false below.
  virtual Ref<Picture> LoadPicture(const std::u16string& path);
  // A new image list (its ListImages keyed by text).
  virtual Ref<Object> CreateImageList() = 0;
  // Lets the platform dispatch pending messages; the host may run code here.
  virtual void DoEvents() = 0;
  // Lets the platform paint and run its timers for at most `maxMs` milliseconds, while a
  // control waits on work of its own (bytes on the way, a picture being decoded). User input
  // stays queued for the next DoEvents, so a host is re-entered only from its timers and
  // where it was before. Nothing to do for a platform without a window system.
  virtual void ProcessPaintAndTimers(int32_t maxMs) { (void)maxMs; }
  // True when LoadPicture is the run-time's own loader (LoadPictureFile): a control may then
  // read the file itself and decode it on a worker thread (PictureJob) for the same result.
  virtual bool LoadsPicturesWithRuntimeDecoder() const { return true; }
};

// The host's keyed store of typed values in which a control persists its settings.
class DESK_API PropertyBag : public Object {
 public:
  // The value stored under `key`, or `defaultValue` unchanged when there is none.
  virtual Variant ReadProperty(const std::u16string& key, const Variant& defaultValue) = 0;
  // Stores `value` under `key`; the bag may leave out a value equal to its default.
  virtual void WriteProperty(const std::u16string& key, const Variant& value, const Variant& defaultValue) = 0;
};

// What a control offers its container besides its dispatch interface: its event interface,
// sink connection, and the persistence and sizing notifications. A host reaches it with
// dynamic_cast from the object it created.
class DESK_API Control {
 public:
  virtual ~Control();
  virtual const InterfaceInfo& EventInterface() const = 0;
  // Connects a sink to the control's events; returns a cookie for Unadvise.
  virtual int Advise(Ref<Object> sink) = 0;
  virtual void Unadvise(int cookie) = 0;
  // A new instance: nothing saved yet.
  virtual void InitProperties() {}
  // An instance recreated from saved state; failures come back as desk::Error.
  virtual void ReadProperties(PropertyBag&) {}
  // The host saves.
  virtual void WriteProperties(PropertyBag&) {}
  // The control's surface, when it has one.
  virtual Surface* GetSurface() { return nullptr; }
};

// The platform chosen by the host. A headless platform is installed when none was chosen.
DESK_API Platform& CurrentPlatform();
DESK_API void SetPlatform(std::shared_ptr<Platform> p);
DESK_API std::shared_ptr<Platform> SharedPlatform();

}  // namespace desk
