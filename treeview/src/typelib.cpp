// The library's type information, its event interface and its C entry points.
#include <cstring>

#include "PopUpMenus.h"
#include "VarbelTreeviewControl.h"
#include "VarbelTreeviewControlEx.h"
#include "VarbelTreeview/VarbelTreeview.h"
#include "desk/component.h"
#include "members.h"

namespace varbel {

using desk::InvokeKind;
using desk::ParamInfo;
using desk::VarType;

const desk::InterfaceInfo& VarbelTreeviewControl::Events() {
  static const desk::InterfaceInfo info = [] {
    desk::InterfaceInfo i;
    i.name = "__VarbelTreeviewControl";
    i.iid = kEventsIid;
    for (const EventDesc& e : kEvents)
      i.members.push_back({e.name, e.id, InvokeKind::Method,
                           std::vector<ParamInfo>(e.params.at.begin(), e.params.at.begin() + e.params.count),
                           VarType::Empty, e.help});
    i.BuildIndex();
    return i;
  }();
  return info;
}

const desk::TypeLibInfo& VarbelTreeviewControl::TypeLib() {
  static const desk::TypeLibInfo lib{
      "VarbelTreeview",
      kLibId,
      {
          {"VarbelTreeviewControl", kControlClsid, true, &Table().Info(), &Events()},
          {"PopUpMenus", kPopUpMenusClsid, false, &PopUpMenus::Table().Info(), nullptr},
          {"PopUpMenu", kPopUpMenuClsid, false, &PopUpMenu::Table().Info(), nullptr},
          // The same control with the capabilities added since (VarbelTreeviewControlEx.h).
          {"VarbelTreeviewControlEx", kControlExClsid, true, &VarbelTreeviewControlEx::TableEx().Info(),
           &VarbelTreeviewControlEx::EventsEx()},
      },
      {&Table().Info(), &Events(), &PopUpMenus::Table().Info(), &PopUpMenu::Table().Info(),
       &VarbelTreeviewControlEx::TableEx().Info(), &VarbelTreeviewControlEx::EventsEx()},
  };
  return lib;
}

}  // namespace varbel

extern "C" int32_t VarbelTreeview_CreateObject(const char* clsid, desk::Object** out, char* message, size_t size) {
  static const desk::ClassFactory factories[] = {
      {varbel::kControlClsid, [] { return desk::Ref<desk::Object>(desk::MakeRef<varbel::VarbelTreeviewControl>()); }},
      {varbel::kPopUpMenusClsid, nullptr},
      {varbel::kPopUpMenuClsid, nullptr},
      {varbel::kControlExClsid,
       [] { return desk::Ref<desk::Object>(desk::MakeRef<varbel::VarbelTreeviewControlEx>()); }},
  };
  return desk::CreateByClassId(varbel::VarbelTreeviewControl::TypeLib(), factories, clsid, out, message,
                               size);
}

extern "C" const desk::TypeLibInfo* VarbelTreeview_TypeLib() { return &varbel::VarbelTreeviewControl::TypeLib(); }
