#include "ucMain.h"

#include "fill_ahead.h"
#include "mdlError.h"
#include "desk/collection.h"
#include "desk/error.h"
#include "desk/platform.h"
#include "shared.h"

namespace Quorvane {

namespace {
constexpr std::u16string_view kModule = u"ucMain, User Control";
using desk::CallByName;
using desk::InvokeKind;
using desk::Variant;
using mdlError::Trap;
}  // namespace

const desk::DispatchTable<ucMain>& ucMain::Table() {
  using K = InvokeKind;
  using T = desk::VarType;
  using desk::Args;
  static const desk::DispatchTable<ucMain> t(
      "_ucMain", kInterfaceId,
      {
          {{"Fill", ucMainId::kFill, K::Method, {}, T::Any},
           [](ucMain& c, Args&) {
             c.Fill();
             return Variant();
           }},
          {{"ImageListControl", ucMainId::kImageListControl, K::Get, {}, T::Any},
           [](ucMain& c, Args&) { return Variant::Object(c.ImageListControl()); }},
          {{"ListImages", ucMainId::kListImages, K::Get, {}, T::Object},
           [](ucMain& c, Args&) { return Variant::Object(c.ListImages()); }},
          {{"ListImages", ucMainId::kListImages, K::Set, {}, T::Object, nullptr, false},
           [](ucMain& c, Args& a) {
             c.ListImages(a.NewValue().RawObject());
             return Variant();
           }},
          {{"ForceDownload", ucMainId::kForceDownload, K::Get, {}, T::Boolean},
           [](ucMain& c, Args&) { return Variant::Bool(c.ForceDownload()); }},
          {{"ForceDownload", ucMainId::kForceDownload, K::Let, {}, T::Boolean},
           [](ucMain& c, Args& a) {
             c.ForceDownload(a.NewValue().RawBoolean() != 0);
             return Variant();
           }},
          {{"IsReady", ucMainId::kIsReady, K::Method, {}, T::Boolean},
           [](ucMain& c, Args&) { return Variant::Bool(c.IsReady()); }},
      });
  return t;
}

const desk::InterfaceInfo& ucMain::EventInterface() {
  using T = desk::VarType;
  static const desk::InterfaceInfo info = [] {
    const desk::ParamInfo keyCode{"KeyCode", T::Integer, true}, shift{"Shift", T::Integer, true},
        keyAscii{"KeyAscii", T::Integer, true}, button{"Button", T::Integer, true}, x{"X", T::Single, true},
        y{"Y", T::Single, true};
    const auto M = desk::InvokeKind::Method;
    desk::InterfaceInfo i;
    i.name = "__ucMain";
    i.iid = kEventInterfaceId;
    i.members = {
        {"Click", ucMainEvent::kClick, M, {}, T::Empty,
         "Occurs when the user presses and then releases a mouse button over an object."},
        {"DblClick", ucMainEvent::kDblClick, M, {}, T::Empty,
         "Occurs when the user presses and releases a mouse button and then presses and releases it again over "
         "an object."},
        {"KeyDown", ucMainEvent::kKeyDown, M, {keyCode, shift}, T::Empty,
         "Occurs when the user presses a key while an object has the focus."},
        {"KeyPress", ucMainEvent::kKeyPress, M, {keyAscii}, T::Empty,
         "Occurs when the user presses and releases an ANSI key."},
        {"KeyUp", ucMainEvent::kKeyUp, M, {keyCode, shift}, T::Empty,
         "Occurs when the user releases a key while an object has the focus."},
        {"MouseDown", ucMainEvent::kMouseDown, M, {button, shift, x, y}, T::Empty,
         "Occurs when the user presses the mouse button while an object has the focus."},
        {"MouseMove", ucMainEvent::kMouseMove, M, {button, shift, x, y}, T::Empty,
         "Occurs when the user moves the mouse."},
        {"MouseUp", ucMainEvent::kMouseUp, M, {button, shift, x, y}, T::Empty,
         "Occurs when the user releases the mouse button while an object has the focus."},
    };
    i.BuildIndex();
    return i;
  }();
  return info;
}

ucMain::ucMain() {
  imageList_ = desk::CurrentPlatform().CreateImageList();
  Trap(kModule, u"UserControl_Initialize", [&] {
    fileSystem_ = std::make_unique<detail::FileSystemLease>();
    mvarListImages_ = desk::MakeRef<httpImages>();
  });
}

// The members go in the order UserControl_Terminate let them go: the file-system lease (the
// last member), then the collection; neither can fail, so there is nothing to report.
ucMain::~ucMain() = default;

desk::Ref<desk::Object> ucMain::ImagesOfList() {
  if (!imageList_) desk::Raise(desk::Err::ObjectNotSet);
  return CallByName(imageList_, u"ListImages", InvokeKind::Get).ToObject();
}

void ucMain::Fill() {
  desk::Ref<ucMain> self(this);  // the host may release the control at a dispatch point
  std::u16string notAPicture;  // a cached file that failed to load as a picture
  Trap(kModule, u"Fill", [&] {
    desk::Ref<desk::Object> images = ImagesOfList();
    CallByName(images, u"Clear", InvokeKind::Method);
    desk::Ref<httpImages> list = mvarListImages_;
    if (!list) desk::Raise(desk::Err::ObjectNotSet);
    // The enumerator holds the collection it walks: replacing or clearing ListImages meanwhile
    // leaves this fill with the entries it started with, minus any removed.
    const desk::DispId add = images->GetIdOfName(u"Add");  // late bound, looked up once
    desk::Ref<desk::CollectionEnum> walk = desk::RefCast<desk::CollectionEnum>(list->NewEnum());
    if (!walk) desk::Raise(desk::Err::ObjectNotSet);
    // Downloads and picture checks for the entries ahead run meanwhile; what is left when the
    // walk ends, or fails, is dropped with it.
    FillAhead ahead(*list, mvarForceDownload_);
    Variant item;
    while (walk->Next(item)) {
      desk::Ref<httpImage> entry = desk::RefCast<httpImage>(item.ToObject());
      if (!entry) desk::Raise(desk::Err::TypeMismatch);
      ahead.Reached(*entry);
      if (!ahead.DownloadFile(*entry, mvarForceDownload_ != 0)) continue;
      std::u16string key = entry->Key;
      const std::u16string path = entry->TempFilePath();
      desk::Ref<desk::Picture> picture;
      try {
        picture = ahead.LoadPicture(path);
      } catch (const desk::Error& e) {
        if (e.Number() == static_cast<int32_t>(desk::Err::InvalidPicture)) notAPicture = path;
        throw;
      }
      std::vector<Variant> args{Variant::Missing(), Variant::String(std::move(key)), Variant::Object(std::move(picture))};
      images->Invoke(add, InvokeKind::Method, args);
    }
  });
  // After its report: otherwise the bad file would be reused by every later Fill, which would
  // stop at this entry for good. The next Fill downloads it again.
  if (!notAPicture.empty())
    if (std::shared_ptr<desk::FileSystem> fs = detail::SharedFileSystem()) fs->RemoveFile(notAPicture);
}

desk::Ref<desk::Object> ucMain::ImageListControl() {
  return Trap(kModule, u"ImageListControl", [&] {
    if (!imageList_) desk::Raise(desk::Err::ObjectNotSet);
    return imageList_;
  });
}

desk::Ref<httpImages> ucMain::ListImages() {
  return Trap(kModule, u"ListImages", [&] { return mvarListImages_; });
}

void ucMain::ListImages(const desk::Ref<desk::Object>& images) {
  Trap(kModule, u"ListImages", [&] {
    desk::Ref<httpImages> list = desk::RefCast<httpImages>(images);
    if (images && !list) desk::Raise(desk::Err::TypeMismatch);
    mvarListImages_ = std::move(list);  // the old collection goes after the new one is in place
  });
}

bool ucMain::ForceDownload() {
  return Trap(kModule, u"ForceDownload", [&] { return mvarForceDownload_ != 0; });
}

void ucMain::ForceDownload(bool force) {
  Trap(kModule, u"ForceDownload", [&] { mvarForceDownload_ = force ? desk::kTrue : desk::kFalse; });
}

bool ucMain::IsReady() {
  return Trap(kModule, u"IsReady", [&] {
    return CallByName(ImagesOfList(), u"Count", InvokeKind::Get).ToInteger() > 0;
  });
}

}  // namespace Quorvane
