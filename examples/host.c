/* A host in plain C: it knows the controls only through desk/desk_c.h and loads both libraries
 * by name (the ordinary library search path; LD_LIBRARY_PATH for a build tree).
 *
 *   c_host BASE_URL        (BASE_URL serves red.png, green.png and blue.png)
 *
 * It fills a web image list from the server, hands the image list to a tree, builds a small
 * tree whose nodes show the pictures, declares a context menu and answers a right-click with
 * it, saves the tree's settings to a file and reads them back into a new control, printing one
 * line per step. Members are reached late-bound, by name, as a scripting host would. */
#define _POSIX_C_SOURCE 200809L
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "desk/desk_c.h"

static const char* const kTreeClsid = "{D5CA163D-6878-4BD8-A144-A5E85A414594}";
static const char* const kImageListClsid = "{54DB11E5-373F-4255-8B48-D0C961FAE634}";
static const char* const kPictures[] = {"red", "green", "blue"};

static const desk_api* api;

static void die(const char* what, const desk_error* err) {
  fprintf(stderr, "c_host: %s: error %d (%s): %s\n", what, (int)err->number, err->source, err->text);
  exit(1);
}

static void* load(const char* name) {
  void* lib = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    fprintf(stderr, "c_host: cannot load %s: %s\n", name, dlerror());
    exit(1);
  }
  return lib;
}

static void* entry(void* lib, const char* name) {
  void* f = dlsym(lib, name);
  if (!f) {
    fprintf(stderr, "c_host: no entry point %s\n", name);
    exit(1);
  }
  return f;
}

/* Values the host makes. A string made here is owned (cleared by call()). */
static desk_value str(const char* utf8) {
  desk_value v;
  desk_error err;
  if (api->string_utf8(utf8, &v, &err)) die("string", &err);
  return v;
}
static desk_value num(int32_t n) {
  desk_value v;
  v.kind = DESK_LONG;
  v.u.long_ = n;
  return v;
}
static desk_value boolean(int b) {
  desk_value v;
  v.kind = DESK_BOOLEAN;
  v.u.boolean = (int16_t)(b ? -1 : 0);
  return v;
}
static desk_value obj(desk_object* o) {
  desk_value v;
  v.kind = DESK_OBJECT;
  v.u.object = o;
  return v;
}
static desk_value missing(void) {
  desk_value v;
  v.kind = DESK_MISSING;
  return v;
}

/* Calls a member by name; the arguments' strings are freed afterwards (objects stay the
 * caller's). The result (when wanted) is owned by the caller. */
static desk_value call(desk_object* o, const char* name, int kind, desk_value* args, int argc) {
  desk_error err;
  desk_value result;
  int32_t id;
  int i;
  if (api->id_of_name(o, name, &id, &err)) die(name, &err);
  if (api->invoke(o, id, kind, args, argc, &result, &err)) die(name, &err);
  for (i = 0; i < argc; ++i)
    if (args[i].kind == DESK_STRING) api->value_clear(&args[i]);
  return result;
}

static desk_object* get_object(desk_object* o, const char* name) {
  desk_value v = call(o, name, DESK_GET, NULL, 0);
  if (v.kind != DESK_OBJECT || !v.u.object) {
    fprintf(stderr, "c_host: %s is not an object\n", name);
    exit(1);
  }
  return v.u.object;
}

/* Calls a member whose result is not wanted. */
static void run(desk_object* o, const char* name, int kind, desk_value* args, int argc) {
  desk_value result = call(o, name, kind, args, argc);
  api->value_clear(&result);
}

/* A value as text, into a buffer of the caller's; peek() leaves the value alone, text()
 * clears it (for a result the host owns). */
static const char* peek(const desk_value* v, char* buf, size_t size) {
  desk_error err;
  if (api->value_text(v, buf, size, &err)) die("text", &err);
  return buf;
}
static const char* text(desk_value v, char* buf, size_t size) {
  peek(&v, buf, size);
  api->value_clear(&v);
  return buf;
}

static int32_t number(desk_value v) {
  desk_error err;
  int32_t n;
  if (api->value_long(&v, &n, &err)) die("number", &err);
  api->value_clear(&v);
  return n;
}

static void release(desk_object* o) {
  if (api->release(o)) fprintf(stderr, "c_host: a handle was released twice\n");
}

/* The event sink: answers a right-click with the context menu, and reports the item chosen. */
struct sink {
  desk_object* tree;
  int32_t mouse_up, menu_click;
};

static int32_t sink_invoke(void* self, int32_t id, int32_t kind, desk_value* args, int32_t argc, desk_value* result,
                           desk_error* err) {
  struct sink* s = (struct sink*)self;
  char buf[256];
  (void)kind;
  (void)result;
  (void)err;
  if (id == s->mouse_up && argc == 4) {
    /* The mouse arguments are by reference: read their targets. */
    desk_value button = *args[0].u.ref, x = *args[2].u.ref, y = *args[3].u.ref;
    desk_value hit_args[2];
    desk_value node;
    if (button.u.integer != 2) return 0;
    hit_args[0] = num((int32_t)x.u.single);
    hit_args[1] = num((int32_t)y.u.single);
    node = call(s->tree, "DoHitTest", DESK_METHOD, hit_args, 2);
    if (node.kind == DESK_OBJECT && node.u.object) {
      printf("Right-click over node: %s\n", text(call(node.u.object, "FullPath", DESK_GET, NULL, 0), buf, sizeof buf));
    } else {
      printf("Right-click over no node\n");
    }
    api->value_clear(&node);
    run(s->tree, "ShowPopupMenu", DESK_METHOD, NULL, 0);
  } else if (id == s->menu_click && argc == 1) {
    /* The argument is the library's: read it, never free it. */
    printf("Menu item chosen: %s\n", peek(args[0].u.ref, buf, sizeof buf));
  }
  return 0;
}

/* The name of a class in a library's type library. */
static const char* class_name(void* lib, const char* typelib_entry, const char* clsid) {
  const desk_typelib_info* info = ((desk_typelib_fn)entry(lib, typelib_entry))();
  int32_t i;
  for (i = 0; info && i < info->class_count; ++i)
    if (strcmp(info->classes[i].clsid, clsid) == 0) return info->classes[i].name;
  return "(unknown class)";
}

static int32_t event_id(const desk_interface_info* events, const char* name) {
  int32_t i;
  for (i = 0; i < events->member_count; ++i)
    if (strcmp(events->members[i].name, name) == 0) return events->members[i].id;
  fprintf(stderr, "c_host: no event %s\n", name);
  exit(1);
}

static void print_nodes(desk_object* first, int depth) {
  desk_object* n = first;
  char a[256], b[256];
  while (n) {
    desk_value next;
    printf("%*s- %s", depth * 2, "", text(call(n, "Text", DESK_GET, NULL, 0), a, sizeof a));
    if (depth > 0) printf(" [picture %s]", text(call(n, "Image", DESK_GET, NULL, 0), b, sizeof b));
    printf("\n");
    if (number(call(n, "Children", DESK_GET, NULL, 0)) > 0) {
      desk_object* child = get_object(n, "Child");
      print_nodes(child, depth + 1);
      release(child);
    }
    next = call(n, "Next", DESK_GET, NULL, 0);
    if (n != first) release(n);
    n = next.kind == DESK_OBJECT ? next.u.object : NULL;
  }
}

int main(int argc, char** argv) {
  desk_error err;
  void *quorvane, *varbel;
  desk_create_fn create_image_list, create_tree;
  desk_object *images, *list, *tree, *nodes, *first, *menus, *sink_obj, *bag, *tree2, *image_list;
  desk_value args[5];
  struct sink sink;
  desk_host_vtbl vtbl;
  int32_t cookie;
  size_t i;
  char a[256], path[64];
  int fd;

  if (argc != 2) {
    fprintf(stderr, "usage: c_host BASE_URL\n");
    return 2;
  }

  /* The libraries, by name; the interface version this host was written for. */
  quorvane = load("libQuorvane.so");
  varbel = load("libVarbelTreeview.so");
  api = ((desk_get_api_fn)entry(varbel, "VarbelTreeview_DeskApi"))(DESK_C_VERSION, &err);
  if (!api) die("interface version", &err);
  printf("Interface version %u.%u\n", (unsigned)(api->version >> 16), (unsigned)(api->version & 0xFFFF));
  *(void**)&create_image_list = entry(quorvane, "Quorvane_DeskCreate");
  *(void**)&create_tree = entry(varbel, "VarbelTreeview_DeskCreate");

  /* The web image list, filled from the server. */
  if (create_image_list(kImageListClsid, &images, &err)) die("create the web image list", &err);
  printf("Created %s, interface %s\n", class_name(quorvane, "Quorvane_DeskTypeLib", kImageListClsid),
         api->object_interface(images, &err)->name);
  list = get_object(images, "ListImages");
  for (i = 0; i < 3; ++i) {
    char url[1024];
    snprintf(url, sizeof url, "%s%s%s.png", argv[1], argv[1][strlen(argv[1]) - 1] == '/' ? "" : "/", kPictures[i]);
    args[0] = str(kPictures[i]);
    args[1] = str(url);
    run(list, "Add", DESK_METHOD, args, 2);
  }
  printf("Queued %d pictures: red, green, blue\n", (int)number(call(list, "Count", DESK_GET, NULL, 0)));
  release(list);
  run(images, "Fill", DESK_METHOD, NULL, 0);
  image_list = get_object(images, "ImageListControl");
  {
    desk_object* pictures = get_object(image_list, "ListImages");
    printf("Filled the web image list: ready %s, %d pictures\n",
           number(call(images, "IsReady", DESK_METHOD, NULL, 0)) ? "yes" : "no",
           (int)number(call(pictures, "Count", DESK_GET, NULL, 0)));
    release(pictures);
  }

  /* The tree: a new instance that shows the image list's pictures. */
  if (create_tree(kTreeClsid, &tree, &err)) die("create the tree", &err);
  if (api->init_properties(tree, &err)) die("InitProperties", &err);
  printf("Created %s, interface %s\n", class_name(varbel, "VarbelTreeview_DeskTypeLib", kTreeClsid),
         api->object_interface(tree, &err)->name);
  args[0] = obj(image_list);
  run(tree, "ImageList", DESK_SET, args, 1);
  printf("Handed the image list to the tree\n");
  args[0] = str("/");
  run(tree, "PathSeparator", DESK_LET, args, 1);
  args[0] = boolean(1);
  run(tree, "Checkboxes", DESK_LET, args, 1);

  nodes = get_object(tree, "Nodes");
  args[0] = missing();
  args[1] = missing();
  args[2] = str("pictures");
  args[3] = str("Pictures");
  run(nodes, "Add", DESK_METHOD, args, 4);
  for (i = 0; i < 3; ++i) {
    char key[32];
    snprintf(key, sizeof key, "n-%s", kPictures[i]);
    args[0] = str("pictures");
    args[1] = num(4); /* a child */
    args[2] = str(key);
    args[3] = str(kPictures[i]);
    args[4] = str(kPictures[i]);
    run(nodes, "Add", DESK_METHOD, args, 5);
  }
  args[0] = str("pictures");
  {
    desk_value root = call(nodes, "Item", DESK_GET, args, 1);
    desk_value yes = boolean(1);
    first = root.u.object;
    run(first, "Expanded", DESK_LET, &yes, 1);
  }
  printf("Built the tree: %d nodes\n", (int)number(call(nodes, "Count", DESK_GET, NULL, 0)));
  print_nodes(first, 0);
  release(first);
  release(nodes);

  /* The context menu, answered when the user right-clicks. */
  menus = get_object(tree, "PopUpMenus");
  args[0] = str("open");
  args[1] = str("Open");
  run(menus, "Add", DESK_METHOD, args, 2);
  args[0] = str("rename");
  args[1] = str("Rename\xE2\x80\xA6");
  run(menus, "Add", DESK_METHOD, args, 2);
  args[0] = str("delete");
  args[1] = str("Delete");
  run(menus, "Add", DESK_METHOD, args, 2);
  printf("Declared the context menu: %d items\n", (int)number(call(menus, "Count", DESK_GET, NULL, 0)));
  release(menus);

  {
    const desk_interface_info* events = api->event_interface(tree, &err);
    if (!events) die("event interface", &err);
    sink.tree = tree;
    sink.mouse_up = event_id(events, "MouseUp");
    sink.menu_click = event_id(events, "onMenuClick");
  }
  memset(&vtbl, 0, sizeof vtbl);
  vtbl.size = sizeof vtbl;
  vtbl.invoke = sink_invoke;
  if (api->host_new(&vtbl, &sink, NULL, 0, &sink_obj, &err)) die("event sink", &err);
  if (api->advise(tree, sink_obj, &cookie, &err)) die("connect", &err);
  printf("Connected to the tree's events\n");

  /* The user right-clicks on the third row (the second picture); the headless platform
   * picks the menu's second item. */
  if (api->headless_resize(tree, 4800, 3600, &err)) die("size", &err);
  if (api->headless_popup_choice(2, &err)) die("popup", &err);
  if (api->headless_click(tree, 2, 0, 600, 240 * 2 + 10, &err)) die("click", &err);
  if (api->unadvise(tree, cookie, &err)) die("disconnect", &err);
  release(sink_obj);
  printf("Disconnected from the tree's events\n");

  /* The settings, saved to a file and read back into a new control. The image list is a
   * run-time object that cannot be saved: detach it first. */
  args[0] = obj(NULL);
  run(tree, "ImageList", DESK_SET, args, 1);
  strcpy(path, "/tmp/c_host-XXXXXX");
  fd = mkstemp(path);
  if (fd < 0) {
    perror("c_host: temporary file");
    return 1;
  }
  close(fd);
  if (api->bag_new(&bag, &err)) die("property bag", &err);
  if (api->write_properties(tree, bag, &err)) die("WriteProperties", &err);
  if (api->bag_save(bag, path, &err)) die("save", &err);
  release(bag);
  printf("Saved the tree's settings\n");
  if (api->bag_load(path, &bag, &err)) die("load", &err);
  unlink(path);
  if (create_tree(kTreeClsid, &tree2, &err)) die("create the second tree", &err);
  if (api->read_properties(tree2, bag, &err)) die("ReadProperties", &err);
  release(bag);
  printf("Read them into a new tree: PathSeparator \"%s\", Checkboxes %s\n",
         text(call(tree2, "PathSeparator", DESK_GET, NULL, 0), a, sizeof a),
         number(call(tree2, "Checkboxes", DESK_GET, NULL, 0)) ? "on" : "off");

  release(tree2);
  release(tree);
  release(image_list);
  release(images);
  printf("Released everything: %lld handles left\n", (long long)api->handle_count());
  return 0;
}
