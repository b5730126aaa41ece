#include "capi/state.h"

#include <string>

#include "capi/error_record.h"
#include "desk/error.h"

namespace desk::capi {

State* g_state = new State;

constinit thread_local bool t_uiThread = false;

namespace {
std::atomic<bool> g_uiThreadChosen{false};
}  // namespace

int32_t NotUiThread(desk_error* err) {
  bool expected = false;
  if (g_uiThreadChosen.compare_exchange_strong(expected, true)) {
    t_uiThread = true;
    return 0;
  }
  return Fail(err, Err::WrongThread);
}

void FlushDeferred() {
  State& s = S();
  while (!s.deferred.empty()) {
    std::vector<Object*> now;
    now.swap(s.deferred);
    for (Object* o : now) o->Release();
  }
}

desk_object* Issue(Object* o) {
  if (!o) return nullptr;
  State& s = S();
  ++s.handles[o];
  s.total.Add(1);
  o->AddRef();
  return reinterpret_cast<desk_object*>(o);
}

bool Drop(Object* o) {
  State& s = S();
  auto it = s.handles.find(o);
  if (it == s.handles.end()) return false;
  if (--it->second == 0) {
    s.handles.erase(it);
    if (s.lastValid == o) s.lastValid = nullptr;
  }
  s.total.Add(-1);
  if (s.depth > 0) {
    if (s.deferred.empty()) WakeLoop();
    s.deferred.push_back(o);
  } else {
    o->Release();
  }
  return true;
}

bool ValidSlow(Object* o) {
  State& s = S();
  if (!s.handles.count(o)) return false;
  s.lastValid = o;
  return true;
}

int32_t CheckFailed(desk_object* h, desk_error* err) {
  if (int32_t e = UiThread(err)) return e;
  if (h && Valid(reinterpret_cast<Object*>(h))) return 0;
  if (!h) return Fail(err, Err::ObjectNotSet);
  return Fail(err, static_cast<int32_t>(Err::ObjectNotSet), kStaleHandle, kSource);
}

Object* CheckOrThrow(desk_object* h) {
  Object* o = reinterpret_cast<Object*>(h);
  if (!Valid(o)) Raise(Err::ObjectNotSet, std::u16string(kStaleHandle));
  return o;
}

}  // namespace desk::capi
