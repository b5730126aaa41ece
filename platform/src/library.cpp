#include "library.h"

#include <dlfcn.h>

namespace desk {

namespace detail {

Library::Library(const char* name, bool global) {
  if (!name) {
    why_ = "no library named";
    return;
  }
  handle_ = dlopen(name, RTLD_NOW | (global ? RTLD_GLOBAL : RTLD_LOCAL));
  if (!handle_) {
    const char* why = dlerror();
    why_ = why ? why : std::string(name) + " not found";
  }
}

Library::~Library() {
  if (handle_) dlclose(handle_);
}

void* Library::Find(const char* symbol) const { return handle_ && symbol ? dlsym(handle_, symbol) : nullptr; }

}  // namespace detail

}  // namespace desk
