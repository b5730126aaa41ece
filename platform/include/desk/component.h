// Creating a library's public classes by class identifier.
//
// Each control library exports two C entry points, named after the library:
//   int32_t <Lib>_CreateObject(const char* clsid, desk::Object** out, char* message, size_t size);
//   const desk::TypeLibInfo* <Lib>_TypeLib(void);
// CreateObject takes the braces form of a class identifier in any letter case. On success it
// returns 0 and stores a new object with one reference owned by the caller (Release it). On
// failure it returns the error number (429 for an unknown class or one hosts may not create),
// stores null, and writes a UTF-8 text naming the problem into `message` when given.
#pragma once

#include "desk/export.h"

#include <cstddef>
#include <cstdint>
#include <span>

#include "desk/dispatch.h"

namespace desk {

struct DESK_API ClassFactory {
  const char* clsid;
  Ref<Object> (*create)();  // null for a class that hosts may not create
};

DESK_API int32_t CreateByClassId(const TypeLibInfo& lib, std::span<const ClassFactory> factories, const char* clsid,
                                 Object** out, char* message, size_t size) noexcept;

// What a host does to create a control by class identifier: loads `library` (a path, or a file
// name found through the library search path) once, finds its `entryPoint` (such as
// "VarbelTreeview_CreateObject") and creates `clsid` through it. The new object's reference
// is adopted by the result. Fails with the entry point's error (429 for an unknown class), or
// with 429 naming the library or the entry point when they cannot be found. The library stays
// loaded for the life of the process, as the objects it made may outlive any holder.
DESK_API Ref<Object> CreateFromLibrary(const char* library, const char* entryPoint, const char* clsid);

}  // namespace desk
