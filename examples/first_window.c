#include <dlfcn.h>
#include <stdio.h>

#include "desk/desk_c.h" /* the one header; no C++, no link to the libraries */

int main(void) {
  desk_error err;
  desk_object* tree;
  void* lib = dlopen("libVarbelTreeview.so", RTLD_NOW);
  const desk_api* api = lib ? ((desk_get_api_fn)dlsym(lib, "VarbelTreeview_DeskApi"))(DESK_C_VERSION, &err) : NULL;
  desk_create_fn create = lib ? (desk_create_fn)dlsym(lib, "VarbelTreeview_DeskCreate") : NULL;
  if (!api || api->use_platform("qt", &err) || create("{D5CA163D-6878-4BD8-A144-A5E85A414594}", &tree, &err)) {
    fprintf(stderr, "%s\n", lib ? err.text : dlerror());
    return 1;
  }
  api->init_properties(tree, &err);
  api->show(tree, "First window", 400, 300, &err);
  api->run(&err); /* until the window is closed */
  api->release(tree);
  return 0;
}
