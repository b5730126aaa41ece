// The C interface from a thread other than the UI thread: every call refused before it runs,
// the calls any thread may make, handles and values given back from another thread, and calls
// posted to the UI thread.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "VarbelTreeview/VarbelTreeview.h"
#include "desk/desk_c.h"
#include "desk/headless.h"

namespace {

constexpr const char* kTreeClsid = "{D5CA163D-6878-4BD8-A144-A5E85A414594}";
constexpr const char* kWrongThread = "The object was called from a thread other than the one that created it";

// f() on a thread of its own, waited for.
template <class F>
auto OnWorker(F f) {
  decltype(f()) result{};
  std::thread t([&] { result = f(); });
  t.join();
  return result;
}

int32_t Id(desk_object* o, const char* name) {
  int32_t id = 0;
  desk_error err;
  EXPECT_EQ(desk_id_of_name(o, name, &id, &err), 0) << name;
  return id;
}

// A host object that answers every call and notes the thread its destroy ran on.
std::thread::id destroyedOn;
constexpr desk_host_vtbl kHostVtbl{
    sizeof(desk_host_vtbl), [](void*, int32_t, int32_t, desk_value*, int32_t, desk_value*, desk_error*) { return int32_t{0}; },
    [](void*) { destroyedOn = std::this_thread::get_id(); }};

std::string Text(const desk_value& v) {
  char buf[256];
  desk_error err;
  return desk_value_text(&v, buf, sizeof buf, &err) == 0 ? buf : "(no text)";
}

class CApiThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    // The test program's own thread is the UI thread, whichever test calls in first.
    ASSERT_EQ(desk_ui_thread(&err), 0);
    desk::SetPlatform(platform);
    ASSERT_EQ(desk_handle_count(), 0);
    ASSERT_EQ(VarbelTreeview_DeskCreate(kTreeClsid, &tree, &err), 0) << err.text;
    ASSERT_EQ(desk_init_properties(tree, &err), 0);
  }
  void TearDown() override {
    desk_release(tree);
    ASSERT_EQ(desk_do_events(&err), 0);  // what other threads gave back
    EXPECT_EQ(desk_handle_count(), 0) << "a handle was not given back";
    desk::SetPlatform(nullptr);
  }
  desk_value Get(desk_object* o, const char* name) {
    desk_value v{};
    EXPECT_EQ(desk_get(o, Id(o, name), &v, &err), 0) << name;
    return v;
  }
  // A member's value as text.
  std::string Read(desk_object* o, const char* name) {
    desk_value v = Get(o, name);
    std::string s = Text(v);
    desk_value_clear(&v);
    return s;
  }

  std::shared_ptr<desk::HeadlessPlatform> platform = std::make_shared<desk::HeadlessPlatform>();
  desk_object* tree = nullptr;
  desk_error err{};
};

// Every entry point that takes an error record, called from another thread, answers
// DESK_E_WRONG_THREAD with its text, and nothing it would have done is done.
TEST_F(CApiThreads, EveryCallFromAnotherThreadIsRefusedAndDoesNothing) {
  desk_object* bag = nullptr;
  ASSERT_EQ(desk_bag_new(&bag, &err), 0);
  const int32_t path = Id(tree, "PathSeparator"), nodes = Id(tree, "Nodes");
  const std::string pathBefore = Read(tree, "PathSeparator");
  const int doEventsBefore = platform->doEventsCount;
  static const uint16_t dash[] = {'-'};
  desk_value text{DESK_STRING, {}}, out{};
  text.u.string = {dash, 1};
  desk_value target = text, byRef{DESK_BYREF, {}};  // the caller's string, which is not the library's to hand back
  byRef.u.ref = &target;
  desk_object* made = nullptr;
  int32_t id = 0, n = 0, cookie = 0;
  char buf[16];
  void* widget = nullptr;
  static int self;
  struct Row {
    const char* call;
    std::function<int32_t(desk_error*)> f;
  };
  const Row rows[] = {
      {"create", [&](desk_error* e) { return VarbelTreeview_DeskCreate(kTreeClsid, &made, e); }},
      {"addref", [&](desk_error* e) { return desk_addref(tree, e); }},
      // These answer NULL; the record says why.
      {"object_interface", [&](desk_error* e) { return desk_object_interface(tree, e) ? 0 : DESK_E_WRONG_THREAD; }},
      {"event_interface", [&](desk_error* e) { return desk_event_interface(tree, e) ? 0 : DESK_E_WRONG_THREAD; }},
      {"id_of_name", [&](desk_error* e) { return desk_id_of_name(tree, "Nodes", &id, e); }},
      {"invoke (a write)", [&](desk_error* e) { return desk_invoke(tree, path, DESK_LET, &text, 1, nullptr, e); }},
      {"invoke by reference", [&](desk_error* e) { return desk_invoke(tree, path, DESK_LET, &byRef, 1, nullptr, e); }},
      {"invoke without arguments", [&](desk_error* e) { return desk_invoke(tree, nodes, DESK_GET, nullptr, 0, &out, e); }},
      {"get", [&](desk_error* e) { return desk_get(tree, nodes, &out, e); }},
      {"value_set", [&](desk_error* e) { return desk_value_set(&out, &text, e); }},
      {"string_utf8", [&](desk_error* e) { return desk_string_utf8("x", &out, e); }},
      {"value_text", [&](desk_error* e) { return desk_value_text(&text, buf, sizeof buf, e); }},
      {"value_long", [&](desk_error* e) { return desk_value_long(&text, &n, e); }},
      {"host_new", [&](desk_error* e) { return desk_host_new(&kHostVtbl, &self, nullptr, 0, &made, e); }},
      {"host_find", [&](desk_error* e) { return desk_host_find(&kHostVtbl, &self, &made, e); }},
      {"advise", [&](desk_error* e) { return desk_advise(tree, bag, &cookie, e); }},
      {"unadvise", [&](desk_error* e) { return desk_unadvise(tree, 1, e); }},
      {"init_properties", [&](desk_error* e) { return desk_init_properties(tree, e); }},
      {"read_properties", [&](desk_error* e) { return desk_read_properties(tree, bag, e); }},
      {"write_properties", [&](desk_error* e) { return desk_write_properties(tree, bag, e); }},
      {"bag_new", [&](desk_error* e) { return desk_bag_new(&made, e); }},
      {"bag_save", [&](desk_error* e) { return desk_bag_save(bag, "/tmp/desk-never-saved.json", e); }},
      {"bag_load", [&](desk_error* e) { return desk_bag_load("/tmp/desk-never-saved.json", &made, e); }},
      {"use_platform", [&](desk_error* e) { return desk_use_platform("headless", e); }},
      {"show", [&](desk_error* e) { return desk_show(tree, "x", 10, 10, e); }},
      {"widget", [&](desk_error* e) { return desk_widget(tree, &widget, e); }},
      {"run", [&](desk_error* e) { return desk_run(e); }},
      {"quit", [&](desk_error* e) { return desk_quit(e); }},
      {"do_events", [&](desk_error* e) { return desk_do_events(e); }},
      {"headless_resize", [&](desk_error* e) { return desk_headless_resize(tree, 10, 10, e); }},
      {"headless_popup_choice", [&](desk_error* e) { return desk_headless_popup_choice(3, e); }},
      {"headless_click", [&](desk_error* e) { return desk_headless_click(tree, 1, 0, 10, 10, e); }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.call);
    desk_error e{};
    EXPECT_EQ(OnWorker([&] { return r.f(&e); }), DESK_E_WRONG_THREAD);
    EXPECT_EQ(e.number, DESK_E_WRONG_THREAD);
    EXPECT_STREQ(e.text, kWrongThread);
    EXPECT_STREQ(e.source, "desk");
    EXPECT_EQ(OnWorker([&] { return r.f(nullptr); }), DESK_E_WRONG_THREAD) << "without an error record";
  }
  EXPECT_EQ(made, nullptr);
  EXPECT_EQ(out.kind, DESK_EMPTY);
  EXPECT_EQ(target.kind, DESK_EMPTY) << "a refused call leaves its by-reference targets Empty";
  EXPECT_EQ(widget, nullptr);
  EXPECT_EQ(desk_handle_count(), 2) << "the tree and the bag, no more";
  EXPECT_EQ(Read(tree, "PathSeparator"), pathBefore);
  EXPECT_EQ(platform->doEventsCount, doEventsBefore);
  EXPECT_EQ(&desk::CurrentPlatform(), platform.get());
  desk_value nodeList = Get(tree, "Nodes");
  EXPECT_EQ(Read(nodeList.u.object, "Count"), "0");
  desk_value_clear(&nodeList);
  // The same calls on the UI thread still work.
  EXPECT_EQ(desk_invoke(tree, path, DESK_LET, &text, 1, nullptr, &err), 0);
  EXPECT_EQ(Read(tree, "PathSeparator"), "-");
  desk_release(bag);
}

TEST_F(CApiThreads, TheCallsAnyThreadMayMake) {
  static std::atomic<int> ran{0};
  const desk_api* api = desk_get_api(DESK_C_VERSION, &err);
  std::thread([api] {
    desk_error e;
    EXPECT_EQ(desk_version(), DESK_C_VERSION);
    EXPECT_EQ(desk_check_version(DESK_C_VERSION, &e), 0);
    EXPECT_EQ(VarbelTreeview_DeskApi(DESK_C_VERSION, &e), api);
    const desk_typelib_info* typeLib = VarbelTreeview_DeskTypeLib();
    EXPECT_STREQ(typeLib ? typeLib->classes[0].name : "(none)", "VarbelTreeviewControl");
    EXPECT_EQ(desk_handle_count(), 1);
    EXPECT_EQ(desk_ui_thread(&e), DESK_E_WRONG_THREAD) << "it asks, and it is not";
    EXPECT_EQ(desk_post([](void*) { ++ran; }, nullptr, &e), 0);
  }).join();
  EXPECT_EQ(ran, 0) << "not before the UI thread gets to it";
  ASSERT_EQ(desk_do_events(&err), 0);
  EXPECT_EQ(ran, 1);
}

// What another thread gives back (a garbage collector's releases, values it clears) stays
// valid until the UI thread runs what was queued, and is given back there: handles, a host
// object's destroy, strings of the library's pool and of their own.
TEST_F(CApiThreads, WhatAnotherThreadGivesBackIsGivenBackOnTheUiThread) {
  desk_value nodeList = Get(tree, "Nodes"), held = Get(tree, "Nodes"), shortString{}, longString{};
  desk_object* nodes = nodeList.u.object;
  ASSERT_EQ(desk_string_utf8("short", &shortString, &err), 0);
  ASSERT_EQ(desk_string_utf8(std::string(300, 'w').c_str(), &longString, &err), 0);
  desk_object* host = nullptr;
  destroyedOn = {};
  ASSERT_EQ(desk_host_new(&kHostVtbl, nullptr, nullptr, 0, &host, &err), 0);
  ASSERT_EQ(desk_handle_count(), 4);
  EXPECT_EQ(OnWorker([&] {
              for (desk_value* v : {&held, &shortString, &longString}) desk_value_clear(v);
              return desk_release(nodes) + desk_release(host);
            }),
            0);
  for (desk_value* v : {&held, &shortString, &longString}) EXPECT_EQ(v->kind, DESK_EMPTY) << "emptied at once";
  EXPECT_EQ(desk_handle_count(), 4) << "nothing given back yet";
  EXPECT_EQ(Read(nodes, "Count"), "0") << "the handle still works on the UI thread";
  EXPECT_EQ(destroyedOn, std::thread::id());
  ASSERT_EQ(desk_do_events(&err), 0);
  EXPECT_EQ(desk_handle_count(), 1);
  EXPECT_EQ(destroyedOn, std::this_thread::get_id());
  desk_value v{};
  EXPECT_EQ(desk_get(nodes, Id(tree, "Nodes"), &v, &err), 91) << "given back";
  // A stale handle released on another thread is dropped on the UI thread without a word.
  EXPECT_EQ(OnWorker([&] { return desk_release(nodes); }), 0);
  ASSERT_EQ(desk_do_events(&err), 0);
  EXPECT_EQ(desk_handle_count(), 1);
}

// Calls posted from several threads run on the UI thread, each thread's in its order, and may
// call into the interface; a call posted by a posted call waits for the next run.
TEST_F(CApiThreads, PostedCallsRunOnTheUiThreadInTheOrderPosted) {
  using Ran = std::vector<std::tuple<int, int, std::thread::id>>;  // worker, index, thread it ran on
  struct Call {
    int worker, index;
    Ran* ran;
  };
  constexpr int kWorkers = 4, kCalls = 50;
  Ran ran;
  std::vector<Call> calls;
  for (int w = 0; w < kWorkers; ++w)
    for (int i = 0; i < kCalls; ++i) calls.push_back({w, i, &ran});
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w)
    workers.emplace_back([&calls, w] {
      for (int i = 0; i < kCalls; ++i) {
        desk_error e;
        EXPECT_EQ(desk_post(
                      [](void* data) {
                        auto* c = static_cast<Call*>(data);
                        c->ran->emplace_back(c->worker, c->index, std::this_thread::get_id());
                      },
                      &calls[w * kCalls + i], &e),
                  0);
      }
    });
  for (std::thread& t : workers) t.join();
  EXPECT_TRUE(ran.empty());
  ASSERT_EQ(desk_do_events(&err), 0);
  ASSERT_EQ(ran.size(), static_cast<size_t>(kWorkers * kCalls));
  std::vector<int> next(kWorkers, 0);
  for (auto [w, i, on] : ran) {
    EXPECT_EQ(i, next[w]++) << "worker " << w;
    EXPECT_EQ(on, std::this_thread::get_id());
  }

  struct Again {
    desk_object* tree;
    std::string path;
    int runs = 0;
  } again{tree, "", 0};
  ASSERT_EQ(desk_post(
                [](void* data) {
                  auto* a = static_cast<Again*>(data);
                  ++a->runs;
                  desk_error e;
                  desk_value v{};
                  int32_t id = 0;
                  desk_id_of_name(a->tree, "PathSeparator", &id, &e);
                  if (desk_get(a->tree, id, &v, &e) == 0) a->path = Text(v);
                  desk_value_clear(&v);
                  if (a->runs == 1) desk_post(+[](void* d) { ++static_cast<Again*>(d)->runs; }, a, &e);
                },
                &again, &err),
            0);
  ASSERT_EQ(desk_do_events(&err), 0);
  EXPECT_EQ(again.runs, 1);
  EXPECT_EQ(again.path, "\\");
  ASSERT_EQ(desk_do_events(&err), 0);
  EXPECT_EQ(again.runs, 2);
}

// A child of fork() has a posted-call queue of its own: what the parent had posted runs in
// the parent only, and the child's posts (from its UI thread or a worker of its own) run at its
// desk_do_events, though a worker of the parent's was posting, and may have held the queue's
// lock, at the fork.
TEST_F(CApiThreads, AForkedChildHasAPostedCallQueueOfItsOwn) {
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
  GTEST_SKIP() << "ThreadSanitizer does not follow a child forked from a threaded process";
#endif
#endif
  static std::atomic<int> parentRuns{0};
  static int childRuns = 0;
  std::atomic<bool> stop{false};
  std::thread poster([&] {
    while (!stop) {
      desk_error e;
      desk_post([](void*) { ++parentRuns; }, nullptr, &e);
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(10);
    desk_error e;
    if (desk_post([](void*) { ++childRuns; }, nullptr, &e) != 0) _exit(2);
    std::thread worker([] {
      desk_error e2;
      desk_post([](void*) { ++childRuns; }, nullptr, &e2);
    });
    worker.join();
    const int before = parentRuns;
    if (desk_do_events(&e) != 0) _exit(3);
    _exit(childRuns == 2 && parentRuns == before ? 0 : 1);
  }
  stop = true;
  poster.join();
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  ASSERT_EQ(desk_do_events(&err), 0);
  EXPECT_GT(parentRuns.load(), 0) << "the parent's posts ran in the parent";
}

}  // namespace
