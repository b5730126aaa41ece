/* The C interface from strict C99, as a C host sees it: the libraries loaded by name, every
 * call answered with an error record, calls from another thread refused. Exits non-zero when a
 * check fails. */
#include <dlfcn.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>

#include "desk/desk_c.h"

static int failures;
#define CHECK(cond)                                                    \
  do {                                                                 \
    if (!(cond)) {                                                     \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                      \
    }                                                                  \
  } while (0)

static const char* const kTreeClsid = "{D5CA163D-6878-4BD8-A144-A5E85A414594}";

static desk_value str16(const uint16_t* data, int32_t length) {
  desk_value v;
  v.kind = DESK_STRING;
  v.u.string.data = data;
  v.u.string.length = length;
  return v;
}

/* What a worker thread tried: a property read, and a call posted to the UI thread. */
struct worker {
  const desk_api* api;
  desk_object* tree;
  int32_t path_id, get_rc, post_rc;
  desk_error err;
  desk_value v;
};

static pthread_t ui_thread;
static int posted_runs, posted_on_ui_thread;

static void posted(void* data) {
  ++*(int*)data;
  posted_on_ui_thread = pthread_equal(pthread_self(), ui_thread);
}

static void* work(void* data) {
  struct worker* w = (struct worker*)data;
  desk_error err;
  w->v.kind = DESK_EMPTY;
  w->get_rc = w->api->get(w->tree, w->path_id, &w->v, &w->err);
  w->post_rc = w->api->post(posted, &posted_runs, &err);
  return NULL;
}

int main(void) {
  desk_error err;
  const desk_api* api;
  desk_create_fn create;
  desk_object *tree, *bag, *stale;
  desk_value v, args[2];
  int32_t id, path_id, checkboxes_id;
  void* lib = dlopen("libVarbelTreeview.so", RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    fprintf(stderr, "cannot load libVarbelTreeview.so: %s\n", dlerror());
    return 1;
  }
  {
    desk_get_api_fn get = (desk_get_api_fn)(size_t)dlsym(lib, "VarbelTreeview_DeskApi");
    *(void**)&create = dlsym(lib, "VarbelTreeview_DeskCreate");
    CHECK(get != NULL && create != NULL);
    if (!get || !create) return 1;

    /* Versions: another major, or a newer minor, is refused with a text naming both. */
    CHECK(get(DESK_C_VERSION + (1u << 16), &err) == NULL);
    CHECK(err.number == 429);
    {
      char newer[32], ours[32];
      sprintf(newer, "%d.%d", DESK_C_VERSION_MAJOR + 1, DESK_C_VERSION_MINOR);
      sprintf(ours, "%d.%d", DESK_C_VERSION_MAJOR, DESK_C_VERSION_MINOR);
      CHECK(strstr(err.text, newer) != NULL && strstr(err.text, ours) != NULL);
    }
    CHECK(get(DESK_C_VERSION + 1, &err) == NULL && err.number == 429);
    api = get(DESK_C_VERSION, &err);
    CHECK(api != NULL && err.number == 0 && api->version == DESK_C_VERSION);
    if (!api) return 1;
  }

  /* Unknown class: 429, no object, the identifier in the text. */
  tree = (desk_object*)&err;
  CHECK(create("{00000000-0000-0000-0000-000000000001}", &tree, &err) == 429);
  CHECK(tree == NULL && strstr(err.text, "{00000000-0000-0000-0000-000000000001}") != NULL);
  CHECK(create(kTreeClsid, &tree, &err) == 0 && tree != NULL);
  CHECK(api->handle_count() == 1);

  /* Another thread: its read is refused with the wrong-thread number, its posted call runs on
   * this thread at the next do_events. */
  {
    struct worker w;
    pthread_t t;
    ui_thread = pthread_self();
    w.api = api;
    w.tree = tree;
    CHECK(api->id_of_name(tree, "PathSeparator", &w.path_id, &err) == 0);
    CHECK(pthread_create(&t, NULL, work, &w) == 0);
    pthread_join(t, NULL);
    CHECK(w.get_rc == DESK_E_WRONG_THREAD && w.err.number == DESK_E_WRONG_THREAD);
    CHECK(strcmp(w.err.text, "The object was called from a thread other than the one that created it") == 0);
    CHECK(w.v.kind == DESK_EMPTY);
    CHECK(w.post_rc == 0 && posted_runs == 0);
    CHECK(api->do_events(&err) == 0 && posted_runs == 1 && posted_on_ui_thread);
    CHECK(api->ui_thread(&err) == 0);
  }

  /* A property read and write by id; a string with an unpaired surrogate comes back unchanged. */
  CHECK(api->id_of_name(tree, "pathseparator", &path_id, &err) == 0);
  CHECK(api->id_of_name(tree, "NoSuchMember", &id, &err) == 438 && strcmp(err.source, "_VarbelTreeviewControl") == 0);
  {
    static const uint16_t odd[] = {0x41, 0xD800, 0x42};
    args[0] = str16(odd, 3);
    CHECK(api->invoke(tree, path_id, DESK_LET, args, 1, NULL, &err) == 0);
    CHECK(api->get(tree, path_id, &v, &err) == 0);
    CHECK(v.kind == DESK_STRING && v.u.string.length == 3 && memcmp(v.u.string.data, odd, sizeof odd) == 0);
    api->value_clear(&v);
    CHECK(v.kind == DESK_EMPTY);
  }

  /* Bad arguments, each with its number. */
  CHECK(api->invoke(tree, path_id, DESK_LET, NULL, 0, NULL, &err) == 450);
  CHECK(api->id_of_name(tree, "Checkboxes", &checkboxes_id, &err) == 0);
  CHECK(api->string_utf8("not a number", &args[0], &err) == 0);
  CHECK(api->invoke(tree, checkboxes_id, DESK_LET, args, 1, NULL, &err) == 13);
  api->value_clear(&args[0]);
  args[0].kind = 42;
  CHECK(api->invoke(tree, checkboxes_id, DESK_LET, args, 1, NULL, &err) == 13);
  args[0] = str16(NULL, 4);
  CHECK(api->invoke(tree, path_id, DESK_LET, args, 1, NULL, &err) == 5);
  args[0] = str16(NULL, -1);
  CHECK(api->invoke(tree, path_id, DESK_LET, args, 1, NULL, &err) == 5);
  CHECK(api->invoke(tree, path_id, 3, NULL, 0, NULL, &err) == 5);
  CHECK(api->invoke(tree, path_id, DESK_GET, NULL, -1, NULL, &err) == 5);
  CHECK(api->string_utf8("\xC3\x28", &v, &err) == 5 && v.kind == DESK_EMPTY);

  /* A by-reference argument: an enumerator's Next writes the next node into the target. */
  {
    desk_value nodes, e, item, ref, more;
    static const uint16_t key[] = {'k'};
    int32_t add_id;
    CHECK(api->id_of_name(tree, "Nodes", &id, &err) == 0);
    CHECK(api->get(tree, id, &nodes, &err) == 0 && nodes.kind == DESK_OBJECT);
    CHECK(api->id_of_name(nodes.u.object, "Add", &add_id, &err) == 0);
    args[0].kind = DESK_MISSING;
    args[1].kind = DESK_MISSING;
    {
      desk_value add[3];
      add[0] = args[0];
      add[1] = args[1];
      add[2] = str16(key, 1);
      CHECK(api->invoke(nodes.u.object, add_id, DESK_METHOD, add, 3, &v, &err) == 0 && v.kind == DESK_OBJECT);
      api->value_clear(&v);
    }
    CHECK(api->invoke(nodes.u.object, DESK_ID_NEWENUM, DESK_METHOD, NULL, 0, &e, &err) == 0);
    CHECK(e.kind == DESK_OBJECT && e.u.object != NULL);
    item.kind = DESK_EMPTY;
    ref.kind = DESK_BYREF;
    ref.u.ref = &item;
    CHECK(api->invoke(e.u.object, DESK_ID_ENUM_NEXT, DESK_METHOD, &ref, 1, &more, &err) == 0);
    CHECK(more.kind == DESK_BOOLEAN && more.u.boolean == -1);
    CHECK(item.kind == DESK_OBJECT && item.u.object != NULL);
    api->value_clear(&item);
    CHECK(api->invoke(e.u.object, DESK_ID_ENUM_NEXT, DESK_METHOD, &ref, 1, &more, &err) == 0);
    CHECK(more.u.boolean == 0 && item.kind == DESK_EMPTY);
    api->value_clear(&e);
    api->value_clear(&nodes);
  }

  /* The library's second class: the same control with the selection of many nodes, found by
   * name; the default class has none of it. */
  {
    static const char* const kTreeExClsid = "{5A314815-5123-4074-AD89-3886C1B12188}";
    static const uint16_t keys[3][1] = {{'x'}, {'y'}, {'z'}};
    desk_object* ex;
    desk_value nodes, add[3], mode, y, on_demand[2];
    int32_t mode_id, all_id, count_id, add_id, set_demand_id, demand_id, i;
    CHECK(api->id_of_name(tree, "SelectionMode", &mode_id, &err) == 438);
    y.kind = DESK_EMPTY;
    CHECK(create(kTreeExClsid, &ex, &err) == 0 && ex != NULL);
    CHECK(api->id_of_name(ex, "Nodes", &id, &err) == 0);
    CHECK(api->get(ex, id, &nodes, &err) == 0 && nodes.kind == DESK_OBJECT);
    CHECK(api->id_of_name(nodes.u.object, "Add", &add_id, &err) == 0);
    for (i = 0; i < 3; ++i) {
      add[0].kind = DESK_MISSING;
      add[1].kind = DESK_MISSING;
      add[2] = str16(keys[i], 1);
      CHECK(api->invoke(nodes.u.object, add_id, DESK_METHOD, add, 3, &v, &err) == 0);
      if (i == 1) y = v;
      else api->value_clear(&v);
    }
    api->value_clear(&nodes);
    /* Children on demand: an expander on y before it has children. */
    CHECK(api->id_of_name(ex, "SetNodeChildrenOnDemand", &set_demand_id, &err) == 0);
    CHECK(api->id_of_name(ex, "NodeChildrenOnDemand", &demand_id, &err) == 0);
    on_demand[0] = y;
    on_demand[1].kind = DESK_BOOLEAN;
    on_demand[1].u.boolean = -1;
    CHECK(api->invoke(ex, set_demand_id, DESK_METHOD, on_demand, 2, NULL, &err) == 0);
    CHECK(api->invoke(ex, demand_id, DESK_METHOD, &y, 1, &v, &err) == 0 && v.kind == DESK_BOOLEAN &&
          v.u.boolean == -1);
    api->value_clear(&y);
    CHECK(api->id_of_name(ex, "SelectionMode", &mode_id, &err) == 0);
    CHECK(api->id_of_name(ex, "SelectAll", &all_id, &err) == 0);
    CHECK(api->id_of_name(ex, "SelectedCount", &count_id, &err) == 0);
    CHECK(api->get(ex, mode_id, &v, &err) == 0 && v.kind == DESK_LONG && v.u.long_ == 0);
    mode.kind = DESK_LONG;
    mode.u.long_ = 1;
    CHECK(api->invoke(ex, mode_id, DESK_LET, &mode, 1, NULL, &err) == 0);
    CHECK(api->invoke(ex, all_id, DESK_METHOD, NULL, 0, NULL, &err) == 0);
    CHECK(api->get(ex, count_id, &v, &err) == 0 && v.kind == DESK_LONG && v.u.long_ == 3);
    mode.u.long_ = 2;
    CHECK(api->invoke(ex, mode_id, DESK_LET, &mode, 1, NULL, &err) == 380);
    /* The filter, by name: the nodes have keys and no texts. */
    {
      int32_t text_id, keys_id, matches_id;
      desk_value on, text;
      CHECK(api->id_of_name(ex, "FilterText", &text_id, &err) == 0);
      CHECK(api->id_of_name(ex, "FilterMatchesKeys", &keys_id, &err) == 0);
      CHECK(api->id_of_name(ex, "FilterMatchCount", &matches_id, &err) == 0);
      on.kind = DESK_BOOLEAN;
      on.u.boolean = -1;
      CHECK(api->invoke(ex, keys_id, DESK_LET, &on, 1, NULL, &err) == 0);
      text = str16(keys[1], 1);
      CHECK(api->invoke(ex, text_id, DESK_LET, &text, 1, NULL, &err) == 0);
      CHECK(api->get(ex, matches_id, &v, &err) == 0 && v.kind == DESK_LONG && v.u.long_ == 1);
    }
    CHECK(api->release(ex) == 0);
  }

  /* Handles: null, and one used after its last release. */
  CHECK(api->get(NULL, path_id, &v, &err) == 91 && v.kind == DESK_EMPTY);
  CHECK(api->bag_new(&stale, &err) == 0);
  CHECK(api->release(stale) == 0);
  CHECK(api->get(stale, 1, &v, &err) == 91 && strstr(err.text, "released") != NULL);
  CHECK(api->release(stale) == 91);
  CHECK(api->addref(stale, &err) == 91);

  /* Persistence through a bag of the run-time's. */
  CHECK(api->bag_new(&bag, &err) == 0);
  /* A cookie given back, or never issued, is refused. */
  {
    int32_t cookie;
    CHECK(api->advise(tree, bag, &cookie, &err) == 0);
    CHECK(api->unadvise(tree, cookie, &err) == 0);
    CHECK(api->unadvise(tree, cookie, &err) == 5 && err.number == 5);
    CHECK(api->unadvise(tree, cookie + 7, &err) == 5);
  }
  CHECK(api->write_properties(tree, bag, &err) == 0);
  CHECK(api->write_properties(tree, NULL, &err) == 91);
  CHECK(api->read_properties(bag, bag, &err) == 438); /* a bag is not a control */
  CHECK(api->bag_load("/tmp/desk-capi-no-such-settings.json", &stale, &err) == 53 && stale == NULL);
  CHECK(strstr(err.text, "desk-capi-no-such-settings.json") != NULL);
  CHECK(api->release(bag) == 0);

  CHECK(api->release(tree) == 0);
  CHECK(api->handle_count() == 0);
  if (failures) fprintf(stderr, "%d checks failed\n", failures);
  return failures ? 1 : 0;
}
