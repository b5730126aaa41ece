// The entry points of the C interface (desk_c.h) over the C++ run-time, and its table. Nothing
// thrown inside may cross it: every entry point catches and answers with an error record.
//
// The preambles, in one place: a call on a handle goes through Check (state.h: the thread, then
// the handle), a call on a control or bag through Guarded (Check, call scope, errors caught),
// any other call through Caught (the thread, errors caught), and member calls through invoke.h
// (CallWithoutArgs, the tuned read path, and InvokeInFull). So every entry point checks the
// thread first, except those any thread may call (desk_c.h, THREADS): the version and table,
// the handle count, desk_ui_thread, desk_post, and desk_release and desk_value_clear, which
// queue what another thread gives back (posted.h).
//
//   state.h        handles, deferred releases, the call scope
//   error_record.h error records
//   values.h       C values and Variants
//   type_info.h    type information in C form
//   host_object.h  objects the host implements, property bags
//   invoke.h       member calls
//   posted.h       calls queued for the UI thread from any thread
//   qt_backend.h   the Qt platform, loaded on demand
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "capi/error_record.h"
#include "capi/host_object.h"
#include "capi/invoke.h"
#include "capi/posted.h"
#include "capi/qt_backend.h"
#include "capi/state.h"
#include "capi/type_info.h"
#include "capi/values.h"
#include "desk/desk_c.h"
#include "desk/desk_c_bridge.h"
#include "desk/headless.h"
#include "desk/imagelist.h"
#include "desk/platform.h"
#include "desk/property_bag.h"
#include "desk/text.h"

namespace desk::capi {
namespace {

// Runs `body` for a control or bag call: thread and handle checked, call scope, errors caught.
template <class F>
int32_t Guarded(desk_object* h, desk_error* err, F&& body) noexcept {
  Object* o = nullptr;
  if (int32_t e = Check(h, err, o)) return e;
  CallScope scope;
  try {
    body(o);
    return Ok(err);
  } catch (...) {
    return Translate(err, SourceOf(o));
  }
}

// Runs `body` on the UI thread; it answers 0 or an error number, and whatever it throws is
// answered in the record (source "desk").
template <class F>
int32_t Caught(desk_error* err, F&& body) noexcept {
  if (int32_t e = UiThread(err)) return e;
  try {
    return body();
  } catch (...) {
    return Translate(err, kSource);
  }
}

Control& ControlOf(Object* o) {
  auto* c = dynamic_cast<Control*>(o);
  if (!c) Raise(Err::NotSupported);
  return *c;
}

HeadlessSurface& HeadlessSurfaceOf(Object* o) {
  Surface* surface = ControlOf(o).GetSurface();
  auto* h = dynamic_cast<HeadlessSurface*>(surface);
  if (!h) Raise(Err::InvalidProcedureCall, u"The control is not on the headless platform");
  return *h;
}

}  // namespace

int32_t Create(CreateObjectFn create, const char* source, const char* clsid, desk_object** out,
               desk_error* err) noexcept {
  if (int32_t e = UiThread(err)) return e;
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
  return Fail(err, static_cast<int32_t>(Err::CantCreateObject), text, kSource);
}

DESK_C_API int32_t desk_addref(desk_object* h, desk_error* err) {
  Object* o = nullptr;
  if (int32_t e = Check(h, err, o)) return e;
  Issue(o);
  return Ok(err);
}

DESK_C_API int32_t desk_release(desk_object* h) {
  if (!h) return static_cast<int32_t>(Err::ObjectNotSet);
  if (!t_uiThread) [[unlikely]]
    return ReleaseLater(h);
  return Drop(reinterpret_cast<Object*>(h)) ? 0 : static_cast<int32_t>(Err::ObjectNotSet);
}

DESK_C_API int64_t desk_handle_count(void) { return S().total.Get(); }

DESK_C_API const desk_interface_info* desk_object_interface(desk_object* h, desk_error* err) {
  Object* o = nullptr;
  if (Check(h, err, o)) return nullptr;
  try {
    const desk_interface_info* i = InterfaceOf(o->Interface());
    Ok(err);
    return i;
  } catch (...) {
    Translate(err, kSource);
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
    if (v->kind != DESK_STRING || (t_uiThread && S().strings.Give(const_cast<uint16_t*>(v->u.string.data))))
        [[likely]] {
      *v = desk_value{};
      return;
    }
  }
  if (v && !t_uiThread) return ClearLater(v);
  ClearOwned(v);
}

DESK_C_API int32_t desk_value_set(desk_value* dst, const desk_value* src, desk_error* err) {
  return Caught(err, [&] {
    if (!dst || !src) return Fail(err, Err::InvalidProcedureCall);
    desk_value copy{};
    ToC(FromC(*src, nullptr), &copy);
    ClearC(dst);
    *dst = copy;
    return Ok(err);
  });
}

DESK_C_API int32_t desk_string_utf8(const char* utf8, desk_value* out, desk_error* err) {
  return Caught(err, [&] {
    if (!out) return Fail(err, Err::InvalidProcedureCall);
    *out = desk_value{};
    if (!utf8) return Fail(err, static_cast<int32_t>(Err::InvalidProcedureCall), "No text", kSource);
    std::string_view s(utf8);
    std::u16string u = U16(s);
    // U16 substitutes; a text that does not survive the round trip was not UTF-8.
    if (U8(u) != s) return Fail(err, static_cast<int32_t>(Err::InvalidProcedureCall), "The text is not UTF-8", kSource);
    ToC(Variant::String(std::move(u)), out);
    return Ok(err);
  });
}

DESK_C_API int32_t desk_value_text(const desk_value* v, char* buf, size_t size, desk_error* err) {
  return Caught(err, [&] {
    if (!v || !buf || size == 0) return Fail(err, Err::InvalidProcedureCall);
    buf[0] = '\0';
    Targets temps;
    CopyUtf8(U8(FromC(*v, &temps).ToString()), buf, size);
    return Ok(err);
  });
}

DESK_C_API int32_t desk_value_long(const desk_value* v, int32_t* out, desk_error* err) {
  return Caught(err, [&] {
    if (!v || !out) return Fail(err, Err::InvalidProcedureCall);
    Targets temps;
    *out = FromC(*v, &temps).ToLong();
    return Ok(err);
  });
}

DESK_C_API int32_t desk_host_new(const desk_host_vtbl* vtbl, void* self, const desk_host_member* members,
                                 int32_t count, desk_object** out, desk_error* err) {
  return Caught(err, [&] {
    if (!out) return Fail(err, Err::InvalidProcedureCall);
    *out = nullptr;
    if (!vtbl || vtbl->size < sizeof(desk_host_vtbl) || !vtbl->invoke)
      return Fail(err, static_cast<int32_t>(Err::InvalidProcedureCall), "The host object's function table is not valid",
                  kSource);
    if (count < 0 || (count > 0 && !members))
      return Fail(err, static_cast<int32_t>(Err::InvalidProcedureCall), "The member list is not valid", kSource);
    for (int32_t i = 0; i < count; ++i)
      if (!members[i].name)
        return Fail(err, static_cast<int32_t>(Err::InvalidProcedureCall), "A member has no name", kSource);
    Ref<HostObject> o(new HostObject(vtbl, self, members, count));
    try {
      *out = Issue(o.get());
    } catch (...) {
      o->Disown();
      throw;
    }
    return Ok(err);
  });
}

DESK_C_API int32_t desk_host_find(const desk_host_vtbl* vtbl, void* self, desk_object** out, desk_error* err) {
  return Caught(err, [&] {
    if (!out) return Fail(err, Err::InvalidProcedureCall);
    *out = nullptr;
    Object* live = FindHostObject(vtbl, self);
    if (!live)
      return Fail(err, static_cast<int32_t>(Err::ObjectNotSet),
                  "No live object of the host has this function table and self", kSource);
    *out = Issue(live);
    return Ok(err);
  });
}

DESK_C_API int32_t desk_advise(desk_object* control, desk_object* sink, int32_t* cookie, desk_error* err) {
  return Guarded(control, err, [&](Object* o) {
    if (!cookie) Raise(Err::InvalidProcedureCall);
    if (!sink) Raise(Err::ObjectNotSet);
    *cookie = ControlOf(o).Advise(Ref<Object>(CheckOrThrow(sink)));
  });
}

// A cookie that was given back already, or never issued, is refused with 5.
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
  return Caught(err, [&] {
    if (!out) return Fail(err, Err::InvalidProcedureCall);
    *out = nullptr;
    *out = Issue(new MemoryPropertyBag());
    return Ok(err);
  });
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
  return Caught(err, [&] {
    if (!out) return Fail(err, Err::InvalidProcedureCall);
    *out = nullptr;
    if (!path) return Fail(err, Err::InvalidProcedureCall);
    Ref<MemoryPropertyBag> b = MakeRef<MemoryPropertyBag>();
    b->LoadFromFile(std::filesystem::path(path));
    *out = Issue(b.get());
    return Ok(err);
  });
}

DESK_C_API int32_t desk_use_platform(const char* name, desk_error* err) {
  return Caught(err, [&] {
    std::string_view n = name ? name : "";
    if (n != "headless" && n != "qt")
      return Fail(err, static_cast<int32_t>(Err::InvalidProcedureCall),
                  "Unknown platform \"" + std::string(n) + "\": \"headless\" or \"qt\"", kSource);
    // Surfaces keep their platform: replacing it under live controls would leave them dangling.
    if (int64_t held = S().total.Get(); held > 0)
      return Fail(err, static_cast<int32_t>(Err::InvalidProcedureCall),
                  "The platform is chosen before any object is created (the host holds " + std::to_string(held) +
                      " handles)",
                  kSource);
    if (n == "qt") return UseQt(err);
    SetPlatform(std::make_shared<HeadlessPlatform>());
    LeaveQt();
    return Ok(err);
  });
}

DESK_C_API int32_t desk_show(desk_object* control, const char* title, int32_t width, int32_t height, desk_error* err) {
  Object* o = nullptr;
  if (int32_t e = Check(control, err, o)) return e;
  CallScope scope;
  const QtEntry* qt = nullptr;
  if (int32_t e = NeedQt(err, qt)) return e;
  return qt->show(o, title ? title : "", width, height, err);
}

DESK_C_API int32_t desk_widget(desk_object* control, void** widget, desk_error* err) {
  Object* o = nullptr;
  if (int32_t e = Check(control, err, o)) return e;
  if (!widget) return Fail(err, Err::InvalidProcedureCall);
  *widget = nullptr;
  const QtEntry* qt = nullptr;
  if (int32_t e = NeedQt(err, qt)) return e;
  return qt->widget(o, widget, err);
}

DESK_C_API int32_t desk_run(desk_error* err) {
  return Caught(err, [&] {
    CallScope scope;
    const QtEntry* qt = nullptr;
    if (int32_t e = NeedQt(err, qt)) return e;
    return qt->run(err);
  });
}

DESK_C_API int32_t desk_quit(desk_error* err) {
  return Caught(err, [&] {
    const QtEntry* qt = nullptr;
    if (int32_t e = NeedQt(err, qt)) return e;
    return qt->quit(err);
  });
}

DESK_C_API int32_t desk_do_events(desk_error* err) {
  return Caught(err, [&] {
    {
      CallScope scope;
      CurrentPlatform().DoEvents();
    }
    RunPosted();
    return Ok(err);
  });
}

DESK_C_API int32_t desk_post(desk_post_fn fn, void* data, desk_error* err) {
  if (!fn) return Fail(err, static_cast<int32_t>(Err::InvalidProcedureCall), "No function to call", kSource);
  try {
    Post(fn, data);
    return Ok(err);
  } catch (...) {
    return Translate(err, kSource);
  }
}

DESK_C_API int32_t desk_ui_thread(desk_error* err) {
  if (int32_t e = UiThread(err)) return e;
  return Ok(err);
}

DESK_C_API int32_t desk_set_picture_cache_bytes(size_t bytes, desk_error* err) {
  return Caught(err, [&] {
    SetPictureCacheBytes(bytes);
    return Ok(err);
  });
}

DESK_C_API int32_t desk_headless_resize(desk_object* control, float width, float height, desk_error* err) {
  return Guarded(control, err, [&](Object* o) { HeadlessSurfaceOf(o).SetScale(0, 0, width, height); });
}

DESK_C_API int32_t desk_headless_popup_choice(int32_t index, desk_error* err) {
  return Caught(err, [&] {
    HeadlessPlatform* p = Headless();
    if (!p)
      return Fail(err, static_cast<int32_t>(Err::InvalidProcedureCall), "The headless platform is not in use", kSource);
    p->choosePopupItem = [index](MenuArray&) { return index; };
    return Ok(err);
  });
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
  // By name, in the order of the fields (C++ refuses another order). A field left out is an
  // error too (GCC checks this, Clang 14 does not), not a null entry a host would call;
  // python/tests/test_c_declarations.py checks that each field holds its own function.
#pragma GCC diagnostic push
#pragma GCC diagnostic error "-Wmissing-field-initializers"
  static constexpr desk_api api = {
      .version = DESK_C_VERSION,
      .addref = desk_addref,
      .release = desk_release,
      .handle_count = desk_handle_count,
      .object_interface = desk_object_interface,
      .event_interface = desk_event_interface,
      .id_of_name = desk_id_of_name,
      .invoke = desk_invoke,
      .get = desk_get,
      .value_clear = desk_value_clear,
      .value_set = desk_value_set,
      .string_utf8 = desk_string_utf8,
      .value_text = desk_value_text,
      .value_long = desk_value_long,
      .host_new = desk_host_new,
      .advise = desk_advise,
      .unadvise = desk_unadvise,
      .init_properties = desk_init_properties,
      .read_properties = desk_read_properties,
      .write_properties = desk_write_properties,
      .bag_new = desk_bag_new,
      .bag_save = desk_bag_save,
      .bag_load = desk_bag_load,
      .use_platform = desk_use_platform,
      .show = desk_show,
      .run = desk_run,
      .quit = desk_quit,
      .headless_resize = desk_headless_resize,
      .headless_popup_choice = desk_headless_popup_choice,
      .headless_click = desk_headless_click,
      .host_find = desk_host_find,
      .do_events = desk_do_events,
      .widget = desk_widget,
      .post = desk_post,
      .ui_thread = desk_ui_thread,
      .set_picture_cache_bytes = desk_set_picture_cache_bytes,
  };
#pragma GCC diagnostic pop
  if (desk_check_version(version, err) != 0) return nullptr;
  return &api;
}

}  // extern "C"
