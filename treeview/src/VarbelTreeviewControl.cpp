// VarbelTreeviewControl: the interface table, the member families, layout, events and the
// popup road.
//
// Sections:
//   1. checks on the interface's rows (members.h: one row per member, ids computed from the order)
//   2. building the dispatch table from the rows
//   3. typed members (one-liners over Get/Let/Set, checked against the rows when compiled)
//   4. lifecycle, layout, event forwarding, popup display and hit testing
#include "VarbelTreeviewControl.h"

#include <array>
#include <string_view>
#include <variant>

#include "PopUpMenus.h"
#include "members.h"
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

// ---- 1. The interface in its published order (members.h) -----------------------------------

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

using C = VarbelTreeviewControl;

const char* ObjTypeName(ObjKind k) {
  switch (k) {
    case ObjKind::Picture: return "Picture";
    case ObjKind::Font: return "Font";
    case ObjKind::Control: return "Control";
    case ObjKind::Nodes: return "Nodes";
    case ObjKind::Node: return "Node";
    case ObjKind::PopUpMenus: return "PopUpMenus";
    case ObjKind::Any:
    case ObjKind::None: break;
  }
  return nullptr;
}

std::u16string NameOf(const Desc& d) { return desk::U16(d.name); }

std::vector<desk::ParamInfo> ParamsOf(const Desc& d) { return {d.params.begin(), d.params.end()}; }

// ---- 2. Building the dispatch table ---------------------------------------------------------

// What each row's handler needs of its member, resolved once when the table is built; a row
// carries its member's index in kMembers as its data word.
struct MemberExtra {
  std::u16string name;  // for PropertyChanged
  int setting = -1;     // forwarded to a tree setting: its index in the tree's settings
};

const std::array<MemberExtra, kMembers.size()>& Extras() {
  static const auto extras = [] {
    std::array<MemberExtra, kMembers.size()> e;
    for (size_t i = 0; i < kMembers.size(); ++i) {
      const Desc& d = kMembers[i];
      e[i].name = NameOf(d);
      // A forwarded method's id names no setting (-1).
      if (d.shape == Shape::Forwarded) e[i].setting = desk::TreeView::SettingIndex(d.inner);
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
  const int setting = ExtraOf(a).setting;
  // The tree keeps each setting in the type of the member that forwards it (it converts every
  // value it is given) and checked an object's kind when it was written.
  if (setting >= 0) return ControlMembers::InnerTree(c).SettingAt(setting);
  // A container may answer its own values in a kind of its own.
  const Desc& d = DescOf(a);
  std::vector<Variant> none;
  return ControlMembers::Tree(c)->Invoke(d.inner, InvokeKind::Get, none).ConvertTo(d.type);
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
  // Every object the control forwards (Font, MouseIcon, ImageList) is one of the tree's settings.
  desk::TreeView& tree = ControlMembers::InnerTree(c);
  Ref<desk::Object> keepTree(&tree);
  tree.SetSettingAt(x.setting, Variant::Object(keep));
  ControlMembers::Notify(c, x.name);
  return Variant();
}

Variant ForwardedMethod(C& c, Args& a) {
  // Through the inner tree's own member table, so that every method the tree forwards takes one path.
  Ref<desk::Object> tree = ControlMembers::Tree(c);  // held: the method may raise events
  std::vector<Variant> none;
  tree->Invoke(DescOf(a).inner, InvokeKind::Method, none);
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
                  [](C& c, Args& a) { return ControlMembers::Read(c, DescOf(a)); }, at});
  if (d.kinds == Kinds::GetLet) {
    rows.push_back({{d.name, id, InvokeKind::Let, {}, d.type},
                    [](C& c, Args& a) {
                      ControlMembers::Write(c, DescOf(a), a.NewValue());
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
                      ControlMembers::Write(c, DescOf(a), v);
                      ControlMembers::Notify(c, ExtraOf(a).name);
                      return Variant();
                    },
                    at});
  }
}

void AddInert(std::vector<Row<C>>& rows, const Desc& d, DispId id, uint32_t at) {
  rows.push_back({{d.name, id, InvokeKind::Method, ParamsOf(d), d.type},
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
  const InvokeKind kind = d.kinds == Kinds::Get ? InvokeKind::Get : InvokeKind::Method;
  rows.push_back({{d.name, id, kind, ParamsOf(d), d.type, nullptr, false, ObjTypeName(d.obj)}, d.body});
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

// ---- 3. Typed members ---------------------------------------------------------------------

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

namespace {

// The row an accessor names, found when the accessor is compiled: a property that holds a
// value of the accessor's family (Get with Let, or Get with Set for objects), or a method
// with the accessor's result. A name missing from kMembers, or a row of another family,
// does not build.
constexpr bool IsProperty(std::string_view name, VarType type) {
  const size_t i = IndexOf(name);
  return i < kMembers.size() && kMembers[i].type == type && kMembers[i].kinds == RowMakers::PropertyKinds(type);
}

// Its id; 0 for a name the static_assert beside it has already refused.
consteval DispId PropertyId(std::string_view name, VarType type) {
  return IsProperty(name, type) ? IdAt(IndexOf(name)) : 0;
}

consteval DispId MethodId(std::string_view name, VarType result) {
  const size_t i = IndexOf(name);
  if (i == kMembers.size() || kMembers[i].kinds != Kinds::Method || kMembers[i].type != result)
    throw "no method of this name and result in kMembers";  // stops the build here
  return IdAt(i);
}

Variant CallById(C& c, DispId id, std::vector<Variant> args) { return c.Invoke(id, InvokeKind::Method, args); }

}  // namespace

#define VARBEL_ID(N, type)                                                                         \
  static_assert(IsProperty(#N, VarType::type), #N " is no " #type " property of the interface"); \
  constexpr DispId id = PropertyId(#N, VarType::type)
#define VARBEL_DEF_BOOL(N) \
  int16_t C::Get##N() { VARBEL_ID(N, Boolean); return Get(id).RawBoolean(); } \
  void C::Let##N(int16_t v) { VARBEL_ID(N, Boolean); Let(id, Variant::BoolRaw(v)); }
#define VARBEL_DEF_INT(N) \
  int16_t C::Get##N() { VARBEL_ID(N, Integer); return Get(id).RawInteger(); } \
  void C::Let##N(int16_t v) { VARBEL_ID(N, Integer); Let(id, Variant::Integer(v)); }
#define VARBEL_DEF_LONG(N) \
  int32_t C::Get##N() { VARBEL_ID(N, Long); return Get(id).RawLong(); } \
  void C::Let##N(int32_t v) { VARBEL_ID(N, Long); Let(id, Variant::Long(v)); }
#define VARBEL_DEF_SINGLE(N) \
  float C::Get##N() { VARBEL_ID(N, Single); return Get(id).RawSingle(); } \
  void C::Let##N(float v) { VARBEL_ID(N, Single); Let(id, Variant::Single(v)); }
#define VARBEL_DEF_STRING(N) \
  std::u16string C::Get##N() { VARBEL_ID(N, String); return Get(id).RawString(); } \
  void C::Let##N(std::u16string v) { VARBEL_ID(N, String); Let(id, Variant::String(std::move(v))); }
#define VARBEL_DEF_OBJECT(N) \
  Ref<desk::Object> C::Get##N() { VARBEL_ID(N, Object); return Get(id).RawObject(); } \
  void C::Set##N(Ref<desk::Object> v) { VARBEL_ID(N, Object); Set(id, std::move(v)); }
VARBEL_BOOL_PROPS(VARBEL_DEF_BOOL)
VARBEL_INT_PROPS(VARBEL_DEF_INT)
VARBEL_LONG_PROPS(VARBEL_DEF_LONG)
VARBEL_SINGLE_PROPS(VARBEL_DEF_SINGLE)
VARBEL_STRING_PROPS(VARBEL_DEF_STRING)
VARBEL_OBJECT_PROPS(VARBEL_DEF_OBJECT)

void C::Refresh() { CallById(*this, MethodId("Refresh", VarType::Empty), {}); }
void C::StartLabelEdit() { CallById(*this, MethodId("StartLabelEdit", VarType::Empty), {}); }
void C::OLEDrag() { CallById(*this, MethodId("OLEDrag", VarType::Empty), {}); }
void C::ValidateControls() { CallById(*this, MethodId("ValidateControls", VarType::Empty), {}); }
float C::TextWidth(const std::u16string& s) {
  return CallById(*this, MethodId("TextWidth", VarType::Single), {Variant::String(s)}).RawSingle();
}
float C::TextHeight(const std::u16string& s) {
  return CallById(*this, MethodId("TextHeight", VarType::Single), {Variant::String(s)}).RawSingle();
}
void C::Size(float w, float h) {
  CallById(*this, MethodId("Size", VarType::Empty), {Variant::Single(w), Variant::Single(h)});
}
float C::ScaleY(float h, const Variant& f, const Variant& t) {
  return CallById(*this, MethodId("ScaleY", VarType::Single), {Variant::Single(h), f, t}).RawSingle();
}
float C::ScaleX(float w, const Variant& f, const Variant& t) {
  return CallById(*this, MethodId("ScaleX", VarType::Single), {Variant::Single(w), f, t}).RawSingle();
}
void C::Cls() { CallById(*this, MethodId("Cls", VarType::Empty), {}); }
bool C::CanPropertyChange(const std::u16string& p) {
  return CallById(*this, MethodId("CanPropertyChange", VarType::Boolean), {Variant::String(p)}).RawBoolean() != 0;
}
void C::DataMemberChanged(const std::u16string& m) {
  CallById(*this, MethodId("DataMemberChanged", VarType::Empty), {Variant::String(m)});
}

// ---- 4. Lifecycle, layout, events, popup display and hit testing ----------------------------

namespace {
// The events the inner tree raises that the control raises again, by id.
constexpr auto kRaisedAgain = [] {
  std::array<bool, kEvents.size() + 1> again{};
  for (const EventDesc& e : kEvents)
    if (e.fromTree != 0) again[static_cast<size_t>(e.fromTree)] = true;
  return again;
}();
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
  // A negative id wraps past the end of the table; id 0 is no event.
  if (static_cast<size_t>(id) >= kRaisedAgain.size() || !kRaisedAgain[static_cast<size_t>(id)]) return;
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
  events_.Raise(kOnMenuClick, args);
}

}  // namespace varbel
