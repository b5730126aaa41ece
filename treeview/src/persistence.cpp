// Settings of the control in the host's property bag.
//
// One table describes every persisted key, in the order of the control's properties in its
// interface: the default handed to the bag, the type the value is converted to, and where the
// value lives (a stored field, the inner tree's member by id, or the control's own object
// accessor). InitProperties, ReadProperties and WriteProperties all walk it.
//
// Nothing here traps a failure: the first step that fails ends the handler, and the steps
// before it keep their effect (a load is applied key by key, so a failed load leaves the
// control partly loaded).
#include <array>
#include <string_view>
#include <variant>

#include "VarbelTreeview/VarbelTreeviewControl.h"
#include "desk/font.h"
#include "desk/tree.h"

namespace varbel {

using desk::DispId;
using desk::Err;
using desk::InvokeKind;
using desk::Ref;
using desk::Variant;

namespace {

using C = VarbelTreeviewControl;
using FieldPtr = std::variant<int16_t C::*, int32_t C::*, float C::*, std::u16string C::*, Ref<desk::Object> C::*>;

// The value handed to the bag as the default, in its own type.
enum class DefKind : uint8_t { Integer, Boolean, String, Double, AmbientFont, Nothing };
struct Default {
  DefKind kind;
  double number = 0;
  const char16_t* text = u"";
};
constexpr Default Int(int16_t v) { return {DefKind::Integer, static_cast<double>(v)}; }
constexpr Default Bool(bool v) { return {DefKind::Boolean, v ? -1.0 : 0.0}; }
constexpr Default Str(const char16_t* s) { return {DefKind::String, 0, s}; }
constexpr Default Dbl(double v) { return {DefKind::Double, v}; }
constexpr Default kAmbientFont{DefKind::AmbientFont};
constexpr Default kNothing{DefKind::Nothing};

// What a value read from the bag (or the tree) is converted to. Object kinds accept Nothing.
enum class Conv : uint8_t { Long, Integer, Single, Boolean, String, Font, Picture, Object };

enum class Where : uint8_t { Field, Tree, Accessor };

struct KeyRow {
  const char* key;  // also the property's name
  Default def;
  Conv conv;
  Where where;
  FieldPtr field{};  // Field
  DispId id = 0;     // Tree: the inner tree's member id
  bool read = true;  // false: saved for the host's benefit, never loaded
};

constexpr size_t kKeyCount = 65;

template <size_t N>
constexpr size_t CountRead(const std::array<KeyRow, N>& rows) {
  size_t n = 0;
  for (const KeyRow& r : rows) n += r.read ? 1 : 0;
  return n;
}

}  // namespace

// The only place that knows which field or tree member holds each key.
struct ControlPersistence {
  static const std::array<KeyRow, kKeyCount>& Keys() {
    using desk::ext::kCausesValidation, desk::ext::kEnabled, desk::ext::kToolTipText, desk::ext::kWhatsThisHelpID;
    namespace t = desk::treeid;
    constexpr Where F = Where::Field, T = Where::Tree, A = Where::Accessor;
    static constexpr std::array<KeyRow, kKeyCount> rows{{
        {"BackColor", Int(0), Conv::Long, F, &C::m_BackColor},
        {"ForeColor", Int(0), Conv::Long, F, &C::m_ForeColor},
        {"Enabled", Bool(true), Conv::Boolean, T, {}, kEnabled},
        {"Font", kAmbientFont, Conv::Font, T, {}, t::kFont},
        {"BackStyle", Int(0), Conv::Integer, F, &C::m_BackStyle},
        {"BorderStyle", Int(0), Conv::Long, T, {}, t::kBorderStyle},
        {"WhatsThisHelpID", Int(0), Conv::Long, T, {}, kWhatsThisHelpID},
        {"ToolTipText", Str(u""), Conv::String, T, {}, kToolTipText},
        {"Style", Int(7), Conv::Long, T, {}, t::kStyle},
        {"Sorted", Bool(false), Conv::Boolean, T, {}, t::kSorted},
        {"SingleSel", Bool(false), Conv::Boolean, T, {}, t::kSingleSel},
        {"Scroll", Bool(true), Conv::Boolean, T, {}, t::kScroll},
        {"ScaleWidth", Int(0), Conv::Single, F, &C::m_ScaleWidth},
        {"ScaleTop", Int(0), Conv::Single, F, &C::m_ScaleTop},
        {"ScaleMode", Int(0), Conv::Integer, F, &C::m_ScaleMode},
        {"ScaleLeft", Int(0), Conv::Single, F, &C::m_ScaleLeft},
        {"ScaleHeight", Int(0), Conv::Single, F, &C::m_ScaleHeight},
        {"RightToLeft", Int(0), Conv::Boolean, F, &C::m_RightToLeft},
        {"Picture", kNothing, Conv::Picture, F, &C::m_Picture},
        {"PathSeparator", Str(u"\\"), Conv::String, T, {}, t::kPathSeparator},
        {"PaletteMode", Int(0), Conv::Integer, F, &C::m_PaletteMode},
        {"Palette", kNothing, Conv::Picture, F, &C::m_Palette},
        {"OLEDropMode", Int(0), Conv::Long, T, {}, t::kOLEDropMode, false},
        {"OLEDragMode", Int(0), Conv::Long, T, {}, t::kOLEDragMode, false},
        {"MousePointer", Int(0), Conv::Long, T, {}, t::kMousePointer},
        {"MouseIcon", kNothing, Conv::Picture, A},
        {"MaskPicture", kNothing, Conv::Picture, F, &C::m_MaskPicture},
        {"MaskColor", Int(0), Conv::Long, F, &C::m_MaskColor},
        {"LineStyle", Int(0), Conv::Long, T, {}, t::kLineStyle},
        {"LabelEdit", Int(0), Conv::Long, T, {}, t::kLabelEdit},
        {"Indentation", Dbl(566.9291), Conv::Single, T, {}, t::kIndentation},
        {"ImageList", kNothing, Conv::Object, A},
        {"Image", kNothing, Conv::Picture, F, &C::m_Image},
        {"HyperLink", kNothing, Conv::Object, F, &C::m_HyperLink},
        {"hWnd", Int(0), Conv::Long, F, &C::m_hWnd},
        {"HotTracking", Bool(false), Conv::Boolean, T, {}, t::kHotTracking},
        {"HitBehavior", Int(0), Conv::Integer, F, &C::m_HitBehavior},
        {"HideSelection", Bool(true), Conv::Boolean, T, {}, t::kHideSelection},
        {"hDC", Int(0), Conv::Long, F, &C::m_hDC},
        {"HasDC", Int(0), Conv::Boolean, F, &C::m_HasDC},
        {"FullRowSelect", Bool(false), Conv::Boolean, T, {}, t::kFullRowSelect},
        {"FontUnderline", Int(0), Conv::Boolean, F, &C::m_FontUnderline},
        {"FontTransparent", Int(0), Conv::Boolean, F, &C::m_FontTransparent},
        {"FontStrikethru", Int(0), Conv::Boolean, F, &C::m_FontStrikethru},
        {"FontSize", Int(0), Conv::Single, F, &C::m_FontSize},
        {"FontName", Str(u""), Conv::String, F, &C::m_FontName},
        {"FontItalic", Int(0), Conv::Boolean, F, &C::m_FontItalic},
        {"FontBold", Int(0), Conv::Boolean, F, &C::m_FontBold},
        {"FillStyle", Int(0), Conv::Integer, F, &C::m_FillStyle},
        {"FillColor", Int(0), Conv::Long, F, &C::m_FillColor},
        {"DrawWidth", Int(0), Conv::Integer, F, &C::m_DrawWidth},
        {"DrawStyle", Int(0), Conv::Integer, F, &C::m_DrawStyle},
        {"DrawMode", Int(0), Conv::Integer, F, &C::m_DrawMode},
        {"DataMembers", kNothing, Conv::Object, F, &C::m_DataMembers},
        {"CurrentY", Int(0), Conv::Single, F, &C::m_CurrentY},
        {"CurrentX", Int(0), Conv::Single, F, &C::m_CurrentX},
        {"Controls", kNothing, Conv::Object, F, &C::m_Controls},
        {"ContainerHwnd", Int(0), Conv::Long, F, &C::m_ContainerHwnd},
        {"ClipControls", Int(0), Conv::Boolean, F, &C::m_ClipControls},
        {"ClipBehavior", Int(0), Conv::Integer, F, &C::m_ClipBehavior},
        {"Checkboxes", Bool(false), Conv::Boolean, T, {}, t::kCheckboxes},
        {"CausesValidation", Bool(true), Conv::Boolean, T, {}, kCausesValidation},
        {"AutoRedraw", Int(0), Conv::Boolean, F, &C::m_AutoRedraw},
        {"Appearance", Int(1), Conv::Long, T, {}, t::kAppearance},
        {"ActiveControl", kNothing, Conv::Object, F, &C::m_ActiveControl},
    }};
    static_assert(CountRead(rows) == 63, "63 keys are loaded; the other two are only saved");
    return rows;
  }

  static Ref<desk::Object> Tree(C& c) { return c.Tree(); }
  static desk::Surface& Surface(C& c) { return *c.surface_; }
};

namespace {

std::u16string KeyOf(const KeyRow& r) { return std::u16string(r.key, r.key + std::char_traits<char>::length(r.key)); }

bool IsObject(Conv k) { return k == Conv::Font || k == Conv::Picture || k == Conv::Object; }

Variant DefaultOf(const Default& d, C& c) {
  switch (d.kind) {
    case DefKind::Integer: return Variant::Integer(static_cast<int16_t>(d.number));
    case DefKind::Boolean: return Variant::Bool(d.number != 0);
    case DefKind::String: return Variant::String(d.text);
    case DefKind::Double: return Variant::Double(d.number);
    // Asked for anew on every load and save: the container's font may have changed.
    case DefKind::AmbientFont: return Variant::Object(ControlPersistence::Surface(c).AmbientFont());
    case DefKind::Nothing: return Variant::Nothing();
  }
  return Variant();
}

// The host's standard coercion; an object must be Nothing or of the kind the key holds.
Variant Convert(const Variant& v, Conv k) {
  switch (k) {
    case Conv::Long: return Variant::Long(v.ToLong());
    case Conv::Integer: return Variant::Integer(v.ToInteger());
    case Conv::Single: return Variant::Single(v.ToSingle());
    case Conv::Boolean: return Variant::BoolRaw(v.ToBoolean());
    case Conv::String: return Variant::String(v.ToString());
    case Conv::Font:
    case Conv::Picture:
    case Conv::Object: {
      Ref<desk::Object> o = v.ToObject();  // 424 for a value that is no object
      if (o && k == Conv::Font && !desk::RefCast<desk::Font>(o)) desk::Raise(Err::TypeMismatch);
      if (o && k == Conv::Picture && !desk::RefCast<desk::Picture>(o)) desk::Raise(Err::TypeMismatch);
      return Variant::Object(std::move(o));
    }
  }
  desk::Raise(Err::TypeMismatch);
}

Variant TreeGet(C& c, DispId id) {
  std::vector<Variant> none;
  return ControlPersistence::Tree(c)->Invoke(id, InvokeKind::Get, none);
}

// A field's value in its own type (a 16-bit field is a Boolean or an Integer by its key).
Variant ReadField(C& c, const KeyRow& r) {
  return std::visit(
      [&](auto p) -> Variant {
        using P = std::remove_cvref_t<decltype(c.*p)>;
        if constexpr (std::is_same_v<P, int16_t>) {
          return r.conv == Conv::Boolean ? Variant::BoolRaw(c.*p) : Variant::Integer(c.*p);
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
      r.field);
}

// `v` is already converted to the row's type.
void WriteField(C& c, const KeyRow& r, const Variant& v) {
  std::visit(
      [&](auto p) {
        using P = std::remove_cvref_t<decltype(c.*p)>;
        if constexpr (std::is_same_v<P, int16_t>) {
          c.*p = r.conv == Conv::Boolean ? v.RawBoolean() : v.RawInteger();
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
      r.field);
}

void LoadOne(C& c, desk::PropertyBag& bag, const KeyRow& r) {
  Variant def = DefaultOf(r.def, c);
  Variant value = Convert(bag.ReadProperty(KeyOf(r), def), r.conv);  // converted before anything is assigned
  switch (r.where) {
    case Where::Field: WriteField(c, r, value); break;
    case Where::Tree: {
      // Straight to the tree: the control's own accessors would notify the host.
      std::vector<Variant> args{std::move(value)};
      ControlPersistence::Tree(c)->Invoke(r.id, IsObject(r.conv) ? InvokeKind::Set : InvokeKind::Let, args);
      break;
    }
    case Where::Accessor: c.Set(MemberId(r.key), value.RawObject()); break;
  }
}

void SaveOne(C& c, desk::PropertyBag& bag, const KeyRow& r) {
  Variant value;
  switch (r.where) {
    case Where::Field: value = ReadField(c, r); break;
    case Where::Tree: value = Convert(TreeGet(c, r.id), r.conv); break;
    case Where::Accessor: value = c.Get(MemberId(r.key)); break;
  }
  // For "Font" the tree's font is read first, then the container's font is asked for.
  Variant def = DefaultOf(r.def, c);
  bag.WriteProperty(KeyOf(r), value, def);
}

}  // namespace

void VarbelTreeviewControl::InitProperties() {
  // The fields in their declaration order, which is the table's order. The tree keeps its own
  // initial settings, and the object fields other than the four pictures stay as they are.
  for (const KeyRow& r : ControlPersistence::Keys()) {
    if (r.where != Where::Field) continue;
    if (r.conv == Conv::Object) continue;
    if (r.conv == Conv::Picture) {
      // Each field gets a picture of its own.
      WriteField(*this, r, Variant::Object(desk::CurrentPlatform().LoadPicture(u"")));
      continue;
    }
    Variant zero;
    switch (r.conv) {
      case Conv::Long: zero = Variant::Long(0); break;
      case Conv::Integer: zero = Variant::Integer(0); break;
      case Conv::Single: zero = Variant::Single(0); break;
      case Conv::Boolean: zero = Variant::Bool(false); break;
      case Conv::String: zero = Variant::String(u""); break;
      case Conv::Font:
      case Conv::Picture:
      case Conv::Object: break;
    }
    WriteField(*this, r, zero);
  }
}

void VarbelTreeviewControl::ReadProperties(desk::PropertyBag& bag) {
  Ref<desk::Object> keep(this);  // a host notified during the load may release the control
  for (const KeyRow& r : ControlPersistence::Keys())
    if (r.read) LoadOne(*this, bag, r);
}

void VarbelTreeviewControl::WriteProperties(desk::PropertyBag& bag) {
  Ref<desk::Object> keep(this);
  for (const KeyRow& r : ControlPersistence::Keys()) SaveOne(*this, bag, r);
}

}  // namespace varbel
