#include "desk/component.h"

#include <cctype>
#include <cstring>
#include <string>

#include "desk/text.h"
#include "library.h"

namespace desk {

namespace {
bool SameId(const char* a, const char* b) {
  if (!a || !b) return false;
  for (; *a && *b; ++a, ++b)
    if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) return false;
  return *a == *b;
}
}  // namespace

int32_t CreateByClassId(const TypeLibInfo& lib, std::span<const ClassFactory> factories, const char* clsid,
                        Object** out, char* message, size_t size) noexcept {
  if (out) *out = nullptr;
  try {
    const std::string given = clsid ? clsid : "(null)";
    for (const ClassFactory& f : factories) {
      if (!SameId(f.clsid, clsid)) continue;
      std::string name = "?";
      for (const auto& c : lib.classes)
        if (SameId(c.clsid.c_str(), clsid)) name = c.name;
      if (!f.create) {
        CopyUtf8("Can't create object: class " + name + " " + given + " of " + lib.name + " is not creatable by hosts",
                 message, size);
        return static_cast<int32_t>(Err::CantCreateObject);
      }
      if (!out) {
        CopyUtf8("Can't create object: no place given for the new object", message, size);
        return static_cast<int32_t>(Err::InvalidProcedureCall);
      }
      Ref<Object> o = f.create();
      o->AddRef();  // the caller's reference
      *out = o.get();
      CopyUtf8("", message, size);
      return 0;
    }
    CopyUtf8("Can't create object: no class " + given + " in " + lib.name, message, size);
    return static_cast<int32_t>(Err::CantCreateObject);
  } catch (const Error& e) {
    CopyUtf8(e.Description(), message, size);  // with no memory of its own, which may have run out
    return e.Number();
  } catch (const std::bad_alloc&) {
    CopyUtf8(ErrorText(Err::OutOfMemory), message, size);
    return static_cast<int32_t>(Err::OutOfMemory);
  } catch (const std::exception& e) {
    CopyUtf8(e.what(), message, size);
    return static_cast<int32_t>(Err::CantCreateObject);
  }
}

Ref<Object> CreateFromLibrary(const char* library, const char* entryPoint, const char* clsid) {
  const std::string lib = library ? library : "(null)";
  detail::Library loaded(library, false);
  if (!loaded.Loaded()) Raise(Err::CantCreateObject, U16("Can't create object: cannot load " + lib + ": " + loaded.Why()));
  using CreateFn = int32_t (*)(const char*, Object**, char*, size_t);
  auto create = loaded.Entry<CreateFn>(entryPoint);
  if (!create)
    Raise(Err::CantCreateObject, U16("Can't create object: " + lib + " has no entry point " +
                                     (entryPoint ? entryPoint : "(null)")));
  // The object's code lives in the library: it stays loaded.
  loaded.Keep();
  Object* raw = nullptr;
  char message[512] = {};
  if (int32_t err = create(clsid, &raw, message, sizeof message)) throw Error(err, U16(message));
  if (!raw) Raise(Err::CantCreateObject, U16("Can't create object: " + lib + " gave no object"));
  return AdoptRef(raw);
}

}  // namespace desk
