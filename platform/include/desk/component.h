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

#include <cstddef>
#include <cstdint>

#include "desk/dispatch.h"

namespace desk {

struct ClassFactory {
  const char* clsid;
  Ref<Object> (*create)();  // null for a class that hosts may not create
};

int32_t CreateByClassId(const TypeLibInfo& lib, const ClassFactory* factories, size_t count, const char* clsid,
                        Object** out, char* message, size_t size) noexcept;

}  // namespace desk
