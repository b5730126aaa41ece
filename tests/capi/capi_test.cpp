// The C interface in both directions: objects the host implements (event sinks, property bags,
// objects members accept), errors at the boundary, and handles released at awkward moments.
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Quorvane/Quorvane.h"
#include "VarbelTreeview/VarbelTreeview.h"
#include "desk/desk_c.h"
#include "desk/headless.h"
#include "desk/text.h"
#include "support/failing_new.h"

namespace {

constexpr const char* kTreeClsid = "{D5CA163D-6878-4BD8-A144-A5E85A414594}";

// A host object whose behaviour is a C++ function, behind the C function table.
struct HostFn {
  std::function<int32_t(int32_t id, int32_t kind, desk_value* args, int32_t argc, desk_value* result, desk_error* err)>
      invoke;
  int* destroyed = nullptr;

  static int32_t Invoke(void* self, int32_t id, int32_t kind, desk_value* args, int32_t argc, desk_value* result,
                        desk_error* err) {
    return static_cast<HostFn*>(self)->invoke(id, kind, args, argc, result, err);
  }
  static void Destroy(void* self) {
    auto* h = static_cast<HostFn*>(self);
    if (h->destroyed) ++*h->destroyed;
    delete h;
  }
  static constexpr desk_host_vtbl kVtbl{sizeof(desk_host_vtbl), &Invoke, &Destroy};
};

desk_object* NewHost(HostFn* fn, const std::vector<desk_host_member>& members = {}) {
  desk_object* o = nullptr;
  desk_error err;
  EXPECT_EQ(desk_host_new(&HostFn::kVtbl, fn, members.data(), static_cast<int32_t>(members.size()), &o, &err), 0)
      << err.text;
  return o;
}

desk_value Str(const std::u16string& s) {
  desk_value v{};
  v.kind = DESK_STRING;
  v.u.string.data = reinterpret_cast<const uint16_t*>(s.data());
  v.u.string.length = static_cast<int32_t>(s.size());
  return v;
}

std::u16string Text(const desk_value& v) {
  if (v.kind != DESK_STRING) return u"(not a string)";
  return std::u16string(reinterpret_cast<const char16_t*>(v.u.string.data), static_cast<size_t>(v.u.string.length));
}

int32_t Id(desk_object* o, const char* name) {
  int32_t id = 0;
  desk_error err;
  EXPECT_EQ(desk_id_of_name(o, name, &id, &err), 0) << name;
  return id;
}

class CApi : public ::testing::Test {
 protected:
  void SetUp() override {
    desk::SetPlatform(platform);
    ASSERT_EQ(desk_handle_count(), 0);
    ASSERT_EQ(VarbelTreeview_DeskCreate(kTreeClsid, &tree, &err), 0) << err.text;
    ASSERT_EQ(desk_headless_resize(tree, 4800, 3600, &err), 0) << err.text;
  }
  void TearDown() override {
    if (tree) desk_release(tree);
    EXPECT_EQ(desk_handle_count(), 0) << "a handle was not given back";
    desk::SetPlatform(nullptr);
  }
  // Adds a root node with a key and a text.
  void AddNode(const std::u16string& key) {
    desk_value nodes{};
    ASSERT_EQ(desk_get(tree, Id(tree, "Nodes"), &nodes, &err), 0);
    desk_value args[3] = {{}, {}, Str(key)};
    args[0].kind = args[1].kind = DESK_MISSING;
    desk_value node{};
    ASSERT_EQ(desk_invoke(nodes.u.object, Id(nodes.u.object, "Add"), DESK_METHOD, args, 3, &node, &err), 0) << err.text;
    desk_value_clear(&node);
    desk_value_clear(&nodes);
  }

  std::shared_ptr<desk::HeadlessPlatform> platform = std::make_shared<desk::HeadlessPlatform>();
  desk_object* tree = nullptr;
  desk_error err{};
};

TEST_F(CApi, EventsReachAHostSinkWithTheirArgumentsAndIds) {
  std::vector<std::string> seen;
  auto* fn = new HostFn;
  const desk_interface_info* events = desk_event_interface(tree, &err);
  ASSERT_NE(events, nullptr);
  fn->invoke = [&](int32_t id, int32_t kind, desk_value* args, int32_t argc, desk_value*, desk_error*) {
    EXPECT_EQ(kind, DESK_METHOD);
    for (int32_t i = 0; i < events->member_count; ++i)
      if (events->members[i].id == id) {
        std::string line = events->members[i].name;
        // The mouse events' arguments are by reference: Button, Shift, x, y.
        if (argc == 4 && args[0].kind == DESK_BYREF) {
          line += " " + std::to_string(args[0].u.ref->u.integer) + " " +
                  std::to_string(static_cast<int>(args[2].u.ref->u.single));
          // What a handler writes back is the raiser's to see; the click's next event starts
          // again from the click.
          args[0].u.ref->u.integer = 7;
          args[2].u.ref->u.single = 5;
        }
        seen.push_back(line);
      }
    return 0;
  };
  desk_object* sink = NewHost(fn);
  int32_t cookie = 0;
  ASSERT_EQ(desk_advise(tree, sink, &cookie, &err), 0) << err.text;
  desk_release(sink);  // the control holds it now
  ASSERT_EQ(desk_headless_click(tree, 1, 0, 600, 10, &err), 0) << err.text;
  EXPECT_EQ(seen, (std::vector<std::string>{"MouseDown 1 600", "MouseUp 1 600"}));
  ASSERT_EQ(desk_unadvise(tree, cookie, &err), 0);
  seen.clear();
  ASSERT_EQ(desk_headless_click(tree, 1, 0, 600, 10, &err), 0);
  EXPECT_TRUE(seen.empty());
}

TEST_F(CApi, AHostsWritesToByReferenceArgumentsReachTheRaiserCoercedToTheTargetsKind) {
  auto* fn = new HostFn;
  fn->invoke = [](int32_t, int32_t, desk_value* args, int32_t argc, desk_value* result, desk_error* e) {
    if (argc != 3 || args[0].kind != DESK_BYREF || args[1].kind != DESK_BYREF || args[2].kind != DESK_STRING) return 5;
    std::u16string now = u"new text";
    desk_value text = Str(now);
    desk_value_set(args[0].u.ref, &text, e);  // a String target takes the text
    desk_value n{};
    n.kind = DESK_DOUBLE;
    n.u.double_ = 2.5;
    desk_value_set(args[1].u.ref, &n, e);  // an Integer target: 2.5 rounds to even, 2
    n.u.double_ = 7;
    return desk_value_set(result, &n, e);
  };
  desk_object* host = NewHost(fn);
  auto* o = reinterpret_cast<desk::Object*>(host);  // a handle is the object
  desk::Variant s = desk::Variant::String(u"old"), i = desk::Variant::Integer(9);
  std::vector<desk::Variant> args{desk::Variant::ByRef(&s), desk::Variant::ByRef(&i), desk::Variant::String(u"in")};
  desk::Variant r = o->Invoke(1, desk::InvokeKind::Method, args);
  EXPECT_EQ(s, desk::Variant::String(u"new text"));
  EXPECT_EQ(i, desk::Variant::Integer(2));
  EXPECT_EQ(r, desk::Variant::Double(7));

  // A write that does not convert to the target's kind fails the call with the platform's 13.
  fn->invoke = [](int32_t, int32_t, desk_value* args, int32_t, desk_value*, desk_error* e) {
    std::u16string word = u"word";
    desk_value text = Str(word);
    return desk_value_set(args[0].u.ref, &text, e);
  };
  std::vector<desk::Variant> one{desk::Variant::ByRef(&i)};
  try {
    o->Invoke(1, desk::InvokeKind::Method, one);
    ADD_FAILURE() << "no failure";
  } catch (const desk::Error& e) {
    EXPECT_EQ(e.Number(), 13);
  }
  EXPECT_EQ(i, desk::Variant::Integer(2));
  desk_release(host);
}

// Also when the callee fails after writing them: what it wrote stays written, as it would in
// the caller's own variables.
TEST_F(CApi, EveryByReferenceArgumentOfACallFromCIsWrittenBackWhateverTheirNumber) {
  // Each target's copy must stay where the callee was pointed while more are made.
  bool fail = false;
  auto* fn = new HostFn;
  fn->invoke = [&fail](int32_t, int32_t, desk_value* args, int32_t argc, desk_value*, desk_error* e) {
    for (int32_t k = 0; k < argc; ++k) {
      if (args[k].kind != DESK_BYREF) return 5;
      desk_value n{};
      n.kind = DESK_LONG;
      n.u.long_ = args[k].u.ref->u.long_ * 10 + k;
      if (int32_t rc = desk_value_set(args[k].u.ref, &n, e)) return rc;
    }
    return fail ? 6 : 0;
  };
  desk_object* host = NewHost(fn);
  for (const bool failing : {false, true}) {
    SCOPED_TRACE(failing ? "the callee fails" : "the callee succeeds");
    fail = failing;
    constexpr int kArgs = 40;
    desk_value targets[kArgs], args[kArgs];
    for (int k = 0; k < kArgs; ++k) {
      targets[k] = desk_value{};
      targets[k].kind = DESK_LONG;
      targets[k].u.long_ = k + 1;
      args[k] = desk_value{};
      args[k].kind = DESK_BYREF;
      args[k].u.ref = &targets[k];
    }
    desk_error err;
    EXPECT_EQ(desk_invoke(host, 1, DESK_METHOD, args, kArgs, nullptr, &err), failing ? 6 : 0) << err.text;
    for (int k = 0; k < kArgs; ++k) {
      EXPECT_EQ(targets[k].kind, DESK_LONG) << k;
      EXPECT_EQ(targets[k].u.long_, (k + 1) * 10 + k) << k;
    }
  }
  desk_release(host);
}

// A call that fails while it reads its arguments: the by-reference targets read before the
// failure get their values back, those after it are left Empty, as the header says.
TEST_F(CApi, ByReferenceTargetsPastAnArgumentThatCannotBeReadAreLeftEmpty) {
  int calls = 0;
  auto* fn = new HostFn;
  fn->invoke = [&calls](int32_t, int32_t, desk_value*, int32_t, desk_value*, desk_error*) { return ++calls, 0; };
  desk_object* host = NewHost(fn);
  desk_value targets[2] = {}, args[3] = {};
  for (int k = 0; k < 2; ++k) {
    targets[k].kind = DESK_LONG;
    targets[k].u.long_ = 5 + k;
    args[2 * k].kind = DESK_BYREF;
    args[2 * k].u.ref = &targets[k];
  }
  args[1].kind = 77;  // no kind at all
  desk_error err;
  EXPECT_EQ(desk_invoke(host, 1, DESK_METHOD, args, 3, nullptr, &err), 13);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(targets[0].kind, DESK_LONG);
  EXPECT_EQ(targets[0].u.long_, 5);
  EXPECT_EQ(targets[1].kind, DESK_EMPTY);
  desk_release(host);
}

// An event handler that drops the host's last reference to the control that raised it: the
// control lives until the call that raised the event returns; the handle is dead at once.
TEST_F(CApi, AControlReleasedInsideItsOwnEventIsFreedOnlyAfterTheCallReturns) {
  int calls = 0;
  int32_t afterRelease = -1;
  const int32_t pathId = Id(tree, "PathSeparator");
  auto* fn = new HostFn;
  fn->invoke = [&](int32_t, int32_t, desk_value*, int32_t, desk_value*, desk_error*) {
    if (++calls == 1) {
      EXPECT_EQ(desk_release(tree), 0);
      desk_value v{};
      desk_error e;
      afterRelease = desk_get(tree, pathId, &v, &e);
    }
    return 0;
  };
  desk_object* sink = NewHost(fn);
  int32_t cookie = 0;
  ASSERT_EQ(desk_advise(tree, sink, &cookie, &err), 0);
  desk_release(sink);
  EXPECT_EQ(desk_headless_click(tree, 1, 0, 600, 10, &err), 0) << err.text;
  EXPECT_EQ(afterRelease, 91);
  EXPECT_EQ(calls, 2);  // MouseDown, then MouseUp: the rest of the click ran on a live control
  EXPECT_EQ(desk_handle_count(), 0);
  EXPECT_TRUE(platform->Surfaces().empty());  // and then it was freed
  EXPECT_EQ(desk_release(tree), 91);
  tree = nullptr;
}

// The same when the event comes from a call on another object (a node's Expanded raises the
// control's Expand): the control stays alive until the event is over, then goes.
TEST_F(CApi, AControlReleasedInsideAnEventRaisedThroughOneOfItsNodesOutlivesTheEvent) {
  AddNode(u"parent");
  desk_value nodes{}, child{};
  ASSERT_EQ(desk_get(tree, Id(tree, "Nodes"), &nodes, &err), 0);
  {
    std::u16string parent = u"parent", key = u"child";
    desk_value args[3] = {Str(parent), {}, Str(key)};
    args[1].kind = DESK_LONG;
    args[1].u.long_ = 4;  // a child
    ASSERT_EQ(desk_invoke(nodes.u.object, Id(nodes.u.object, "Add"), DESK_METHOD, args, 3, &child, &err), 0);
    desk_value_clear(&child);
  }
  const std::u16string parentKey = u"parent";
  desk_value key = Str(parentKey), node{};
  ASSERT_EQ(desk_invoke(nodes.u.object, DESK_ID_VALUE, DESK_GET, &key, 1, &node, &err), 0) << err.text;
  desk_value_clear(&nodes);
  int expands = 0;
  size_t aliveAfterRelease = 0;
  auto* fn = new HostFn;
  const int32_t expandId = 28;
  const int32_t pathId = Id(tree, "PathSeparator");
  int spareGone = 0, spareGoneInEvent = -1;
  auto* spareFn = new HostFn;
  spareFn->destroyed = &spareGone;
  desk_object* spare = NewHost(spareFn);
  fn->invoke = [&](int32_t id, int32_t, desk_value*, int32_t, desk_value*, desk_error*) {
    if (id == expandId && ++expands == 1) {
      // Reads made inside the event, the second on the handle the first used, end no call but
      // their own: the node's call is still in progress, and a release still waits for it.
      for (int i = 0; i < 2; ++i) {
        desk_value v{};
        desk_error e;
        EXPECT_EQ(desk_get(tree, pathId, &v, &e), 0);
        EXPECT_EQ(Text(v), u"\\");
        desk_value_clear(&v);
      }
      desk_value held{};  // the spare's last handle, dropped by clearing a value that holds it
      held.kind = DESK_OBJECT;
      held.u.object = spare;
      desk_value_clear(&held);
      EXPECT_EQ(desk_release(tree), 0);  // the host's last handle
      // A call that ends after the releases ends no call but its own either.
      desk_value k{};
      desk_error e;
      EXPECT_EQ(desk_get(node.u.object, Id(node.u.object, "Key"), &k, &e), 0) << e.text;
      EXPECT_EQ(Text(k), u"parent");
      desk_value_clear(&k);
      spareGoneInEvent = spareGone;
      aliveAfterRelease = platform->Surfaces().size();
    }
    return 0;
  };
  desk_object* sink = NewHost(fn);
  int32_t cookie = 0;
  ASSERT_EQ(desk_advise(tree, sink, &cookie, &err), 0);
  desk_release(sink);
  desk_value yes{};
  yes.kind = DESK_BOOLEAN;
  yes.u.boolean = -1;
  EXPECT_EQ(desk_invoke(node.u.object, Id(node.u.object, "Expanded"), DESK_LET, &yes, 1, nullptr, &err), 0) << err.text;
  EXPECT_EQ(expands, 1);
  EXPECT_EQ(aliveAfterRelease, 1u);           // not freed under the event
  EXPECT_TRUE(platform->Surfaces().empty());  // freed once the call returned
  EXPECT_EQ(spareGoneInEvent, 0);
  EXPECT_EQ(spareGone, 1);
  desk_value_clear(&node);
  tree = nullptr;
}

TEST_F(CApi, ADeadHandleIsRefusedByEveryKindOfCall) {
  desk_object* bag = nullptr;
  ASSERT_EQ(desk_bag_new(&bag, &err), 0);
  ASSERT_EQ(desk_release(bag), 0);
  desk_value v{};
  int32_t id = 0, cookie = 0;
  struct Case {
    const char* call;
    int32_t rc;
  };
  const Case cases[] = {
      {"invoke", desk_invoke(bag, 1, DESK_METHOD, nullptr, 0, &v, &err)},
      {"get", desk_get(bag, 1, &v, &err)},
      {"id_of_name", desk_id_of_name(bag, "ReadProperty", &id, &err)},
      {"advise", desk_advise(bag, tree, &cookie, &err)},
      {"advise sink", desk_advise(tree, bag, &cookie, &err)},
      {"read_properties", desk_read_properties(tree, bag, &err)},
      {"bag_save", desk_bag_save(bag, "/tmp/never", &err)},
      {"addref", desk_addref(bag, &err)},
      {"release", desk_release(bag)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.rc, 91) << c.call;
  EXPECT_EQ(desk_object_interface(bag, &err), nullptr);
  // An object argument with a dead handle is refused too.
  desk_value arg{};
  arg.kind = DESK_OBJECT;
  arg.u.object = bag;
  EXPECT_EQ(desk_invoke(tree, Id(tree, "ActiveControl"), DESK_SET, &arg, 1, nullptr, &err), 91);
}

TEST_F(CApi, AHostPropertyBagKeepsTheControlsSettingsAndGivesThemBack) {
  std::map<std::u16string, desk_value> stored;
  auto* fn = new HostFn;
  fn->invoke = [&](int32_t id, int32_t kind, desk_value* args, int32_t argc, desk_value* result, desk_error* e) {
    EXPECT_EQ(kind, DESK_METHOD);
    if (id == DESK_ID_WRITEPROPERTY && argc == 3) {
      desk_value copy{};
      desk_value_set(&copy, &args[1], e);
      desk_value_clear(&stored[Text(args[0])]);
      stored[Text(args[0])] = copy;
      return 0;
    }
    if (id == DESK_ID_READPROPERTY && argc == 2) {
      auto it = stored.find(Text(args[0]));
      return desk_value_set(result, it == stored.end() ? &args[1] : &it->second, e);
    }
    return 438;
  };
  desk_object* bag = NewHost(fn, {{"ReadProperty", DESK_ID_READPROPERTY, DESK_METHOD},
                                  {"WriteProperty", DESK_ID_WRITEPROPERTY, DESK_METHOD}});
  std::u16string dash = u"-";
  desk_value sep = Str(dash);
  ASSERT_EQ(desk_invoke(tree, Id(tree, "PathSeparator"), DESK_LET, &sep, 1, nullptr, &err), 0);
  ASSERT_EQ(desk_write_properties(tree, bag, &err), 0) << err.text;
  ASSERT_TRUE(stored.count(u"PathSeparator"));
  EXPECT_EQ(Text(stored[u"PathSeparator"]), u"-");

  desk_object* second = nullptr;
  ASSERT_EQ(VarbelTreeview_DeskCreate(kTreeClsid, &second, &err), 0);
  ASSERT_EQ(desk_read_properties(second, bag, &err), 0) << err.text;
  desk_value v{};
  ASSERT_EQ(desk_get(second, Id(second, "PathSeparator"), &v, &err), 0);
  EXPECT_EQ(Text(v), u"-");
  desk_value_clear(&v);

  // A bag that fails: the control's read fails with the bag's number.
  fn->invoke = [](int32_t, int32_t, desk_value*, int32_t, desk_value*, desk_error* e) {
    std::strcpy(e->text, "Disk on fire");
    return 75;
  };
  EXPECT_EQ(desk_read_properties(second, bag, &err), 75);
  EXPECT_NE(std::strstr(err.text, "Disk on fire"), nullptr) << err.text;
  for (auto& [k, val] : stored) desk_value_clear(&val);
  desk_release(second);
  desk_release(bag);
}

TEST_F(CApi, AMemberKeepsAHostObjectItAcceptsAndGivesTheSameObjectBack) {
  int destroyed = 0;
  auto* fn = new HostFn;
  fn->destroyed = &destroyed;
  fn->invoke = [](int32_t, int32_t, desk_value*, int32_t, desk_value*, desk_error*) { return 438; };
  desk_object* mine = NewHost(fn, {{"Name", 7, DESK_GET}});
  int32_t id = 0;
  EXPECT_EQ(desk_id_of_name(mine, "name", &id, &err), 0);
  EXPECT_EQ(id, 7);
  desk_value arg{};
  arg.kind = DESK_OBJECT;
  arg.u.object = mine;
  const int32_t active = Id(tree, "ActiveControl");
  ASSERT_EQ(desk_invoke(tree, active, DESK_SET, &arg, 1, nullptr, &err), 0) << err.text;
  desk_release(mine);
  EXPECT_EQ(destroyed, 0);  // the control holds it
  desk_object* again = nullptr;
  ASSERT_EQ(desk_host_find(&HostFn::kVtbl, fn, &again, &err), 0);  // found while the control holds it
  EXPECT_EQ(again, mine);
  desk_release(again);
  desk_value back{};
  ASSERT_EQ(desk_get(tree, active, &back, &err), 0);
  EXPECT_EQ(back.kind, DESK_OBJECT);
  EXPECT_EQ(back.u.object, mine);
  desk_value_clear(&back);
  desk_release(tree);
  tree = nullptr;
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(desk_host_find(&HostFn::kVtbl, fn, &again, &err), 91);
  EXPECT_EQ(again, nullptr);
}

TEST_F(CApi, TypeInformationDescribesMembersParametersAndEvents) {
  const desk_interface_info* i = desk_object_interface(tree, &err);
  ASSERT_NE(i, nullptr);
  EXPECT_STREQ(i->name, "_VarbelTreeviewControl");
  EXPECT_EQ(i->member_count, 155);
  const desk_member_info* hit = nullptr;
  for (int32_t k = 0; k < i->member_count; ++k)
    if (std::strcmp(i->members[k].name, "DoHitTest") == 0) hit = &i->members[k];
  ASSERT_NE(hit, nullptr);
  EXPECT_EQ(hit->id, 0x60030073);
  EXPECT_EQ(hit->invoke_kind, DESK_METHOD);
  ASSERT_EQ(hit->param_count, 2);
  EXPECT_STREQ(hit->params[0].name, "x");

  const desk_interface_info* ev = desk_event_interface(tree, &err);
  ASSERT_NE(ev, nullptr);
  EXPECT_STREQ(ev->name, "__VarbelTreeviewControl");
  EXPECT_STREQ(ev->members[0].name, "onMenuClick");
  EXPECT_EQ(ev->members[0].params[0].by_ref, 1);
  EXPECT_EQ(ev->members[0].params[0].kind, DESK_STRING);

  const desk_typelib_info* lib = VarbelTreeview_DeskTypeLib();
  ASSERT_NE(lib, nullptr);
  // The three described classes, then the control with the capabilities added since.
  ASSERT_EQ(lib->class_count, 4);
  EXPECT_STREQ(lib->classes[0].clsid, kTreeClsid);
  EXPECT_EQ(lib->classes[0].dispatch, i);  // one description per interface
  EXPECT_EQ(lib->classes[1].creatable, 0);
  EXPECT_STREQ(lib->classes[3].name, "VarbelTreeviewControlEx");
  EXPECT_EQ(lib->classes[3].creatable, 1);
  const desk_typelib_info* web = Quorvane_DeskTypeLib();
  ASSERT_NE(web, nullptr);
  EXPECT_STREQ(web->name, "Quorvane");

  // A bag has no event interface; asking is not an error.
  desk_object* bag = nullptr;
  desk_bag_new(&bag, &err);
  EXPECT_EQ(desk_event_interface(bag, &err), nullptr);
  EXPECT_EQ(err.number, 0);
  desk_release(bag);
}

// A read that fails names the object that failed, also when it comes right after reads of
// another object (a host's loop reads the tree and its own objects in turn).
TEST_F(CApi, AFailedReadNamesTheObjectThatFailedWhateverWasReadBefore) {
  auto* fn = new HostFn;
  fn->invoke = [](int32_t, int32_t, desk_value*, int32_t, desk_value*, desk_error*) { return 450; };
  desk_object* host = NewHost(fn, {{"Text", 1, DESK_GET}});
  const int32_t pathId = Id(tree, "PathSeparator");
  desk_value v{};
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    for (int i = 0; i < 2; ++i) {
      ASSERT_EQ(desk_get(tree, pathId, &v, &err), 0) << err.text;
      desk_value_clear(&v);
    }
    for (int i = 0; i < 2; ++i) {  // the second read of a handle is the quick one
      EXPECT_EQ(desk_get(host, 1, &v, &err), 450);
      EXPECT_STREQ(err.source, "HostObject") << i;
      EXPECT_EQ(v.kind, DESK_EMPTY);
    }
  }
  desk_release(host);
}

TEST_F(CApi, ErrorTextsAreCutAtACharacterBoundary) {
  auto* fn = new HostFn;
  fn->invoke = [](int32_t, int32_t, desk_value*, int32_t, desk_value*, desk_error* e) {
    std::string t;
    while (t.size() < sizeof e->text - 1) t += "\xC3\xA9";  // é, two bytes
    std::memcpy(e->text, t.data(), sizeof e->text - 1);
    e->text[sizeof e->text - 1] = '\0';
    return 5;
  };
  desk_object* host = NewHost(fn);
  desk_value v{};
  EXPECT_EQ(desk_invoke(host, 1, DESK_METHOD, nullptr, 0, &v, &err), 5);
  size_t n = std::strlen(err.text);
  EXPECT_GT(n, 1000u);
  EXPECT_EQ(desk::U8(desk::U16(err.text)), std::string(err.text));  // well-formed UTF-8
  EXPECT_STREQ(err.source, "HostObject");
  desk_release(host);
}

// Strings handed out come from a small pool when short and from the heap when long or when the
// pool is used up; each must come back whole and stay apart from every other one held.
TEST_F(CApi, StringsHandedOutStayWholeAndSeparateHoweverManyAreHeld) {
  std::vector<desk_value> held(700);
  std::vector<std::string> texts(held.size());
  auto make = [&](size_t i, size_t round) {
    // Lengths 0 to 69 run across the pool's slot size; the letter tells the rounds apart.
    texts[i] = std::string(i % 70, static_cast<char>('a' + (i + round) % 26));
    ASSERT_EQ(desk_string_utf8(texts[i].c_str(), &held[i], &err), 0) << err.text;
    ASSERT_EQ(held[i].kind, DESK_STRING);
    ASSERT_NE(held[i].u.string.data, nullptr) << "an empty string has data too";
  };
  for (size_t i = 0; i < held.size(); ++i) make(i, 0);
  // Give back every other one and take new ones in their place: freed buffers are reused.
  for (size_t i = 0; i < held.size(); i += 2) {
    desk_value_clear(&held[i]);
    make(i, 1);
  }
  for (size_t i = 0; i < held.size(); ++i) {
    ASSERT_EQ(held[i].u.string.length, static_cast<int32_t>(texts[i].size())) << i;
    EXPECT_EQ(desk::U8(Text(held[i])), texts[i]) << i;
  }
  // A copy outlives its source.
  desk_value copy{};
  ASSERT_EQ(desk_value_set(&copy, &held[45], &err), 0);
  desk_value_clear(&held[45]);
  EXPECT_EQ(desk::U8(Text(copy)), texts[45]);
  desk_value_clear(&copy);
  for (desk_value& v : held) desk_value_clear(&v);

  // Strings that fill their slots exactly, given back in the order they were taken and taken
  // again in the opposite one: each is written beside one already held, and leaves it alone.
  std::vector<desk_value> full(300);
  for (int round = 0; round < 2; ++round) {
    for (size_t i = 0; i < full.size(); ++i) {
      const std::string text(32, static_cast<char>('a' + (i + round) % 26));
      ASSERT_EQ(desk_string_utf8(text.c_str(), &full[i], &err), 0) << err.text;
    }
    for (size_t i = 0; i < full.size(); ++i)
      EXPECT_EQ(desk::U8(Text(full[i])), std::string(32, static_cast<char>('a' + (i + round) % 26))) << i;
    for (desk_value& v : full) desk_value_clear(&v);
  }
}

// A property read returns strings of every length through the same path, also when the read is
// made from inside another read (a host object asking the tree while it is being asked).
TEST_F(CApi, PropertyReadsGiveStringsOfEveryLengthAlsoFromInsideAnotherRead) {
  const int32_t pathId = Id(tree, "PathSeparator");
  desk_value sep{};
  ASSERT_EQ(desk_get(tree, pathId, &sep, &err), 0) << err.text;
  const std::u16string treeSep = Text(sep);
  desk_value_clear(&sep);
  std::u16string reply;
  auto* fn = new HostFn;
  fn->invoke = [&](int32_t, int32_t kind, desk_value*, int32_t argc, desk_value* result, desk_error* e) {
    if (kind != DESK_GET || argc != 0) return 450;
    desk_value inner{};
    if (int32_t rc = desk_get(tree, pathId, &inner, e)) return rc;
    std::u16string text = reply + Text(inner);
    desk_value_clear(&inner);
    desk_value v = Str(text);
    return desk_value_set(result, &v, e);
  };
  desk_object* host = NewHost(fn, {{"Text", 1, DESK_GET}});
  for (size_t n : {0, 1, 30, 31, 32, 33, 100, 5000}) {
    reply.assign(n, u'\u00e9');
    desk_value v{};
    ASSERT_EQ(desk_get(host, 1, &v, &err), 0) << err.text;
    EXPECT_EQ(Text(v), reply + treeSep) << n;
    desk_value_clear(&v);
    EXPECT_EQ(v.kind, DESK_EMPTY);
  }
  // Clearing gives each string back: 500 reads of 10 KB each leave the heap as it was.
  reply.assign(5000, u'x');
  const size_t before = mallinfo2().uordblks;
  for (int i = 0; i < 500; ++i) {
    desk_value v{};
    ASSERT_EQ(desk_get(host, 1, &v, &err), 0) << err.text;
    desk_value_clear(&v);
  }
  EXPECT_LT(mallinfo2().uordblks, before + 1024 * 1024) << "cleared strings stayed allocated";
  desk_release(host);
}

// A host that gives back its last handle to a control while a property read of another object
// is under way (the read asked the host's object, which dropped the control): the control lives
// until that read returns, then goes. The read is repeated so that it also runs as the second of
// a row of reads on one handle.
TEST_F(CApi, AControlReleasedInsideAPropertyReadIsFreedWhenTheReadReturns) {
  bool release = false;
  int aliveInside = -1, readInside = -1;
  const int32_t backStyle = Id(tree, "BackStyle");
  auto* fn = new HostFn;
  fn->invoke = [&](int32_t, int32_t, desk_value*, int32_t, desk_value* result, desk_error* e) {
    if (release) {
      EXPECT_EQ(desk_release(tree), 0);
      aliveInside = platform->Surfaces().empty() ? 0 : 1;
      desk_value v{};
      desk_error inner;
      readInside = desk_get(tree, backStyle, &v, &inner);
    }
    desk_value n{};
    n.kind = DESK_LONG;
    n.u.long_ = 7;
    return desk_value_set(result, &n, e);
  };
  desk_object* host = NewHost(fn, {{"Value", 1, DESK_GET}});
  desk_value v{};
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(desk_get(host, 1, &v, &err), 0) << err.text;
    EXPECT_EQ(v.u.long_, 7);
  }
  release = true;
  ASSERT_EQ(desk_get(host, 1, &v, &err), 0) << err.text;
  EXPECT_EQ(v.u.long_, 7);
  EXPECT_EQ(aliveInside, 1);
  EXPECT_EQ(readInside, 91);  // the handle is gone at once, the object only afterwards
  EXPECT_TRUE(platform->Surfaces().empty());
  tree = nullptr;
  desk_release(host);
}

// A call without arguments to a member whose arguments are all optional is padded with
// Missing; the next call without arguments must not find that padding.
TEST_F(CApi, ACallWithOmittedOptionalArgumentsLeavesNothingBehindForTheNext) {
  desk_value nodes{};
  ASSERT_EQ(desk_get(tree, Id(tree, "Nodes"), &nodes, &err), 0) << err.text;
  const int32_t add = Id(nodes.u.object, "Add"), count = Id(nodes.u.object, "Count");
  for (int32_t n = 1; n <= 2; ++n) {
    desk_value node{};
    ASSERT_EQ(desk_invoke(nodes.u.object, add, DESK_METHOD, nullptr, 0, &node, &err), 0) << err.text;
    EXPECT_EQ(node.kind, DESK_OBJECT);
    EXPECT_NE(node.u.object, nullptr);
    desk_value_clear(&node);
    desk_value v{};
    ASSERT_EQ(desk_get(nodes.u.object, count, &v, &err), 0) << err.text;
    EXPECT_EQ(v.kind, DESK_LONG);
    EXPECT_EQ(v.u.long_, n);
  }
  desk_value_clear(&nodes);
}

// A call that succeeds leaves the error record clear, whatever it held before: a failure's
// record, or bytes a host never initialised.
TEST_F(CApi, ASuccessfulCallLeavesTheErrorRecordClear) {
  const int32_t backStyle = Id(tree, "BackStyle");
  desk_value v{};
  desk_error e;
  for (int round = 0; round < 3; ++round) {
    if (round == 0) std::memset(&e, 0x5A, sizeof e);
    if (round == 1) { ASSERT_EQ(desk_get(tree, 0x7FFF0000, &v, &e), 438); }
    if (round == 2) { ASSERT_EQ(desk_get(nullptr, backStyle, &v, &e), 91); }
    if (round > 0) { ASSERT_NE(e.text[0], '\0'); }
    ASSERT_EQ(desk_get(tree, backStyle, &v, &e), 0);
    EXPECT_EQ(e.number, 0) << round;
    EXPECT_STREQ(e.text, "") << round;
    EXPECT_STREQ(e.source, "") << round;
    EXPECT_EQ(v.kind, DESK_INTEGER);
    // The same through desk_invoke.
    if (round == 1) { ASSERT_EQ(desk_invoke(tree, 0x7FFF0000, DESK_GET, nullptr, 0, &v, &e), 438); }
    ASSERT_EQ(desk_invoke(tree, backStyle, DESK_GET, nullptr, 0, &v, &e), 0);
    EXPECT_EQ(e.number, 0) << round;
    EXPECT_STREQ(e.text, "") << round;
  }
  // Every other entry point that succeeds clears a record it is given, whatever it held.
  const std::pair<const char*, std::function<bool(desk_error*)>> calls[] = {
      {"desk_object_interface", [&](desk_error* r) { return desk_object_interface(tree, r) != nullptr; }},
      {"desk_event_interface", [&](desk_error* r) { return desk_event_interface(tree, r) != nullptr; }},
      {"desk_id_of_name", [&](desk_error* r) { int32_t id = 0; return desk_id_of_name(tree, "BackStyle", &id, r) == 0; }},
      {"desk_headless_resize", [&](desk_error* r) { return desk_headless_resize(tree, 4800, 3600, r) == 0; }},
  };
  for (const auto& [name, call] : calls) {
    std::memset(&e, 0x5A, sizeof e);
    ASSERT_TRUE(call(&e)) << name;
    EXPECT_EQ(e.number, 0) << name;
    EXPECT_STREQ(e.text, "") << name;
    EXPECT_STREQ(e.source, "") << name;
  }
}

TEST_F(CApi, ThePlatformChoiceIsChecked) {
  EXPECT_EQ(desk_use_platform("wayland", &err), 5);
  EXPECT_NE(std::strstr(err.text, "wayland"), nullptr);
  EXPECT_EQ(desk_show(tree, "x", 10, 10, &err), 5);  // windows need Qt
  EXPECT_EQ(desk_run(&err), 5);
  EXPECT_EQ(desk_quit(&err), 5);
  const int before = platform->doEventsCount;
  EXPECT_EQ(desk_do_events(&err), 0);  // the headless platform only counts them
  EXPECT_EQ(platform->doEventsCount, before + 1);
  // Not while objects exist: their surfaces keep the platform they were made on.
  EXPECT_EQ(desk_use_platform("headless", &err), 5);
  EXPECT_NE(std::strstr(err.text, "before any object"), nullptr) << err.text;
  EXPECT_EQ(desk_headless_popup_choice(1, &err), 0);
  desk_release(tree);
  tree = nullptr;
  EXPECT_EQ(desk_use_platform("headless", &err), 0);
  EXPECT_EQ(desk_headless_popup_choice(1, &err), 0);
  EXPECT_NE(&desk::CurrentPlatform(), platform.get()) << "a new headless platform, in place of the test's";
}

// A call refused before it reads its arguments leaves its by-reference targets Empty: the
// caller frees what it finds there as the library's, and its own string is not.
TEST_F(CApi, ARefusedCallLeavesItsByReferenceTargetsEmpty) {
  const int32_t path = Id(tree, "PathSeparator");
  for (auto [what, handle, kind, number] : {std::tuple{"no handle", (desk_object*)nullptr, int32_t{DESK_LET}, 91},
                                            std::tuple{"an unknown kind", tree, int32_t{77}, 5}}) {
    SCOPED_TRACE(what);
    const std::u16string mine = u"mine";
    desk_value target = Str(mine), ref{DESK_BYREF, {}};
    ref.u.ref = &target;
    EXPECT_EQ(desk_invoke(handle, path, kind, &ref, 1, nullptr, &err), number);
    EXPECT_EQ(target.kind, DESK_EMPTY);
  }
}

// Each entry point answers bad arguments with its number (and fills the error record), and
// the good ones next to them work: a check that refused too much would show there.
TEST_F(CApi, EachEntryPointAnswersBadArgumentsWithItsNumber) {
  desk_value v{}, out{};
  int32_t id = 0, cookie = 0, n = 0;
  desk_object* o = nullptr;
  char buf[16];
  const std::u16string twelve = u"12";
  desk_value text = Str(twelve), badText = text, noData = text, inner = text, ref{}, refToNothing{}, refToRef{}, odd{};
  badText.u.string.length = -1;
  noData.u.string.data = nullptr;
  ref.kind = refToNothing.kind = refToRef.kind = DESK_BYREF;
  ref.u.ref = &inner;
  refToRef.u.ref = &ref;
  odd.kind = 77;
  const desk_host_vtbl small{sizeof(desk_host_vtbl) - 1, &HostFn::Invoke, &HostFn::Destroy};
  const desk_host_vtbl noInvoke{sizeof(desk_host_vtbl), nullptr, &HostFn::Destroy};
  const desk_host_member unnamed[] = {{nullptr, 1, DESK_GET}};
  desk_object* bag = nullptr;
  ASSERT_EQ(desk_bag_new(&bag, &err), 0);
  const int32_t count = Id(tree, "Nodes");
  int32_t givenBack = 0;
  ASSERT_EQ(desk_advise(tree, bag, &givenBack, &err), 0);
  ASSERT_EQ(desk_unadvise(tree, givenBack, &err), 0);
  void* widget = nullptr;
  struct Row {
    const char* call;
    std::function<int32_t()> f;
    int32_t number;
  };
  desk_error* e = &err;  // and then none: the record is optional
  const Row rows[] = {
      {"check_version of this version", [&] { return desk_check_version(DESK_C_VERSION, e); }, 0},
      {"check_version of a later minor", [&] { return desk_check_version(DESK_C_VERSION + 1, e); }, 429},
      {"check_version of another major", [&] { return desk_check_version(DESK_C_VERSION + 0x10000, e); }, 429},
      {"check_version of an earlier major", [&] { return desk_check_version(DESK_C_VERSION - 0x10000, e); }, 429},
      {"addref of no handle", [&] { return desk_addref(nullptr, e); }, 91},
      {"release of no handle", [&] { return desk_release(nullptr); }, 91},
      {"id_of_name without a name", [&] { return desk_id_of_name(tree, nullptr, &id, e); }, 5},
      {"id_of_name without a place for the id", [&] { return desk_id_of_name(tree, "Nodes", nullptr, e); }, 5},
      {"id_of_name of an unknown name", [&] { return desk_id_of_name(tree, "NoSuchMember", &id, e); }, 438},
      {"invoke with a negative count", [&] { return desk_invoke(tree, count, DESK_GET, nullptr, -1, &v, e); }, 5},
      {"invoke with a count and no list", [&] { return desk_invoke(tree, count, DESK_GET, nullptr, 1, &v, e); }, 5},
      {"invoke of kind 0", [&] { return desk_invoke(tree, count, 0, nullptr, 0, &v, e); }, 5},
      {"invoke of kind 3", [&] { return desk_invoke(tree, count, 3, nullptr, 0, &v, e); }, 5},
      {"invoke of kind 16", [&] { return desk_invoke(tree, count, 16, nullptr, 0, &v, e); }, 5},
      {"invoke of kind -1", [&] { return desk_invoke(tree, count, -1, nullptr, 0, &v, e); }, 5},
      {"invoke of kind 32", [&] { return desk_invoke(tree, count, 32, nullptr, 0, &v, e); }, 5},
      {"invoke of kind 258", [&] { return desk_invoke(tree, count, 258, nullptr, 0, &v, e); }, 5},
      {"invoke of each known kind reaches the member", [&] {
         for (int32_t k : {DESK_LET, DESK_SET, DESK_METHOD}) {
           const int32_t rc = desk_invoke(tree, count, k, nullptr, 0, &v, e);
           desk_value_clear(&v);
           if (rc == 5) return 5;
         }
         return desk_invoke(tree, count, DESK_GET, nullptr, 0, &v, e);
       }, 0},
      {"a string of negative length", [&] { return desk_value_long(&badText, &n, e); }, 5},
      {"a string with a length and no data", [&] { return desk_value_long(&noData, &n, e); }, 5},
      {"a reference to nothing", [&] { return desk_invoke(tree, Id(tree, "PathSeparator"), DESK_LET, &refToNothing, 1, nullptr, e); }, 5},
      {"a reference to a reference", [&] { return desk_invoke(tree, Id(tree, "PathSeparator"), DESK_LET, &refToRef, 1, nullptr, e); }, 13},
      {"a reference where values only are taken", [&] { return desk_value_set(&out, &ref, e); }, 13},
      {"a value of an unknown kind", [&] { return desk_value_long(&odd, &n, e); }, 13},
      {"value_set without a target", [&] { return desk_value_set(nullptr, &text, e); }, 5},
      {"value_set without a source", [&] { return desk_value_set(&out, nullptr, e); }, 5},
      {"string_utf8 without a target", [&] { return desk_string_utf8("a", nullptr, e); }, 5},
      {"string_utf8 without a text", [&] { return desk_string_utf8(nullptr, &out, e); }, 5},
      {"string_utf8 of bytes that are not UTF-8", [&] { return desk_string_utf8("a\xFF", &out, e); }, 5},
      {"value_text without a value", [&] { return desk_value_text(nullptr, buf, sizeof buf, e); }, 5},
      {"value_text without a buffer", [&] { return desk_value_text(&text, nullptr, sizeof buf, e); }, 5},
      {"value_text into no room", [&] { return desk_value_text(&text, buf, 0, e); }, 5},
      {"value_long without a value", [&] { return desk_value_long(nullptr, &n, e); }, 5},
      {"value_long without a target", [&] { return desk_value_long(&text, nullptr, e); }, 5},
      {"host_new without a place for the handle", [&] { return desk_host_new(&HostFn::kVtbl, nullptr, nullptr, 0, nullptr, e); }, 5},
      {"host_new without a table", [&] { return desk_host_new(nullptr, nullptr, nullptr, 0, &o, e); }, 5},
      {"host_new with a table too small", [&] { return desk_host_new(&small, nullptr, nullptr, 0, &o, e); }, 5},
      {"host_new with a table without invoke", [&] { return desk_host_new(&noInvoke, nullptr, nullptr, 0, &o, e); }, 5},
      {"host_new with a negative count", [&] { return desk_host_new(&HostFn::kVtbl, nullptr, nullptr, -1, &o, e); }, 5},
      {"host_new with a count and no members", [&] { return desk_host_new(&HostFn::kVtbl, nullptr, nullptr, 1, &o, e); }, 5},
      {"host_new with a member without a name", [&] { return desk_host_new(&HostFn::kVtbl, nullptr, unnamed, 1, &o, e); }, 5},
      {"host_find without a place for the handle", [&] { return desk_host_find(&HostFn::kVtbl, nullptr, nullptr, e); }, 5},
      {"host_find of an object never made", [&] { return desk_host_find(&HostFn::kVtbl, &n, &o, e); }, 91},
      {"advise without a place for the cookie", [&] { return desk_advise(tree, bag, nullptr, e); }, 5},
      {"advise without a sink", [&] { return desk_advise(tree, nullptr, &cookie, e); }, 91},
      {"advise on what is no control", [&] { return desk_advise(bag, tree, &cookie, e); }, 438},
      {"unadvise of a cookie given back", [&] { return desk_unadvise(tree, givenBack, e); }, 5},
      {"unadvise of a cookie never issued", [&] { return desk_unadvise(tree, givenBack + 100, e); }, 5},
      {"widget without the Qt platform", [&] { return desk_widget(tree, &widget, e); }, 5},
      {"widget without a place for it", [&] { return desk_widget(tree, nullptr, e); }, 5},
      {"post without a function", [&] { return desk_post(nullptr, nullptr, e); }, 5},
      {"read_properties without a bag", [&] { return desk_read_properties(tree, nullptr, e); }, 91},
      {"write_properties without a bag", [&] { return desk_write_properties(tree, nullptr, e); }, 91},
      {"bag_new without a place for the handle", [&] { return desk_bag_new(nullptr, e); }, 5},
      {"bag_save of what is no bag", [&] { return desk_bag_save(tree, "/tmp/never", e); }, 438},
      {"bag_save without a path", [&] { return desk_bag_save(bag, nullptr, e); }, 5},
      {"bag_load without a place for the handle", [&] { return desk_bag_load("/tmp/never", nullptr, e); }, 5},
      {"bag_load without a path", [&] { return desk_bag_load(nullptr, &o, e); }, 5},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.call);
    err = desk_error{};
    err.number = 7;  // left by an earlier failure, with no text
    const int32_t rc = r.f();
    EXPECT_EQ(rc, r.number);
    if (r.number != 0 && std::string(r.call).rfind("release", 0) != 0) {
      EXPECT_EQ(err.number, r.number);
      EXPECT_NE(err.text[0], '\0');
    } else if (r.number == 0) {
      EXPECT_EQ(err.number, 0);
    }
    desk_value_clear(&v);
    desk_value_clear(&out);
    if (o) desk_release(o), o = nullptr;
    e = nullptr;
    EXPECT_EQ(r.f(), r.number) << "without an error record";
    e = &err;
    desk_value_clear(&v);
    desk_value_clear(&out);
    if (o) desk_release(o), o = nullptr;
  }
  // The two malformed strings are refused as such, before any copy is tried.
  for (const desk_value* bad : {&badText, &noData}) {
    ASSERT_EQ(desk_value_long(bad, &n, &err), 5);
    EXPECT_STREQ(err.text, "A string value has a negative length or no data");
  }
  // And what the value helpers give for good values.
  ASSERT_EQ(desk_value_long(&text, &n, &err), 0);
  EXPECT_EQ(n, 12);
  ASSERT_EQ(desk_value_long(&ref, &n, &err), 0) << "a reference reads as its target";
  EXPECT_EQ(n, 12);
  ASSERT_EQ(desk_value_text(&text, buf, 2, &err), 0);
  EXPECT_STREQ(buf, "1") << "cut to the room there is";
  std::fill(std::begin(buf), std::end(buf), 'x');
  ASSERT_EQ(desk_value_text(&badText, buf, sizeof buf, &err), 5);
  EXPECT_STREQ(buf, "") << "terminated also when the value does not convert";
  ASSERT_EQ(desk_string_utf8("\xC3\xA9t\xC3\xA9", &out, &err), 0);
  EXPECT_EQ(Text(out), u"\u00E9t\u00E9");
  ASSERT_EQ(desk_value_set(&v, &out, &err), 0);
  EXPECT_EQ(Text(v), u"\u00E9t\u00E9");
  EXPECT_NE(v.u.string.data, out.u.string.data) << "a copy of its own";
  desk_value_clear(&out);
  // A value copied over one that holds an object gives that object's reference back.
  desk_value held{};
  held.kind = DESK_OBJECT;
  held.u.object = bag;
  ASSERT_EQ(desk_value_set(&v, &held, &err), 0);
  EXPECT_EQ(desk_handle_count(), 3) << "the tree, the bag, and the copy";
  ASSERT_EQ(desk_value_set(&v, &text, &err), 0);
  EXPECT_EQ(desk_handle_count(), 2) << "the copy's reference, given back";
  desk_value_clear(&v);
  // An empty string needs no data.
  desk_value empty{};
  empty.kind = DESK_STRING;
  std::fill(std::begin(buf), std::end(buf), 'x');
  ASSERT_EQ(desk_value_text(&empty, buf, sizeof buf, &err), 0) << err.text;
  EXPECT_STREQ(buf, "");
  const std::u16string word = u"twelve";  // borrowed by the value: it must outlive it
  desk_value words = Str(word);
  EXPECT_EQ(desk_value_long(&words, &n, &err), 13);
  desk_release(bag);
}

// A by-reference argument written by the callee: an Empty target takes what is written, a
// target of a definite kind keeps its kind (a value that does not convert fails the call).
TEST_F(CApi, ByReferenceTargetsOfADefiniteKindKeepItWhenTheCalleeWrites) {
  AddNode(u"k");
  desk_value nodes{}, enumerator{}, ok{};
  ASSERT_EQ(desk_get(tree, Id(tree, "Nodes"), &nodes, &err), 0);
  ASSERT_EQ(desk_invoke(nodes.u.object, Id(nodes.u.object, "_NewEnum"), DESK_METHOD, nullptr, 0, &enumerator, &err), 0)
      << err.text;
  desk_value target{}, ref{};
  target.kind = DESK_LONG;
  target.u.long_ = 5;
  ref.kind = DESK_BYREF;
  ref.u.ref = &target;
  EXPECT_EQ(desk_invoke(enumerator.u.object, 1, DESK_METHOD, &ref, 1, &ok, &err), 13);
  EXPECT_EQ(target.kind, DESK_LONG);
  desk_value_clear(&target);
  desk_value_clear(&ok);
  ASSERT_EQ(desk_invoke(enumerator.u.object, 2, DESK_METHOD, nullptr, 0, nullptr, &err), 0) << "Reset";
  target = desk_value{};
  ASSERT_EQ(desk_invoke(enumerator.u.object, 1, DESK_METHOD, &ref, 1, &ok, &err), 0) << err.text;
  EXPECT_EQ(target.kind, DESK_OBJECT);
  desk_value_clear(&target);
  desk_value_clear(&ok);
  desk_value_clear(&enumerator);
  desk_value_clear(&nodes);
}

// Two host objects of one function table and self: the later one is found, and releasing
// the earlier does not make it unfindable.
TEST_F(CApi, TheLaterOfTwoHostObjectsOfOneSelfIsTheOneFound) {
  static constexpr desk_host_vtbl kShared{sizeof(desk_host_vtbl), &HostFn::Invoke, nullptr};
  HostFn fn;
  desk_object *first = nullptr, *second = nullptr, *found = nullptr;
  ASSERT_EQ(desk_host_new(&kShared, &fn, nullptr, 0, &first, &err), 0);
  ASSERT_EQ(desk_host_new(&kShared, &fn, nullptr, 0, &second, &err), 0);
  ASSERT_EQ(desk_host_find(&kShared, &fn, &found, &err), 0);
  EXPECT_EQ(found, second);
  desk_release(found);
  desk_release(first);
  ASSERT_EQ(desk_host_find(&kShared, &fn, &found, &err), 0) << "the earlier one took the later one's entry";
  EXPECT_EQ(found, second);
  desk_release(found);
  desk_release(second);
  EXPECT_EQ(desk_host_find(&kShared, &fn, &found, &err), 91);
}

TEST(CApiCreate, UnknownAndNonCreatableClassesAnswer429) {
  desk_error err;
  desk_object* o = reinterpret_cast<desk_object*>(&err);
  EXPECT_EQ(Quorvane_DeskCreate("{00000000-0000-0000-0000-000000000000}", &o, &err), 429);
  EXPECT_EQ(o, nullptr);
  EXPECT_STREQ(err.source, "Quorvane");
  EXPECT_EQ(VarbelTreeview_DeskCreate(nullptr, &o, &err), 429);
  EXPECT_EQ(VarbelTreeview_DeskCreate(kTreeClsid, nullptr, &err), 5);
  EXPECT_EQ(desk_handle_count(), 0);
}

// Memory running out inside a call is an answer like any other: 7 with the platform's text,
// nothing half made (a handle, a node, a key), no host object destroyed under its host, and
// the same call works once memory is back.
class CApiMemory : public CApi {
 protected:
  struct Call {
    const char* name;
    std::function<int32_t(desk_error*)> call;
    std::function<void(int32_t rc)> after = [](int32_t) {};  // checks, and gives back what was made
    std::function<void()> prepare = [] {};                     // what the call needs, while memory lasts
    int32_t answer = 0;                                         // when memory lasts
  };
  // Runs `c` with each of its allocations failing in turn, until a run where none fails:
  // alone, and with every one after it failing too.
  void EachAllocationFails(const Call& c) {
    for (const bool andLater : {false, true}) {
      SCOPED_TRACE(andLater ? "memory stays used up" : "one allocation fails");
      EachAllocationFails(c, andLater);
    }
  }
  void EachAllocationFails(const Call& c, bool andLater) {
    const int64_t handles = desk_handle_count();
    for (int k = 0;; ++k) {
      ASSERT_LT(k, 500) << c.name << ": allocations never end";
      desk_error e;
      std::memset(&e, 0x5A, sizeof e);
      c.prepare();
      int32_t rc = 0;
      bool fired = false;
      {
        desktest::FailAllocation fail(k, andLater);
        rc = c.call(&e);
        fired = fail.Fired();
      }
      SCOPED_TRACE(std::string(c.name) + ", allocation " + std::to_string(k));
      if (rc == c.answer) {
        EXPECT_EQ(e.number, rc);
      } else {
        EXPECT_TRUE(fired) << "failed with no allocation failing: " << e.text;
        EXPECT_EQ(rc, 7) << e.text;
        EXPECT_EQ(e.number, 7);
        EXPECT_STREQ(e.text, "Out of memory");
        EXPECT_NE(e.source[0], '\0') << "no source";
      }
      c.after(rc);
      EXPECT_EQ(desk_handle_count(), handles);
      if (!fired) return;
    }
  }
  // A member call that must work; its result, owned.
  desk_value Must(desk_object* o, const char* member, int32_t kind, std::vector<desk_value> args = {}) {
    desk_value v{};
    EXPECT_EQ(desk_invoke(o, Id(o, member), kind, args.data(), static_cast<int32_t>(args.size()), &v, &err), 0)
        << member << ": " << err.text;
    return v;
  }
  static desk_value Missing() {
    desk_value v{};
    v.kind = DESK_MISSING;
    return v;
  }
  static desk_value Long(int32_t n) {
    desk_value v{};
    v.kind = DESK_LONG;
    v.u.long_ = n;
    return v;
  }
  // The node a key names, or null (owned: release it).
  desk_object* Item(desk_object* nodes, const std::u16string& key) {
    desk_value args[1] = {Str(key)}, v{};
    desk_error e;
    if (desk_invoke(nodes, Id(nodes, "Item"), DESK_GET, args, 1, &v, &e) != 0) return nullptr;
    return v.u.object;
  }
  int32_t Count(desk_object* nodes) {
    desk_value v = Must(nodes, "Count", DESK_GET);
    return v.u.long_;
  }
};

TEST_F(CApiMemory, EveryEntryPointAnswersMemoryRunningOutWith7AndLeavesNothingHalfMade) {
  if (!desktest::FailAllocation::Available()) GTEST_SKIP() << "the sanitizer's allocator stands in front";
  const int32_t nodesId = Id(tree, "Nodes");
  desk_value nodesValue{};
  ASSERT_EQ(desk_get(tree, nodesId, &nodesValue, &err), 0) << err.text;
  desk_object* nodes = nodesValue.u.object;
  const int32_t add = Id(nodes, "Add"), remove = Id(nodes, "Remove"), item = Id(nodes, "Item");
  int attempt = 0, destroyed = 0;
  desk_object* made = nullptr;
  desk_object* sink = nullptr;
  HostFn* fn = nullptr;
  desk_value value{};
  const std::u16string longText(200, u'x'), missingKey = u"no such key";
  std::u16string key, oldKey;
  std::vector<std::u16string> tried;  // keys of the adds tried
  // A node whose key is changed, and the three levels of a subtree removed.
  desk_value keyed = Must(nodes, "Add", DESK_METHOD, {Missing(), Missing(), Str(u"keyed")});
  const int32_t nodeKey = Id(keyed.u.object, "Key");
  const std::u16string levels[3] = {u"top", u"middle", u"bottom"};
  auto addSubtree = [&] {
    if (desk_object* top = Item(nodes, levels[0])) {
      desk_release(top);
      return;
    }
    for (int i = 0; i < 3; ++i) {
      desk_value v = i == 0 ? Must(nodes, "Add", DESK_METHOD, {Missing(), Missing(), Str(levels[0])})
                            : Must(nodes, "Add", DESK_METHOD, {Str(levels[i - 1]), Long(4), Str(levels[i])});
      desk_value_clear(&v);
    }
  };
  int32_t before = 0;
  desk_value enumerator = Must(nodes, "_NewEnum", DESK_METHOD);
  // Twelve keys fill the key table to three quarters: the next add must grow it.
  while (attempt < 11) {
    tried.push_back(u"k" + desk::DecimalText(attempt++));
    AddNode(tried.back());
  }

  const Call calls[] = {
      {"a tree", [&](desk_error* e) { return VarbelTreeview_DeskCreate(kTreeClsid, &made, e); },
       [&](int32_t rc) { if (rc == 0) desk_release(made); }},
      {"a member's id", [&](desk_error* e) { int32_t id = 0; return desk_id_of_name(tree, "SingleSel", &id, e); }},
      {"a property read", [&](desk_error* e) { return desk_get(tree, nodesId, &value, e); },
       [&](int32_t) { desk_value_clear(&value); }},
      {"a node added",
       [&](desk_error* e) {
         desk_value args[3] = {Missing(), Missing(), Str(key)};
         return desk_invoke(nodes, add, DESK_METHOD, args, 3, &value, e);
       },
       [&](int32_t rc) {
         // Added or not, and when added findable: a key left behind by a failed add would
         // be refused next time, or name a node that is gone.
         desk_object* found = Item(nodes, key);
         if (rc == 0) { EXPECT_EQ(found, value.u.object); }
         if (found) desk_release(found);
         desk_value_clear(&value);
       },
       [&] {
         key = u"k" + desk::DecimalText(attempt++);
         tried.push_back(key);
         before = Count(nodes);
       }},
      {"a key changed",
       [&](desk_error* e) {
         desk_value args[1] = {Str(key)};
         return desk_invoke(keyed.u.object, nodeKey, DESK_LET, args, 1, nullptr, e);
       },
       [&](int32_t rc) {
         // The node keeps one key, the one its collection knows it by.
         desk_value now = Must(keyed.u.object, "Key", DESK_GET);
         const std::u16string k = Text(now);
         desk_value_clear(&now);
         EXPECT_EQ(k, rc == 0 ? key : oldKey);
         desk_object* found = Item(nodes, k);
         EXPECT_EQ(found, keyed.u.object);
         if (found) desk_release(found);
         desk_object* other = Item(nodes, rc == 0 ? oldKey : key);
         EXPECT_EQ(other, nullptr);
         if (other) desk_release(other);
       },
       [&] {
         desk_value now = Must(keyed.u.object, "Key", DESK_GET);
         oldKey = Text(now);
         desk_value_clear(&now);
         key = u"Key" + desk::DecimalText(attempt++);  // folded apart from the key: more to keep
       }},
      {"a subtree removed",
       [&](desk_error* e) {
         desk_value args[1] = {Str(levels[0])};
         return desk_invoke(nodes, remove, DESK_METHOD, args, 1, nullptr, e);
       },
       [&](int32_t rc) {
         // All three levels go, or none does.
         EXPECT_EQ(Count(nodes), rc == 0 ? before - 3 : before);
         for (const std::u16string& l : levels) {
           desk_object* found = Item(nodes, l);
           EXPECT_EQ(found != nullptr, rc != 0) << std::string(l.begin(), l.end());
           if (found) desk_release(found);
         }
       },
       [&] {
         addSubtree();
         before = Count(nodes);
       }},
      // An error's own text is copied out with no memory of its own.
      {"a key not found",
       [&](desk_error* e) {
         desk_value args[1] = {Str(missingKey)};
         return desk_invoke(nodes, item, DESK_GET, args, 1, &value, e);
       },
       [&](int32_t) { desk_value_clear(&value); }, [] {}, 35601},
      // A by-reference target always ends holding what the library wrote: the node, or Empty.
      {"an item written back by reference",
       [&](desk_error* e) {
         desk_value ref{};
         ref.kind = DESK_BYREF;
         ref.u.ref = &value;
         return desk_invoke(enumerator.u.object, 1, DESK_METHOD, &ref, 1, nullptr, e);
       },
       [&](int32_t rc) {
         if (rc == 0) { EXPECT_EQ(value.kind, DESK_OBJECT); }
         if (rc != 0) { EXPECT_TRUE(value.kind == DESK_OBJECT || value.kind == DESK_EMPTY) << value.kind; }
         desk_value_clear(&value);
         EXPECT_EQ(desk_invoke(enumerator.u.object, 2, DESK_METHOD, nullptr, 0, nullptr, &err), 0) << "Reset";
       },
       [&] { value = desk_value{}; }},
      {"a string from UTF-8", [&](desk_error* e) { return desk_string_utf8("some text", &value, e); },
       [&](int32_t) { desk_value_clear(&value); }},
      {"a value copied",
       [&](desk_error* e) {
         desk_value src = Str(longText);
         return desk_value_set(&value, &src, e);
       },
       [&](int32_t) { desk_value_clear(&value); }},
      {"a host object",
       [&](desk_error* e) { return desk_host_new(&HostFn::kVtbl, fn, nullptr, 0, &made, e); },
       [&](int32_t rc) {
         // One the library failed to take is still its host's: not destroyed.
         EXPECT_EQ(destroyed, 0);
         if (rc == 0) desk_release(made);
         if (rc == 0) { EXPECT_EQ(destroyed, 1); }
         if (rc != 0 && destroyed == 0) delete fn;
         destroyed = 0;
       },
       [&] {
         fn = new HostFn;
         fn->destroyed = &destroyed;
         fn->invoke = [](int32_t, int32_t, desk_value*, int32_t, desk_value*, desk_error*) { return 0; };
       }},
      {"an event sink advised",
       [&](desk_error* e) {
         int32_t cookie = 0;
         const int32_t rc = desk_advise(tree, sink, &cookie, e);
         if (rc == 0) { EXPECT_EQ(desk_unadvise(tree, cookie, &err), 0); }
         return rc;
       },
       [&](int32_t) { desk_release(sink); },
       [&] {
         auto* f = new HostFn;
         f->invoke = [](int32_t, int32_t, desk_value*, int32_t, desk_value*, desk_error*) { return 0; };
         sink = NewHost(f);
       }},
  };
  for (const Call& c : calls) EachAllocationFails(c);
  // Every node the collection counts is one its key finds.
  int32_t found = 0;
  for (const std::u16string& k : tried)
    if (desk_object* n = Item(nodes, k)) {
      ++found;
      desk_release(n);
    }
  EXPECT_GT(found, 0);
  EXPECT_EQ(Count(nodes), found + 1);  // and the keyed node
  desk_value_clear(&enumerator);
  desk_value_clear(&keyed);
  desk_value_clear(&nodesValue);
}

}  // namespace
