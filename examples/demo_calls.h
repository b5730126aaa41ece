// What both demo hosts know of the controls: the classes they create and the event ids they
// handle, and a late-bound call by name, as a host without the libraries' headers makes it.
#pragma once

#include <utility>
#include <vector>

#include "desk/dispatch.h"

namespace desk_demo {

inline constexpr const char* kTreeClsid = "{D5CA163D-6878-4BD8-A144-A5E85A414594}";
// The same control with its added capabilities (many nodes selected, the filter).
inline constexpr const char* kTreeExClsid = "{5A314815-5123-4074-AD89-3886C1B12188}";
inline constexpr const char* kImageListClsid = "{54DB11E5-373F-4255-8B48-D0C961FAE634}";
// The tree control's events, by the ids its type library publishes.
inline constexpr desk::DispId kOnMenuClick = 1, kMouseUp = 9;
inline constexpr desk::DispId kSelectionChanged = 34;  // the second class's

inline desk::Variant Call(const desk::Ref<desk::Object>& o, const char16_t* name, desk::InvokeKind kind,
                          std::vector<desk::Variant> args = {}) {
  return desk::CallByName(o, name, kind, std::move(args));
}

}  // namespace desk_demo
