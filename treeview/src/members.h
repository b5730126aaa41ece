// The control's interface, one row per member, and its events, one row per event: the only
// lists of them. The dispatch table, the type library, the settings in the property bag and
// the event forwarding are all derived from these rows (a method's parameters and a special
// member's body are columns of its row), and the checks below make a row that contradicts
// itself (a stored member without a field of its type, an event whose id the tree raises
// under another) a build error. The typed C++ accessors are checked against the rows when
// they are compiled (VarbelTreeviewControl.cpp).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "PopUpMenus.h"
#include "VarbelTreeviewControl.h"
#include "desk/dispatch.h"
#include "desk/font.h"
#include "desk/picture.h"
#include "desk/tree.h"

namespace varbel {

// What a member is: forwarded to the inner tree, a value the control keeps, a method that does
// nothing, or one with a body of its own.
enum class Shape : uint8_t { Forwarded, Stored, Inert, Special };
enum class Kinds : uint8_t { GetLet, GetSet, Get, Method };
// What an object-typed member holds: any object, a picture, a font, or (ActiveControl) a
// Variant that must hold an object; the special members' results are the tree's node
// collection, a node, and the popup collection.
enum class ObjKind : uint8_t { None, Any, Picture, Font, Control, Nodes, Node, PopUpMenus };
// `o` when it is Nothing or an object of the kind the member holds; 13 otherwise.
inline desk::Ref<desk::Object> CheckObject(ObjKind k, desk::Ref<desk::Object> o) {
  if (!o) return o;
  if (k == ObjKind::Picture && !desk::RefCast<desk::Picture>(o)) desk::Raise(desk::Err::TypeMismatch);
  if (k == ObjKind::Font && !desk::RefCast<desk::Font>(o)) desk::Raise(desk::Err::TypeMismatch);
  return o;
}

// The value a property hands to the bag as its default, in its own type. Zero is the stored
// members' default: Integer 0, "" for a string, Nothing for an object.
enum class DefKind : uint8_t { Zero, Integer, Boolean, String, Double, AmbientFont };
struct Default {
  DefKind kind = DefKind::Zero;
  double number = 0;
  const char16_t* text = u"";
};

using FieldPtr = std::variant<int16_t VarbelTreeviewControl::*, int32_t VarbelTreeviewControl::*,
                              float VarbelTreeviewControl::*, std::u16string VarbelTreeviewControl::*,
                              desk::Ref<desk::Object> VarbelTreeviewControl::*>;

// Every property (Get with Let or Set) is saved under its name, in interface order.
enum class Load : uint8_t {
  Direct,         // straight into the field or the tree: nothing is notified
  ThroughMember,  // through the control's own member, as a host's write would
  Never,          // saved for the host's benefit only
};

struct Desc {
  const char* name;
  Kinds kinds;
  Shape shape;
  desk::VarType type;       // value type of a property, result type of a method
  desk::DispId inner = 0;   // forwarded: the inner tree's member id
  desk::DispId methodId = 0;  // methods: the published id
  ObjKind obj = ObjKind::None;
  FieldPtr field{};         // stored: the control's field
  Default saved{};          // properties: the default handed to the bag
  Load load = Load::Direct;
  std::span<const desk::ParamInfo> params{};  // methods: their parameters in published order
  desk::Handler<VarbelTreeviewControl> body = nullptr;  // special: the member's own body
};

// A property with a write: saved in the property bag (Nodes and PopUpMenus are not).
constexpr bool IsSaved(const Desc& d) { return d.kinds == Kinds::GetLet || d.kinds == Kinds::GetSet; }

// The parameters of the methods that take any, in their published order.
namespace params {
using P = desk::ParamInfo;
constexpr desk::VarType I = desk::VarType::Integer, L = desk::VarType::Long, S = desk::VarType::Single,
                        T = desk::VarType::String, O = desk::VarType::Object, V = desk::VarType::Any;
constexpr P ByRef(const char* n, desk::VarType t) { return {n, t, true}; }
constexpr P OptV(const char* n) { return {n, V, false, true}; }  // an optional Variant
constexpr P OptRefV(const char* n) { return {n, V, true, true}; }
// External linkage: the rows, one constant in every source, point at these.
inline constexpr P kStr[] = {{"Str", T}};
inline constexpr P kSize[] = {{"Width", S}, {"Height", S}};
inline constexpr P kScaleY[] = {{"Height", S}, OptV("FromScale"), OptV("ToScale")};
inline constexpr P kScaleX[] = {{"Width", S}, OptV("FromScale"), OptV("ToScale")};
inline constexpr P kScale[] = {OptRefV("X1"), OptRefV("Y1"), OptRefV("X2"), OptRefV("Y2")};
inline constexpr P kPSet[] = {ByRef("x", S), ByRef("y", S), ByRef("Color", L)};
inline constexpr P kPoint[] = {ByRef("x", S), ByRef("y", S)};
inline constexpr P kPaintPicture[] = {{"Picture", O, false, false, "Picture"},
                                      {"X1", S},
                                      {"Y1", S},
                                      OptV("Width1"),
                                      OptV("Height1"),
                                      OptV("X2"),
                                      OptV("Y2"),
                                      OptV("Width2"),
                                      OptV("Height2"),
                                      OptV("Opcode")};
inline constexpr P kLine[] = {{"Flags", I}, {"X1", S}, {"Y1", S}, {"X2", S}, {"Y2", S}, {"Color", L}};
inline constexpr P kDataMember[] = {{"DataMember", T}};
inline constexpr P kCircle[] = {ByRef("x", S),        ByRef("y", S),      ByRef("Radius", S), ByRef("Color", L),
                                ByRef("StartPos", S), ByRef("EndPos", S), ByRef("Aspect", S)};
inline constexpr P kPropertyName[] = {{"PropertyName", T}};
inline constexpr P kCancelAsyncRead[] = {OptV("Property")};
inline constexpr P kAsyncRead[] = {{"Target", T}, {"AsyncType", L}, OptV("PropertyName"), OptV("AsyncReadOptions")};
inline constexpr P kPopUpMenu[] = {{"Menu", O}, OptV("Flags"), OptV("x"), OptV("y"), OptV("DefaultMenu")};
inline constexpr P kDoHitTest[] = {ByRef("x", I), ByRef("y", I)};
}  // namespace params

// What the rows are written with (a base, so that the rows below may name them unqualified).
struct RowMakers {
  static constexpr Default Int(int16_t v) { return {DefKind::Integer, static_cast<double>(v)}; }
  static constexpr Default Bool(bool v) { return {DefKind::Boolean, v ? -1.0 : 0.0}; }
  static constexpr Default Str(const char16_t* s) { return {DefKind::String, 0, s}; }
  static constexpr Default Dbl(double v) { return {DefKind::Double, v}; }
  static constexpr Default kZero{};
  static constexpr Default kAmbientFont{DefKind::AmbientFont};

  static constexpr Kinds PropertyKinds(desk::VarType t) {
    return t == desk::VarType::Object ? Kinds::GetSet : Kinds::GetLet;
  }
  static constexpr Desc Stored(const char* n, desk::VarType t, FieldPtr f, ObjKind o = ObjKind::None) {
    return {n, PropertyKinds(t), Shape::Stored, t, 0, 0, o, f};
  }
  static constexpr Desc Forwarded(const char* n, desk::VarType t, desk::DispId inner, Default saved,
                                  ObjKind o = ObjKind::None, Load load = Load::Direct) {
    return {n, PropertyKinds(t), Shape::Forwarded, t, inner, 0, o, {}, saved, load};
  }
  static constexpr Desc ForwardedMethod(const char* n, desk::DispId inner, desk::DispId id) {
    return {n, Kinds::Method, Shape::Forwarded, desk::VarType::Empty, inner, id};
  }
  static constexpr Desc Inert(const char* n, desk::VarType result, desk::DispId id,
                              std::span<const desk::ParamInfo> params = {}) {
    return {n, Kinds::Method, Shape::Inert, result, 0, id, ObjKind::None, {}, {}, Load::Direct, params};
  }
  static constexpr Desc Special(const char* n, Kinds k, desk::VarType t, desk::DispId id,
                                desk::Handler<VarbelTreeviewControl> body, ObjKind o = ObjKind::None,
                                std::span<const desk::ParamInfo> params = {}) {
    return {n, k, Shape::Special, t, 0, id, o, {}, {}, Load::Direct, params, body};
  }

  static constexpr desk::VarType B = desk::VarType::Boolean, I = desk::VarType::Integer, L = desk::VarType::Long,
                                 S = desk::VarType::Single, T = desk::VarType::String, O = desk::VarType::Object,
                                 V = desk::VarType::Any, E = desk::VarType::Empty;
};

// The rows live in a friend of the control: a stored row names the private field it keeps.
struct ControlMembers : RowMakers {
  using C = VarbelTreeviewControl;

  static const std::array<Desc, 90> kRows;

  // The special members' bodies: each hands its arguments to the control's own member.
  static desk::Variant NodesBody(C& c, desk::Args&) { return desk::Variant::Object(c.Nodes()); }
  static desk::Variant PopUpMenusBody(C& c, desk::Args&) { return desk::Variant::Object(c.GetPopUpMenus()); }
  static desk::Variant PopUpMenuBody(C& c, desk::Args& a) {
    c.PopUpMenu(a.Obj(0), a[1], a[2], a[3], a[4]);
    return desk::Variant();
  }
  static desk::Variant ShowPopupMenuBody(C& c, desk::Args&) { return c.ShowPopupMenu(); }
  static desk::Variant DoHitTestBody(C& c, desk::Args& a) {
    return desk::Variant::Object(c.DoHitTest(a.Integer(0), a.Integer(1)));
  }

  // A stored row's field is of its member's type: 16 bits for Boolean and Integer.
  static constexpr bool FieldFits(const Desc& d) {
    return std::visit(
        [&](auto p) {
          if (p == nullptr) return false;
          using P = std::remove_cvref_t<decltype(std::declval<C&>().*p)>;
          switch (d.type) {
            case B:
            case I: return std::is_same_v<P, int16_t>;
            case L: return std::is_same_v<P, int32_t>;
            case S: return std::is_same_v<P, float>;
            case T: return std::is_same_v<P, std::u16string>;
            case O: return std::is_same_v<P, desk::Ref<desk::Object>>;
            default: return false;
          }
        },
        d.field);
  }

  static desk::Ref<desk::Object> Tree(C& c) { return c.Tree(); }
  static desk::TreeView& InnerTree(C& c) { return c.surface_->Tree(); }
  static desk::Surface& Surface(C& c) { return *c.surface_; }
  static void Notify(C& c, const std::u16string& name) { c.surface_->PropertyChanged(name); }

  // A stored field's value in the member's type (a 16-bit field is a Boolean or an Integer).
  static desk::Variant Read(C& c, const Desc& d) {
    return std::visit(
        [&](auto p) -> desk::Variant {
          using P = std::remove_cvref_t<decltype(c.*p)>;
          if constexpr (std::is_same_v<P, int16_t>) {
            return d.type == B ? desk::Variant::BoolRaw(c.*p) : desk::Variant::Integer(c.*p);
          } else if constexpr (std::is_same_v<P, int32_t>) {
            return desk::Variant::Long(c.*p);
          } else if constexpr (std::is_same_v<P, float>) {
            return desk::Variant::Single(c.*p);
          } else if constexpr (std::is_same_v<P, std::u16string>) {
            return desk::Variant::String(c.*p);
          } else {
            return desk::Variant::Object(c.*p);
          }
        },
        d.field);
  }

  // `v` is already of the member's type (converted by the dispatcher or the load).
  static void Write(C& c, const Desc& d, const desk::Variant& v) {
    std::visit(
        [&](auto p) {
          using P = std::remove_cvref_t<decltype(c.*p)>;
          if constexpr (std::is_same_v<P, int16_t>) {
            c.*p = v.ValueType() == B ? v.RawBoolean() : v.RawInteger();
          } else if constexpr (std::is_same_v<P, int32_t>) {
            c.*p = v.RawLong();
          } else if constexpr (std::is_same_v<P, float>) {
            c.*p = v.RawSingle();
          } else if constexpr (std::is_same_v<P, std::u16string>) {
            c.*p = v.RawString();
          } else {
            c.*p = v.RawObject();  // the reference held before is released here
          }
        },
        d.field);
  }
};

// The default interface in its published order.
inline constexpr std::array<Desc, 90> ControlMembers::kRows{{
    Stored("BackColor", L, &C::m_BackColor),
    Stored("ForeColor", L, &C::m_ForeColor),
    Forwarded("Enabled", B, desk::ext::kEnabled, Bool(true)),
    Forwarded("Font", O, desk::treeid::kFont, kAmbientFont, ObjKind::Font),
    Stored("BackStyle", I, &C::m_BackStyle),
    Forwarded("BorderStyle", L, desk::treeid::kBorderStyle, Int(0)),
    ForwardedMethod("Refresh", desk::treeid::kRefresh, 0x60030042),
    Forwarded("WhatsThisHelpID", L, desk::ext::kWhatsThisHelpID, Int(0)),
    Inert("ValidateControls", E, 0x6003004B),
    Forwarded("ToolTipText", T, desk::ext::kToolTipText, Str(u"")),
    Inert("TextWidth", S, 0x60030051, params::kStr),
    Inert("TextHeight", S, 0x60030052, params::kStr),
    Forwarded("Style", L, desk::treeid::kStyle, Int(7)),
    ForwardedMethod("StartLabelEdit", desk::treeid::kStartLabelEdit, 0x60030053),
    Forwarded("Sorted", B, desk::treeid::kSorted, Bool(false)),
    Inert("Size", E, 0x60030054, params::kSize),
    Forwarded("SingleSel", B, desk::treeid::kSingleSel, Bool(false)),
    Forwarded("Scroll", B, desk::treeid::kScroll, Bool(true)),
    Inert("ScaleY", S, 0x60030055, params::kScaleY),
    Inert("ScaleX", S, 0x60030056, params::kScaleX),
    Stored("ScaleWidth", S, &C::m_ScaleWidth),
    Stored("ScaleTop", S, &C::m_ScaleTop),
    Stored("ScaleMode", I, &C::m_ScaleMode),
    Stored("ScaleLeft", S, &C::m_ScaleLeft),
    Stored("ScaleHeight", S, &C::m_ScaleHeight),
    Inert("Scale_", E, 0x60030057, params::kScale),
    Stored("RightToLeft", B, &C::m_RightToLeft),
    Inert("PSet_", E, 0x60030058, params::kPSet),
    Special("PopUpMenu", Kinds::Method, E, 0x60030059, PopUpMenuBody, ObjKind::None, params::kPopUpMenu),
    Inert("Point", L, 0x6003005A, params::kPoint),
    Stored("Picture", O, &C::m_Picture, ObjKind::Picture),
    Forwarded("PathSeparator", T, desk::treeid::kPathSeparator, Str(u"\\")),
    Stored("PaletteMode", I, &C::m_PaletteMode),
    Stored("Palette", O, &C::m_Palette, ObjKind::Picture),
    Inert("PaintPicture", E, 0x6003005B, params::kPaintPicture),
    Forwarded("OLEDropMode", L, desk::treeid::kOLEDropMode, Int(0), ObjKind::None, Load::Never),
    Forwarded("OLEDragMode", L, desk::treeid::kOLEDragMode, Int(0), ObjKind::None, Load::Never),
    ForwardedMethod("OLEDrag", desk::treeid::kOLEDrag, 0x6003005D),
    Forwarded("MousePointer", L, desk::treeid::kMousePointer, Int(0)),
    Forwarded("MouseIcon", O, desk::treeid::kMouseIcon, kZero, ObjKind::Picture, Load::ThroughMember),
    Stored("MaskPicture", O, &C::m_MaskPicture, ObjKind::Picture),
    Stored("MaskColor", L, &C::m_MaskColor),
    Forwarded("LineStyle", L, desk::treeid::kLineStyle, Int(0)),
    Inert("Line", E, 0x60030061, params::kLine),
    Forwarded("LabelEdit", L, desk::treeid::kLabelEdit, Int(0)),
    Forwarded("Indentation", S, desk::treeid::kIndentation, Dbl(566.9291)),
    Forwarded("ImageList", O, desk::treeid::kImageList, kZero, ObjKind::Any, Load::ThroughMember),
    Stored("Image", O, &C::m_Image, ObjKind::Picture),
    Stored("HyperLink", O, &C::m_HyperLink, ObjKind::Any),
    Stored("hWnd", L, &C::m_hWnd),
    Forwarded("HotTracking", B, desk::treeid::kHotTracking, Bool(false)),
    Stored("HitBehavior", I, &C::m_HitBehavior),
    Forwarded("HideSelection", B, desk::treeid::kHideSelection, Bool(true)),
    Stored("hDC", L, &C::m_hDC),
    Stored("HasDC", B, &C::m_HasDC),
    Forwarded("FullRowSelect", B, desk::treeid::kFullRowSelect, Bool(false)),
    Stored("FontUnderline", B, &C::m_FontUnderline),
    Stored("FontTransparent", B, &C::m_FontTransparent),
    Stored("FontStrikethru", B, &C::m_FontStrikethru),
    Stored("FontSize", S, &C::m_FontSize),
    Stored("FontName", T, &C::m_FontName),
    Stored("FontItalic", B, &C::m_FontItalic),
    Stored("FontBold", B, &C::m_FontBold),
    Stored("FillStyle", I, &C::m_FillStyle),
    Stored("FillColor", L, &C::m_FillColor),
    Stored("DrawWidth", I, &C::m_DrawWidth),
    Stored("DrawStyle", I, &C::m_DrawStyle),
    Stored("DrawMode", I, &C::m_DrawMode),
    Stored("DataMembers", O, &C::m_DataMembers, ObjKind::Any),
    Inert("DataMemberChanged", E, 0x60030063, params::kDataMember),
    Stored("CurrentY", S, &C::m_CurrentY),
    Stored("CurrentX", S, &C::m_CurrentX),
    Stored("Controls", O, &C::m_Controls, ObjKind::Any),
    Stored("ContainerHwnd", L, &C::m_ContainerHwnd),
    Inert("Cls", E, 0x60030065),
    Stored("ClipControls", B, &C::m_ClipControls),
    Stored("ClipBehavior", I, &C::m_ClipBehavior),
    Inert("Circle_", E, 0x60030066, params::kCircle),
    Forwarded("Checkboxes", B, desk::treeid::kCheckboxes, Bool(false)),
    Forwarded("CausesValidation", B, desk::ext::kCausesValidation, Bool(true)),
    Inert("CanPropertyChange", B, 0x60030067, params::kPropertyName),
    Inert("CancelAsyncRead", E, 0x60030068, params::kCancelAsyncRead),
    Stored("AutoRedraw", B, &C::m_AutoRedraw),
    Inert("AsyncRead", E, 0x6003006A, params::kAsyncRead),
    Forwarded("Appearance", L, desk::treeid::kAppearance, Int(1)),
    Stored("ActiveControl", O, &C::m_ActiveControl, ObjKind::Control),
    Special("Nodes", Kinds::Get, O, 0, NodesBody, ObjKind::Nodes),
    Special("PopUpMenus", Kinds::Get, O, 0, PopUpMenusBody, ObjKind::PopUpMenus),
    Special("ShowPopupMenu", Kinds::Method, V, 0x60030072, ShowPopupMenuBody),
    Special("DoHitTest", Kinds::Method, O, 0x60030073, DoHitTestBody, ObjKind::Node, params::kDoHitTest),
}};

inline constexpr const auto& kMembers = ControlMembers::kRows;

static_assert(std::ranges::all_of(kMembers, [](const Desc& d) {
                return d.shape == Shape::Stored ? ControlMembers::FieldFits(d) : d.field.index() == 0 &&
                                                                                     std::get<0>(d.field) == nullptr;
              }),
              "every stored member names a field of its type, and only stored members name one");
static_assert(std::ranges::all_of(kMembers, [](const Desc& d) {
                return (d.shape != Shape::Forwarded) || d.inner != 0;
              }),
              "every forwarded member names the tree's member");
static_assert(std::ranges::all_of(kMembers, [](const Desc& d) { return (d.shape == Shape::Special) == (d.body != nullptr); }),
              "every special member has a body of its own, and only a special member has one");
static_assert(std::ranges::all_of(kMembers, [](const Desc& d) {
                // A caller may leave out only the last arguments.
                return (d.params.empty() || d.kinds == Kinds::Method) &&
                       std::ranges::is_partitioned(d.params, [](const desk::ParamInfo& p) { return !p.optional; });
              }),
              "only methods take parameters, the optional ones last");

// A property's id is 0x68030000 plus the number of properties after it (Font not counted);
// Font has the platform's standard font id.
constexpr desk::DispId IdAt(size_t i) {
  const Desc& d = kMembers[i];
  if (d.kinds == Kinds::Method) return d.methodId;
  if (std::string_view(d.name) == "Font") return -512;
  desk::DispId after = 0;
  for (size_t j = i + 1; j < kMembers.size(); ++j)
    if (kMembers[j].kinds != Kinds::Method && std::string_view(kMembers[j].name) != "Font") ++after;
  return 0x68030000 + after;
}

constexpr size_t IndexOf(std::string_view name) {
  for (size_t i = 0; i < kMembers.size(); ++i)
    if (name == kMembers[i].name) return i;
  return kMembers.size();
}

// ---- Events ---------------------------------------------------------------------------------

// Up to seven parameters, kept in the row so that the whole event list is one constant.
struct EventParams {
  std::array<desk::ParamInfo, 7> at{};
  uint8_t count = 0;
  constexpr EventParams() = default;
  constexpr EventParams(std::initializer_list<desk::ParamInfo> list) {
    for (const desk::ParamInfo& p : list) at[count++] = p;
  }
};

struct EventDesc {
  const char* name;
  desk::DispId id;
  EventParams params;
  const char* help = nullptr;
  // Raised again when the inner tree raises it: the tree's id for it (checked equal to `id`).
  desk::DispId fromTree = 0;
};

namespace events {
constexpr desk::ParamInfo Ref(const char* n, desk::VarType t, const char* objType = nullptr) {
  return {n, t, true, false, objType};
}
constexpr desk::ParamInfo Val(const char* n, desk::VarType t, const char* objType = nullptr) {
  return {n, t, false, false, objType};
}
constexpr desk::VarType i16 = desk::VarType::Integer, i32 = desk::VarType::Long, f = desk::VarType::Single,
                        b = desk::VarType::Boolean, s = desk::VarType::String, o = desk::VarType::Object;
constexpr EventParams kMouse{Ref("Button", i16), Ref("Shift", i16), Ref("x", f), Ref("y", f)};
constexpr EventParams kKeys{Ref("KeyCode", i16), Ref("Shift", i16)};
constexpr EventParams kNode{Val("Node", o, "Node")};
constexpr EventParams kBag{Ref("PropBag", o, "PropertyBag")};
constexpr EventParams kAsync{Ref("AsyncProp", o, "AsyncProperty")};
namespace te = desk::treeevent;

// The event interface in its published order.
constexpr std::array<EventDesc, 33> kEvents{{
    {"onMenuClick", 1, {Ref("MenuName", s)}},
    {"Click", 2, {}, "Occurs when the user presses and then releases a mouse button over an object.", te::kClick},
    {"DblClick", 3, {},
     "Occurs when you press and release a mouse button and then press and release it again over an object.",
     te::kDblClick},
    {"KeyDown", 4, kKeys, "Occurs when the user presses a key while an object has the focus.", te::kKeyDown},
    {"KeyPress", 5, {Ref("KeyAscii", i16)}, "Occurs when the user presses and releases an ANSI key.", te::kKeyPress},
    {"KeyUp", 6, kKeys, "Occurs when the user releases a key while an object has the focus.", te::kKeyUp},
    {"MouseDown", 7, kMouse, "Occurs when the user presses the mouse button while an object has the focus.",
     te::kMouseDown},
    {"MouseMove", 8, kMouse, "Occurs when the user moves the mouse.", te::kMouseMove},
    {"MouseUp", 9, kMouse, "Occurs when the user releases the mouse button while an object has the focus.",
     te::kMouseUp},
    {"WriteProperties", 10, kBag, "Occurs when a user control or user document is asked to write its data to a file."},
    {"Validate", 11, {Ref("Cancel", b)}, "Occurs when a control loses focus to a control that causes validation.",
     te::kValidate},
    {"Show", 12, {}, "Occurs when the control's Visible property changes to True."},
    {"Resize", 13, {}, "Occurs when a form is first displayed or the size of an object changes."},
    {"ReadProperties", 14, kBag, "Occurs when a user control or user document is asked to read its data from a file."},
    {"Paint", 15, {}, "Occurs when any part of a form or PictureBox control is moved, enlarged, or exposed."},
    {"OLEStartDrag", 16, {Ref("Data", o, "DataObject"), Ref("AllowedEffects", i32)}, nullptr, te::kOLEStartDrag},
    {"OLESetData", 17, {Ref("Data", o, "DataObject"), Ref("DataFormat", i16)}, nullptr, te::kOLESetData},
    {"OLEGiveFeedback", 18, {Ref("Effect", i32), Ref("DefaultCursors", b)}, "OLEGiveFeedback event",
     te::kOLEGiveFeedback},
    {"OLEDragOver", 19,
     {Ref("Data", o, "DataObject"), Ref("Effect", i32), Ref("Button", i16), Ref("Shift", i16), Ref("x", f),
      Ref("y", f), Ref("State", i16)},
     nullptr, te::kOLEDragOver},
    {"OLEDragDrop", 20,
     {Ref("Data", o, "DataObject"), Ref("Effect", i32), Ref("Button", i16), Ref("Shift", i16), Ref("x", f),
      Ref("y", f)},
     nullptr, te::kOLEDragDrop},
    {"OLECompleteDrag", 21, {Ref("Effect", i32)}, "OLECompleteDrag event", te::kOLECompleteDrag},
    {"NodeClick", 22, kNode, "Occurs when a Node object is clicked.", te::kNodeClick},
    {"NodeCheck", 23, kNode, "Occurs when Checkboxes = True and a Node object is checked/unchecked.",
     te::kNodeCheck},
    {"InitProperties", 24, {}, "Occurs the first time a user control or user document is created."},
    {"HitTest", 25, {Ref("x", f), Ref("y", f), Ref("HitResult", i16)},
     "Occurs in a windowless user control in response to mouse activity."},
    {"Hide", 26, {}, "Occurs when the control's Visible property changes to False."},
    {"GetDataMember", 27, {Ref("DataMember", s), Ref("Data", o)},
     "Occurs when a data consumer is asking this data source for one of it's data members."},
    {"Expand", 28, kNode,
     "Occurs when a Node object in a TreeView control is expanded; that is, when its child nodes become visible.",
     te::kExpand},
    {"Collapse", 29, kNode, "Generated when any Node object in a TreeView control is collapsed.", te::kCollapse},
    {"BeforeLabelEdit", 30, {Ref("Cancel", i16)},
     "Occurs when a user attempts to edit the label of the currently selected ListItem or Node object.",
     te::kBeforeLabelEdit},
    {"AsyncReadProgress", 31, kAsync, "Occurs when more data is available as a result of the AsyncReadProgress method."},
    {"AsyncReadComplete", 32, kAsync, "Occurs when all of the data is available as a result of the AsyncRead method."},
    {"AfterLabelEdit", 33, {Ref("Cancel", i16), Ref("NewString", s)},
     "Occurs after a user edits the label of the currently selected Node or ListItem object.", te::kAfterLabelEdit},
}};
}  // namespace events

using events::kEvents;

constexpr desk::DispId EventId(std::string_view name) {
  for (const EventDesc& e : kEvents)
    if (name == e.name) return e.id;
  return desk::kNoDispId;
}

static_assert(std::ranges::all_of(kEvents, [](const EventDesc& e) { return e.fromTree == 0 || e.fromTree == e.id; }),
              "an event the tree raises is raised again under the tree's id");
static_assert(std::ranges::count_if(kEvents, [](const EventDesc& e) { return e.fromTree != 0; }) == 21,
              "the tree raises 21 events");

inline constexpr desk::DispId kOnMenuClick = EventId("onMenuClick");
static_assert(kOnMenuClick != desk::kNoDispId);

}  // namespace varbel
