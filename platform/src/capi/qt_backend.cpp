#include "capi/qt_backend.h"

#include <string>

#include "capi/error_record.h"
#include "capi/posted.h"
#include "capi/state.h"
#include "library.h"

namespace desk::capi {
namespace {

struct Qt {
  bool loaded = false;
  bool inUse = false;
  QtEntry entry;
};
Qt g_qt;

}  // namespace

int32_t UseQt(desk_error* err) {
  if (!g_qt.loaded) {
    // By its SONAME, which a run-time installation has without the development link.
    detail::Library lib(DESK_QT_LIBRARY, true);
    if (!lib.Loaded())
      return Fail(err, static_cast<int32_t>(Err::CantCreateObject), "The Qt platform is not available: " + lib.Why(),
                  kSource);
    const auto entry = lib.Entry<DeskQtEntryFn>(kQtEntrySymbol);
    const QtEntry* e = entry ? entry() : nullptr;
    if (!e || e->size != sizeof(QtEntry) || !e->install || !e->show || !e->widget || !e->run || !e->quit ||
        !e->post)
      return Fail(err, static_cast<int32_t>(Err::CantCreateObject),
                  DESK_QT_LIBRARY " lacks the entry points of the C interface", kSource);
    lib.Keep();
    g_qt.loaded = true;
    g_qt.entry = *e;
  }
  if (int32_t rc = g_qt.entry.install(&OnIdle, err)) return rc;
  g_qt.inUse = true;
  SetWaker(g_qt.entry.post);
  return Ok(err);
}

void LeaveQt() {
  g_qt.inUse = false;
  SetWaker(nullptr);
}

int32_t NeedQt(desk_error* err, const QtEntry*& out) {
  out = &g_qt.entry;
  if (g_qt.inUse) return 0;
  return Fail(err, static_cast<int32_t>(Err::InvalidProcedureCall),
              "Windows need the Qt platform: desk_use_platform(\"qt\")", kSource);
}

}  // namespace desk::capi
