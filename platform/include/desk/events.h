// Connection of event sinks to an object's event interface.
#pragma once

#include "desk/export.h"

#include <functional>
#include <vector>

#include "desk/object.h"
#include "desk/variant.h"

namespace desk {

// A host's sink receives each event through its own Invoke(id, Method, args). By-reference
// arguments are the raiser's storage: what the sink writes, the raiser sees.
class DESK_API EventSource {
 public:
  // Returns a cookie for Disconnect.
  int Connect(Ref<Object> sink);
  // A cookie no connected sink has (given back already, or never issued) fails with 5.
  void Disconnect(int cookie);
  bool HasSinks() const { return !sinks_.empty(); }

  // Delivers to every sink connected when the event starts; a sink that disconnects or is
  // released meanwhile is skipped or kept alive for the call. A failure thrown by a sink goes
  // back to the raiser.
  void Raise(DispId id, std::vector<Variant>& args);

 private:
  struct Entry {
    int cookie;
    Ref<Object> sink;
  };
  std::vector<Entry> sinks_;
  int next_ = 1;
};

// A sink made of a function, for hosts written in C++.
class DESK_API FunctionSink : public Object {
 public:
  using Fn = std::function<void(DispId, std::vector<Variant>&)>;
  explicit FunctionSink(Fn fn) : fn_(std::move(fn)) {}
  const InterfaceInfo& Interface() const override;
  Variant Invoke(DispId id, InvokeKind kind, std::vector<Variant>& args) override;

 private:
  Fn fn_;
};

}  // namespace desk
