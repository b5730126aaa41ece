#include "capi/host_object.h"

#include <map>
#include <utility>

#include "capi/state.h"
#include "capi/values.h"
#include "desk/error.h"
#include "desk/text.h"

namespace desk::capi {
namespace {

// Live host objects by their host's (function table, self), for desk_host_find. Never
// destroyed, as the handles' state.
auto* const g_live = new std::map<std::pair<const void*, void*>, Object*>;

// Lends a Variant to a host callback: strings point into the Variant, objects get a handle
// for the callback's duration (listed in `lent`).
void Lend(const Variant& in, desk_value* out, std::vector<Object*>& lent) {
  const Variant& v = in.Deref();
  if (v.Type() == VarType::String) {
    out->kind = DESK_STRING;
    out->u.string.data = reinterpret_cast<const uint16_t*>(v.RawString().data());
    out->u.string.length = static_cast<int32_t>(v.RawString().size());
  } else if (v.Type() == VarType::Object) {
    out->kind = DESK_OBJECT;
    out->u.object = Issue(v.RawObject().get());
    if (v.RawObject()) lent.push_back(v.RawObject().get());
  } else {
    ToC(v, out);
  }
}

// A property bag that is some other object answering ReadProperty and WriteProperty.
class BagAdapter final : public PropertyBag {
 public:
  explicit BagAdapter(Ref<Object> target) : target_(std::move(target)) {}
  Variant ReadProperty(const std::u16string& key, const Variant& defaultValue) override {
    std::vector<Variant> a{Variant::String(key), defaultValue};
    return target_->Invoke(DESK_ID_READPROPERTY, InvokeKind::Method, a).Value();
  }
  void WriteProperty(const std::u16string& key, const Variant& value, const Variant& defaultValue) override {
    std::vector<Variant> a{Variant::String(key), value, defaultValue};
    target_->Invoke(DESK_ID_WRITEPROPERTY, InvokeKind::Method, a);
  }
  const InterfaceInfo& Interface() const override { return target_->Interface(); }
  Variant Invoke(DispId id, InvokeKind kind, std::vector<Variant>& args) override {
    return target_->Invoke(id, kind, args);
  }

 private:
  Ref<Object> target_;
};

}  // namespace

HostObject::HostObject(const desk_host_vtbl* vtbl, void* self, const desk_host_member* members, int32_t count)
    : vt_(*vtbl), vtbl_(vtbl), self_(self) {
  info_.name = "HostObject";
  // The names must outlive the host's list: the interface points at copies kept here.
  for (int32_t i = 0; i < count; ++i) names_.push_back(std::make_unique<std::string>(members[i].name));
  for (int32_t i = 0; i < count; ++i)
    info_.members.push_back({names_[i]->c_str(), members[i].id, static_cast<InvokeKind>(members[i].invoke_kind), {}});
  info_.BuildIndex();
  (*g_live)[{vtbl_, self_}] = this;
}

HostObject::~HostObject() {
  auto it = g_live->find({vtbl_, self_});
  if (it != g_live->end() && it->second == this) g_live->erase(it);
  if (vt_.destroy) vt_.destroy(self_);
}

Variant HostObject::Invoke(DispId id, InvokeKind kind, std::vector<Variant>& args) {
  if (!vt_.invoke) Raise(Err::NotSupported);
  CallbackScope calling;
  Ref<Object> keep(this);
  std::vector<desk_value> cargs(args.size());
  std::vector<desk_value> snaps(args.size());  // by-reference targets, owned here
  std::vector<Object*> lent;
  desk_value result{};
  struct Cleanup {
    std::vector<desk_value>& snaps;
    std::vector<Object*>& lent;
    desk_value& result;
    ~Cleanup() {
      for (desk_value& s : snaps) ClearC(&s);
      for (Object* o : lent) Drop(o);
      ClearC(&result);
    }
  } cleanup{snaps, lent, result};
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i].IsByRef()) {
      ToC(args[i].Deref(), &snaps[i]);
      cargs[i].kind = DESK_BYREF;
      cargs[i].u.ref = &snaps[i];
    } else {
      Lend(args[i], &cargs[i], lent);
    }
  }
  desk_error e{};
  int32_t rc = vt_.invoke(self_, id, static_cast<int32_t>(kind), cargs.data(), static_cast<int32_t>(cargs.size()),
                          &result, &e);
  // What the host wrote into a by-reference argument is what the raiser finds, also when the
  // host then failed: its writes were made, as they would be into the raiser's own variables.
  auto writeBack = [&] {
    for (size_t i = 0; i < args.size(); ++i) {
      if (!args[i].IsByRef()) continue;
      Variant now = FromC(snaps[i], nullptr);
      if (!(now == args[i].Deref())) args[i].Assign(now);
    }
  };
  if (rc == 0) {
    writeBack();
    return FromC(result, nullptr);
  }
  try {
    writeBack();
  } catch (...) {  // the host's own failure is the one to report
  }
  e.text[sizeof e.text - 1] = '\0';
  std::u16string text = U16(e.text);
  if (text.empty()) text = u"The host's object failed";
  throw Error(rc, std::move(text));
}

Object* FindHostObject(const desk_host_vtbl* vtbl, void* self) {
  auto it = g_live->find({static_cast<const void*>(vtbl), self});
  return it == g_live->end() ? nullptr : it->second;
}

Ref<PropertyBag> BagOf(Object* o) {
  if (auto* bag = dynamic_cast<PropertyBag*>(o)) return Ref<PropertyBag>(bag);
  return Ref<PropertyBag>(new BagAdapter(Ref<Object>(o)));
}

}  // namespace desk::capi
