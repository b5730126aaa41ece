#include "capi/type_info.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "desk/desk_c_bridge.h"

namespace desk::capi {
namespace {

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

// Never destroyed, as the handles' state: hosts may read type information while the process
// ends. Any thread may ask for a library's (<Lib>_DeskTypeLib): what is built is read-only,
// the building is locked.
struct Built {
  std::recursive_mutex lock;
  std::unordered_map<const InterfaceInfo*, std::unique_ptr<InterfaceC>> interfaces;
  std::unordered_map<const TypeLibInfo*, std::unique_ptr<TypeLibC>> typeLibs;
};
Built* const g_built = new Built;

}  // namespace

const desk_interface_info* InterfaceOf(const InterfaceInfo& i) {
  std::lock_guard<std::recursive_mutex> hold(g_built->lock);
  auto& slot = g_built->interfaces[&i];
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

const desk_typelib_info* TypeLib(const TypeLibInfo& lib) noexcept {
  try {
    std::lock_guard<std::recursive_mutex> hold(g_built->lock);
    auto& slot = g_built->typeLibs[&lib];
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
