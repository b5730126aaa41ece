#include "capi/invoke.h"

#include <string>
#include <vector>

#include "desk/error.h"

namespace desk::capi {

namespace {

bool IsTarget(const desk_value& a) { return a.kind == DESK_BYREF && a.u.ref && a.u.ref->kind != DESK_BYREF; }

}  // namespace

int32_t InvokeInFull(desk_object* h, int32_t id, int32_t kind, const desk_value* args, int32_t argc,
                     desk_value* result, desk_error* err) noexcept {
  if (result) *result = desk_value{};
  // A call refused before it read its arguments leaves their by-reference targets Empty: what
  // they hold is the caller's, which the caller would free as the library's.
  auto refused = [&](int32_t rc) {
    if (argc > 0 && args)
      for (int32_t i = 0; i < argc; ++i)
        if (IsTarget(args[i])) *args[i].u.ref = desk_value{};
    return rc;
  };
  Object* o = nullptr;
  if (int32_t e = Check(h, err, o)) return refused(e);
  CallScope scope;
  if (argc < 0 || (argc > 0 && !args))
    return Fail(err, static_cast<int32_t>(Err::InvalidProcedureCall), "The argument count or list is not valid",
                SourceOf(o));
  if (kind != DESK_GET && kind != DESK_LET && kind != DESK_SET && kind != DESK_METHOD)
    return refused(Fail(err, static_cast<int32_t>(Err::InvalidProcedureCall), "Unknown kind of call " + std::to_string(kind),
                        SourceOf(o)));
  Targets temps;  // the by-reference targets' values during the call
  std::vector<Variant> a;
  // Every by-reference target ends up holding a value written here, whatever happens.
  auto writeBack = [&] {
    size_t t = 0;
    for (int32_t i = 0; i < argc; ++i) {
      if (!IsTarget(args[i])) continue;
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

int32_t ReadFailed(State& s) noexcept {
  if (s.readResult) *s.readResult = desk_value{};
  return Translate(s.readErr, SourceOf(s.readObject));
}

void AfterRead(State& s) noexcept {
  s.noArgs.clear();  // a member with optional arguments padded it
  if (!s.deferred.empty()) FlushDeferred();
}

}  // namespace desk::capi
