// The library's type information, its event interface and its C entry points.
#include <cstring>

#include "VarbelTreeview/PopUpMenus.h"
#include "VarbelTreeview/VarbelTreeviewControl.h"
#include "VarbelTreeview/VarbelTreeview.h"
#include "desk/component.h"

namespace varbel {

using desk::InvokeKind;
using desk::ParamInfo;
using desk::VarType;

const desk::InterfaceInfo& VarbelTreeviewControl::Events() {
  static const desk::InterfaceInfo info = [] {
    const VarType i16 = VarType::Integer, i32 = VarType::Long, f = VarType::Single, b = VarType::Boolean,
                  s = VarType::String, o = VarType::Object;
    auto ref = [](const char* n, VarType t, const char* objType = nullptr) { return ParamInfo{n, t, true, false, objType}; };
    auto val = [](const char* n, VarType t, const char* objType) { return ParamInfo{n, t, false, false, objType}; };
    const std::vector<ParamInfo> mouse{ref("Button", i16), ref("Shift", i16), ref("x", f), ref("y", f)};
    const std::vector<ParamInfo> keys{ref("KeyCode", i16), ref("Shift", i16)};
    const std::vector<ParamInfo> node{val("Node", o, "Node")};
    const std::vector<ParamInfo> bag{ref("PropBag", o, "PropertyBag")};
    const std::vector<ParamInfo> async{ref("AsyncProp", o, "AsyncProperty")};
    auto ev = [](const char* name, desk::DispId id, std::vector<ParamInfo> p, const char* help) {
      return desk::MemberInfo{name, id, InvokeKind::Method, std::move(p), VarType::Empty, help};
    };
    desk::InterfaceInfo i;
    i.name = "__VarbelTreeviewControl";
    i.iid = kEventsIid;
    i.members = {
        ev("onMenuClick", 1, {ref("MenuName", s)}, nullptr),
        ev("Click", 2, {}, "Occurs when the user presses and then releases a mouse button over an object."),
        ev("DblClick", 3, {},
           "Occurs when you press and release a mouse button and then press and release it again over an object."),
        ev("KeyDown", 4, keys, "Occurs when the user presses a key while an object has the focus."),
        ev("KeyPress", 5, {ref("KeyAscii", i16)}, "Occurs when the user presses and releases an ANSI key."),
        ev("KeyUp", 6, keys, "Occurs when the user releases a key while an object has the focus."),
        ev("MouseDown", 7, mouse, "Occurs when the user presses the mouse button while an object has the focus."),
        ev("MouseMove", 8, mouse, "Occurs when the user moves the mouse."),
        ev("MouseUp", 9, mouse, "Occurs when the user releases the mouse button while an object has the focus."),
        ev("WriteProperties", 10, bag, "Occurs when a user control or user document is asked to write its data to a file."),
        ev("Validate", 11, {ref("Cancel", b)}, "Occurs when a control loses focus to a control that causes validation."),
        ev("Show", 12, {}, "Occurs when the control's Visible property changes to True."),
        ev("Resize", 13, {}, "Occurs when a form is first displayed or the size of an object changes."),
        ev("ReadProperties", 14, bag, "Occurs when a user control or user document is asked to read its data from a file."),
        ev("Paint", 15, {}, "Occurs when any part of a form or PictureBox control is moved, enlarged, or exposed."),
        ev("OLEStartDrag", 16, {ref("Data", o, "DataObject"), ref("AllowedEffects", i32)}, nullptr),
        ev("OLESetData", 17, {ref("Data", o, "DataObject"), ref("DataFormat", i16)}, nullptr),
        ev("OLEGiveFeedback", 18, {ref("Effect", i32), ref("DefaultCursors", b)}, "OLEGiveFeedback event"),
        ev("OLEDragOver", 19,
           {ref("Data", o, "DataObject"), ref("Effect", i32), ref("Button", i16), ref("Shift", i16), ref("x", f),
            ref("y", f), ref("State", i16)},
           nullptr),
        ev("OLEDragDrop", 20,
           {ref("Data", o, "DataObject"), ref("Effect", i32), ref("Button", i16), ref("Shift", i16), ref("x", f),
            ref("y", f)},
           nullptr),
        ev("OLECompleteDrag", 21, {ref("Effect", i32)}, "OLECompleteDrag event"),
        ev("NodeClick", 22, node, "Occurs when a Node object is clicked."),
        ev("NodeCheck", 23, node, "Occurs when Checkboxes = True and a Node object is checked/unchecked."),
        ev("InitProperties", 24, {}, "Occurs the first time a user control or user document is created."),
        ev("HitTest", 25, {ref("x", f), ref("y", f), ref("HitResult", i16)},
           "Occurs in a windowless user control in response to mouse activity."),
        ev("Hide", 26, {}, "Occurs when the control's Visible property changes to False."),
        ev("GetDataMember", 27, {ref("DataMember", s), ref("Data", o)},
           "Occurs when a data consumer is asking this data source for one of it's data members."),
        ev("Expand", 28, node,
           "Occurs when a Node object in a TreeView control is expanded; that is, when its child nodes become visible."),
        ev("Collapse", 29, node, "Generated when any Node object in a TreeView control is collapsed."),
        ev("BeforeLabelEdit", 30, {ref("Cancel", i16)},
           "Occurs when a user attempts to edit the label of the currently selected ListItem or Node object."),
        ev("AsyncReadProgress", 31, async,
           "Occurs when more data is available as a result of the AsyncReadProgress method."),
        ev("AsyncReadComplete", 32, async, "Occurs when all of the data is available as a result of the AsyncRead method."),
        ev("AfterLabelEdit", 33, {ref("Cancel", i16), ref("NewString", s)},
           "Occurs after a user edits the label of the currently selected Node or ListItem object."),
    };
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
      },
      {&Table().Info(), &Events(), &PopUpMenus::Table().Info(), &PopUpMenu::Table().Info()},
  };
  return lib;
}

}  // namespace varbel

extern "C" int32_t VarbelTreeview_CreateObject(const char* clsid, desk::Object** out, char* message, size_t size) {
  static const desk::ClassFactory factories[] = {
      {varbel::kControlClsid, [] { return desk::Ref<desk::Object>(desk::MakeRef<varbel::VarbelTreeviewControl>()); }},
      {varbel::kPopUpMenusClsid, nullptr},
      {varbel::kPopUpMenuClsid, nullptr},
  };
  return desk::CreateByClassId(varbel::VarbelTreeviewControl::TypeLib(), factories, std::size(factories), clsid, out,
                               message, size);
}

extern "C" const desk::TypeLibInfo* VarbelTreeview_TypeLib() { return &varbel::VarbelTreeviewControl::TypeLib(); }
