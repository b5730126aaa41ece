// The C interface (desk_c.h) over the C++ run-time. Nothing thrown inside may cross it: every
// entry point catches and answers with an error record.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "desk/desk_c.h"
#include "desk/desk_c_bridge.h"
#include "desk/headless.h"
#include "desk/imagelist.h"
#include "desk/platform.h"
#include "desk/property_bag.h"
#include "desk/text.h"
#include "library.h"

#if defined(__SANITIZE_ADDRESS__)
#define DESK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DESK_ASAN 1
#endif
#endif
#ifdef DESK_ASAN
#include <sanitizer/asan_interface.h>
#define DESK_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define DESK_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define DESK_POISON(p, n) ((void)(p), (void)(n))
#define DESK_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace desk::capi {
namespace {

constexpr std::string_view kSource = "desk";

// ---------------------------------------------------------------------------------------------
// Error records

// `text` in UTF-8 or UTF-16, copied either way with no memory of its own: memory may have run
// out.
template <class Text>
int32_t Fail(desk_error* err, int32_t number, const Text& text, std::string_view source) noexcept {
  if (err) {
    err->number = number;
    CopyUtf8(text, err->text, sizeof err->text);
    CopyUtf8(source, err->source, sizeof err->source);
  }
  return number;
}

int32_t Fail(desk_error* err, Err e, std::string_view source = kSource) {
  return Fail(err, static_cast<int32_t>(e), ErrorText(e), source);
}

// A record that is already clear (the common case: a host reuses one for a run of calls that
// succeed) is left untouched, sparing a write to each of its cache lines.
inline int32_t Ok(desk_error* err) {
  // The number and the text's first byte are adjacent: one load tests both.
  static_assert(offsetof(desk_error, text) == sizeof(int32_t));
  constexpr uint64_t kNumberAndText0 =
      std::endian::native == std::endian::little ? 0xFF'FFFF'FFFFull : 0xFFFF'FFFF'FF00'0000ull;
  uint64_t head = 0;
  if (err) std::memcpy(&head, err, sizeof head);
  if (err && ((head & kNumberAndText0) != 0 || err->source[0] != '\0')) {
    err->number = 0;
    err->text[0] = '\0';
    err->source[0] = '\0';
  }
  return 0;
}

// The answer for whatever was thrown inside; `source` names the interface that failed.
int32_t Translate(desk_error* err, std::string_view source) noexcept {
  try {
    throw;
  } catch (const Error& e) {
    return Fail(err, e.Number(), e.Description(), source);
  } catch (const std::bad_alloc&) {
    return Fail(err, Err::OutOfMemory, source);
  } catch (const std::exception& e) {
    return Fail(err, static_cast<int32_t>(Err::InvalidProcedureCall), e.what(), source);
  } catch (...) {
    return Fail(err, Err::InvalidProcedureCall, source);
  }
}

// ---------------------------------------------------------------------------------------------
// Handles: references that hosts hold, counted per object so that a handle used after its
// last release is recognised.

struct InterfaceC {
  desk_interface_info info{};
  std::vector<desk_member_info> members;
  std::vector<std::vector<desk_param_info>> params;
};

struct TypeLibC {
  desk_typelib_info info{};
  std::vector<desk_class_info> classes;
  std::vector<const desk_interface_info*> interfaces;
};

struct QtEntry {
  bool loaded = false;  // the library stays loaded once its entry points are taken
  int32_t (*install)(void (*flush)(), desk_error*) = nullptr;
  int32_t (*show)(Object*, const char*, int32_t, int32_t, desk_error*) = nullptr;
  int32_t (*run)(desk_error*) = nullptr;
  int32_t (*quit)(desk_error*) = nullptr;
  void (*post)() = nullptr;
};

// Buffers of strings handed out. A host reads short strings (a separator, a key, a caption)
// far more often than long ones and gives each back at once with desk_value_clear, so the
// short ones come from a small pool of fixed slots: a pop and a push instead of malloc and
// free. Longer strings, and short ones while every slot is out, use malloc. Under
// AddressSanitizer a slot is poisoned while it is free, so a string used after its
// desk_value_clear is still reported.
class ShortStrings {
 public:
  static constexpr size_t kUnits = 32;   // code units a slot holds
  static constexpr size_t kSlots = 256;  // 16 KiB

  ShortStrings() {
    for (size_t i = 0; i < kSlots; ++i) free_[i] = static_cast<uint16_t>(kSlots - 1 - i);
    free_count_ = kSlots;
    DESK_POISON(slots_, sizeof slots_);
  }
  uint16_t* Take(size_t units) noexcept {
    if (units > kUnits || free_count_ == 0) return nullptr;
    uint16_t* p = slots_[free_[--free_count_]];
    DESK_UNPOISON(p, kUnits * sizeof(uint16_t));
    return p;
  }
  bool Give(uint16_t* p) noexcept {
    auto a = reinterpret_cast<uintptr_t>(p), base = reinterpret_cast<uintptr_t>(slots_);
    if (a < base || a >= base + sizeof slots_) return false;
    size_t i = (a - base) / sizeof slots_[0];
    DESK_POISON(slots_[i], sizeof slots_[0]);
    free_[free_count_++] = static_cast<uint16_t>(i);
    return true;
  }

 private:
  alignas(64) uint16_t slots_[kSlots][kUnits];
  uint16_t free_[kSlots];
  size_t free_count_ = 0;
};

struct State {
  std::unordered_map<Object*, int64_t> handles;
  // The handle checked last, known to be valid: a host calls the same object many times in a
  // row, and this spares those calls the hash look-up. Cleared when that handle dies.
  Object* lastValid = nullptr;
  int64_t total = 0;
  int depth = 0;                  // C calls in progress
  std::vector<Object*> deferred;  // releases made while a call was in progress
  // The (empty) argument list lent to an outermost call without arguments, so that a property
  // read builds none (a call made from inside it makes its own).
  std::vector<Variant> noArgs;
  // Where the outermost read in progress puts its result and error: kept here rather than in
  // registers across the member's call, which spares that call's frame most of its saves.
  desk_value* readResult = nullptr;
  desk_error* readErr = nullptr;
  Object* readObject = nullptr;
  ShortStrings strings;
  std::unordered_map<const InterfaceInfo*, std::unique_ptr<InterfaceC>> interfaces;
  std::unordered_map<const TypeLibInfo*, std::unique_ptr<TypeLibC>> typeLibs;
  QtEntry qt;
  bool qtInUse = false;
  // Live host objects by their host's (function table, self), for desk_host_find.
  std::map<std::pair<const void*, void*>, Object*> hostObjects;
};

// Never destroyed: hosts (an interpreter shutting down) may release handles after static
// destructors have run. Made when the library loads, before any host can call.
State* const g_state = new State;
inline State& S() { return *g_state; }

void FlushDeferred() {
  State& s = S();
  while (!s.deferred.empty()) {
    std::vector<Object*> now;
    now.swap(s.deferred);
    for (Object* o : now) o->Release();
  }
}

// Marks a C call in progress. A host that releases an object from inside a callback (an event
// handler dropping its control) must not destroy it under the code that raised the event: such
// releases wait until the outermost call returns (or, in an event loop, until it is idle).
struct CallScope {
  CallScope() { ++S().depth; }
  ~CallScope() {
    State& s = S();
    if (--s.depth == 0 && !s.deferred.empty()) FlushDeferred();
  }
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;
};

desk_object* Issue(Object* o) {
  if (!o) return nullptr;
  State& s = S();
  ++s.handles[o];
  ++s.total;
  o->AddRef();
  return reinterpret_cast<desk_object*>(o);
}

// Gives back one handle reference; false when the handle holds none. While a call is in
// progress the object's own release waits for it (see CallScope).
bool Drop(Object* o) {
  State& s = S();
  auto it = s.handles.find(o);
  if (it == s.handles.end()) return false;
  if (--it->second == 0) {
    s.handles.erase(it);
    if (s.lastValid == o) s.lastValid = nullptr;
  }
  --s.total;
  if (s.depth > 0) {
    if (s.deferred.empty() && s.qt.post) s.qt.post();
    s.deferred.push_back(o);
  } else {
    o->Release();
  }
  return true;
}

constexpr std::u16string_view kStaleHandle = u"The object handle is not valid: it was released or never given out";

bool ValidSlow(Object* o) {
  State& s = S();
  if (!s.handles.count(o)) return false;
  s.lastValid = o;
  return true;
}

inline bool Valid(Object* o) { return o == S().lastValid || ValidSlow(o); }

int32_t CheckFailed(desk_object* h, desk_error* err) {
  if (!h) return Fail(err, Err::ObjectNotSet);
  return Fail(err, static_cast<int32_t>(Err::ObjectNotSet), kStaleHandle, kSource);
}

inline int32_t Check(desk_object* h, desk_error* err, Object*& out) {
  out = reinterpret_cast<Object*>(h);
  if (h && Valid(out)) return 0;
  return CheckFailed(h, err);
}

Object* CheckOrThrow(desk_object* h) {
  Object* o = reinterpret_cast<Object*>(h);
  if (!Valid(o)) Raise(Err::ObjectNotSet, std::u16string(kStaleHandle));
  return o;
}

// ---------------------------------------------------------------------------------------------
// Values

// The buffer of a string handed out (never empty, so that a zero-length string has data too).
// A buffer of its own, for a string too long for the pool or while every slot is out.
[[gnu::noinline]] uint16_t* MallocCString(size_t units) {
  auto* p = static_cast<uint16_t*>(std::malloc(std::max<size_t>(units, 1) * sizeof(uint16_t)));
  if (!p) throw std::bad_alloc();
  return p;
}

// A string handed out as `out`: a short one (a separator, a key, a caption) copied unit by
// unit into a slot of the pool, a long one into a buffer of its own.
[[gnu::always_inline]] inline void PutCString(const std::u16string& s, desk_value* out) {
  const size_t n = s.size();
  uint16_t* p = S().strings.Take(n);
  if (p) {
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint16_t>(s[i]);
  } else {
    p = MallocCString(n);
    if (n != 0) std::memcpy(p, s.data(), n * sizeof(uint16_t));
  }
  out->kind = DESK_STRING;
  out->u.string.data = p;
  out->u.string.length = static_cast<int32_t>(n);
}

void FreeCString(uint16_t* p) noexcept {
  if (!S().strings.Give(p)) std::free(p);
}

// Copies of by-reference targets during a call, each in its own box so that a reference into
// one stays valid however many more are added.
using Targets = std::vector<std::unique_ptr<Variant>>;

// A C value as a Variant. A by-reference value becomes a reference to a copy of its target,
// kept in `temps`.
Variant FromC(const desk_value& v, Targets* temps) {
  switch (v.kind) {
    case DESK_EMPTY: return Variant();
    case DESK_MISSING: return Variant::Missing();
    case DESK_INTEGER: return Variant::Integer(v.u.integer);
    case DESK_LONG: return Variant::Long(v.u.long_);
    case DESK_SINGLE: return Variant::Single(v.u.single);
    case DESK_DOUBLE: return Variant::Double(v.u.double_);
    case DESK_BOOLEAN: return Variant::BoolRaw(v.u.boolean);
    case DESK_STRING:
      if (v.u.string.length < 0 || (v.u.string.length > 0 && !v.u.string.data))
        Raise(Err::InvalidProcedureCall, u"A string value has a negative length or no data");
      return Variant::String(std::u16string(reinterpret_cast<const char16_t*>(v.u.string.data),
                                            static_cast<size_t>(v.u.string.length)));
    case DESK_OBJECT:
      if (!v.u.object) return Variant::Nothing();
      return Variant::Object(Ref<Object>(CheckOrThrow(v.u.object)));
    case DESK_BYREF: {
      if (!temps) Raise(Err::TypeMismatch, u"A by-reference value is not allowed here");
      if (!v.u.ref) Raise(Err::InvalidProcedureCall, u"A by-reference argument points at no value");
      if (v.u.ref->kind == DESK_BYREF) Raise(Err::TypeMismatch, u"A by-reference argument points at another reference");
      temps->push_back(std::make_unique<Variant>(FromC(*v.u.ref, nullptr)));
      // A target of a definite kind keeps it; an Empty one takes whatever the callee writes.
      return Variant::ByRef(temps->back().get(), v.u.ref->kind != DESK_EMPTY);
    }
    default:
      Raise(Err::TypeMismatch, u"Unknown kind of value " + DecimalText(v.kind));
  }
}

// A Variant as an owned C value (a copied string, a new handle). Cleared, then written field
// by field into `out`: a whole desk_value built on the stack and copied out stalls on reading
// back the narrow stores it is made of, which cost as much as the rest of a property read.
void ToC(const Variant& in, desk_value* out) {
  const Variant& v = in.IsByRef() ? in.Deref() : in;  // results are values: spare the call
  *out = desk_value{};  // no stale bytes of what the caller's value held before
  switch (v.Type()) {
    case VarType::Integer: out->kind = DESK_INTEGER, out->u.integer = v.RawInteger(); return;
    case VarType::Long: out->kind = DESK_LONG, out->u.long_ = v.RawLong(); return;
    case VarType::Single: out->kind = DESK_SINGLE, out->u.single = v.RawSingle(); return;
    case VarType::Double: out->kind = DESK_DOUBLE, out->u.double_ = v.RawDouble(); return;
    case VarType::Boolean: out->kind = DESK_BOOLEAN, out->u.boolean = v.RawBoolean(); return;
    case VarType::String: PutCString(v.RawString(), out); return;
    case VarType::Object: {
      desk_object* h = Issue(v.RawObject().get());
      out->kind = DESK_OBJECT;
      out->u.object = h;
      return;
    }
    case VarType::Missing: out->kind = DESK_MISSING; return;
    case VarType::Empty:
    case VarType::ByRef:
    case VarType::Any: return;  // Empty, as cleared above (Deref and tables never give the last two)
  }
}

void ClearC(desk_value* v) {
  if (!v) return;
  if (v->kind == DESK_STRING) FreeCString(const_cast<uint16_t*>(v->u.string.data));
  if (v->kind == DESK_OBJECT && v->u.object) Drop(reinterpret_cast<Object*>(v->u.object));
  *v = desk_value{};
}

[[gnu::noinline]] void ClearOwned(desk_value* v) { ClearC(v); }

// ---------------------------------------------------------------------------------------------
// Type information

const desk_interface_info* InterfaceOf(const InterfaceInfo& i) {
  auto& slot = S().interfaces[&i];
  if (!slot) {
    auto c = std::make_unique<InterfaceC>();
    for (const MemberInfo& m : i.members) {
      auto& ps = c->params.emplace_back();
      for (const ParamInfo& p : m.params)
        ps.push_back({p.name, static_cast<int32_t>(p.type), p.byRef, p.optional, p.objectType});
    }
    for (size_t k = 0; k < i.members.size(); ++k) {
      const MemberInfo& m = i.members[k];
      c->members.push_back({m.name, m.id, static_cast<int32_t>(m.kind), static_cast<int32_t>(m.result),
                            static_cast<int32_t>(m.params.size()), c->params[k].data(), m.help, m.hidden,
                            m.objectType});
    }
    c->info = {i.name.c_str(), i.iid.c_str(), static_cast<int32_t>(c->members.size()), c->members.data()};
    slot = std::move(c);
  }
  return &slot->info;
}

// ---------------------------------------------------------------------------------------------
// Objects the host implements

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

class HostObject final : public Object {
 public:
  HostObject(const desk_host_vtbl* vtbl, void* self, const desk_host_member* members, int32_t count)
      : vt_(*vtbl), vtbl_(vtbl), self_(self) {
    info_.name = "HostObject";
    // The names must outlive the host's list: the interface points at copies kept here.
    for (int32_t i = 0; i < count; ++i) names_.push_back(std::make_unique<std::string>(members[i].name));
    for (int32_t i = 0; i < count; ++i)
      info_.members.push_back({names_[i]->c_str(), members[i].id, static_cast<InvokeKind>(members[i].invoke_kind), {}});
    info_.BuildIndex();
    S().hostObjects[{vtbl_, self_}] = this;
  }
  ~HostObject() override {
    auto& live = S().hostObjects;
    auto it = live.find({vtbl_, self_});
    if (it != live.end() && it->second == this) live.erase(it);
    if (vt_.destroy) vt_.destroy(self_);
  }
  // The host keeps its object: the library failed to hand out a handle to it.
  void Disown() { vt_.destroy = nullptr; }
  const InterfaceInfo& Interface() const override { return info_; }

  Variant Invoke(DispId id, InvokeKind kind, std::vector<Variant>& args) override {
    if (!vt_.invoke) Raise(Err::NotSupported);
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

 private:
  desk_host_vtbl vt_;
  const void* vtbl_;
  void* self_;
  std::vector<std::unique_ptr<std::string>> names_;
  InterfaceInfo info_;
};

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

Ref<PropertyBag> BagOf(Object* o) {
  if (auto* bag = dynamic_cast<PropertyBag*>(o)) return Ref<PropertyBag>(bag);
  return Ref<PropertyBag>(new BagAdapter(Ref<Object>(o)));
}

Control& ControlOf(Object* o) {
  auto* c = dynamic_cast<Control*>(o);
  if (!c) Raise(Err::NotSupported);
  return *c;
}

std::string SourceOf(Object* o) noexcept {
  try {
    return o ? o->Interface().name : std::string(kSource);
  } catch (...) {
    return std::string(kSource);
  }
}

// Runs `body` for a control or bag call: handle check, call scope, errors caught.
template <class F>
int32_t Guarded(desk_object* h, desk_error* err, F&& body) noexcept {
  CallScope scope;
  Object* o = nullptr;
  if (int32_t e = Check(h, err, o)) return e;
  try {
    body(o);
    return Ok(err);
  } catch (...) {
    return Translate(err, SourceOf(o));
  }
}

HeadlessSurface& HeadlessSurfaceOf(Object* o) {
  Surface* surface = ControlOf(o).GetSurface();
  auto* h = dynamic_cast<HeadlessSurface*>(surface);
  if (!h) Raise(Err::InvalidProcedureCall, u"The control is not on the headless platform");
  return *h;
}

bool NeedQt(desk_error* err) {
  if (S().qtInUse) return true;
  Fail(err, static_cast<int32_t>(Err::InvalidProcedureCall), "Windows need the Qt platform: desk_use_platform(\"qt\")",
       kSource);
  return false;
}

// The result of a call as the caller's value: scalars and strings written here, the rest by ToC.
[[gnu::always_inline]] inline void ResultToC(const Variant& r, desk_value* out) {
  *out = desk_value{};
  // Tested in turn rather than through a jump table: a property read's result is nearly always
  // one of the first few, and a compare costs less than an indirect jump.
  const VarType t = r.Type();
  if (t == VarType::Integer) {
    out->kind = DESK_INTEGER, out->u.integer = r.RawInteger();
  } else if (t == VarType::Boolean) {
    out->kind = DESK_BOOLEAN, out->u.boolean = r.RawBoolean();
  } else if (t == VarType::Long) {
    out->kind = DESK_LONG, out->u.long_ = r.RawLong();
  } else if (t == VarType::String) {
    PutCString(r.RawString(), out);
  } else if (t != VarType::Empty) {
    ToC(r, out);
  }
}

// A call in full: handle, kind and argument checks, a call scope, the arguments converted, and
// by-reference targets written back whatever happens.
[[gnu::noinline]] int32_t InvokeInFull(desk_object* h, int32_t id, int32_t kind, const desk_value* args, int32_t argc,
                                       desk_value* result, desk_error* err) noexcept {
  CallScope scope;
  if (result) *result = desk_value{};
  Object* o = nullptr;
  if (int32_t e = Check(h, err, o)) return e;
  if (argc < 0 || (argc > 0 && !args))
    return Fail(err, static_cast<int32_t>(Err::InvalidProcedureCall), "The argument count or list is not valid",
                SourceOf(o));
  if (kind != DESK_GET && kind != DESK_LET && kind != DESK_SET && kind != DESK_METHOD)
    return Fail(err, static_cast<int32_t>(Err::InvalidProcedureCall), "Unknown kind of call " + std::to_string(kind),
                SourceOf(o));
  Targets temps;  // the by-reference targets' values during the call
  std::vector<Variant> a;
  // Every by-reference target ends up holding a value written here, whatever happens.
  auto writeBack = [&] {
    size_t t = 0;
    for (int32_t i = 0; i < argc; ++i) {
      if (args[i].kind != DESK_BYREF || !args[i].u.ref || args[i].u.ref->kind == DESK_BYREF) continue;
      if (t < temps.size())
        ToC(*temps[t++], args[i].u.ref);
      else
        *args[i].u.ref = desk_value{};
    }
  };
  try {
    for (int32_t i = 0; i < argc; ++i) a.push_back(FromC(args[i], &temps));
    Variant r = o->Invoke(id, static_cast<InvokeKind>(kind), a);
    writeBack();
    if (result) ToC(r, result);
    return Ok(err);
  } catch (...) {
    int32_t rc = Translate(err, SourceOf(o));
    try {
      writeBack();
    } catch (...) {
    }
    return rc;
  }
}

// The unusual ends of a read, out of its way: a failure, and the work left after a call that
// padded the kept argument list or released objects.
[[gnu::noinline, gnu::cold]] int32_t ReadFailed(State& s) noexcept {
  if (s.readResult) *s.readResult = desk_value{};
  return Translate(s.readErr, SourceOf(s.readObject));
}

[[gnu::noinline]] void AfterRead(State& s) noexcept {
  s.noArgs.clear();  // a member with optional arguments padded it
  if (!s.deferred.empty()) FlushDeferred();
}

// A call without arguments (every property read), as a host makes them: many in a row on the
// handle it used last. No argument vector is built (the kept empty one is lent to the call),
// and the result is written straight into the caller's value. The host's handle keeps the
// object alive for the call (its release is deferred while a call is in progress), so no
// reference is taken here. Anything else (another handle, a call made from inside a call)
// takes the full path.
[[gnu::always_inline]] inline int32_t CallWithoutArgs(desk_object* h, int32_t id, InvokeKind kind, desk_value* result,
                                                      desk_error* err) noexcept {
  State& s = S();
  Object* o = reinterpret_cast<Object*>(h);
  if (!o || o != s.lastValid || s.depth != 0) [[unlikely]]
    return InvokeInFull(h, id, static_cast<int32_t>(kind), nullptr, 0, result, err);
  s.depth = 1;  // the call scope, written out: this is the outermost call
  s.readResult = result;
  s.readErr = err;
  s.readObject = o;
  int32_t rc = 0;
  try {
    Variant r = o->Invoke(id, kind, s.noArgs);
    State& t = S();
    if (t.readResult) ResultToC(r, t.readResult);
  } catch (...) {
    rc = ReadFailed(S());
  }
  State& t = S();
  if (rc == 0) Ok(t.readErr);
  t.depth = 0;
  if (!t.noArgs.empty() || !t.deferred.empty()) [[unlikely]]
    AfterRead(t);
  return rc;
}

}  // namespace

int32_t Create(CreateObjectFn create, const char* source, const char* clsid, desk_object** out,
               desk_error* err) noexcept {
  CallScope scope;
  if (!out) return Fail(err, static_cast<int32_t>(Err::InvalidProcedureCall), "No place for the new object", source);
  *out = nullptr;
  Object* o = nullptr;
  char message[512] = {};
  int32_t rc = create(clsid, &o, message, sizeof message);
  if (rc != 0) return Fail(err, rc, message, source);
  try {
    *out = Issue(o);
    o->Release();  // the handle holds it now
    return Ok(err);
  } catch (...) {
    o->Release();
    return Translate(err, source);
  }
}

const desk_typelib_info* TypeLib(const TypeLibInfo& lib) noexcept {
  try {
    auto& slot = S().typeLibs[&lib];
    if (!slot) {
      auto c = std::make_unique<TypeLibC>();
      for (const ClassInfo& k : lib.classes)
        c->classes.push_back({k.name.c_str(), k.clsid.c_str(), k.creatable, k.dispatch ? InterfaceOf(*k.dispatch) : nullptr,
                              k.events ? InterfaceOf(*k.events) : nullptr});
      for (const InterfaceInfo* i : lib.interfaces) c->interfaces.push_back(InterfaceOf(*i));
      c->info = {lib.name.c_str(), lib.libid.c_str(), static_cast<int32_t>(c->classes.size()), c->classes.data(),
                 static_cast<int32_t>(c->interfaces.size()), c->interfaces.data()};
      slot = std::move(c);
    }
    return &slot->info;
  } catch (...) {
    return nullptr;
  }
}

}  // namespace desk::capi

using namespace desk;
using namespace desk::capi;

extern "C" {

DESK_C_API uint32_t desk_version(void) { return DESK_C_VERSION; }

DESK_C_API int32_t desk_check_version(uint32_t version, desk_error* err) {
  uint32_t major = version >> 16, minor = version & 0xFFFF;
  if (major == DESK_C_VERSION_MAJOR && minor <= DESK_C_VERSION_MINOR) return Ok(err);
  std::string text = "The host was written for interface version " + std::to_string(major) + "." +
                     std::to_string(minor) + "; this library provides version " +
                     std::to_string(DESK_C_VERSION_MAJOR) + "." + std::to_string(DESK_C_VERSION_MINOR);
  return Fail(err, static_cast<int32_t>(Err::CantCreateObject), text, "desk");
}

DESK_C_API int32_t desk_addref(desk_object* h, desk_error* err) {
  Object* o = nullptr;
  if (int32_t e = Check(h, err, o)) return e;
  Issue(o);
  return Ok(err);
}

DESK_C_API int32_t desk_release(desk_object* h) {
  if (!h) return static_cast<int32_t>(Err::ObjectNotSet);
  return Drop(reinterpret_cast<Object*>(h)) ? 0 : static_cast<int32_t>(Err::ObjectNotSet);
}

DESK_C_API int64_t desk_handle_count(void) { return S().total; }

DESK_C_API const desk_interface_info* desk_object_interface(desk_object* h, desk_error* err) {
  Object* o = nullptr;
  if (Check(h, err, o)) return nullptr;
  try {
    const desk_interface_info* i = InterfaceOf(o->Interface());
    Ok(err);
    return i;
  } catch (...) {
    Translate(err, "desk");
    return nullptr;
  }
}

DESK_C_API const desk_interface_info* desk_event_interface(desk_object* h, desk_error* err) {
  Object* o = nullptr;
  if (Check(h, err, o)) return nullptr;
  try {
    auto* c = dynamic_cast<Control*>(o);
    const desk_interface_info* i = c ? InterfaceOf(c->EventInterface()) : nullptr;
    Ok(err);
    return i;
  } catch (...) {
    Translate(err, SourceOf(o));
    return nullptr;
  }
}

DESK_C_API int32_t desk_id_of_name(desk_object* h, const char* name, int32_t* id, desk_error* err) {
  Object* o = nullptr;
  if (int32_t e = Check(h, err, o)) return e;
  if (!name || !id) return Fail(err, Err::InvalidProcedureCall, SourceOf(o));
  try {
    DispId d = o->Interface().IdOfName(U16(name));
    if (d == kNoDispId) Raise(Err::NotSupported);
    *id = d;
    return Ok(err);
  } catch (...) {
    return Translate(err, SourceOf(o));
  }
}

DESK_C_API int32_t desk_invoke(desk_object* h, int32_t id, int32_t kind, const desk_value* args, int32_t argc,
                               desk_value* result, desk_error* err) {
  // The four kinds are single bits: one test of a mask instead of four compares.
  constexpr uint32_t kKinds = (1u << DESK_GET) | (1u << DESK_LET) | (1u << DESK_SET) | (1u << DESK_METHOD);
  if (argc == 0 && static_cast<uint32_t>(kind) < 32 && ((kKinds >> kind) & 1u))
    return CallWithoutArgs(h, id, static_cast<InvokeKind>(kind), result, err);
  return InvokeInFull(h, id, kind, args, argc, result, err);
}

DESK_C_API int32_t desk_get(desk_object* h, int32_t id, desk_value* result, desk_error* err) {
  return CallWithoutArgs(h, id, InvokeKind::Get, result, err);
}

DESK_C_API void desk_value_clear(desk_value* v) {
  // Most values a host clears are scalars, which own nothing: those return without a frame.
  if (v && v->kind != DESK_OBJECT) [[likely]] {
    if (v->kind != DESK_STRING || S().strings.Give(const_cast<uint16_t*>(v->u.string.data))) [[likely]] {
      *v = desk_value{};
      return;
    }
  }
  ClearOwned(v);
}

DESK_C_API int32_t desk_value_set(desk_value* dst, const desk_value* src, desk_error* err) {
  if (!dst || !src) return Fail(err, Err::InvalidProcedureCall);
  try {
    desk_value copy{};
    ToC(FromC(*src, nullptr), &copy);
    ClearC(dst);
    *dst = copy;
    return Ok(err);
  } catch (...) {
    return Translate(err, "desk");
  }
}

DESK_C_API int32_t desk_string_utf8(const char* utf8, desk_value* out, desk_error* err) {
  if (!out) return Fail(err, Err::InvalidProcedureCall);
  *out = desk_value{};
  if (!utf8) return Fail(err, static_cast<int32_t>(Err::InvalidProcedureCall), "No text", "desk");
  try {
    std::string_view s(utf8);
    std::u16string u = U16(s);
    // U16 substitutes; a text that does not survive the round trip was not UTF-8.
    if (U8(u) != s) return Fail(err, static_cast<int32_t>(Err::InvalidProcedureCall), "The text is not UTF-8", "desk");
    ToC(Variant::String(std::move(u)), out);
    return Ok(err);
  } catch (...) {
    return Translate(err, "desk");
  }
}

DESK_C_API int32_t desk_value_text(const desk_value* v, char* buf, size_t size, desk_error* err) {
  if (!v || !buf || size == 0) return Fail(err, Err::InvalidProcedureCall);
  buf[0] = '\0';
  try {
    Targets temps;
    CopyUtf8(U8(FromC(*v, &temps).ToString()), buf, size);
    return Ok(err);
  } catch (...) {
    return Translate(err, "desk");
  }
}

DESK_C_API int32_t desk_value_long(const desk_value* v, int32_t* out, desk_error* err) {
  if (!v || !out) return Fail(err, Err::InvalidProcedureCall);
  try {
    Targets temps;
    *out = FromC(*v, &temps).ToLong();
    return Ok(err);
  } catch (...) {
    return Translate(err, "desk");
  }
}

DESK_C_API int32_t desk_host_new(const desk_host_vtbl* vtbl, void* self, const desk_host_member* members,
                                 int32_t count, desk_object** out, desk_error* err) {
  if (!out) return Fail(err, Err::InvalidProcedureCall);
  *out = nullptr;
  if (!vtbl || vtbl->size < sizeof(desk_host_vtbl) || !vtbl->invoke)
    return Fail(err, static_cast<int32_t>(Err::InvalidProcedureCall), "The host object's function table is not valid",
                "desk");
  if (count < 0 || (count > 0 && !members))
    return Fail(err, static_cast<int32_t>(Err::InvalidProcedureCall), "The member list is not valid", "desk");
  for (int32_t i = 0; i < count; ++i)
    if (!members[i].name)
      return Fail(err, static_cast<int32_t>(Err::InvalidProcedureCall), "A member has no name", "desk");
  try {
    Ref<HostObject> o(new HostObject(vtbl, self, members, count));
    try {
      *out = Issue(o.get());
    } catch (...) {
      o->Disown();
      throw;
    }
    return Ok(err);
  } catch (...) {
    return Translate(err, "desk");
  }
}

DESK_C_API int32_t desk_host_find(const desk_host_vtbl* vtbl, void* self, desk_object** out, desk_error* err) {
  if (!out) return Fail(err, Err::InvalidProcedureCall);
  *out = nullptr;
  auto& live = S().hostObjects;
  auto it = live.find({static_cast<const void*>(vtbl), self});
  if (it == live.end())
    return Fail(err, static_cast<int32_t>(Err::ObjectNotSet), "No live object of the host has this function table and self",
                "desk");
  try {
    *out = Issue(it->second);
    return Ok(err);
  } catch (...) {
    return Translate(err, "desk");
  }
}

DESK_C_API int32_t desk_advise(desk_object* control, desk_object* sink, int32_t* cookie, desk_error* err) {
  return Guarded(control, err, [&](Object* o) {
    if (!cookie) Raise(Err::InvalidProcedureCall);
    if (!sink) Raise(Err::ObjectNotSet);
    *cookie = ControlOf(o).Advise(Ref<Object>(CheckOrThrow(sink)));
  });
}

DESK_C_API int32_t desk_unadvise(desk_object* control, int32_t cookie, desk_error* err) {
  return Guarded(control, err, [&](Object* o) { ControlOf(o).Unadvise(cookie); });
}

DESK_C_API int32_t desk_init_properties(desk_object* control, desk_error* err) {
  return Guarded(control, err, [&](Object* o) { ControlOf(o).InitProperties(); });
}

DESK_C_API int32_t desk_read_properties(desk_object* control, desk_object* bag, desk_error* err) {
  return Guarded(control, err, [&](Object* o) {
    if (!bag) Raise(Err::ObjectNotSet);
    Control& c = ControlOf(o);
    c.ReadProperties(*BagOf(CheckOrThrow(bag)));
  });
}

DESK_C_API int32_t desk_write_properties(desk_object* control, desk_object* bag, desk_error* err) {
  return Guarded(control, err, [&](Object* o) {
    if (!bag) Raise(Err::ObjectNotSet);
    Control& c = ControlOf(o);
    c.WriteProperties(*BagOf(CheckOrThrow(bag)));
  });
}

DESK_C_API int32_t desk_bag_new(desk_object** out, desk_error* err) {
  if (!out) return Fail(err, Err::InvalidProcedureCall);
  *out = nullptr;
  try {
    *out = Issue(new MemoryPropertyBag());
    return Ok(err);
  } catch (...) {
    return Translate(err, "desk");
  }
}

DESK_C_API int32_t desk_bag_save(desk_object* bag, const char* path, desk_error* err) {
  return Guarded(bag, err, [&](Object* o) {
    auto* b = dynamic_cast<MemoryPropertyBag*>(o);
    if (!b) Raise(Err::NotSupported);
    if (!path) Raise(Err::InvalidProcedureCall);
    b->SaveToFile(std::filesystem::path(path));
  });
}

DESK_C_API int32_t desk_bag_load(const char* path, desk_object** out, desk_error* err) {
  if (!out) return Fail(err, Err::InvalidProcedureCall);
  *out = nullptr;
  if (!path) return Fail(err, Err::InvalidProcedureCall);
  try {
    Ref<MemoryPropertyBag> b = MakeRef<MemoryPropertyBag>();
    b->LoadFromFile(std::filesystem::path(path));
    *out = Issue(b.get());
    return Ok(err);
  } catch (...) {
    return Translate(err, "desk");
  }
}

DESK_C_API int32_t desk_use_platform(const char* name, desk_error* err) {
  std::string_view n = name ? name : "";
  if (n != "headless" && n != "qt")
    return Fail(err, static_cast<int32_t>(Err::InvalidProcedureCall),
                "Unknown platform \"" + std::string(n) + "\": \"headless\" or \"qt\"", "desk");
  // Surfaces keep their platform: replacing it under live controls would leave them dangling.
  if (S().total > 0)
    return Fail(err, static_cast<int32_t>(Err::InvalidProcedureCall),
                "The platform is chosen before any object is created (the host holds " + std::to_string(S().total) +
                    " handles)",
                "desk");
  try {
    if (n == "headless") {
      SetPlatform(std::make_shared<HeadlessPlatform>());
      S().qtInUse = false;
      return Ok(err);
    }
    QtEntry& q = S().qt;
    if (!q.loaded) {
      // By its SONAME, which a run-time installation has without the development link.
      detail::Library lib(DESK_QT_LIBRARY, true);
      if (!lib.Loaded())
        return Fail(err, static_cast<int32_t>(Err::CantCreateObject),
                    "The Qt platform is not available: " + lib.Why(), "desk");
      QtEntry e;
      e.install = lib.Entry<decltype(e.install)>("DeskQt_CInstall");
      e.show = lib.Entry<decltype(e.show)>("DeskQt_CShow");
      e.run = lib.Entry<decltype(e.run)>("DeskQt_CRun");
      e.quit = lib.Entry<decltype(e.quit)>("DeskQt_CQuit");
      e.post = lib.Entry<decltype(e.post)>("DeskQt_CPost");
      if (!e.install || !e.show || !e.run || !e.quit || !e.post)
        return Fail(err, static_cast<int32_t>(Err::CantCreateObject),
                    DESK_QT_LIBRARY " lacks the entry points of the C interface", "desk");
      lib.Keep();
      e.loaded = true;
      q = e;
    }
    if (int32_t rc = q.install(&FlushDeferred, err)) return rc;
    S().qtInUse = true;
    return Ok(err);
  } catch (...) {
    return Translate(err, "desk");
  }
}

DESK_C_API int32_t desk_show(desk_object* control, const char* title, int32_t width, int32_t height, desk_error* err) {
  CallScope scope;
  Object* o = nullptr;
  if (int32_t e = Check(control, err, o)) return e;
  if (!NeedQt(err)) return err ? err->number : static_cast<int32_t>(Err::InvalidProcedureCall);
  return S().qt.show(o, title ? title : "", width, height, err);
}

DESK_C_API int32_t desk_run(desk_error* err) {
  CallScope scope;
  if (!NeedQt(err)) return err ? err->number : static_cast<int32_t>(Err::InvalidProcedureCall);
  return S().qt.run(err);
}

DESK_C_API int32_t desk_quit(desk_error* err) {
  if (!NeedQt(err)) return err ? err->number : static_cast<int32_t>(Err::InvalidProcedureCall);
  return S().qt.quit(err);
}

DESK_C_API int32_t desk_do_events(desk_error* err) {
  CallScope scope;
  try {
    CurrentPlatform().DoEvents();
    return Ok(err);
  } catch (...) {
    return Translate(err, "desk");
  }
}

DESK_C_API int32_t desk_set_picture_cache_bytes(uint64_t bytes, desk_error* err) {
  SetPictureCacheBytes(static_cast<size_t>(std::min<uint64_t>(bytes, SIZE_MAX)));
  return Ok(err);
}

DESK_C_API int32_t desk_headless_resize(desk_object* control, float width, float height, desk_error* err) {
  return Guarded(control, err, [&](Object* o) { HeadlessSurfaceOf(o).SetScale(0, 0, width, height); });
}

DESK_C_API int32_t desk_headless_popup_choice(int32_t index, desk_error* err) {
  HeadlessPlatform* p = Headless();
  if (!p)
    return Fail(err, static_cast<int32_t>(Err::InvalidProcedureCall), "The headless platform is not in use", "desk");
  p->choosePopupItem = [index](MenuArray&) { return index; };
  return Ok(err);
}

DESK_C_API int32_t desk_headless_click(desk_object* control, int32_t button, int32_t shift, float x, float y,
                                       desk_error* err) {
  return Guarded(control, err, [&](Object* o) {
    Ref<Object> keep(o);
    HeadlessSurface& s = HeadlessSurfaceOf(o);
    Ref<TreeView> tree = s.TreeRef();
    int16_t b = static_cast<int16_t>(button), sh = static_cast<int16_t>(shift);
    float px = x, py = y;
    tree->RaiseMouseDown(b, sh, px, py);
    b = static_cast<int16_t>(button), sh = static_cast<int16_t>(shift), px = x, py = y;
    tree->RaiseMouseUp(b, sh, px, py);
  });
}

DESK_C_API const desk_api* desk_get_api(uint32_t version, desk_error* err) {
  static const desk_api api = {
      DESK_C_VERSION,         desk_addref,          desk_release,          desk_handle_count,
      desk_object_interface,  desk_event_interface, desk_id_of_name,       desk_invoke,
      desk_get,               desk_value_clear,     desk_value_set,        desk_string_utf8,
      desk_value_text,        desk_value_long,      desk_host_new,         desk_advise,
      desk_unadvise,          desk_init_properties, desk_read_properties,  desk_write_properties,
      desk_bag_new,           desk_bag_save,        desk_bag_load,         desk_use_platform,
      desk_show,              desk_run,             desk_quit,             desk_headless_resize,
      desk_headless_popup_choice, desk_headless_click, desk_host_find,
      desk_do_events,         desk_set_picture_cache_bytes,
  };
  if (desk_check_version(version, err) != 0) return nullptr;
  return &api;
}

}  // extern "C"
