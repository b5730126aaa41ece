#include "httpImages.h"

#include "mdlError.h"
#include "desk/error.h"

namespace Quorvane {

using desk::Args;
using desk::Variant;
using K = desk::InvokeKind;
using T = desk::VarType;

namespace {
constexpr std::u16string_view kModule = u"httpImages, Class Module";
using mdlError::Trap;
}  // namespace

const desk::DispatchTable<httpImages>& httpImages::Table() {
  static const desk::DispatchTable<httpImages> t(
      "_httpImages", kInterfaceId,
      {
          {{"Add",
            httpImagesId::kAdd,
            K::Method,
            {{"Name", T::String, true}, {"httpImageURL", T::String, true}},
            T::Object,
            nullptr,
            false},
           [](httpImages& c, Args& a) { return Variant::Object(c.Add(a.String(0), a.String(1))); }},
          {{"Item", httpImagesId::kItem, K::Get, {{"httpImageURL", T::String, true}}, T::Object},
           [](httpImages& c, Args& a) { return Variant::Object(c.Item(a.String(0))); }},
          {{"Count", httpImagesId::kCount, K::Get, {}, T::Long},
           [](httpImages& c, Args&) { return Variant::Long(c.Count()); }},
          {{"Remove", httpImagesId::kRemove, K::Method, {{"httpImageURL", T::Any, true}}},
           [](httpImages& c, Args& a) {
             c.Remove(a[0].Value());
             return Variant();
           }},
          {{"NewEnum", httpImagesId::kNewEnum, K::Get, {}, T::Object, nullptr, true},
           [](httpImages& c, Args&) { return Variant::Object(c.NewEnum()); }},
          {{"Clear", httpImagesId::kClear, K::Method, {}},
           [](httpImages& c, Args&) {
             c.Clear();
             return Variant();
           }},
      });
  return t;
}

httpImages::httpImages() {
  Trap(kModule, u"Class_Initialize", [&] { mCol_ = desk::MakeRef<desk::Collection>(); });
}

httpImages::~httpImages() {
  Trap(kModule, u"Class_Terminate", [&] { mCol_.reset(); });
}

desk::Ref<httpImage> httpImages::Add(const std::u16string& name, const std::u16string& httpImageURL) {
  return Trap(kModule, u"Add", [&] {
    desk::Ref<httpImage> entry = desk::MakeRef<httpImage>();
    entry->Key = name;
    entry->Name(name);
    entry->httpImageURL(httpImageURL);
    // Held locally: a report shown while the URL was derived may have let the host run.
    desk::Ref<desk::Collection> col = mCol_;
    if (!col) desk::Raise(desk::Err::ObjectNotSet);
    col->Add(desk::Variant::Object(entry), name);
    return entry;
  });
}

desk::Ref<httpImage> httpImages::Item(const std::u16string& key) {
  return Trap(kModule, u"Item", [&] {
    if (!mCol_) desk::Raise(desk::Err::ObjectNotSet);
    desk::Variant v = mCol_->Item(desk::Variant::String(key));
    return desk::RefCast<httpImage>(v.ToObject());
  });
}

int32_t httpImages::Count() {
  return Trap(kModule, u"Count", [&] {
    if (!mCol_) desk::Raise(desk::Err::ObjectNotSet);
    return mCol_->Count();
  });
}

void httpImages::Remove(const desk::Variant& index) {
  Trap(kModule, u"Remove", [&] {
    desk::Ref<desk::Collection> col = mCol_;  // the removed entry's release may run host code
    if (!col) desk::Raise(desk::Err::ObjectNotSet);
    col->Remove(index);
  });
}

desk::Ref<desk::Object> httpImages::NewEnum() {
  return Trap(kModule, u"NewEnum", [&]() -> desk::Ref<desk::Object> {
    if (!mCol_) desk::Raise(desk::Err::ObjectNotSet);
    return mCol_->NewEnum();
  });
}

void httpImages::Clear() {
  // The old collection goes after the new one is in place, and any enumeration still walking
  // it keeps it (and its entries) alive.
  desk::Ref<desk::Collection> fresh = desk::MakeRef<desk::Collection>();
  desk::Ref<desk::Collection> old = std::move(mCol_);
  mCol_ = std::move(fresh);
}

std::vector<desk::Ref<httpImage>> httpImages::Entries() const {
  std::vector<desk::Ref<httpImage>> out;
  if (!mCol_) return out;
  out.reserve(static_cast<size_t>(mCol_->Count()));
  for (size_t i = 0; i < static_cast<size_t>(mCol_->Count()); ++i) {
    const desk::Variant& v = mCol_->At(i);
    out.push_back(v.Type() == desk::VarType::Object ? desk::RefCast<httpImage>(v.RawObject()) : nullptr);
  }
  return out;
}

}  // namespace Quorvane
