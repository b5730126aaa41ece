#include "desk/font.h"

namespace desk {

namespace {
Variant Done() { return Variant(); }
}  // namespace

const DispatchTable<Font>& Font::Table() {
  using K = InvokeKind;
  using T = VarType;
  static const DispatchTable<Font> t(
      "Font", "{BEF6E003-A874-101A-8BBA-00AA00300CAB}",
      {
          {{"Name", 0, K::Get, {}, T::String}, [](Font& f, Args&) { return Variant::String(f.name); }},
          {{"Name", 0, K::Let, {}, T::String},
           [](Font& f, Args& a) { return f.name = a.NewValue().RawString(), Done(); }},
          {{"Size", 2, K::Get, {}, T::Single}, [](Font& f, Args&) { return Variant::Single(f.size); }},
          {{"Size", 2, K::Let, {}, T::Single},
           [](Font& f, Args& a) {
             float v = a.NewValue().RawSingle();
             if (!(v > 0 && v <= 2160)) Raise(Err::InvalidPropertyValue);
             return f.size = v, Done();
           }},
          {{"Bold", 3, K::Get, {}, T::Boolean}, [](Font& f, Args&) { return Variant::Bool(f.Bold()); }},
          {{"Bold", 3, K::Let, {}, T::Boolean},
           [](Font& f, Args& a) { return f.weight = a.NewValue().RawBoolean() ? 700 : 400, Done(); }},
          {{"Italic", 4, K::Get, {}, T::Boolean}, [](Font& f, Args&) { return Variant::Bool(f.italic); }},
          {{"Italic", 4, K::Let, {}, T::Boolean},
           [](Font& f, Args& a) { return f.italic = a.NewValue().RawBoolean() != 0, Done(); }},
          {{"Underline", 5, K::Get, {}, T::Boolean}, [](Font& f, Args&) { return Variant::Bool(f.underline); }},
          {{"Underline", 5, K::Let, {}, T::Boolean},
           [](Font& f, Args& a) { return f.underline = a.NewValue().RawBoolean() != 0, Done(); }},
          {{"Strikethrough", 6, K::Get, {}, T::Boolean},
           [](Font& f, Args&) { return Variant::Bool(f.strikethrough); }},
          {{"Strikethrough", 6, K::Let, {}, T::Boolean},
           [](Font& f, Args& a) { return f.strikethrough = a.NewValue().RawBoolean() != 0, Done(); }},
          {{"Weight", 7, K::Get, {}, T::Integer}, [](Font& f, Args&) { return Variant::Integer(f.weight); }},
          {{"Weight", 7, K::Let, {}, T::Integer},
           [](Font& f, Args& a) {
             int16_t w = a.NewValue().RawInteger();
             if (w < 0 || w > 1000) Raise(Err::InvalidPropertyValue);
             return f.weight = w, Done();
           }},
          {{"Charset", 8, K::Get, {}, T::Integer}, [](Font& f, Args&) { return Variant::Integer(f.charset); }},
          {{"Charset", 8, K::Let, {}, T::Integer},
           [](Font& f, Args& a) { return f.charset = a.NewValue().RawInteger(), Done(); }},
      });
  return t;
}

Ref<Font> Font::Clone() const {
  Ref<Font> f = MakeRef<Font>(name, size);
  f->weight = weight;
  f->italic = italic;
  f->underline = underline;
  f->strikethrough = strikethrough;
  f->charset = charset;
  return f;
}

bool Font::SameAs(const Font& o) const {
  return name == o.name && size == o.size && weight == o.weight && italic == o.italic && underline == o.underline &&
         strikethrough == o.strikethrough && charset == o.charset;
}

const DispatchTable<Picture>& Picture::Table() {
  using K = InvokeKind;
  using T = VarType;
  // Width and Height are in pixels here; the handle is nonzero exactly when there is an image.
  static const DispatchTable<Picture> t(
      "Picture", "{7BF80981-BF32-101A-8BBB-00AA00300CAB}",
      {
          {{"Handle", 0, K::Get, {}, T::Long},
           [](Picture& p, Args&) {
             return Variant::Long(p.Empty() ? 0 : static_cast<int32_t>(reinterpret_cast<uintptr_t>(&p) & 0x7FFFFFFF));
           }},
          {{"Type", 3, K::Get, {}, T::Integer},
           [](Picture& p, Args&) { return Variant::Integer(static_cast<int16_t>(p.kind)); }},
          {{"Width", 4, K::Get, {}, T::Long}, [](Picture& p, Args&) { return Variant::Long(p.width); }},
          {{"Height", 5, K::Get, {}, T::Long}, [](Picture& p, Args&) { return Variant::Long(p.height); }},
      });
  return t;
}

}  // namespace desk
