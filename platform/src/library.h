// Shared libraries opened by name through the ordinary search path (LD_LIBRARY_PATH, the
// cache, the run path): the one place the run-time loads code, for CreateFromLibrary and for
// the C interface's Qt platform.
#pragma once

#include <string>

namespace desk::detail {

class Library {
 public:
  // `global` makes the library's symbols available to libraries loaded after it.
  Library(const char* name, bool global);
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  bool Loaded() const { return handle_ != nullptr; }
  // Why it did not load.
  const std::string& Why() const { return why_; }
  // An entry point, or null.
  template <class Fn>
  Fn Entry(const char* symbol) const {
    return reinterpret_cast<Fn>(Find(symbol));
  }
  // Keeps the library loaded for the rest of the process (code from it may still run).
  void Keep() { handle_ = nullptr; }

 private:
  void* Find(const char* symbol) const;
  void* handle_ = nullptr;
  std::string why_;
};

}  // namespace desk::detail
