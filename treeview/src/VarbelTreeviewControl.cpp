// VarbelTreeviewControl: the interface table, the member families, layout, events and the
// popup road.
//
// Sections:
//   1. the interface in its published order (one row per member, ids computed from the order)
//   2. stored fields and inert-method signatures
//   3. building the dispatch table from the rows
//   4. typed members (one-liners over Get/Let/Set)
//   5. lifecycle, layout, event forwarding, popup display and hit testing
#include "VarbelTreeview/VarbelTreeviewControl.h"

#include <array>
#include <string_view>
#include <variant>

#include "VarbelTreeview/PopUpMenus.h"
#include "desk/font.h"
#include "desk/text.h"
#include "desk/tree.h"

namespace varbel {

using desk::Args;
using desk::DispId;
using desk::Err;
using desk::InvokeKind;
using desk::Ref;
using desk::Row;
using desk::Variant;
using desk::VarType;

namespace {

// ---- 1. The interface in its published order ------------------------------------------------

enum class Shape : uint8_t { Forwarded, Stored, Inert, Special };
enum class Kinds : uint8_t { GetLet, GetSet, Get, Method };
// What an object-typed member holds: any object, a picture, a font, or (ActiveControl) a
// Variant that must hold an object.
enum class ObjKind : uint8_t { None, Any, Picture, Font, Control };

struct Desc {
  const char* name;
  Kinds kinds;
  Shape shape;
  VarType type;          // value type of a property, result type of a method
  DispId inner = 0;      // forwarded: the inner tree's member id
  DispId methodId = 0;   // methods: the published id
  ObjKind obj = ObjKind::None;
};

constexpr VarType B = VarType::Boolean, I = VarType::Integer, L = VarType::Long, S = VarType::Single,
                  T = VarType::String, O = VarType::Object, V = VarType::Any, E = VarType::Empty;
constexpr Shape F = Shape::Forwarded, St = Shape::Stored, In = Shape::Inert, Sp = Shape::Special;
constexpr Kinds GL = Kinds::GetLet, GS = Kinds::GetSet, G = Kinds::Get, M = Kinds::Method;

constexpr std::array<Desc, 90> kMembers{{
    {"BackColor", GL, St, L},
    {"ForeColor", GL, St, L},
    {"Enabled", GL, F, B, desk::ext::kEnabled},
    {"Font", GS, F, O, desk::treeid::kFont, 0, ObjKind::Font},
    {"BackStyle", GL, St, I},
    {"BorderStyle", GL, F, L, desk::treeid::kBorderStyle},
    {"Refresh", M, F, E, desk::treeid::kRefresh, 0x60030042},
    {"WhatsThisHelpID", GL, F, L, desk::ext::kWhatsThisHelpID},
    {"ValidateControls", M, In, E, 0, 0x6003004B},
    {"ToolTipText", GL, F, T, desk::ext::kToolTipText},
    {"TextWidth", M, In, S, 0, 0x60030051},
    {"TextHeight", M, In, S, 0, 0x60030052},
    {"Style", GL, F, L, desk::treeid::kStyle},
    {"StartLabelEdit", M, F, E, desk::treeid::kStartLabelEdit, 0x60030053},
    {"Sorted", GL, F, B, desk::treeid::kSorted},
    {"Size", M, In, E, 0, 0x60030054},
    {"SingleSel", GL, F, B, desk::treeid::kSingleSel},
    {"Scroll", GL, F, B, desk::treeid::kScroll},
    {"ScaleY", M, In, S, 0, 0x60030055},
    {"ScaleX", M, In, S, 0, 0x60030056},
    {"ScaleWidth", GL, St, S},
    {"ScaleTop", GL, St, S},
    {"ScaleMode", GL, St, I},
    {"ScaleLeft", GL, St, S},
    {"ScaleHeight", GL, St, S},
    {"Scale_", M, In, E, 0, 0x60030057},
    {"RightToLeft", GL, St, B},
    {"PSet_", M, In, E, 0, 0x60030058},
    {"PopUpMenu", M, Sp, E, 0, 0x60030059},
    {"Point", M, In, L, 0, 0x6003005A},
    {"Picture", GS, St, O, 0, 0, ObjKind::Picture},
    {"PathSeparator", GL, F, T, desk::treeid::kPathSeparator},
    {"PaletteMode", GL, St, I},
    {"Palette", GS, St, O, 0, 0, ObjKind::Picture},
    {"PaintPicture", M, In, E, 0, 0x6003005B},
    {"OLEDropMode", GL, F, L, desk::treeid::kOLEDropMode},
    {"OLEDragMode", GL, F, L, desk::treeid::kOLEDragMode},
    {"OLEDrag", M, F, E, desk::treeid::kOLEDrag, 0x6003005D},
    {"MousePointer", GL, F, L, desk::treeid::kMousePointer},
    {"MouseIcon", GS, F, O, desk::treeid::kMouseIcon, 0, ObjKind::Picture},
    {"MaskPicture", GS, St, O, 0, 0, ObjKind::Picture},
    {"MaskColor", GL, St, L},
    {"LineStyle", GL, F, L, desk::treeid::kLineStyle},
    {"Line", M, In, E, 0, 0x60030061},
    {"LabelEdit", GL, F, L, desk::treeid::kLabelEdit},
    {"Indentation", GL, F, S, desk::treeid::kIndentation},
    {"ImageList", GS, F, O, desk::treeid::kImageList, 0, ObjKind::Any},
    {"Image", GS, St, O, 0, 0, ObjKind::Picture},
    {"HyperLink", GS, St, O, 0, 0, ObjKind::Any},
    {"hWnd", GL, St, L},
    {"HotTracking", GL, F, B, desk::treeid::kHotTracking},
    {"HitBehavior", GL, St, I},
    {"HideSelection", GL, F, B, desk::treeid::kHideSelection},
    {"hDC", GL, St, L},
    {"HasDC", GL, St, B},
    {"FullRowSelect", GL, F, B, desk::treeid::kFullRowSelect},
    {"FontUnderline", GL, St, B},
    {"FontTransparent", GL, St, B},
    {"FontStrikethru", GL, St, B},
    {"FontSize", GL, St, S},
    {"FontName", GL, St, T},
    {"FontItalic", GL, St, B},
    {"FontBold", GL, St, B},
    {"FillStyle", GL, St, I},
    {"FillColor", GL, St, L},
    {"DrawWidth", GL, St, I},
    {"DrawStyle", GL, St, I},
    {"DrawMode", GL, St, I},
    {"DataMembers", GS, St, O, 0, 0, ObjKind::Any},
    {"DataMemberChanged", M, In, E, 0, 0x60030063},
    {"CurrentY", GL, St, S},
    {"CurrentX", GL, St, S},
    {"Controls", GS, St, O, 0, 0, ObjKind::Any},
    {"ContainerHwnd", GL, St, L},
    {"Cls", M, In, E, 0, 0x60030065},
    {"ClipControls", GL, St, B},
    {"ClipBehavior", GL, St, I},
    {"Circle_", M, In, E, 0, 0x60030066},
    {"Checkboxes", GL, F, B, desk::treeid::kCheckboxes},
    {"CausesValidation", GL, F, B, desk::ext::kCausesValidation},
    {"CanPropertyChange", M, In, B, 0, 0x60030067},
    {"CancelAsyncRead", M, In, E, 0, 0x60030068},
    {"AutoRedraw", GL, St, B},
    {"AsyncRead", M, In, E, 0, 0x6003006A},
    {"Appearance", GL, F, L, desk::treeid::kAppearance},
    {"ActiveControl", GS, St, O, 0, 0, ObjKind::Control},
    {"Nodes", G, Sp, O},
    {"PopUpMenus", G, Sp, O},
    {"ShowPopupMenu", M, Sp, V, 0, 0x60030072},
    {"DoHitTest", M, Sp, O, 0, 0x60030073},
}};

constexpr bool IsProperty(const Desc& d) { return d.kinds != Kinds::Method; }

// A property's id is 0x68030000 plus the number of properties after it (Font not counted);
// Font has the platform's standard font id.
constexpr DispId IdAt(size_t i) {
  const Desc& d = kMembers[i];
  if (!IsProperty(d)) return d.methodId;
  if (std::string_view(d.name) == "Font") return -512;
  DispId after = 0;
  for (size_t j = i + 1; j < kMembers.size(); ++j)
    if (IsProperty(kMembers[j]) && std::string_view(kMembers[j].name) != "Font") ++after;
  return 0x68030000 + after;
}

constexpr size_t IndexOf(std::string_view name) {
  for (size_t i = 0; i < kMembers.size(); ++i)
    if (name == kMembers[i].name) return i;
  return kMembers.size();
}

constexpr size_t CountEntries() {
  size_t n = 0;
  for (const Desc& d : kMembers) n += (d.kinds == Kinds::GetLet || d.kinds == Kinds::GetSet) ? 2 : 1;
  return n;
}

constexpr size_t CountShape(Shape s) {
  size_t n = 0;
  for (const Desc& d : kMembers) n += d.shape == s ? 1 : 0;
  return n;
}

static_assert(CountEntries() == 155, "the default interface has 155 entries");
static_assert(CountShape(Shape::Forwarded) == 27 && CountShape(Shape::Stored) == 41 &&
              CountShape(Shape::Inert) == 17 && CountShape(Shape::Special) == 5);
static_assert(IdAt(IndexOf("BackColor")) == 0x68030041 && IdAt(IndexOf("ForeColor")) == 0x68030040 &&
              IdAt(IndexOf("Enabled")) == 0x6803003F && IdAt(IndexOf("BackStyle")) == 0x6803003E &&
              IdAt(IndexOf("Nodes")) == 0x68030001 && IdAt(IndexOf("PopUpMenus")) == 0x68030000);

// ---- 2. Stored fields and inert-method signatures -------------------------------------------

using C = VarbelTreeviewControl;
using FieldPtr = std::variant<int16_t C::*, int32_t C::*, float C::*, std::u16string C::*, Ref<desk::Object> C::*>;

}  // namespace

// The stored fields by member name; the only place that knows which field a member keeps.
struct ControlMembers {
  static Ref<desk::Object> Tree(C& c) { return c.Tree(); }
  static desk::TreeView& InnerTree(C& c) { return c.surface_->Tree(); }
  static void Notify(C& c, const std::u16string& name) { c.surface_->PropertyChanged(name); }
  static FieldPtr Field(std::string_view name) {
    static const std::array<std::pair<std::string_view, FieldPtr>, 41> fields{{
        {"BackColor", &C::m_BackColor},       {"ForeColor", &C::m_ForeColor},
        {"BackStyle", &C::m_BackStyle},       {"ScaleWidth", &C::m_ScaleWidth},
        {"ScaleTop", &C::m_ScaleTop},         {"ScaleMode", &C::m_ScaleMode},
        {"ScaleLeft", &C::m_ScaleLeft},       {"ScaleHeight", &C::m_ScaleHeight},
        {"RightToLeft", &C::m_RightToLeft},   {"Picture", &C::m_Picture},
        {"PaletteMode", &C::m_PaletteMode},   {"Palette", &C::m_Palette},
        {"MaskPicture", &C::m_MaskPicture},   {"MaskColor", &C::m_MaskColor},
        {"Image", &C::m_Image},               {"HyperLink", &C::m_HyperLink},
        {"hWnd", &C::m_hWnd},                 {"HitBehavior", &C::m_HitBehavior},
        {"hDC", &C::m_hDC},                   {"HasDC", &C::m_HasDC},
        {"FontUnderline", &C::m_FontUnderline}, {"FontTransparent", &C::m_FontTransparent},
        {"FontStrikethru", &C::m_FontStrikethru}, {"FontSize", &C::m_FontSize},
        {"FontName", &C::m_FontName},         {"FontItalic", &C::m_FontItalic},
        {"FontBold", &C::m_FontBold},         {"FillStyle", &C::m_FillStyle},
        {"FillColor", &C::m_FillColor},       {"DrawWidth", &C::m_DrawWidth},
        {"DrawStyle", &C::m_DrawStyle},       {"DrawMode", &C::m_DrawMode},
        {"DataMembers", &C::m_DataMembers},   {"CurrentY", &C::m_CurrentY},
        {"CurrentX", &C::m_CurrentX},         {"Controls", &C::m_Controls},
        {"ContainerHwnd", &C::m_ContainerHwnd}, {"ClipControls", &C::m_ClipControls},
        {"ClipBehavior", &C::m_ClipBehavior}, {"AutoRedraw", &C::m_AutoRedraw},
        {"ActiveControl", &C::m_ActiveControl},
    }};
    for (const auto& [n, f] : fields)
      if (n == name) return f;
    throw desk::Error(Err::NotSupported);  // a row without a field: a programming error
  }

  static Variant Read(C& c, const FieldPtr& f, VarType t) {
    return std::visit(
        [&](auto p) -> Variant {
          using P = std::remove_cvref_t<decltype(c.*p)>;
          if constexpr (std::is_same_v<P, int16_t>) {
            return t == VarType::Boolean ? Variant::BoolRaw(c.*p) : Variant::Integer(c.*p);
          } else if constexpr (std::is_same_v<P, int32_t>) {
            return Variant::Long(c.*p);
          } else if constexpr (std::is_same_v<P, float>) {
            return Variant::Single(c.*p);
          } else if constexpr (std::is_same_v<P, std::u16string>) {
            return Variant::String(c.*p);
          } else {
            return Variant::Object(c.*p);
          }
        },
        f);
  }

  // `v` is already of the member's type (the dispatcher converted it).
  static void Write(C& c, const FieldPtr& f, const Variant& v) {
    std::visit(
        [&](auto p) {
          using P = std::remove_cvref_t<decltype(c.*p)>;
          if constexpr (std::is_same_v<P, int16_t>) {
            c.*p = v.ValueType() == VarType::Boolean ? v.RawBoolean() : v.RawInteger();
          } else if constexpr (std::is_same_v<P, int32_t>) {
            c.*p = v.RawLong();
          } else if constexpr (std::is_same_v<P, float>) {
            c.*p = v.RawSingle();
          } else if constexpr (std::is_same_v<P, std::u16string>) {
            c.*p = v.RawString();
          } else {
            c.*p = v.RawObject();  // the old reference is released here
          }
        },
        f);
  }
};

namespace {

std::vector<desk::ParamInfo> ParamsOf(std::string_view name) {
  using P = desk::ParamInfo;
  auto optV = [](const char* n, bool byRef = false) { return P{n, V, byRef, true}; };
  if (name == "TextWidth" || name == "TextHeight") return {{"Str", T}};
  if (name == "Size") return {{"Width", S}, {"Height", S}};
  if (name == "ScaleY") return {{"Height", S}, optV("FromScale"), optV("ToScale")};
  if (name == "ScaleX") return {{"Width", S}, optV("FromScale"), optV("ToScale")};
  if (name == "Scale_") return {optV("X1", true), optV("Y1", true), optV("X2", true), optV("Y2", true)};
  if (name == "PSet_") return {{"x", S, true}, {"y", S, true}, {"Color", L, true}};
  if (name == "Point") return {{"x", S, true}, {"y", S, true}};
  if (name == "PaintPicture")
    return {{"Picture", O, false, false, "Picture"}, {"X1", S}, {"Y1", S}, optV("Width1"), optV("Height1"),
            optV("X2"), optV("Y2"), optV("Width2"), optV("Height2"), optV("Opcode")};
  if (name == "Line") return {{"Flags", I}, {"X1", S}, {"Y1", S}, {"X2", S}, {"Y2", S}, {"Color", L}};
  if (name == "DataMemberChanged") return {{"DataMember", T}};
  if (name == "Circle_")
    return {{"x", S, true},        {"y", S, true},      {"Radius", S, true}, {"Color", L, true},
            {"StartPos", S, true}, {"EndPos", S, true}, {"Aspect", S, true}};
  if (name == "CanPropertyChange") return {{"PropertyName", T}};
  if (name == "CancelAsyncRead") return {optV("Property")};
  if (name == "AsyncRead") return {{"Target", T}, {"AsyncType", L}, optV("PropertyName"), optV("AsyncReadOptions")};
  if (name == "PopUpMenu") return {{"Menu", O}, optV("Flags"), optV("x"), optV("y"), optV("DefaultMenu")};
  if (name == "DoHitTest") return {{"x", I, true}, {"y", I, true}};
  return {};
}

const char* ObjTypeName(ObjKind k) {
  switch (k) {
    case ObjKind::Picture: return "Picture";
    case ObjKind::Font: return "Font";
    case ObjKind::Control: return "Control";
    case ObjKind::Any:
    case ObjKind::None: break;
  }
  return nullptr;
}

// An object of the kind the member holds (Nothing is always accepted); 13 otherwise.
Ref<desk::Object> CheckObject(ObjKind k, Ref<desk::Object> o) {
  if (!o) return o;
  if (k == ObjKind::Picture && !desk::RefCast<desk::Picture>(o)) desk::Raise(Err::TypeMismatch);
  if (k == ObjKind::Font && !desk::RefCast<desk::Font>(o)) desk::Raise(Err::TypeMismatch);
  return o;
}

std::u16string NameOf(const Desc& d) { return desk::U16(d.name); }

// ---- 3. Building the dispatch table ---------------------------------------------------------

// What each row's handler needs of its member, resolved once when the table is built; a row
// carries its member's index in kMembers as its data word.
struct MemberExtra {
  std::u16string name;  // for PropertyChanged
  int setting = -1;     // forwarded to a tree setting: its index in the tree's settings
  FieldPtr field;       // stored: the control's field
};

const std::array<MemberExtra, kMembers.size()>& Extras() {
  static const auto extras = [] {
    std::array<MemberExtra, kMembers.size()> e;
    for (size_t i = 0; i < kMembers.size(); ++i) {
      const Desc& d = kMembers[i];
      e[i].name = NameOf(d);
      if (d.shape == Shape::Forwarded && d.kinds != Kinds::Method) e[i].setting = desk::TreeView::SettingIndex(d.inner);
      if (d.shape == Shape::Stored) e[i].field = ControlMembers::Field(d.name);
    }
    return e;
  }();
  return extras;
}

const Desc& DescOf(const Args& a) { return kMembers[a.Data()]; }
const MemberExtra& ExtraOf(const Args& a) { return Extras()[a.Data()]; }

// A forwarded member goes straight to the inner tree's typed entry: the value was already
// converted to the member's type by this control's dispatch, and the tree's setting check
// (range, kind of object) is the one that answers. The container-supplied ones (Enabled,
// ToolTipText and the like) belong to the tree's extended-control wrapper and go through it.
Variant ForwardedGet(C& c, Args& a) {
  const Desc& d = DescOf(a);
  const int setting = ExtraOf(a).setting;
  if (setting >= 0) {
    const Variant& v = ControlMembers::InnerTree(c).SettingAt(setting);
    if (d.type == VarType::Object) return Variant::Object(CheckObject(d.obj, v.ToObject()));
    return v.Type() == d.type ? v : v.ConvertTo(d.type);
  }
  std::vector<Variant> none;
  Variant v = ControlMembers::Tree(c)->Invoke(d.inner, InvokeKind::Get, none);
  if (d.type == VarType::Object) return Variant::Object(CheckObject(d.obj, v.ToObject()));
  if (v.Type() == d.type) return v;
  return v.ConvertTo(d.type);
}

Variant ForwardedLet(C& c, Args& a) {
  const Desc& d = DescOf(a);
  const MemberExtra& x = ExtraOf(a);
  if (x.setting >= 0) {
    desk::TreeView& tree = ControlMembers::InnerTree(c);
    Ref<desk::Object> keepTree(&tree);  // the tree's observers run inside
    tree.SetSettingAt(x.setting, a.NewValue());
  } else {
    Variant value = a.NewValue().Value();  // strings are copied before the call
    std::vector<Variant> args{Variant::ByRef(&value)};
    ControlMembers::Tree(c)->Invoke(d.inner, InvokeKind::Let, args);
  }
  ControlMembers::Notify(c, x.name);
  return Variant();
}

Variant ForwardedSet(C& c, Args& a) {
  const Desc& d = DescOf(a);
  const MemberExtra& x = ExtraOf(a);
  Ref<desk::Object> keep = CheckObject(d.obj, a.NewValue().ToObject());
  if (x.setting >= 0) {
    desk::TreeView& tree = ControlMembers::InnerTree(c);
    Ref<desk::Object> keepTree(&tree);
    tree.SetSettingAt(x.setting, Variant::Object(keep));
  } else {
    std::vector<Variant> args{Variant::Object(keep)};
    ControlMembers::Tree(c)->Invoke(d.inner, InvokeKind::Set, args);
  }
  ControlMembers::Notify(c, x.name);
  return Variant();
}

Variant ForwardedMethod(C& c, Args& a) {
  desk::TreeView& tree = ControlMembers::InnerTree(c);
  Ref<desk::Object> keep(&tree);
  switch (DescOf(a).inner) {
    case desk::treeid::kRefresh: tree.Refresh(); break;
    case desk::treeid::kStartLabelEdit: tree.StartLabelEdit(); break;
    case desk::treeid::kOLEDrag: tree.OLEDrag(); break;
    default: {
      std::vector<Variant> none;
      ControlMembers::Tree(c)->Invoke(DescOf(a).inner, InvokeKind::Method, none);
    }
  }
  return Variant();
}

void AddForwarded(std::vector<Row<C>>& rows, const Desc& d, DispId id, uint32_t at) {
  const char* objType = ObjTypeName(d.obj);
  if (d.kinds == Kinds::Method) {
    rows.push_back({{d.name, id, InvokeKind::Method, {}}, ForwardedMethod, at});
    return;
  }
  rows.push_back({{d.name, id, InvokeKind::Get, {}, d.type, nullptr, false, objType}, ForwardedGet, at});
  if (d.kinds == Kinds::GetLet) rows.push_back({{d.name, id, InvokeKind::Let, {}, d.type}, ForwardedLet, at});
  else rows.push_back({{d.name, id, InvokeKind::Set, {}, d.type, nullptr, false, objType}, ForwardedSet, at});
}

void AddStored(std::vector<Row<C>>& rows, const Desc& d, DispId id, uint32_t at) {
  const char* objType = ObjTypeName(d.obj);
  rows.push_back({{d.name, id, InvokeKind::Get, {}, d.type, nullptr, false, objType},
                  [](C& c, Args& a) { return ControlMembers::Read(c, ExtraOf(a).field, DescOf(a).type); }, at});
  if (d.kinds == Kinds::GetLet) {
    rows.push_back({{d.name, id, InvokeKind::Let, {}, d.type},
                    [](C& c, Args& a) {
                      ControlMembers::Write(c, ExtraOf(a).field, a.NewValue());
                      ControlMembers::Notify(c, ExtraOf(a).name);
                      return Variant();
                    },
                    at});
  } else {
    // ActiveControl takes a Variant and needs an object in it; the others take an object.
    VarType valueType = d.obj == ObjKind::Control ? VarType::Any : VarType::Object;
    rows.push_back({{d.name, id, InvokeKind::Set, {}, valueType, nullptr, false, objType},
                    [](C& c, Args& a) {
                      Variant v = Variant::Object(CheckObject(DescOf(a).obj, a.NewValue().ToObject()));
                      ControlMembers::Write(c, ExtraOf(a).field, v);
                      ControlMembers::Notify(c, ExtraOf(a).name);
                      return Variant();
                    },
                    at});
  }
}

void AddInert(std::vector<Row<C>>& rows, const Desc& d, DispId id, uint32_t at) {
  rows.push_back({{d.name, id, InvokeKind::Method, ParamsOf(d.name), d.type},
                  [](C&, Args& a) {
                    switch (DescOf(a).type) {
                      case VarType::Single: return Variant::Single(0);
                      case VarType::Long: return Variant::Long(0);
                      case VarType::Boolean: return Variant::Bool(false);
                      default: return Variant();
                    }
                  },
                  at});
}

void AddSpecial(std::vector<Row<C>>& rows, const Desc& d, DispId id) {
  std::string_view n = d.name;
  if (n == "Nodes") {
    rows.push_back({{d.name, id, InvokeKind::Get, {}, VarType::Object, nullptr, false, "Nodes"},
                    [](C& c, Args&) { return Variant::Object(c.Nodes()); }});
  } else if (n == "PopUpMenus") {
    rows.push_back({{d.name, id, InvokeKind::Get, {}, VarType::Object, nullptr, false, "PopUpMenus"},
                    [](C& c, Args&) { return Variant::Object(c.GetPopUpMenus()); }});
  } else if (n == "PopUpMenu") {
    rows.push_back({{d.name, id, InvokeKind::Method, ParamsOf(n)}, [](C& c, Args& a) {
                      c.PopUpMenu(a.Obj(0), a[1], a[2], a[3], a[4]);
                      return Variant();
                    }});
  } else if (n == "ShowPopupMenu") {
    rows.push_back({{d.name, id, InvokeKind::Method, {}, VarType::Any},
                    [](C& c, Args&) { return c.ShowPopupMenu(); }});
  } else if (n == "DoHitTest") {
    rows.push_back({{d.name, id, InvokeKind::Method, ParamsOf(n), VarType::Object, nullptr, false, "Node"},
                    [](C& c, Args& a) { return Variant::Object(c.DoHitTest(a.Integer(0), a.Integer(1))); }});
  }
}

}  // namespace

const desk::DispatchTable<C>& VarbelTreeviewControl::Table() {
  static const desk::DispatchTable<C> table = [] {
    std::vector<Row<C>> rows;
    for (size_t i = 0; i < kMembers.size(); ++i) {
      const Desc& d = kMembers[i];
      switch (d.shape) {
        case Shape::Forwarded: AddForwarded(rows, d, IdAt(i), static_cast<uint32_t>(i)); break;
        case Shape::Stored: AddStored(rows, d, IdAt(i), static_cast<uint32_t>(i)); break;
        case Shape::Inert: AddInert(rows, d, IdAt(i), static_cast<uint32_t>(i)); break;
        case Shape::Special: AddSpecial(rows, d, IdAt(i)); break;
      }
    }
    return desk::DispatchTable<C>("_VarbelTreeviewControl", kControlIid, std::move(rows));
  }();
  return table;
}

DispId MemberId(std::string_view name) {
  size_t i = IndexOf(name);
  if (i == kMembers.size()) desk::Raise(Err::NotSupported);
  return IdAt(i);
}

// ---- 4. Typed members ---------------------------------------------------------------------

Variant C::Get(DispId id) {
  std::vector<Variant> none;
  return Invoke(id, InvokeKind::Get, none);
}
void C::Let(DispId id, Variant v) {
  std::vector<Variant> a{std::move(v)};
  Invoke(id, InvokeKind::Let, a);
}
void C::Set(DispId id, Ref<desk::Object> o) {
  std::vector<Variant> a{Variant::Object(std::move(o))};
  Invoke(id, InvokeKind::Set, a);
}

#define VARBEL_ID(N) static const DispId id = MemberId(#N)
#define VARBEL_DEF_BOOL(N) \
  int16_t C::Get##N() { VARBEL_ID(N); return Get(id).RawBoolean(); } \
  void C::Let##N(int16_t v) { VARBEL_ID(N); Let(id, Variant::BoolRaw(v)); }
#define VARBEL_DEF_INT(N) \
  int16_t C::Get##N() { VARBEL_ID(N); return Get(id).RawInteger(); } \
  void C::Let##N(int16_t v) { VARBEL_ID(N); Let(id, Variant::Integer(v)); }
#define VARBEL_DEF_LONG(N) \
  int32_t C::Get##N() { VARBEL_ID(N); return Get(id).RawLong(); } \
  void C::Let##N(int32_t v) { VARBEL_ID(N); Let(id, Variant::Long(v)); }
#define VARBEL_DEF_SINGLE(N) \
  float C::Get##N() { VARBEL_ID(N); return Get(id).RawSingle(); } \
  void C::Let##N(float v) { VARBEL_ID(N); Let(id, Variant::Single(v)); }
#define VARBEL_DEF_STRING(N) \
  std::u16string C::Get##N() { VARBEL_ID(N); return Get(id).RawString(); } \
  void C::Let##N(std::u16string v) { VARBEL_ID(N); Let(id, Variant::String(std::move(v))); }
#define VARBEL_DEF_OBJECT(N) \
  Ref<desk::Object> C::Get##N() { VARBEL_ID(N); return Get(id).RawObject(); } \
  void C::Set##N(Ref<desk::Object> v) { VARBEL_ID(N); Set(id, std::move(v)); }
VARBEL_BOOL_PROPS(VARBEL_DEF_BOOL)
VARBEL_INT_PROPS(VARBEL_DEF_INT)
VARBEL_LONG_PROPS(VARBEL_DEF_LONG)
VARBEL_SINGLE_PROPS(VARBEL_DEF_SINGLE)
VARBEL_STRING_PROPS(VARBEL_DEF_STRING)
VARBEL_OBJECT_PROPS(VARBEL_DEF_OBJECT)

namespace {
Variant CallById(C& c, const char* name, std::vector<Variant> args) {
  return c.Invoke(MemberId(name), InvokeKind::Method, args);
}
}  // namespace

void C::Refresh() { CallById(*this, "Refresh", {}); }
void C::StartLabelEdit() { CallById(*this, "StartLabelEdit", {}); }
void C::OLEDrag() { CallById(*this, "OLEDrag", {}); }
void C::ValidateControls() { CallById(*this, "ValidateControls", {}); }
float C::TextWidth(const std::u16string& s) { return CallById(*this, "TextWidth", {Variant::String(s)}).RawSingle(); }
float C::TextHeight(const std::u16string& s) { return CallById(*this, "TextHeight", {Variant::String(s)}).RawSingle(); }
void C::Size(float w, float h) { CallById(*this, "Size", {Variant::Single(w), Variant::Single(h)}); }
float C::ScaleY(float h, const Variant& f, const Variant& t) {
  return CallById(*this, "ScaleY", {Variant::Single(h), f, t}).RawSingle();
}
float C::ScaleX(float w, const Variant& f, const Variant& t) {
  return CallById(*this, "ScaleX", {Variant::Single(w), f, t}).RawSingle();
}
void C::Cls() { CallById(*this, "Cls", {}); }
bool C::CanPropertyChange(const std::u16string& p) {
  return CallById(*this, "CanPropertyChange", {Variant::String(p)}).RawBoolean() != 0;
}
void C::DataMemberChanged(const std::u16string& m) { CallById(*this, "DataMemberChanged", {Variant::String(m)}); }

// ---- 5. Lifecycle, layout, events, popup display and hit testing ----------------------------

namespace {
// The events that the inner tree raises and the control raises again under the same id.
constexpr std::array<DispId, 21> kForwardedEvents{2, 3, 4, 5, 6, 7, 8, 9, 11, 16, 17, 18, 19, 20, 21, 22, 23, 28, 29, 30, 33};
}  // namespace

C::VarbelTreeviewControl() {
  surface_ = desk::CurrentPlatform().CreateSurface(
      {u"VarbelTreeviewControl", u"mnuMain", u"mnuMain", u"mnuStam", u"mnuStam"}, *this);
  // The sink holds only a raw pointer to this control; it is disconnected in the destructor,
  // before the tree can outlive the control through a node a host still holds.
  treeCookie_ = surface_->Tree().Events().Connect(desk::MakeRef<desk::FunctionSink>(
      [this](DispId id, std::vector<Variant>& args) { ForwardTreeEvent(id, args); }));
  surface_->ItemArray().SetClickHandler([this](int16_t index) { MenuClick(index); });
}

C::~VarbelTreeviewControl() {
  surface_->Tree().Events().Disconnect(treeCookie_);
  surface_->ItemArray().SetClickHandler(nullptr);
}

Ref<desk::Object> C::Tree() { return surface_->TreeChild(); }

void C::OnResize() {
  // Each edge is read from the surface just before it is written; a failing edge leaves the
  // later ones as they were.
  const std::pair<DispId, float (desk::Surface::*)() const> edges[] = {
      {desk::ext::kLeft, &desk::Surface::ScaleLeft},
      {desk::ext::kTop, &desk::Surface::ScaleTop},
      {desk::ext::kWidth, &desk::Surface::ScaleWidth},
      {desk::ext::kHeight, &desk::Surface::ScaleHeight},
  };
  for (const auto& [id, read] : edges) {
    std::vector<Variant> a{Variant::Single(((*surface_).*read)())};
    Tree()->Invoke(id, InvokeKind::Let, a);
  }
}

void C::ForwardTreeEvent(DispId id, std::vector<Variant>& args) {
  if (std::find(kForwardedEvents.begin(), kForwardedEvents.end(), id) == kForwardedEvents.end()) return;
  Ref<desk::Object> keep(this);  // a handler may release the control
  // A copy of the list, not of the values: by-reference arguments still point at the tree's
  // own storage, while a handler that overwrites a by-value node slot cannot replace the
  // tree's node.
  std::vector<Variant> forwarded = args;
  events_.Raise(id, forwarded);
}

Ref<desk::Object> C::Nodes() {
  std::vector<Variant> none;
  return Tree()->Invoke(desk::treeid::kNodes, InvokeKind::Get, none).ToObject();
}

Ref<PopUpMenus> C::GetPopUpMenus() {
  if (!m_PopUpMenus) {
    m_PopUpMenus = desk::MakeRef<PopUpMenus>();
    m_PopUpMenus->SetMainMNU(Variant::Object(Ref<desk::Object>(&surface_->ItemArray())));
  }
  return m_PopUpMenus;
}

void C::PopUpMenu(Ref<desk::Object> menu, const Variant& flags, const Variant& x, const Variant& y,
                  const Variant& defaultMenu) {
  surface_->PopupMenu(menu, flags, x, y, defaultMenu);
}

Variant C::ShowPopupMenu() {
  if (!m_PopUpMenus) desk::Raise(Err::ObjectNotSet);
  Ref<desk::Object> keep(this);
  Ref<PopUpMenus> menus = m_PopUpMenus;
  if (menus->Count() > 0) PopUpMenu(Ref<desk::Object>(&surface_->MainMenu()));
  return Variant();
}

Ref<desk::Object> C::DoHitTest(int16_t x, int16_t y) {
  std::vector<Variant> a{Variant::Single(static_cast<float>(x)), Variant::Single(static_cast<float>(y))};
  return Tree()->Invoke(desk::treeid::kHitTest, InvokeKind::Method, a).ToObject();
}

void C::MenuClick(int16_t index) {
  Ref<desk::Object> keep(this);
  // A copy of the tag: what the host writes into MenuName is discarded.
  Variant name = Variant::String(surface_->ItemArray().Element(index).Tag());
  std::vector<Variant> args{Variant::ByRef(&name)};
  events_.Raise(1, args);
}

}  // namespace varbel
