// The tree's node model: relationships, positions, keys, removal and detached nodes.
#include "desk/tree.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "desk/text.h"
#include "support/failing_new.h"
#include "tree/tree_index.h"

namespace desk {
namespace {

using K = InvokeKind;

Variant S(const char16_t* s) { return Variant::String(s); }
Variant L(int32_t v) { return Variant::Long(v); }
Variant Obj(Node& n) { return Variant::Object(Ref<Object>(&n)); }

Variant Call(Object& o, DispId id, K kind, std::vector<Variant> args = {}) { return o.Invoke(id, kind, args); }

Node* AsNode(const Variant& v) { return v.RawObject() ? dynamic_cast<Node*>(v.RawObject().get()) : nullptr; }

// The shape of the tree: texts in sibling order, children in parentheses, then the texts in
// position order; enough to tell whether anything moved, appeared or went.
std::string Shape(Nodes& nodes) {
  std::string s;
  auto walk = [&](auto& self, Node* first) -> void {
    for (Node* n = first; n; n = n->Next()) {
      s += U8(n->Text());
      if (n->Child()) {
        s += "(";
        self(self, n->Child());
        s += ")";
      }
      if (n->Next()) s += ",";
    }
  };
  walk(walk, nodes.Tree()->FirstRoot());
  s += " |";
  for (int32_t i = 1; i <= nodes.Count(); ++i) s += " " + U8(nodes.Item(L(i))->Text());
  return s;
}

class TreeModel : public ::testing::Test {
 protected:
  void SetUp() override {
    a = nodes.AddRoot(u"a", u"A");
    nodes.Add(*a, Relationship::Child, u"a1", u"A1");
    nodes.Add(*a, Relationship::Child, u"a2", u"A2");
    nodes.AddRoot(u"b", u"B");
    nodes.AddRoot(u"\u00C4rger", u"U");  // a key beyond ASCII
    // Four levels under A, added last so that they also come last in position order.
    nodes.Add(*nodes.Find(u"a1"), Relationship::Child, u"x", u"X");
    nodes.Add(*nodes.Find(u"x"), Relationship::Child, u"y", u"Y");
  }
  Ref<TreeView> tree = MakeHeadlessTree();
  Nodes& nodes = tree->NodeCollection();
  Ref<Node> a;
};

TEST_F(TreeModel, EachRelationshipPlacesTheNodeWhereItSays) {
  EXPECT_EQ(Shape(nodes), "A(A1(X(Y)),A2),B,U | A A1 A2 B U X Y");
  nodes.Add(*nodes.Find(u"a2"), Relationship::Previous, u"p", u"P");
  nodes.Add(*nodes.Find(u"a2"), Relationship::First, u"f", u"F");
  nodes.Add(*nodes.Find(u"a1"), Relationship::Last, u"l", u"L");
  nodes.Add(S(u"b"), Variant::Missing(), S(u"n"), S(u"N"));  // a relative alone means Next
  nodes.Add(Variant::Missing(), L(0), S(u"r"), S(u"R"));      // First without a relative: first root
  nodes.Add(L(2), L(4), S(u"c"), S(u"C"));                    // relative by position
  EXPECT_EQ(Shape(nodes), "R,A(F,A1(X(Y),C),P,A2,L),B,N,U | A A1 A2 B U X Y P F L N R C");
}

TEST_F(TreeModel, RelationsAnswerTheNeighboursAndNothingAtTheEnds) {
  Node& a1 = *nodes.Find(u"a1");
  Node& a2 = *nodes.Find(u"a2");
  EXPECT_EQ(a->Children(), 2);
  EXPECT_EQ(a->Child(), &a1);
  EXPECT_EQ(a1.Parent(), a.get());
  EXPECT_EQ(a->Parent(), nullptr);
  EXPECT_EQ(a1.Next(), &a2);
  EXPECT_EQ(a2.Previous(), &a1);
  EXPECT_EQ(a2.Next(), nullptr);
  EXPECT_EQ(a2.FirstSibling(), &a1);
  EXPECT_EQ(a1.LastSibling(), &a2);
  EXPECT_EQ(a2.Root(), a.get());
  Node& y = *nodes.Find(u"y");
  EXPECT_EQ(y.Root(), a.get());
  EXPECT_EQ(y.Parent()->Parent(), &a1);
  EXPECT_EQ(y.FullPath(), u"A\\A1\\X\\Y");
  EXPECT_EQ(nodes.Find(u"b")->FirstSibling(), a.get());
  EXPECT_EQ(a->LastSibling()->Key(), u"\u00C4rger");
  // The same through the automation interface, as a late-bound host reads them.
  EXPECT_EQ(AsNode(Call(a2, nodeid::kPrevious, K::Get)), &a1);
  EXPECT_EQ(AsNode(Call(a2, nodeid::kParent, K::Get)), a.get());
  EXPECT_FALSE(AsNode(Call(*a, nodeid::kParent, K::Get)));
  EXPECT_EQ(Call(*a, nodeid::kChildren, K::Get), L(2));
  EXPECT_EQ(Call(a2, nodeid::kIndex, K::Get), L(3));
}

// Every writable member of a node, by id as a late-bound host writes it: each reads back
// what was written, on and off again for the flags.
TEST_F(TreeModel, EachWritableMemberOfANodeReadsBackById) {
  Node& x = *nodes.Find(u"x");
  struct Row {
    const char* name;
    DispId id;
    K kind;
    Variant value;
  } rows[] = {
      {"Text", nodeid::kText, K::Let, S(u"new text")},
      {"Key", nodeid::kKey, K::Let, S(u"NewKey")},
      {"Tag", nodeid::kTag, K::Let, L(7)},
      {"Tag as an object", nodeid::kTag, K::Set, Variant::Object(Ref<Object>(a.get()))},
      {"Image", nodeid::kImage, K::Let, S(u"pic")},
      {"SelectedImage", nodeid::kSelectedImage, K::Let, L(3)},
      {"Expanded on", nodeid::kExpanded, K::Let, Variant::Bool(true)},
      {"Expanded off", nodeid::kExpanded, K::Let, Variant::Bool(false)},
      {"Checked on", nodeid::kChecked, K::Let, Variant::Bool(true)},
      {"Checked off", nodeid::kChecked, K::Let, Variant::Bool(false)},
      {"Selected on", nodeid::kSelected, K::Let, Variant::Bool(true)},
      {"Selected off", nodeid::kSelected, K::Let, Variant::Bool(false)},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Call(x, r.id, r.kind, {r.value});
    EXPECT_TRUE(Call(x, r.id, K::Get) == r.value);
    if (r.id == nodeid::kKey) continue;
    // And alone, on a node that never had anything else set.
    Ref<Node> fresh = nodes.Add(x, Relationship::Child, u"", u"");
    Call(*fresh, r.id, r.kind, {r.value});
    EXPECT_TRUE(Call(*fresh, r.id, K::Get) == r.value);
    // And by reference, as a host passes its variables: the member keeps the value, not the
    // variable, which then changes.
    Ref<Node> byRef = nodes.Add(x, Relationship::Child, u"", u"");
    Variant variable = r.value;
    Call(*byRef, r.id, r.kind, {Variant::ByRef(&variable)});
    variable = S(u"changed");
    EXPECT_TRUE(Call(*byRef, r.id, K::Get) == r.value) << "by reference";
  }
  EXPECT_EQ(nodes.Find(u"newkey"), &x);
}

TEST_F(TreeModel, ItemFindsByKeyIgnoringCaseAndByPositionAndIsTheDefaultMember) {
  EXPECT_EQ(nodes.Item(S(u"A2"))->Text(), u"A2");
  EXPECT_EQ(nodes.Item(S(u"\u00E4RGER"))->Text(), u"U");
  EXPECT_EQ(nodes.Item(Variant::Integer(4))->Text(), u"B");
  EXPECT_EQ(nodes.Item(Variant::Double(2.0))->Text(), u"A1");
  EXPECT_EQ(AsNode(Call(nodes, kDispIdValue, K::Get, {S(u"b")}))->Text(), u"B");
  EXPECT_EQ(Call(nodes, nodesid::kCount, K::Get), L(7));
}

TEST_F(TreeModel, RemoveTakesTheWholeSubtreeAndShiftsLaterPositions) {
  Ref<Node> a1(nodes.Find(u"a1"));
  nodes.Remove(S(u"a"));
  EXPECT_EQ(Shape(nodes), "B,U | B U");
  EXPECT_EQ(nodes.Find(u"a1"), nullptr);
  EXPECT_EQ(nodes.Item(S(u"b"))->Index(), 1);
  // Keys of removed nodes are free again.
  nodes.AddRoot(u"a1", u"again");
  EXPECT_EQ(Shape(nodes), "B,U,again | B U again");
  // The host's node is detached: its own values stay readable, its place in a tree is gone.
  EXPECT_FALSE(a1->InTree());
  EXPECT_EQ(Call(*a1, nodeid::kText, K::Get), S(u"A1"));
  for (DispId id : {nodeid::kParent, nodeid::kChild, nodeid::kChildren, nodeid::kNext, nodeid::kPrevious,
                    nodeid::kFirstSibling, nodeid::kLastSibling, nodeid::kRoot, nodeid::kIndex, nodeid::kFullPath}) {
    try {
      Call(*a1, id, K::Get);
      ADD_FAILURE() << "a removed node answered member " << id;
    } catch (const Error& e) {
      EXPECT_EQ(e.Number(), 91) << id;
    }
  }
  EXPECT_THROW(a1->SetText(u"x"), Error);
}

TEST_F(TreeModel, RemoveByIndexOfASiblingRelinksItsNeighbours) {
  Call(nodes, nodesid::kRemove, K::Method, {L(2)});  // A1, with X and Y below it
  EXPECT_EQ(Shape(nodes), "A(A2),B,U | A A2 B U");
  EXPECT_EQ(nodes.Find(u"a2")->Previous(), nullptr);
  EXPECT_EQ(a->Children(), 1);
}

// Removal at each depth: the node and everything below it leave the count, the keys, the
// positions, the selection and any enumeration under way; their keys are free again.
struct RemovalRow {
  const char* name;
  Variant which;
  std::string shape;                // after the removal
  std::vector<std::u16string> gone;  // keys, the deepest last
  std::string rest;                  // what an enumeration past A, A1 and A2 still yields
};

class NodeRemoval : public TreeModel, public ::testing::WithParamInterface<RemovalRow> {};

TEST_P(NodeRemoval, TakesEveryLevelBelowIt) {
  const RemovalRow& r = GetParam();
  std::vector<Ref<Node>> held;
  for (const auto& k : r.gone) held.emplace_back(nodes.Find(k));
  held.back()->SetSelected(true);
  Ref<NodesEnum> en = nodes.NewEnum();
  Ref<Node> n;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(en->Next(n));

  nodes.Remove(r.which);
  EXPECT_EQ(Shape(nodes), r.shape);
  EXPECT_EQ(nodes.Count(), 7 - static_cast<int32_t>(r.gone.size()));
  for (int32_t i = 1; i <= nodes.Count(); ++i) EXPECT_EQ(nodes.Item(L(i))->Index(), i);
  EXPECT_EQ(tree->SelectedNode(), nullptr);
  for (size_t i = 0; i < held.size(); ++i) {
    SCOPED_TRACE(U8(r.gone[i]));
    EXPECT_FALSE(held[i]->InTree());
    EXPECT_EQ(nodes.Find(r.gone[i]), nullptr);
    EXPECT_THROW(nodes.Item(Variant::String(r.gone[i])), Error);
  }
  std::string rest;
  while (en->Next(n)) rest += " " + U8(n->Text());
  EXPECT_EQ(rest, r.rest);
  for (const auto& k : r.gone) nodes.AddRoot(k, k);
  EXPECT_EQ(nodes.Count(), 7);
}

INSTANTIATE_TEST_SUITE_P(
    Depths, NodeRemoval,
    ::testing::Values(RemovalRow{"RootFourLevelsDeep", S(u"a"), "B,U | B U", {u"a", u"a1", u"a2", u"x", u"y"}, " B U"},
                      RemovalRow{"ChildThreeLevelsDeep", S(u"A1"), "A(A2),B,U | A A2 B U", {u"a1", u"x", u"y"}, " B U"},
                      RemovalRow{"GrandchildByPosition", L(6), "A(A1,A2),B,U | A A1 A2 B U", {u"x", u"y"}, " B U"},
                      RemovalRow{"DeepestLeaf", S(u"y"), "A(A1(X),A2),B,U | A A1 A2 B U X", {u"y"}, " B U X"},
                      RemovalRow{"LeafRoot", S(u"b"), "A(A1(X(Y)),A2),U | A A1 A2 U X Y", {u"b"}, " U X Y"}),
    [](const ::testing::TestParamInfo<RemovalRow>& i) { return std::string(i.param.name); });

TEST_F(TreeModel, ClearEmptiesTheTreeAndDetachesHeldNodes) {
  Call(nodes, nodesid::kClear, K::Method);
  EXPECT_EQ(nodes.Count(), 0);
  EXPECT_EQ(tree->FirstRoot(), nullptr);
  EXPECT_FALSE(a->InTree());
  EXPECT_THROW(a->Index(), Error);
  nodes.AddRoot(u"a", u"new");  // the key is free
  EXPECT_EQ(Shape(nodes), "new | new");
}

TEST_F(TreeModel, EnumerationNeitherSkipsNorRepeatsWhileNodesAreRemoved) {
  Ref<Object> en = Call(nodes, kDispIdNewEnum, K::Method).RawObject();
  std::vector<std::u16string> seen;
  Variant item;
  while (Call(*en, 1, K::Method, {Variant::ByRef(&item, false)}).ToBool()) {
    Node* n = AsNode(item);
    seen.push_back(n->Text());
    if (n->Text() == u"A1") nodes.Remove(Obj(*n));  // the current one, named by itself
    if (n->Text() == u"A2") nodes.Remove(S(u"a"));   // earlier ones, and the current one with them
  }
  EXPECT_EQ(seen, (std::vector<std::u16string>{u"A", u"A1", u"A2", u"B", u"U"}));
}

TEST_F(TreeModel, FullPathJoinsTextsWithTheCurrentSeparator) {
  Node& a2 = *nodes.Find(u"a2");
  nodes.Add(a2, Relationship::Child, u"", u"deep");
  Node* deep = a2.Child();
  EXPECT_EQ(deep->FullPath(), u"A\\A2\\deep");
  tree->SetPathSeparator(u" / ");
  EXPECT_EQ(Call(*deep, nodeid::kFullPath, K::Get), S(u"A / A2 / deep"));
  EXPECT_EQ(a->FullPath(), u"A");
}

TEST_F(TreeModel, ChangingAKeyFollowsTheAddRules) {
  Node& b = *nodes.Find(u"b");
  b.SetKey(u"B");  // its own key in another case
  EXPECT_EQ(nodes.Find(u"b"), &b);
  EXPECT_THROW(b.SetKey(u"A1"), Error);
  b.SetKey(u"");
  EXPECT_EQ(nodes.Find(u"b"), nullptr);
  EXPECT_THROW(nodes.Item(S(u"b")), Error);
  // Only a key made of digits alone reads as a position.
  for (const char16_t* k : {u"0", u"5", u"9", u"0123456789"}) {
    SCOPED_TRACE(U8(k));
    try {
      b.SetKey(k);
      ADD_FAILURE() << "accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.Number(), 35603);
    }
    EXPECT_EQ(b.Key(), u"");
  }
  for (const char16_t* k : {u"0a", u"a9", u"1 ", u"/", u":", u"x0123456789"}) {
    SCOPED_TRACE(U8(k));
    b.SetKey(k);
    EXPECT_EQ(nodes.Find(k), &b);
    EXPECT_EQ(nodes.Item(S(k)).get(), &b);
  }
}

// A key is kept once when it is its own folded form and beside its folded form otherwise;
// both cases, and moving between them, keep the key index right.
TEST_F(TreeModel, KeysFindTheirNodeWhateverTheirCaseThroughEveryChange) {
  Ref<Node> held(nodes.Find(u"b"));  // held across its removal below
  Node& b = *held;
  const std::pair<std::u16string, std::vector<std::u16string>> steps[] = {
      {u"Mixed", {u"mixed", u"MIXED", u"Mixed"}},
      {u"mixed", {u"Mixed", u"mixed"}},
      {u"\u00C4rger2", {u"\u00E4RGER2", u"\u00E4rger2"}},
      {u"plain", {u"PLAIN", u"plain"}},
      {u"AZ", {u"az", u"aZ", u"Az"}},  // the first and last capitals
      {u"@[`{", {u"@[`{"}},             // their neighbours, which do not fold
      {u"UPPER", {u"upper"}},
  };
  std::u16string before = u"b";
  for (const auto& [key, finds] : steps) {
    b.SetKey(key);
    EXPECT_EQ(b.Key(), key);
    for (const auto& f : finds) EXPECT_EQ(nodes.Find(f), &b) << U8(key) << " by " << U8(f);
    if (FoldCase(before) != FoldCase(key)) {
      EXPECT_EQ(nodes.Find(before), nullptr) << U8(before);
    }
    before = key;
  }
  // Another node cannot take the key in any case; removing the node frees it.
  EXPECT_THROW(nodes.AddRoot(u"upper", u"X"), Error);
  nodes.Remove(S(u"UPPER"));
  EXPECT_EQ(nodes.Find(u"upper"), nullptr);
  EXPECT_EQ(nodes.AddRoot(u"Upper", u"X")->Text(), u"X");
  EXPECT_EQ(b.Key(), u"UPPER");  // a detached node keeps its key for reading
}

// Nodes added without keys and given them later, one by one: the first into a tree that has
// no key at all, and enough of them that the keys' table grows on the way.
TEST(TreeKeys, KeysGivenLaterToNodesAddedWithoutThemAreFound) {
  Ref<TreeView> tree = MakeHeadlessTree();
  Nodes& nodes = tree->NodeCollection();
  std::vector<Ref<Node>> added;
  for (int i = 0; i < 40; ++i) added.push_back(nodes.AddRoot(u"", u"n"));
  for (int i = 0; i < 40; ++i) {
    // The thirteenth key grows the table: memory running out there leaves the node keyless.
    if (i == 12 && desktest::FailAllocation::Available())
      desktest::EachAllocationFailing([] {}, [&] { added[12]->SetKey(u"K12"); }, [&](bool failed) {
        EXPECT_EQ(added[12]->Key(), failed ? u"" : u"K12");
        EXPECT_EQ(nodes.Find(u"k12"), failed ? nullptr : added[12].get());
      });
    added[static_cast<size_t>(i)]->SetKey(u"K" + DecimalText(i));
    for (int j = 0; j <= i; ++j) ASSERT_EQ(nodes.Find(u"k" + DecimalText(j)), added[static_cast<size_t>(j)].get()) << i;
    ASSERT_EQ(nodes.Find(u"k" + DecimalText(i + 1)), nullptr);
  }
}

TEST_F(TreeModel, TagAndPicturesAreKeptOnlyWhenSetAndSurviveRemoval) {
  Ref<Node> n = nodes.AddRoot(u"t", u"T");
  EXPECT_TRUE(n->Tag().IsEmpty());
  EXPECT_TRUE(n->Image().IsEmpty());
  EXPECT_TRUE(n->SelectedImage().IsEmpty());
  n->SetTag(S(u"tag"));
  n->SetImage(Variant::Integer(2));
  n->SetSelectedImage(S(u"open"));
  EXPECT_EQ(n->Tag(), S(u"tag"));
  EXPECT_EQ(n->Image(), L(2));  // indexes are kept as Longs
  EXPECT_EQ(n->SelectedImage(), S(u"open"));
  n->SetImage(Variant());
  EXPECT_TRUE(n->Image().IsEmpty());
  EXPECT_EQ(n->Tag(), S(u"tag"));
  nodes.Remove(S(u"t"));
  EXPECT_EQ(n->Tag(), S(u"tag"));
  EXPECT_EQ(n->SelectedImage(), S(u"open"));
  EXPECT_THROW(n->SetTag(S(u"x")), Error);
}

// The key index against a plain map, through many adds, key changes and removals in a
// pseudo-random order (removals from the middle of probe runs, growth, wrapping runs).
TEST(TreeKeys, TheKeyIndexAgreesWithAPlainMapThroughManyChanges) {
  Ref<TreeView> tree = MakeHeadlessTree();
  Nodes& nodes = tree->NodeCollection();
  std::map<std::u16string, Ref<Node>> want;  // folded key -> node
  uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 8) % 3000; };
  for (int step = 0; step < 20000; ++step) {
    const uint32_t r = next();
    std::u16string key = (r % 2 ? u"K" : u"k") + DecimalText(r / 2);
    std::u16string folded = u"k" + DecimalText(r / 2);
    auto it = want.find(folded);
    if (it == want.end()) {
      want[folded] = nodes.AddRoot(key, key);
    } else if (step % 3 == 0) {
      it->second->SetKey(u"moved" + DecimalText(step));  // leaves the old key free
      want[u"moved" + DecimalText(step)] = it->second;
      want.erase(it);
    } else {
      nodes.Remove(Variant::String(key));
      want.erase(it);
    }
    if (step % 997 == 0) {
      for (const auto& [k, n] : want) ASSERT_EQ(nodes.Find(k), n.get()) << U8(k) << " at step " << step;
    }
  }
  EXPECT_EQ(nodes.Count(), static_cast<int32_t>(want.size()));
  for (const auto& [k, n] : want) EXPECT_EQ(nodes.Find(k), n.get()) << U8(k);
  for (uint32_t i = 0; i < 3000; ++i) {
    std::u16string k = u"k" + DecimalText(i);
    if (!want.count(k)) {
      EXPECT_EQ(nodes.Find(k), nullptr) << U8(k);
    }
  }
}

// Look-ups in runs (the node found last, the one added after it) against changes to exactly
// those nodes between two look-ups: each answer is the tree's as it is now.
TEST(TreeKeys, RunsOfLookUpsFollowChangesToTheNodesTheyLastFound) {
  struct Step {
    const char16_t* find;  // looked up first, so that the change follows a look-up of it
    const char16_t* key;   // the node changed: renamed to `to`, or removed when `to` is null
    const char16_t* to;
    const char16_t* gone;   // no longer found
    const char16_t* found;  // found, as this node's folded key
  };
  const Step steps[] = {
      {u"k3", u"k4", u"x4", u"k4", u"x4"},     // the next node's old key
      {u"k5", u"k5", u"x5", u"k5", u"x5"},     // the node found last
      {u"x5", u"k6", nullptr, u"k6", u"k7"},   // the next node, gone
      {u"k7", u"k7", nullptr, u"k7", u"k8"},   // the node found last, gone; then the one after it
      {u"K8", u"k9", u"K1", u"k9", u"k1"},     // a key freed by a removal earlier
  };
  Ref<TreeView> tree = MakeHeadlessTree();
  Nodes& nodes = tree->NodeCollection();
  for (int i = 0; i < 10; ++i) nodes.AddRoot(u"k" + DecimalText(i), u"t");
  nodes.Remove(Variant::String(u"k1"));  // its slot stays empty
  for (const Step& st : steps) {
    SCOPED_TRACE(U8(st.key));
    ASSERT_NE(nodes.Find(st.find), nullptr);
    if (st.to) nodes.Find(st.key)->SetKey(st.to);
    else nodes.Remove(Variant::String(st.key));
    EXPECT_EQ(nodes.Find(st.gone), nullptr);
    Node* n = nodes.Find(st.found);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(FoldCase(n->Key()), st.found);
  }
}

// A probe run that wraps from the last slot of the key table to the first: whichever of its
// keys is removed, the others are still found from their home slot.
TEST(TreeKeys, RemovalFromARunThatWrapsPastTheEndOfTheTableKeepsTheRestFound) {
  // Keys whose home is the last of the sixteen slots a small tree's key index starts with.
  std::vector<std::u16string> keys;
  for (int i = 0; keys.size() < 3; ++i) {
    std::u16string k = u"w" + DecimalText(i);
    if ((detail::KeyIndex::Hash(k) & 15) == 15) keys.push_back(k);
  }
  for (size_t gone = 0; gone < keys.size(); ++gone) {
    SCOPED_TRACE(gone);
    Ref<TreeView> tree = MakeHeadlessTree();
    Nodes& nodes = tree->NodeCollection();
    for (const auto& k : keys) nodes.AddRoot(k, k);  // slots 15, 0 and 1
    nodes.Remove(Variant::String(keys[gone]));
    for (size_t i = 0; i < keys.size(); ++i) {
      Node* n = nodes.Find(keys[i]);
      if (i == gone) {
        EXPECT_EQ(n, nullptr);
      } else {
        ASSERT_NE(n, nullptr) << U8(keys[i]);
        EXPECT_EQ(n->Key(), keys[i]);
      }
    }
  }
}

// The key index names nodes by their position slot: once removals leave more holes than nodes
// and the positions are packed, every key still leads to its node, the removed ones to none,
// and the packed slots take key changes and removals. Removing a whole subtree at once and
// running out of memory for the packing are both among the ways there.
TEST(TreeKeys, KeysLeadToTheirNodesAfterThePositionsArePacked) {
  struct Case {
    const char* name;
    bool subtrees;    // remove roots with their keyed children, else each node alone
    bool noMemory;    // every allocation of the removals fails after the first removals
  };
  for (const Case& c : {Case{"roots with their children", true, false}, Case{"each node alone", false, false},
                        Case{"no memory to pack the positions", false, true}}) {
    SCOPED_TRACE(c.name);
    if (c.noMemory && !desktest::FailAllocation::Available()) continue;
    Ref<TreeView> tree = MakeHeadlessTree();
    Nodes& nodes = tree->NodeCollection();
    std::map<std::u16string, Ref<Node>> want;
    for (int r = 0; r < 100; ++r) {
      const std::u16string rk = u"r" + DecimalText(r);
      Ref<Node> root = nodes.AddRoot(rk, rk);
      want[rk] = root;
      for (int k = 0; k < 2; ++k) {
        const std::u16string ck = rk + u"c" + DecimalText(k);
        want[ck] = nodes.Add(*root, Relationship::Child, ck, ck);
      }
    }
    std::vector<std::u16string> gone;
    for (int r = 0; r < 100; ++r) {
      if (r % 4 == 0) continue;
      const std::u16string rk = u"r" + DecimalText(r);
      if (c.subtrees) {
        for (const char16_t* s : {u"", u"c0", u"c1"}) gone.push_back(rk + s);
        nodes.Remove(Variant::String(rk));
      } else {
        for (const char16_t* s : {u"c0", u"c1", u""}) {  // the root last, a leaf by then
          gone.push_back(rk + s);
          const Variant key = Variant::String(rk + s);
          if (c.noMemory && r > 10) {
            desktest::FailAllocation fail(0, true);
            nodes.Remove(key);  // a leaf's removal takes no memory but to pack the positions
          } else {
            nodes.Remove(key);
          }
        }
      }
    }
    for (const auto& k : gone) want.erase(k);
    ASSERT_EQ(nodes.Count(), static_cast<int32_t>(want.size()));
    auto check = [&] {
      for (const auto& [k, n] : want) ASSERT_EQ(nodes.Find(k), n.get()) << U8(k);
      for (const auto& k : gone) EXPECT_EQ(nodes.Find(k), nullptr) << U8(k);
    };
    check();
    // A key changed, a node added and one removed, in the packed slots.
    Ref<Node> moved = want.at(u"r0c1");
    moved->SetKey(u"moved");
    want.erase(u"r0c1");
    gone.push_back(u"r0c1");
    want[u"moved"] = moved;
    want[u"late"] = nodes.AddRoot(u"late", u"late");
    nodes.Remove(Variant::String(u"r4"));
    for (const char16_t* k : {u"r4", u"r4c0", u"r4c1"}) {
      want.erase(k);
      gone.push_back(k);
    }
    check();
    for (const auto& [k, n] : want) EXPECT_EQ(n->Key(), k);
  }
}

// A subtree holding most of the keyed nodes goes at once: the key table and the positions are
// made again from what is left, which must leave exactly the keys, order and positions that
// removing the nodes one at a time leaves; with an enumerator running, its place too.
TEST(TreeKeys, ASubtreeWithMostKeysRemovedLeavesTheRestAsOneAtATimeWould) {
  for (const bool enumerating : {false, true}) {
    SCOPED_TRACE(enumerating ? "an enumerator running" : "no enumerator");
    Ref<TreeView> tree = MakeHeadlessTree();
    Nodes& nodes = tree->NodeCollection();
    std::vector<Ref<Node>> kept;
    for (int u = 0; u < 3000; ++u) nodes.AddRoot(u"", u"u");  // without keys: the positions stay dense
    for (int r = 0; r < 150; ++r) {
      kept.push_back(nodes.AddRoot(u"r" + DecimalText(r), u"r"));
      if (r == 100) {  // in the middle of the positions, with children of its own
        Ref<Node> big = nodes.AddRoot(u"big", u"big");
        for (int c = 0; c < 2000; ++c) nodes.Add(*big, Relationship::Child, c % 3 ? u"b" + DecimalText(c) : u"", u"b");
      }
    }
    Ref<NodesEnum> en = enumerating ? nodes.NewEnum() : Ref<NodesEnum>();
    Ref<Node> seen;
    for (int i = 0; en && i < 3120; ++i) ASSERT_TRUE(en->Next(seen));  // past "big" and some children
    nodes.Remove(Variant::String(u"big"));
    ASSERT_EQ(nodes.Count(), 3150);
    for (int r = 0; r < 150; ++r) {
      ASSERT_EQ(nodes.Find(u"r" + DecimalText(r)), kept[static_cast<size_t>(r)].get());
      ASSERT_EQ(nodes.Item(Variant::Long(3000 + r + 1)).get(), kept[static_cast<size_t>(r)].get());
    }
    EXPECT_EQ(nodes.Find(u"big"), nullptr);
    EXPECT_EQ(nodes.Find(u"b1"), nullptr);
    if (en) {
      ASSERT_TRUE(en->Next(seen));
      EXPECT_EQ(seen->Key(), u"r101");  // the enumerator had passed 3101 of those left
    }
    // The refilled table takes new keys, frees removed ones and still finds by key.
    Ref<Node> again = nodes.AddRoot(u"b1", u"again");
    EXPECT_EQ(nodes.Find(u"b1"), again.get());
    nodes.Remove(Variant::String(u"r7"));
    EXPECT_EQ(nodes.Find(u"r7"), nullptr);
    EXPECT_EQ(nodes.Find(u"r8"), kept[8].get());
  }
}

TEST(TreePositions, PositionsStayRightAcrossManyRemovalsAndLaterAdds) {
  // Enough removals that the position index drops its holes, with an enumeration under way.
  Ref<TreeView> tree = MakeHeadlessTree();
  Nodes& nodes = tree->NodeCollection();
  std::vector<std::u16string> expected;
  for (int i = 0; i < 300; ++i) {
    std::u16string k = u"k" + DecimalText(i);
    nodes.AddRoot(k, k);
    expected.push_back(k);
  }
  Ref<NodesEnum> en = nodes.NewEnum();
  Ref<Node> n;
  for (int i = 0; i < 10; ++i) en->Next(n);  // k0..k9 passed
  for (int i = 0; i < 300; ++i)
    if (i % 5 != 0) nodes.Remove(Variant::String(u"k" + DecimalText(i)));
  std::erase_if(expected, [](const std::u16string& k) { return std::stoi(U8(k.substr(1))) % 5 != 0; });
  for (int i = 300; i < 310; ++i) {
    nodes.AddRoot(u"k" + DecimalText(i), u"k" + DecimalText(i));
    expected.push_back(u"k" + DecimalText(i));
  }
  ASSERT_EQ(nodes.Count(), static_cast<int32_t>(expected.size()));
  for (size_t i = 0; i < expected.size(); ++i) {
    Ref<Node> at = nodes.Item(L(static_cast<int32_t>(i + 1)));
    EXPECT_EQ(at->Key(), expected[i]);
    EXPECT_EQ(at->Index(), static_cast<int32_t>(i + 1));
  }
  ASSERT_TRUE(en->Next(n));
  EXPECT_EQ(n->Key(), u"k10");  // k0 and k5 passed; nothing skipped or repeated
}

TEST(TreeSelection, RemovingTheSelectedNodeLeavesNoSelection) {
  Ref<TreeView> tree = MakeHeadlessTree();
  Nodes& nodes = tree->NodeCollection();
  Ref<Node> p = nodes.AddRoot(u"p", u"P");
  Ref<Node> c = nodes.Add(*p, Relationship::Child, u"c", u"C");
  Call(*c, nodeid::kSelected, K::Let, {Variant::Bool(true)});
  EXPECT_EQ(tree->SelectedNode(), c.get());
  // Unselecting a node that is not the selected one leaves the selection alone.
  Call(*p, nodeid::kSelected, K::Let, {Variant::Bool(false)});
  EXPECT_EQ(tree->SelectedNode(), c.get());
  nodes.Remove(S(u"p"));
  c.reset();
  EXPECT_EQ(tree->SelectedNode(), nullptr);
  tree->StartLabelEdit();  // would edit a freed node
  EXPECT_EQ(tree->EditingNode(), nullptr);
}

// A node whose label is being edited is let go with its subtree or with the whole tree: the
// tree keeps no hold on a node it no longer has.
TEST(TreeSelection, TheNodeBeingEditedIsLetGoWhenItLeavesTheTree) {
  const std::pair<const char*, std::function<void(Nodes&)>> ways[] = {
      {"its parent removed", [](Nodes& n) { n.Remove(S(u"p")); }},
      {"the tree cleared", [](Nodes& n) { n.Clear(); }},
  };
  for (const auto& [way, leave] : ways) {
    SCOPED_TRACE(way);
    Ref<TreeView> tree = MakeHeadlessTree();
    Nodes& nodes = tree->NodeCollection();
    Ref<Node> p = nodes.AddRoot(u"p", u"P");
    Ref<Node> c = nodes.Add(*p, Relationship::Child, u"c", u"C");
    c->SetSelected(true);
    tree->StartLabelEdit();
    ASSERT_EQ(tree->EditingNode(), c.get());
    leave(nodes);
    EXPECT_EQ(tree->EditingNode(), nullptr);
    EXPECT_EQ(c->RefCount(), 1);  // this test's own reference, and no other
    EXPECT_FALSE(tree->FinishLabelEdit(u"late"));
    EXPECT_EQ(c->Text(), u"C");
  }
}

int ErrOfCall(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.Number();
  }
  return 0;
}

TEST(TreeLifetime, NodesAndNodeOutliveTheirTree) {
  Ref<TreeView> tree = MakeHeadlessTree();
  Ref<Nodes> nodes = tree->NodesRef();
  Ref<Node> n = nodes->AddRoot(u"k", u"kept");
  Ref<Object> en = Variant::Object(nodes->NewEnum()).RawObject();
  tree.reset();
  EXPECT_EQ(n->Text(), u"kept");
  EXPECT_THROW(n->Root(), Error);
  EXPECT_THROW(nodes->Count(), Error);
  // Every member of the collection answers 91 now, a new enumeration too.
  EXPECT_EQ(ErrOfCall([&] { nodes->NewEnum(); }), 91);
  EXPECT_EQ(ErrOfCall([&] { nodes->Item(L(1)); }), 91);
  EXPECT_EQ(ErrOfCall([&] { nodes->AddRoot(u"", u"late"); }), 91);
  EXPECT_EQ(ErrOfCall([&] { nodes->Clear(); }), 91);
  Variant item;
  EXPECT_FALSE(Call(*en, 1, K::Method, {Variant::ByRef(&item, false)}).ToBool());
}

// --- Failures: each through the typed call and by id, each leaving the tree as it was.

enum class Op { Add, Item, Remove };

struct FailureRow {
  const char* name;
  Op op;
  std::vector<Variant> args;  // in declared order
  int32_t error;
};

class NodeFailures : public TreeModel, public ::testing::WithParamInterface<FailureRow> {
 protected:
  void Typed(const FailureRow& r) {
    std::vector<Variant> a = r.args;
    a.resize(6, Variant::Missing());
    switch (r.op) {
      case Op::Add: nodes.Add(a[0], a[1], a[2], a[3], a[4], a[5]); break;
      case Op::Item: nodes.Item(a[0]); break;
      case Op::Remove: nodes.Remove(a[0]); break;
    }
  }
  void ById(const FailureRow& r) {
    DispId id = r.op == Op::Add ? nodesid::kAdd : r.op == Op::Item ? nodesid::kItem : nodesid::kRemove;
    Call(nodes, id, K::Method, r.args);
  }
};

TEST_P(NodeFailures, FailWithTheirNumberAndChangeNothing) {
  const FailureRow& r = GetParam();
  const std::string before = Shape(nodes);
  for (bool byId : {false, true}) {
    SCOPED_TRACE(byId ? "by id" : "typed");
    try {
      byId ? ById(r) : Typed(r);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.Number(), r.error);
      EXPECT_EQ(e.Description(), ErrorText(static_cast<Err>(r.error)));
    }
    EXPECT_EQ(Shape(nodes), before);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, NodeFailures,
    ::testing::Values(
        FailureRow{"DuplicateKey", Op::Add, {Variant::Missing(), Variant::Missing(), S(u"a1"), S(u"x")}, 35602},
        FailureRow{"DuplicateDifferingOnlyInCase", Op::Add, {Variant::Missing(), Variant::Missing(), S(u"A1")}, 35602},
        FailureRow{"DuplicateDifferingInCaseBeyondAscii", Op::Add,
                   {Variant::Missing(), Variant::Missing(), S(u"\u00E4RGER")}, 35602},
        FailureRow{"AllDigitsKey", Op::Add, {Variant::Missing(), Variant::Missing(), S(u"0123")}, 35603},
        FailureRow{"MissingKeyInItem", Op::Item, {S(u"zz")}, 35601},
        FailureRow{"IndexZero", Op::Item, {L(0)}, 35600},
        FailureRow{"IndexPastEnd", Op::Item, {L(8)}, 35600},
        FailureRow{"BadRelationship", Op::Add, {S(u"a"), L(5), S(u"new")}, 5},
        FailureRow{"NegativeRelationshipWithoutRelative", Op::Add, {Variant::Missing(), L(-1), S(u"new")}, 5},
        FailureRow{"MissingRelativeKey", Op::Add, {S(u"zz"), L(4), S(u"new")}, 35601},
        FailureRow{"RelativeIndexPastEnd", Op::Add, {L(99), L(4), S(u"new")}, 35600},
        FailureRow{"RelativeNotANode", Op::Add, {Variant::Object(MakeRef<Font>()), L(4)}, 13},
        FailureRow{"GoodRelativeButDuplicateKey", Op::Add, {S(u"a"), L(4), S(u"B")}, 35602},
        FailureRow{"RemoveMissingKey", Op::Remove, {S(u"zz")}, 35601},
        FailureRow{"RemoveIndexPastEnd", Op::Remove, {L(8)}, 35600}),
    [](const ::testing::TestParamInfo<FailureRow>& i) { return std::string(i.param.name); });

// Every digit alone and in runs: each would read as a position.
std::vector<FailureRow> DigitKeyRows() {
  static const char* const names[] = {"Digit0", "Digit1", "Digit2", "Digit3", "Digit4",
                                      "Digit5", "Digit6", "Digit7", "Digit8", "Digit9"};
  std::vector<FailureRow> rows;
  for (char16_t d = u'0'; d <= u'9'; ++d)
    rows.push_back({names[d - u'0'], Op::Add, {Variant::Missing(), Variant::Missing(), Variant::String(std::u16string(1, d))}, 35603});
  rows.push_back({"EveryDigit", Op::Add, {Variant::Missing(), Variant::Missing(), S(u"9876543210")}, 35603});
  rows.push_back({"DigitsBeyondALong", Op::Add, {Variant::Missing(), Variant::Missing(), S(u"99999999999999999999")}, 35603});
  rows.push_back({"DigitsAsTheNodeAddedBeside", Op::Add, {S(u"b"), L(4), S(u"42")}, 35603});
  return rows;
}

INSTANTIATE_TEST_SUITE_P(DigitKeys, NodeFailures, ::testing::ValuesIn(DigitKeyRows()),
                         [](const ::testing::TestParamInfo<FailureRow>& i) { return std::string(i.param.name); });

}  // namespace

namespace {
// A parent of many children between two other roots, removals at the front, in the middle and
// at the end of its children (and runs of each, enough to drop the position index's holes),
// then every child's Index and links through dispatch against a plain list, and the rows the
// headless layout finds for them once the parent is expanded.
struct WideRemoval {
  const char* name;
  std::function<std::vector<int>(int)> removed;  // the children's places, in removal order
};

class WideParent : public ::testing::TestWithParam<WideRemoval> {};

std::u16string ChildKey(int i) { return u"c" + DecimalText(i); }

TEST_P(WideParent, IndexAndSiblingLinksStayExactAfterRemovals) {
  constexpr int kChildren = 5000;
  Ref<TreeView> tree = MakeHeadlessTree();
  Nodes& nodes = tree->NodeCollection();
  nodes.AddRoot(u"before", u"before");
  Ref<Node> parent = nodes.AddRoot(u"parent", u"parent");
  std::vector<std::u16string> children;  // in sibling order, which is also their add order
  for (int i = 0; i < kChildren; ++i) {
    Call(nodes, nodesid::kAdd, K::Method, {S(u"parent"), L(4), Variant::String(ChildKey(i)), Variant::String(ChildKey(i))});
    children.push_back(ChildKey(i));
  }
  nodes.AddRoot(u"after", u"after");
  ASSERT_EQ(tree->NodeAtRow(2)->Key(), u"after");  // the layout is made, and then followed

  for (int place : GetParam().removed(kChildren)) {
    Call(nodes, nodesid::kRemove, K::Method, {Variant::String(children[static_cast<size_t>(place)])});
    children.erase(children.begin() + place);
  }

  const auto key = [](const Variant& v) { return AsNode(v) ? AsNode(v)->Key() : std::u16string(u"(none)"); };
  ASSERT_EQ(Call(*parent, nodeid::kChildren, K::Get).ToLong(), static_cast<int32_t>(children.size()));
  ASSERT_EQ(nodes.Count(), static_cast<int32_t>(children.size()) + 3);
  EXPECT_EQ(key(Call(*parent, nodeid::kChild, K::Get)), children.front());
  EXPECT_EQ(key(Call(nodes, nodesid::kItem, K::Method, {L(nodes.Count())})), u"after");
  for (size_t i = 0; i < children.size(); ++i) {
    Node& c = *nodes.Find(children[i]);
    const std::string at = U8(children[i]);
    ASSERT_EQ(Call(c, nodeid::kIndex, K::Get).ToLong(), static_cast<int32_t>(i + 3)) << at;  // before, parent first
    ASSERT_EQ(key(Call(c, nodeid::kNext, K::Get)), i + 1 < children.size() ? children[i + 1] : u"(none)") << at;
    ASSERT_EQ(key(Call(c, nodeid::kPrevious, K::Get)), i > 0 ? children[i - 1] : u"(none)") << at;
    ASSERT_EQ(key(Call(c, nodeid::kFirstSibling, K::Get)), children.front()) << at;
    ASSERT_EQ(key(Call(c, nodeid::kLastSibling, K::Get)), children.back()) << at;
    ASSERT_EQ(key(Call(c, nodeid::kParent, K::Get)), u"parent") << at;
  }
  parent->SetExpanded(true);
  for (size_t i = 0; i < children.size(); ++i) ASSERT_EQ(tree->NodeAtRow(static_cast<int64_t>(i) + 2)->Key(), children[i]);
  EXPECT_EQ(tree->NodeAtRow(static_cast<int64_t>(children.size()) + 2)->Key(), u"after");
}

std::vector<int> Repeat(int place, int times) { return std::vector<int>(static_cast<size_t>(times), place); }

INSTANTIATE_TEST_SUITE_P(
    FrontMiddleEnd, WideParent,
    ::testing::Values(WideRemoval{"Front", [](int) { return std::vector<int>{0}; }},
                      WideRemoval{"Middle", [](int n) { return std::vector<int>{n / 2}; }},
                      WideRemoval{"End", [](int n) { return std::vector<int>{n - 1}; }},
                      WideRemoval{"RunsAtEachPlace",
                                  [](int n) {
                                    // Most of the children, so that the holes outnumber the nodes.
                                    std::vector<int> out = Repeat(0, n / 4);
                                    for (int left = n - n / 4, i = 0; i < n / 4; ++i, --left) out.push_back(left / 2);
                                    for (int left = n / 2, i = 0; i < n / 4; ++i, --left) out.push_back(left - 1);
                                    return out;
                                  }},
                      WideRemoval{"AllButOne", [](int n) { return Repeat(0, n - 1); }}),
    [](const ::testing::TestParamInfo<WideRemoval>& info) { return std::string(info.param.name); });
}  // namespace
}  // namespace desk
