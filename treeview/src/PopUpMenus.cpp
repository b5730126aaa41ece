#include "PopUpMenus.h"

#include "mdlError.h"
#include "desk/menu.h"
#include "desk/trap.h"

namespace varbel {

using desk::Args;
using desk::InvokeKind;
using desk::Ref;
using desk::Variant;
using desk::VarType;

namespace {

constexpr const char16_t* kModule = u"PopUpMenus, Class Module";

// Runs a procedure body under a trap: the body advances `step` before each of its steps; a
// failure of any kind is reported once, with the step it happened at, once the body has been
// unwound, and goes no further. The caller is never told. A report that itself fails (a
// host's box that throws) is dropped, since Class_Terminate runs in a destructor.
template <class Body>
void Trapped(const char16_t* procedure, Body&& body) noexcept {
  int32_t step = 1;  // step 1 arms the trap
  desk::Trap([&] { body(step); },
             [&] {
               mdlError::RecordFailedStep(step);
               mdlError::ReportError(kModule, procedure);
             });
}

// The item array's members, reached by name or by the default member as a late-bound caller
// would, so that any object offering them can stand in mvarMainMNU. The platform's own array
// answers each of these members with one of its typed calls, so for it the step makes that
// call directly: the same checks and errors, without looking up a name, building arguments or
// coercing them at every step.
using ArgList = std::vector<Variant>;

class ItemArray {
 public:
  explicit ItemArray(const Variant& v) : obj_(v.ToObject()), own_(dynamic_cast<desk::MenuArray*>(obj_.get())) {}

  int32_t Count(ArgList& args) {
    if (own_) return own_->Count();
    args.clear();
    return Call(obj_, u"Count", InvokeKind::Get, args).ToLong();
  }
  void Load(int16_t index, ArgList& args) {
    if (own_) return own_->Load(index);
    args.assign(1, Variant::Integer(index));
    Call(obj_, u"Load", InvokeKind::Method, args);
  }
  void Unload(int16_t index, ArgList& args) {
    if (own_) return own_->Unload(index);
    args.assign(1, Variant::Integer(index));
    Call(obj_, u"Unload", InvokeKind::Method, args);
  }
  void SetCaption(int16_t index, const std::u16string& caption, ArgList& args) {
    if (own_) return Own(index)->SetCaption(caption);
    SetOn(Element(index, args), u"Caption", Variant::String(caption), args);
  }
  void SetTag(int16_t index, const std::u16string& tag, ArgList& args) {
    if (own_) return Own(index)->SetTag(tag);
    SetOn(Element(index, args), u"Tag", Variant::String(tag), args);
  }
  void SetVisible(int16_t index, bool visible, ArgList& args) {
    if (own_) return Own(index)->SetVisible(visible);
    SetOn(Element(index, args), u"Visible", Variant::Bool(visible), args);
  }

 private:
  static Variant Call(const Ref<desk::Object>& o, const char16_t* member, InvokeKind kind, ArgList& args) {
    if (!o) desk::Raise(desk::Err::ObjectNotSet);
    return o->Invoke(o->GetIdOfName(member), kind, args);
  }
  static void SetOn(const Ref<desk::Object>& o, const char16_t* member, Variant v, ArgList& args) {
    args.clear();
    args.push_back(std::move(v));
    Call(o, member, InvokeKind::Let, args);
  }
  Ref<desk::Object> Element(int16_t index, ArgList& args) {
    if (!obj_) desk::Raise(desk::Err::ObjectNotSet);
    args.assign(1, Variant::Integer(index));
    return obj_->Invoke(desk::kDispIdValue, InvokeKind::Get, args).ToObject();
  }
  // Held while its setter runs, as the element a late-bound call returns would be.
  Ref<desk::MenuElement> Own(int16_t index) { return Ref<desk::MenuElement>(&own_->Element(index)); }

  Ref<desk::Object> obj_;  // Nothing fails with 91 at the first member used
  desk::MenuArray* own_;   // the platform's array, or null
};


}  // namespace

const desk::DispatchTable<PopUpMenu>& PopUpMenu::Table() {
  using K = InvokeKind;
  static const desk::DispatchTable<PopUpMenu> t(
      "_PopUpMenu", kPopUpMenuIid,
      {
          {{"Key", 0x40030000, K::Get, {}, VarType::String}, [](PopUpMenu& m, Args&) { return Variant::String(m.Key); }},
          {{"Key", 0x40030000, K::Let, {}, VarType::String},
           [](PopUpMenu& m, Args& a) { return m.Key = a.NewValue().RawString(), Variant(); }},
          {{"Name", 0x40030001, K::Get, {}, VarType::String},
           [](PopUpMenu& m, Args&) { return Variant::String(m.Name); }},
          {{"Name", 0x40030001, K::Let, {}, VarType::String},
           [](PopUpMenu& m, Args& a) { return m.Name = a.NewValue().RawString(), Variant(); }},
          {{"Caption", 0x40030002, K::Get, {}, VarType::String},
           [](PopUpMenu& m, Args&) { return Variant::String(m.Caption); }},
          {{"Caption", 0x40030002, K::Let, {}, VarType::String},
           [](PopUpMenu& m, Args& a) { return m.Caption = a.NewValue().RawString(), Variant(); }},
      });
  return t;
}

const desk::DispatchTable<PopUpMenus>& PopUpMenus::Table() {
  using K = InvokeKind;
  static const desk::DispatchTable<PopUpMenus> t(
      "_PopUpMenus", kPopUpMenusIid,
      {
          {{"mvarMainMNU", 0x40030001, K::Get, {}, VarType::Any},
           [](PopUpMenus& m, Args&) { return m.mvarMainMNU; }},
          {{"mvarMainMNU", 0x40030001, K::Let, {}, VarType::Any},
           [](PopUpMenus& m, Args& a) { return m.SetMainMNU(a.NewValue()), Variant(); }},
          // By reference: an object or Nothing (424 for a plain value).
          {{"mvarMainMNU", 0x40030001, K::Set, {}, VarType::Any},
           [](PopUpMenus& m, Args& a) { return m.SetMainMNU(Variant::Object(a.NewValue().ToObject())), Variant(); }},
          {{"Add", 0x60030001, K::Method, {{"Name", VarType::String, true}, {"Caption", VarType::String, true}},
            VarType::Object},
           [](PopUpMenus& m, Args& a) { return Variant::Object(m.Add(a.String(0), a.String(1))); }},
          {{"Item", desk::kDispIdValue, K::Get, {{"Name", VarType::String, true}}, VarType::Object},
           [](PopUpMenus& m, Args& a) { return Variant::Object(m.Item(a.String(0))); }},
          {{"Count", 0x68030000, K::Get, {}, VarType::Long},
           [](PopUpMenus& m, Args&) { return Variant::Long(m.Count()); }},
          {{"Remove", 0x60030002, K::Method, {{"Name", VarType::String, true}}},
           [](PopUpMenus& m, Args& a) { return m.Remove(a.String(0)), Variant(); }},
          {{"NewEnum", desk::kDispIdNewEnum, K::Get, {}, VarType::Object, nullptr, true},
           [](PopUpMenus& m, Args&) { return Variant::Object(m.NewEnum()); }},
          {{"Clear", 0x60030005, K::Method, {}}, [](PopUpMenus& m, Args&) { return m.Clear(), Variant(); }},
      });
  return t;
}

PopUpMenus::PopUpMenus() {
  Trapped(u"Class_Initialize", [&](int32_t& step) {
    step = 2;
    mCol = desk::MakeRef<desk::Collection>();
  });
}

PopUpMenus::~PopUpMenus() {
  Trapped(u"Class_Terminate", [&](int32_t& step) {
    step = 2;
    mCol.reset();
  });
}

Ref<PopUpMenu> PopUpMenus::Add(const std::u16string& name, const std::u16string& caption) {
  Ref<desk::Object> self(this);  // a host released inside a report must not free us mid-call
  Ref<PopUpMenu> result;
  // The argument list is borrowed from the previous call; a call made from inside this one
  // (a host's item array calling back) finds none and makes its own.
  ArgList args = std::move(spare_);
  Trapped(u"Add", [&](int32_t& step) {
    step = 2;
    Ref<PopUpMenu> def = desk::MakeRef<PopUpMenu>();
    step = 3;
    def->Name = name;
    step = 4;
    def->Caption = caption;
    step = 5;
    if (!mCol) desk::Raise(desk::Err::ObjectNotSet);
    mCol->Add(Variant::Object(def), name);
    // Steps 6 and 7 cannot fail, so they record no number: the result, and the local reference
    // let go.
    result = std::move(def);
    step = 8;
    ItemArray arr(mvarMainMNU);
    int16_t n = Variant::Long(arr.Count(args)).ToInteger();  // 6 past 32,767, never wrapped
    step = 9;
    arr.Load(n, args);
    step = 10;
    arr.SetCaption(n, caption, args);
    step = 11;
    arr.SetTag(n, name, args);
    step = 12;
    arr.SetVisible(n, true, args);
    step = 13;
    arr.SetVisible(0, false, args);
  });
  spare_ = std::move(args);  // every use empties or refills it first
  return result;
}

Ref<PopUpMenu> PopUpMenus::Item(const std::u16string& name) {
  Ref<PopUpMenu> result;
  Trapped(u"Item", [&](int32_t& step) {
    step = 2;
    if (!mCol) desk::Raise(desk::Err::ObjectNotSet);
    result = desk::RefCast<PopUpMenu>(mCol->Item(Variant::String(name)).ToObject());
  });
  return result;
}

int32_t PopUpMenus::Count() {
  int32_t result = 0;
  Trapped(u"Count", [&](int32_t& step) {
    step = 2;
    if (!mCol) desk::Raise(desk::Err::ObjectNotSet);
    result = mCol->Count();
  });
  return result;
}

void PopUpMenus::Remove(const std::u16string& name) {
  Trapped(u"Remove", [&](int32_t& step) {
    step = 2;
    if (!mCol) desk::Raise(desk::Err::ObjectNotSet);
    mCol->Remove(Variant::String(name));
  });
}

Ref<desk::Object> PopUpMenus::NewEnum() {
  Ref<desk::Object> result;
  Trapped(u"NewEnum", [&](int32_t& step) {
    step = 2;
    if (!mCol) desk::Raise(desk::Err::ObjectNotSet);
    result = mCol->NewEnum();
  });
  return result;
}

void PopUpMenus::Clear() {
  Ref<desk::Object> self(this);
  Trapped(u"Clear", [&](int32_t& step) {
    step = 2;
    ArgList args;
    ItemArray arr(mvarMainMNU);
    arr.SetVisible(0, true, args);
    step = 3;
    if (arr.Count(args) > 1) {
      step = 4;
      for (int16_t i = Variant::Long(arr.Count(args)).ToInteger(); i >= 2; --i) {
        step = 5;
        // The count is read again in every pass: each pass removes the highest element.
        int16_t last = Variant::Long(arr.Count(args) - 1).ToInteger();
        arr.Unload(last, args);
      }
    }
    // Steps 6 and 7 close the loop and its test, and step 8 lets the collection go: none of
    // them can fail, so they record no number. A collection that nobody else holds (no
    // enumerator of the host's) is emptied in place: the same as a new one to every observer,
    // and it keeps its table for the next fill.
    if (mCol && mCol->RefCount() == 1) {
      mCol->Clear();  // steps 8 and 9 at once
    } else {
      mCol.reset();
      step = 9;
      mCol = desk::MakeRef<desk::Collection>();
    }
  });
}

}  // namespace varbel
