#include "desk/events.h"

#include <algorithm>

#include "desk/dispatch.h"

namespace desk {

int EventSource::Connect(Ref<Object> sink) {
  if (!sink) desk::Raise(Err::ObjectNotSet);
  sinks_.push_back({next_, std::move(sink)});
  return next_++;
}

void EventSource::Disconnect(int cookie) {
  if (std::erase_if(sinks_, [cookie](const Entry& e) { return e.cookie == cookie; }) == 0)
    desk::Raise(Err::InvalidProcedureCall);
}

void EventSource::Raise(DispId id, std::vector<Variant>& args) {
  // A copy: handlers may connect, disconnect or release sinks while the event is delivered.
  std::vector<Entry> now = sinks_;
  for (const Entry& e : now) {
    bool still = std::any_of(sinks_.begin(), sinks_.end(), [&](const Entry& s) { return s.cookie == e.cookie; });
    if (!still) continue;
    e.sink->Invoke(id, InvokeKind::Method, args);
  }
}

const InterfaceInfo& FunctionSink::Interface() const {
  // No members, so nothing to index: an unindexed table finds no id and no name.
  static const InterfaceInfo info = [] {
    InterfaceInfo i;
    i.name = "FunctionSink";
    return i;
  }();
  return info;
}

Variant FunctionSink::Invoke(DispId id, InvokeKind, std::vector<Variant>& args) {
  Ref<Object> keep(this);
  if (fn_) fn_(id, args);
  return Variant();
}

}  // namespace desk
