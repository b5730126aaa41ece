// Proof that the sanitizer build reports leaks: this program loses an object on purpose, and
// its test passes only when LeakSanitizer says so at exit. If leak detection were off (an
// option, a tracer that stops it), every other test would pass with its leaks unseen.
#include <cstdio>

#include "desk/collection.h"

int main() {
  desk::Collection* lost = new desk::Collection();
  lost->AddRef();  // never released
  lost->Add(desk::Variant::String(u"kept alive by nobody"), std::u16string(u"k"));
  lost = nullptr;
  std::puts("leaked one collection");
  return 0;
}
