// The popup menu definitions of a tree control.
//
// PopUpMenus keeps named definitions (PopUpMenu) in a keyed collection and, for each one
// added, loads a visible element into the menu item array held in mvarMainMNU (reached by
// member name at run time, so any object with Count, Load, Unload and a default member that
// yields elements with Caption, Tag and Visible can stand there; the platform's own array is
// called directly, with the same effects and errors). Each procedure traps its failures: it shows one report
// naming the procedure and the step that failed, and returns normally with the result it had
// assigned so far. Hosts never create these classes; the control does.
#pragma once

#include <string>
#include <vector>

#include "desk/collection.h"
#include "desk/dispatch.h"

namespace varbel {

inline constexpr const char* kPopUpMenusIid = "{E0F60E7C-6EF2-4238-A07D-09CFB4FD5475}";
inline constexpr const char* kPopUpMenusClsid = "{1E481904-0FCA-4490-81FF-D2CE80F04389}";
inline constexpr const char* kPopUpMenuIid = "{A050BBF5-FA10-4D87-8954-CE8E987085FC}";
inline constexpr const char* kPopUpMenuClsid = "{8E7EFBC4-BA2F-4365-95B5-DF891750A598}";

class PopUpMenu : public desk::Dispatchable<PopUpMenu> {
 public:
  static const desk::DispatchTable<PopUpMenu>& Table();
  std::u16string Key;
  std::u16string Name;
  std::u16string Caption;
};

class PopUpMenus : public desk::Dispatchable<PopUpMenus> {
 public:
  static const desk::DispatchTable<PopUpMenus>& Table();
  PopUpMenus();   // Class_Initialize
  ~PopUpMenus() override;  // Class_Terminate

  // The menu item array that Add and Clear work on. Through the interface it is assignable by
  // value (Let keeps a copy of any value) and by reference (Set takes an object or Nothing).
  const desk::Variant& GetMainMNU() const { return mvarMainMNU; }
  void SetMainMNU(const desk::Variant& v) { mvarMainMNU = v.Value(); }

  desk::Ref<PopUpMenu> Add(const std::u16string& name, const std::u16string& caption);
  desk::Ref<PopUpMenu> Item(const std::u16string& name);
  int32_t Count();
  void Remove(const std::u16string& name);
  desk::Ref<desk::Object> NewEnum();
  void Clear();

 private:
  desk::Variant mvarMainMNU;
  desk::Ref<desk::Collection> mCol;
  std::vector<desk::Variant> spare_;  // Add's argument list, kept between calls
};

}  // namespace varbel
