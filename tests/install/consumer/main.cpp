// A program of another project that finds the installed controls with find_package.
#include <cstdio>

#include "VarbelTreeview/VarbelTreeview.h"

int main() {
  desk::Object* obj = nullptr;
  char message[256] = {};
  int32_t err = VarbelTreeview_CreateObject("{d5ca163d-6878-4bd8-a144-a5e85a414594}", &obj, message, sizeof message);
  if (err || !obj) {
    std::printf("error %d: %s\n", err, message);
    return 1;
  }
  auto tree = desk::AdoptRef(obj);  // released when `tree` goes
  std::printf("created %s\n", tree->Interface().name.c_str());
  return 0;
}
