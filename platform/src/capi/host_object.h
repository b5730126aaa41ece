// Objects the host implements (desk_host_new): a table of function pointers behind the
// run-time's Object, and any object answering ReadProperty/WriteProperty as a property bag.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "desk/desk_c.h"
#include "desk/dispatch.h"
#include "desk/platform.h"

namespace desk::capi {

class HostObject final : public Object {
 public:
  HostObject(const desk_host_vtbl* vtbl, void* self, const desk_host_member* members, int32_t count);
  ~HostObject() override;
  // The host keeps its object: the library failed to hand out a handle to it.
  void Disown() { vt_.destroy = nullptr; }
  const InterfaceInfo& Interface() const override { return info_; }
  // The host's invoke, with the arguments lent to it and what it wrote by reference written back.
  Variant Invoke(DispId id, InvokeKind kind, std::vector<Variant>& args) override;

 private:
  desk_host_vtbl vt_;
  const void* vtbl_;
  void* self_;
  std::vector<std::unique_ptr<std::string>> names_;
  InterfaceInfo info_;
};

// The live host object made from this function table and self, or null.
Object* FindHostObject(const desk_host_vtbl* vtbl, void* self);

// The object as a property bag: itself when it is one, otherwise an adapter calling its
// DESK_ID_READPROPERTY and DESK_ID_WRITEPROPERTY methods.
Ref<PropertyBag> BagOf(Object* o);

}  // namespace desk::capi
