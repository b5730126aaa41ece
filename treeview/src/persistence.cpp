// Settings of the control in the host's property bag.
//
// Every property of the control's interface (members.h) is one key, under its name and in
// interface order: the row gives the default handed to the bag, the type the value is
// converted to (the member's own), and where the value lives (a stored field, the inner
// tree's member, or the control's own member). InitProperties, ReadProperties and
// WriteProperties all walk the rows.
//
// Nothing here traps a failure: the first step that fails ends the handler, and the steps
// before it keep their effect (a load is applied key by key, so a failed load leaves the
// control partly loaded).
#include <string_view>

#include "VarbelTreeviewControl.h"
#include "desk/font.h"
#include "desk/tree.h"
#include "members.h"

namespace varbel {

using desk::DispId;
using desk::Err;
using desk::InvokeKind;
using desk::Ref;
using desk::Variant;
using desk::VarType;

namespace {

using C = VarbelTreeviewControl;

constexpr size_t Count(bool (*keep)(const Desc&)) {
  size_t n = 0;
  for (const Desc& d : kMembers) n += keep(d) ? 1 : 0;
  return n;
}
static_assert(Count([](const Desc& d) { return IsSaved(d); }) == 65, "65 keys are saved");
static_assert(Count([](const Desc& d) { return IsSaved(d) && d.load != Load::Never; }) == 63,
              "63 keys are loaded; the other two are only saved");
static_assert(std::ranges::all_of(kMembers, [](const Desc& d) {
                return d.shape != Shape::Stored || (d.saved.kind == DefKind::Zero && d.load == Load::Direct);
              }),
              "a stored member is saved with a zero default and loaded into its field");

std::u16string KeyOf(const Desc& d) { return std::u16string(d.name, d.name + std::char_traits<char>::length(d.name)); }

bool IsObject(const Desc& d) { return d.type == VarType::Object; }

Variant DefaultOf(const Desc& r, C& c) {
  const Default& d = r.saved;
  switch (d.kind) {
    case DefKind::Zero:
      if (r.type == VarType::String) return Variant::String(u"");
      if (r.type == VarType::Object) return Variant::Nothing();
      return Variant::Integer(0);
    case DefKind::Integer: return Variant::Integer(static_cast<int16_t>(d.number));
    case DefKind::Boolean: return Variant::Bool(d.number != 0);
    case DefKind::String: return Variant::String(d.text);
    case DefKind::Double: return Variant::Double(d.number);
    // Asked for anew on every load and save: the container's font may have changed.
    case DefKind::AmbientFont: return Variant::Object(ControlMembers::Surface(c).AmbientFont());
  }
  return Variant();
}

// The host's standard coercion to the member's type; an object must be Nothing or of the kind
// the member holds.
Variant Convert(const Variant& v, const Desc& d) {
  switch (d.type) {
    case VarType::Long: return Variant::Long(v.ToLong());
    case VarType::Integer: return Variant::Integer(v.ToInteger());
    case VarType::Single: return Variant::Single(v.ToSingle());
    case VarType::Boolean: return Variant::BoolRaw(v.ToBoolean());
    case VarType::String: return Variant::String(v.ToString());
    case VarType::Object: return Variant::Object(CheckObject(d.obj, v.ToObject()));  // 424 for no object
    default: break;
  }
  desk::Raise(Err::TypeMismatch);
}

Variant TreeGet(C& c, DispId id) {
  std::vector<Variant> none;
  return ControlMembers::Tree(c)->Invoke(id, InvokeKind::Get, none);
}

void LoadOne(C& c, desk::PropertyBag& bag, size_t i) {
  const Desc& r = kMembers[i];
  Variant def = DefaultOf(r, c);
  Variant value = Convert(bag.ReadProperty(KeyOf(r), def), r);  // converted before anything is assigned
  if (r.shape == Shape::Stored) {
    ControlMembers::Write(c, r, value);
  } else if (r.load == Load::ThroughMember) {
    c.Set(IdAt(i), value.RawObject());
  } else {
    // Straight to the tree: the control's own accessors would notify the host.
    std::vector<Variant> args{std::move(value)};
    ControlMembers::Tree(c)->Invoke(r.inner, IsObject(r) ? InvokeKind::Set : InvokeKind::Let, args);
  }
}

void SaveOne(C& c, desk::PropertyBag& bag, size_t i) {
  const Desc& r = kMembers[i];
  Variant value;
  if (r.shape == Shape::Stored) value = ControlMembers::Read(c, r);
  else if (r.load == Load::ThroughMember) value = c.Get(IdAt(i));
  else value = Convert(TreeGet(c, r.inner), r);
  // For "Font" the tree's font is read first, then the container's font is asked for.
  Variant def = DefaultOf(r, c);
  bag.WriteProperty(KeyOf(r), value, def);
}

}  // namespace

void VarbelTreeviewControl::InitProperties() {
  // The fields in the interface's order. The tree keeps its own initial settings, and the
  // object fields other than the four pictures stay as they are.
  for (const Desc& r : kMembers) {
    if (r.shape != Shape::Stored) continue;
    Variant zero;
    switch (r.type) {
      case VarType::Long: zero = Variant::Long(0); break;
      case VarType::Integer: zero = Variant::Integer(0); break;
      case VarType::Single: zero = Variant::Single(0); break;
      case VarType::Boolean: zero = Variant::Bool(false); break;
      case VarType::String: zero = Variant::String(u""); break;
      case VarType::Object:
        if (r.obj != ObjKind::Picture) continue;
        // Each field gets a picture of its own.
        zero = Variant::Object(desk::CurrentPlatform().LoadPicture(u""));
        break;
      default: continue;
    }
    ControlMembers::Write(*this, r, zero);
  }
}

void VarbelTreeviewControl::ReadProperties(desk::PropertyBag& bag) {
  Ref<desk::Object> keep(this);  // a host notified during the load may release the control
  for (size_t i = 0; i < kMembers.size(); ++i)
    if (IsSaved(kMembers[i]) && kMembers[i].load != Load::Never) LoadOne(*this, bag, i);
}

void VarbelTreeviewControl::WriteProperties(desk::PropertyBag& bag) {
  Ref<desk::Object> keep(this);
  for (size_t i = 0; i < kMembers.size(); ++i)
    if (IsSaved(kMembers[i])) SaveOne(*this, bag, i);
}

}  // namespace varbel
