// The web image list control: an image list filled with pictures downloaded over HTTP.
//
// The host lists entries in ListImages, calls Fill, and hands ImageListControl to a tree.
// Every member traps its failures and reports them under "ucMain, User Control".
//
// Re-entrancy: Fill lets the platform dispatch pending messages three times per download;
// a host may then call Fill again, clear or replace ListImages, remove entries or release
// the control. Fill holds the control, the collection it started with (through its
// enumerator) and the current entry, so it finishes safely with the entries it still holds.
#pragma once

#include <memory>

#include "httpImages.h"
#include "desk/dispatch.h"
#include "desk/events.h"

namespace Quorvane {

namespace detail {
class FileSystemLease;
}

namespace ucMainId {
inline constexpr desk::DispId kFill = 0x60030004, kImageListControl = 0x68030002, kListImages = 0x68030001,
                              kForceDownload = 0x68030000, kIsReady = 0x60030006;
}  // namespace ucMainId

// Events of __ucMain: declared for hosts, never raised.
namespace ucMainEvent {
inline constexpr desk::DispId kClick = 1, kDblClick = 2, kKeyDown = 3, kKeyPress = 4, kKeyUp = 5, kMouseDown = 6,
                              kMouseMove = 7, kMouseUp = 8;
}

class ucMain : public desk::Dispatchable<ucMain> {
 public:
  static const desk::DispatchTable<ucMain>& Table();
  static const desk::InterfaceInfo& EventInterface();
  static constexpr const char* kClassId = "{54DB11E5-373F-4255-8B48-D0C961FAE634}";
  static constexpr const char* kInterfaceId = "{DE191423-D1CA-430F-9E52-B91D8FD0C8B2}";
  static constexpr const char* kEventInterfaceId = "{E289DE76-BE32-435A-8DE3-C576E864BC4B}";

  ucMain();            // UserControl_Initialize
  ~ucMain() override;  // UserControl_Terminate

  // Empties the image list, then for each entry in order downloads (or reuses) its picture,
  // loads it from the entry's TempFilePath and adds it under the entry's Key. A failing
  // download skips its entry; a failing load or add ends the fill (one report).
  void Fill();
  // The inner image list (a desk::ImageList on the built-in platforms).
  desk::Ref<desk::Object> ImageListControl();
  desk::Ref<httpImages> ListImages();
  // Stores the collection (shared, not copied), or none. 13 for an object that is not one.
  void ListImages(const desk::Ref<desk::Object>& images);
  bool ForceDownload();
  void ForceDownload(bool force);
  // True when the image list holds a picture. Does not wait or download.
  bool IsReady();

  desk::EventSource& Events() { return events_; }

 private:
  desk::Ref<desk::Object> ImagesOfList();  // the image list's ListImages collection

  desk::Ref<desk::Object> imageList_;
  desk::Ref<httpImages> mvarListImages_;
  int16_t mvarForceDownload_ = 0;
  std::unique_ptr<detail::FileSystemLease> fileSystem_;
  desk::EventSource events_;
};

}  // namespace Quorvane
