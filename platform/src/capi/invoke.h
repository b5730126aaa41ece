// Calls through the C interface: the general path (any kind, arguments, by-reference targets
// written back) and the tuned path of a call without arguments, which every property read
// takes. The tuned path is inline so that it compiles into desk_get and desk_invoke
// themselves: it is measured by bench/capi_bench.cpp.
#pragma once

#include <cstdint>

#include "capi/error_record.h"
#include "capi/state.h"
#include "capi/values.h"
#include "desk/desk_c.h"
#include "desk/object.h"

namespace desk::capi {

// A call in full: handle, kind and argument checks, a call scope, the arguments converted, and
// by-reference targets written back whatever happens.
[[gnu::noinline]] int32_t InvokeInFull(desk_object* h, int32_t id, int32_t kind, const desk_value* args, int32_t argc,
                                       desk_value* result, desk_error* err) noexcept;

// The unusual ends of a read, out of its way: a failure, and the work left after a call that
// padded the kept argument list or released objects.
[[gnu::noinline, gnu::cold]] int32_t ReadFailed(State& s) noexcept;
[[gnu::noinline]] void AfterRead(State& s) noexcept;

// A call without arguments (every property read), as a host makes them: many in a row on the
// handle it used last. No argument vector is built (the kept empty one is lent to the call),
// and the result is written straight into the caller's value. The host's handle keeps the
// object alive for the call (its release is deferred while a call is in progress), so no
// reference is taken here. Anything else (another thread, another handle, a call made from
// inside a call) takes the full path, which checks it.
[[gnu::always_inline]] inline int32_t CallWithoutArgs(desk_object* h, int32_t id, InvokeKind kind, desk_value* result,
                                                      desk_error* err) noexcept {
  // The thread first: the state is not another thread's to read.
  if (!t_uiThread) [[unlikely]]
    return InvokeInFull(h, id, static_cast<int32_t>(kind), nullptr, 0, result, err);
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

}  // namespace desk::capi
