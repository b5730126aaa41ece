// The tree's settings, container wrapper, hit testing, events and observers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "desk/text.h"
#include "desk/tree.h"
#include "support/failing_new.h"
#include "tree/tree_rows.h"

namespace desk {
namespace {

using K = InvokeKind;

Variant Call(Object& o, DispId id, K kind, std::vector<Variant> args = {}) { return o.Invoke(id, kind, args); }
Node* AsNode(const Variant& v) { return v.RawObject() ? dynamic_cast<Node*>(v.RawObject().get()) : nullptr; }

// --- Settings

struct InitialRow {
  const char* name;
  DispId id;
  Variant value;  // kind and value, compared exactly
};

class TreeInitial : public ::testing::TestWithParam<InitialRow> {};

TEST_P(TreeInitial, ReadsTheInitialValueInItsDeclaredKind) {
  Ref<TreeView> tree = MakeHeadlessTree();
  EXPECT_EQ(Call(*tree, GetParam().id, K::Get), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, TreeInitial,
    ::testing::Values(InitialRow{"Style", treeid::kStyle, Variant::Long(7)},
                      InitialRow{"LineStyle", treeid::kLineStyle, Variant::Long(0)},
                      InitialRow{"LabelEdit", treeid::kLabelEdit, Variant::Long(0)},
                      InitialRow{"Indentation", treeid::kIndentation, Variant::Single(566.9291f)},
                      InitialRow{"ImageList", treeid::kImageList, Variant::Nothing()},
                      InitialRow{"HotTracking", treeid::kHotTracking, Variant::Bool(false)},
                      InitialRow{"HideSelection", treeid::kHideSelection, Variant::Bool(true)},
                      InitialRow{"FullRowSelect", treeid::kFullRowSelect, Variant::Bool(false)},
                      InitialRow{"Checkboxes", treeid::kCheckboxes, Variant::Bool(false)},
                      InitialRow{"Sorted", treeid::kSorted, Variant::Bool(false)},
                      InitialRow{"SingleSel", treeid::kSingleSel, Variant::Bool(false)},
                      InitialRow{"Scroll", treeid::kScroll, Variant::Bool(true)},
                      InitialRow{"PathSeparator", treeid::kPathSeparator, Variant::String(u"\\")},
                      InitialRow{"OLEDropMode", treeid::kOLEDropMode, Variant::Long(0)},
                      InitialRow{"OLEDragMode", treeid::kOLEDragMode, Variant::Long(0)},
                      InitialRow{"MousePointer", treeid::kMousePointer, Variant::Long(0)},
                      InitialRow{"MouseIcon", treeid::kMouseIcon, Variant::Nothing()},
                      InitialRow{"BorderStyle", treeid::kBorderStyle, Variant::Long(0)},
                      InitialRow{"Appearance", treeid::kAppearance, Variant::Long(1)}),
    [](const auto& i) { return std::string(i.param.name); });

struct RangeRow {
  const char* name;
  DispId id;
  Variant bad;
  Variant good;  // the edge of the range, accepted
};

class TreeRanges : public ::testing::TestWithParam<RangeRow> {};

TEST_P(TreeRanges, RefuseOutOfRangeWith380AndKeepTheValue) {
  Ref<TreeView> tree = MakeHeadlessTree();
  const RangeRow& r = GetParam();
  Variant before = Call(*tree, r.id, K::Get);
  try {
    Call(*tree, r.id, K::Let, {r.bad});
    FAIL() << "accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), 380);
  }
  EXPECT_EQ(Call(*tree, r.id, K::Get), before);
  Call(*tree, r.id, K::Let, {r.good});
  EXPECT_TRUE(Variant::ValueEquals(Call(*tree, r.id, K::Get), r.good));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, TreeRanges,
    ::testing::Values(RangeRow{"StyleAbove", treeid::kStyle, Variant::Long(8), Variant::Long(0)},
                      RangeRow{"StyleNegative", treeid::kStyle, Variant::Integer(-1), Variant::Long(7)},
                      RangeRow{"LineStyle", treeid::kLineStyle, Variant::Long(2), Variant::Long(1)},
                      RangeRow{"LabelEdit", treeid::kLabelEdit, Variant::Long(2), Variant::Long(1)},
                      RangeRow{"BorderStyle", treeid::kBorderStyle, Variant::Long(2), Variant::Long(1)},
                      RangeRow{"Appearance", treeid::kAppearance, Variant::Long(-1), Variant::Long(0)},
                      RangeRow{"OLEDragMode", treeid::kOLEDragMode, Variant::Long(2), Variant::Long(1)},
                      RangeRow{"OLEDropMode", treeid::kOLEDropMode, Variant::Long(3), Variant::Long(1)},
                      RangeRow{"MousePointerGap", treeid::kMousePointer, Variant::Long(16), Variant::Long(15)},
                      RangeRow{"MousePointerCustom", treeid::kMousePointer, Variant::Long(98), Variant::Long(99)},
                      RangeRow{"IndentationNegative", treeid::kIndentation, Variant::Single(-0.5f),
                               Variant::Double(0)},
                      RangeRow{"IndentationInfinite", treeid::kIndentation,
                               Variant::Single(std::numeric_limits<float>::infinity()), Variant::Single(1e6f)},
                      RangeRow{"IndentationNaN", treeid::kIndentation, Variant::Double(std::nan("")),
                               Variant::Single(0.5f)}),
    [](const auto& i) { return std::string(i.param.name); });

// By place, every setting is the one its id names; a place outside the table is 438 both ways.
TEST(TreeSettings, ByPlaceTheyAreTheSettingsOfTheirIdsAndNothingOutside) {
  Ref<TreeView> tree = MakeHeadlessTree();
  int count = 0;
  for (DispId id = -2000; id <= 2000; ++id) {
    const int i = TreeView::SettingIndex(id);
    if (i < 0) continue;
    ++count;
    EXPECT_TRUE(Variant::ValueEquals(tree->SettingAt(i), tree->Setting(id))) << id;
  }
  EXPECT_EQ(count, 20) << "the ids of the settings";
  EXPECT_EQ(TreeView::SettingIndex(treeid::kNodes), -1);
  tree->SetSettingAt(TreeView::SettingIndex(treeid::kPathSeparator), Variant::String(u"/"));
  EXPECT_EQ(tree->Setting(treeid::kPathSeparator).RawString(), u"/");
  for (int outside : {-1, count, count + 1}) {
    SCOPED_TRACE(outside);
    auto number = [](const std::function<void()>& f) {
      try {
        f();
      } catch (const Error& e) {
        return e.Number();
      }
      return 0;
    };
    EXPECT_EQ(number([&] { tree->SettingAt(outside); }), 438);
    EXPECT_EQ(number([&] { tree->SetSettingAt(outside, Variant::Long(0)); }), 438);
  }
}

TEST(TreeSettings, ObjectSettingsKeepTheVeryObject) {
  Ref<TreeView> tree = MakeHeadlessTree();
  Ref<Object> list = MakeRef<Font>();  // any object will do for an image list
  Ref<Object> font = MakeRef<Font>(u"Arial", 12);
  Ref<Object> icon = MakeRef<Picture>();
  Call(*tree, treeid::kImageList, K::Set, {Variant::Object(list)});
  Call(*tree, treeid::kFont, K::Set, {Variant::Object(font)});
  Call(*tree, treeid::kMouseIcon, K::Set, {Variant::Object(icon)});
  EXPECT_EQ(Call(*tree, treeid::kImageList, K::Get).RawObject(), list);
  EXPECT_EQ(Call(*tree, treeid::kFont, K::Get).RawObject(), font);
  EXPECT_EQ(tree->MouseIcon(), icon);
  // A font that is not a font, an icon that is not a picture.
  EXPECT_THROW(Call(*tree, treeid::kFont, K::Set, {Variant::Object(icon)}), Error);
  EXPECT_THROW(tree->SetMouseIcon(font), Error);
  EXPECT_EQ(tree->FontObject(), font);
  EXPECT_EQ(tree->MouseIcon(), icon);
}

// The font's members by id, as a late-bound host writes them, with the ends of their ranges.
TEST(TreeSettings, TheFontsMembersReadBackById) {
  Ref<Font> font = MakeRef<Font>(u"Arial", 12);
  struct Row {
    const char* what;
    DispId id;
    Variant value, back;  // back: Empty when the value is refused with 380
  } rows[] = {
      {"Name", 0, Variant::String(u"Courier"), Variant::String(u"Courier")},
      {"Size at the top", 2, Variant::Single(2160), Variant::Single(2160)},
      {"Size past the top", 2, Variant::Single(2160.5f), Variant()},
      {"Size 0", 2, Variant::Single(0), Variant()},
      {"Bold on", 3, Variant::Bool(true), Variant::Bool(true)},
      {"Bold off", 3, Variant::Bool(false), Variant::Bool(false)},
      {"Italic on", 4, Variant::Bool(true), Variant::Bool(true)},
      {"Italic off", 4, Variant::Bool(false), Variant::Bool(false)},
      {"Underline on", 5, Variant::Bool(true), Variant::Bool(true)},
      {"Underline off", 5, Variant::Bool(false), Variant::Bool(false)},
      {"Strikethrough on", 6, Variant::Bool(true), Variant::Bool(true)},
      {"Strikethrough off", 6, Variant::Bool(false), Variant::Bool(false)},
      {"Weight 0", 7, Variant::Integer(0), Variant::Integer(0)},
      {"Weight 1000", 7, Variant::Integer(1000), Variant::Integer(1000)},
      {"Weight 1001", 7, Variant::Integer(1001), Variant()},
      {"Weight -1", 7, Variant::Integer(-1), Variant()},
      {"Charset", 8, Variant::Integer(177), Variant::Integer(177)},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    const Variant before = Call(*font, r.id, K::Get);
    try {
      Call(*font, r.id, K::Let, {r.value});
      EXPECT_FALSE(r.back.IsEmpty()) << "accepted";
    } catch (const Error& e) {
      EXPECT_TRUE(r.back.IsEmpty()) << "refused";
      EXPECT_EQ(e.Number(), 380);
    }
    EXPECT_TRUE(Call(*font, r.id, K::Get) == (r.back.IsEmpty() ? before : r.back));
  }
  EXPECT_EQ(Call(*font, 7, K::Get), Variant::Integer(1000)) << "Bold is a weight";
}

TEST(TreeSettings, BooleansConvertAndKeepTheirKind) {
  Ref<TreeView> tree = MakeHeadlessTree();
  Call(*tree, treeid::kSorted, K::Let, {Variant::String(u"True")});
  EXPECT_EQ(Call(*tree, treeid::kSorted, K::Get), Variant::Bool(true));
  EXPECT_THROW(Call(*tree, treeid::kStyle, K::Let, {Variant::String(u"wide")}), Error);
  EXPECT_EQ(tree->Style(), 7);
}

// --- Container wrapper

TEST(TreeContainer, AnswersItsOwnIdsAndPassesTheRestToTheTree) {
  Ref<TreeView> tree = MakeHeadlessTree();
  Ref<Object> ext = MakeExtendedControl(tree, u"inner");
  EXPECT_EQ(Call(*ext, ext::kName, K::Get), Variant::String(u"inner"));
  EXPECT_EQ(Call(*ext, ext::kEnabled, K::Get), Variant::Bool(true));
  EXPECT_EQ(Call(*ext, ext::kCausesValidation, K::Get), Variant::Bool(true));
  EXPECT_EQ(Call(*ext, ext::kWhatsThisHelpID, K::Get), Variant::Long(0));
  EXPECT_EQ(Call(*ext, ext::kToolTipText, K::Get), Variant::String(u""));
  Call(*ext, ext::kWidth, K::Let, {Variant::Integer(300)});
  EXPECT_EQ(Call(*ext, ext::kWidth, K::Get), Variant::Single(300));
  EXPECT_EQ(tree->Container().width, 300);
  EXPECT_THROW(Call(*ext, ext::kHeight, K::Let, {Variant::Single(-1)}), Error);
  EXPECT_THROW(Call(*ext, ext::kWidth, K::Let, {Variant::Single(-0.5f)}), Error);
  EXPECT_EQ(tree->Container().width, 300);
  // Every other writable member takes any value of its kind, a negative place too.
  const std::pair<DispId, Variant> writes[] = {
      {ext::kVisible, Variant::Bool(false)},      {ext::kLeft, Variant::Single(-120)},
      {ext::kTop, Variant::Single(-0.5f)},        {ext::kEnabled, Variant::Bool(false)},
      {ext::kWhatsThisHelpID, Variant::Long(-7)}, {ext::kCausesValidation, Variant::Bool(false)},
      {ext::kToolTipText, Variant::String(u"tip")}, {ext::kHeight, Variant::Single(0)},
  };
  Call(*ext, ext::kHeight, K::Let, {Variant::Single(200)});
  EXPECT_EQ(tree->Container().height, 200);
  for (const auto& [id, value] : writes) {
    SCOPED_TRACE(id);
    Call(*ext, id, K::Let, {value});
    EXPECT_EQ(Call(*ext, id, K::Get), value);
  }
  // The tree sees the container's values that it lays out by.
  EXPECT_EQ(tree->Container().left, -120);
  EXPECT_EQ(tree->Container().top, -0.5f);
  EXPECT_EQ(tree->Container().width, 300);
  EXPECT_EQ(tree->Container().height, 0);
  EXPECT_FALSE(tree->Container().visible);
  EXPECT_FALSE(tree->Container().enabled);
  Call(*ext, ext::kVisible, K::Let, {Variant::Bool(true)});
  Call(*ext, ext::kEnabled, K::Let, {Variant::Bool(true)});
  EXPECT_TRUE(tree->Container().visible);
  EXPECT_TRUE(tree->Container().enabled);
  Call(*ext, treeid::kStyle, K::Let, {Variant::Long(3)});
  EXPECT_EQ(tree->Style(), 3);
  EXPECT_EQ(ext->GetIdOfName(u"width"), ext::kWidth);
  EXPECT_EQ(ext->GetIdOfName(u"Nodes"), treeid::kNodes);
  EXPECT_EQ(Call(*ext, treeid::kNodes, K::Get).RawObject(), Ref<Object>(tree->NodesRef()));
}

// --- Hit testing

class TreeRows : public ::testing::Test {
 protected:
  void SetUp() override {
    a = nodes.AddRoot(u"a", u"A");
    nodes.Add(*a, Relationship::Child, u"a1", u"A1");
    nodes.Add(*a, Relationship::Child, u"a2", u"A2");
    nodes.AddRoot(u"b", u"B");
    Call(*ext, ext::kWidth, K::Let, {Variant::Single(1000)});
    Call(*ext, ext::kHeight, K::Let, {Variant::Single(20 * TreeView::kRowHeight)});
  }
  // The text of the node hit at the middle of a row, through the member id.
  std::u16string Row(float row, float x = 10) {
    Variant v = Call(*tree, treeid::kHitTest, K::Method, {Variant::Single(x), Variant::Single(row * TreeView::kRowHeight)});
    Node* n = AsNode(v);
    return n ? n->Text() : u"<nothing>";
  }
  Ref<TreeView> tree = MakeHeadlessTree();
  Ref<Object> ext = MakeExtendedControl(tree, u"inner");
  Nodes& nodes = tree->NodeCollection();
  Ref<Node> a;
};

TEST_F(TreeRows, CollapsedChildrenTakeNoRow) {
  EXPECT_EQ(Row(0.5f), u"A");
  EXPECT_EQ(Row(1.5f), u"B");
  EXPECT_EQ(Row(2.5f), u"<nothing>");  // below the last node
  EXPECT_EQ(Row(-0.01f), u"<nothing>");  // above the first row
}

// The rows are laid out once and reused; every kind of change must be seen by the next
// hit test. Each step changes the tree, then every row is compared with a fresh walk.
TEST_F(TreeRows, HitTestFollowsEveryChangeOfTheRows) {
  auto expected = [&] {
    std::vector<std::u16string> rows;
    std::vector<Node*> roots;
    for (Node* r = tree->FirstRoot(); r; r = r->Next()) roots.push_back(r);
    if (tree->Sorted())
      std::stable_sort(roots.begin(), roots.end(),
                       [](Node* x, Node* y) { return FoldCase(x->Text()) < FoldCase(y->Text()); });
    std::function<void(Node*)> walk = [&](Node* n) {
      rows.push_back(n->Text());
      if (n->Expanded())
        for (Node* c = n->Child(); c; c = c->Next()) walk(c);
    };
    for (Node* r : roots) walk(r);
    return rows;
  };
  auto check = [&](const char* step) {
    const auto want = expected();
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(Row(static_cast<float>(i) + 0.5f), want[i]) << step << " row " << i;
    EXPECT_EQ(Row(static_cast<float>(want.size()) + 0.5f), u"<nothing>") << step;
  };
  Node& a1 = *nodes.Find(u"a1");
  const std::pair<const char*, std::function<void()>> steps[] = {
      {"first read", [] {}},
      {"expand", [&] { a->SetExpanded(true); }},
      {"add a grandchild under a collapsed child", [&] { nodes.Add(a1, Relationship::Child, u"g", u"G"); }},
      {"expand that child", [&] { a1.SetExpanded(true); }},
      {"add before the first root", [&] { nodes.Add(*a, Relationship::Previous, u"z", u"Z"); }},
      {"sort", [&] { tree->SetSorted(true); }},
      {"rename a sorted root", [&] { nodes.Find(u"z")->SetText(u"0 first"); }},
      {"rename a child while sorted", [&] { a1.SetText(u"A1 renamed"); }},
      {"collapse the ancestor", [&] { a->SetExpanded(false); }},
      {"expand it again", [&] { a->SetExpanded(true); }},
      {"remove a subtree", [&] { nodes.Remove(Variant::String(u"a1")); }},
      {"unsort", [&] { tree->SetSorted(false); }},
      {"clear", [&] { nodes.Clear(); }},
      {"add after clear", [&] { nodes.AddRoot(u"n", u"N"); }},
  };
  for (const auto& [name, change] : steps) {
    change();
    check(name);
  }
}

// The row index is kept up to date change by change; after each of thousands of random adds
// (every relationship), removals, expands, collapses, renames and sort switches, every row
// and the first past the end must agree with the full layout. Texts repeat in both letter
// cases, so that sorted roots tie.
TEST_F(TreeRows, RowIndexAgreesWithTheLayoutThroughRandomChanges) {
  std::mt19937 rng(2026);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  auto anyNode = [&]() -> Node* {
    if (nodes.Count() == 0) return nullptr;
    return AsNode(Variant::Object(nodes.Item(Variant::Long(pick(nodes.Count()) + 1))));
  };
  const char16_t* texts[] = {u"b", u"B", u"a", u"c", u"ab", u"A"};
  for (int step = 0; step < 3000; ++step) {
    const int what = pick(10);
    Node* n = anyNode();
    if (what < 5 || !n) {
      const std::u16string text = texts[pick(6)];
      if (!n || pick(4) == 0) nodes.AddRoot(u"", pick(2) ? text : u"z" + text);
      else nodes.Add(*n, static_cast<Relationship>(pick(5)), u"", text);
    } else if (what < 7) {
      if (nodes.Count() > 40 || pick(3) == 0) nodes.Remove(Variant::Object(Ref<Object>(n)));
    } else if (what < 9) {
      n->SetExpanded(!n->Expanded());
    } else if (pick(5) == 0) {
      tree->SetSorted(!tree->Sorted());
    } else {
      n->SetText(texts[pick(6)]);
    }
    const std::vector<Node*> rows = tree->VisibleRows();
    for (size_t i = 0; i < rows.size(); ++i)
      ASSERT_EQ(tree->NodeAtRow(static_cast<int64_t>(i)), rows[i]) << "step " << step << " row " << i;
    ASSERT_EQ(tree->NodeAtRow(static_cast<int64_t>(rows.size())), nullptr) << "step " << step;
    // Each sibling list by place (what a view's item model reads): every node is at its own
    // place, and the lists have the tree's counts.
    auto& index = desk::detail::RowIndex::Of(*tree);
    int32_t roots = 0;
    for (Node* r = tree->FirstRoot(); r; r = r->Next()) ++roots;
    ASSERT_EQ(index.Count(nullptr), roots) << "step " << step;
    for (int32_t i = 1; i <= nodes.Count(); ++i) {
      Node* x = nodes.Item(Variant::Long(i)).get();
      ASSERT_EQ(index.ChildAt(x->Parent(), index.PlaceOf(*x)), x) << "step " << step;
      ASSERT_EQ(index.Count(x), x->Children()) << "step " << step;
    }
  }
  EXPECT_EQ(tree->NodeAtRow(-1), nullptr);
}

// The index follows most changes in place; only a sorted root whose place among roots of
// equal text depends on a sibling order it does not keep makes the tree build it again.
TEST(TreeRowIndex, FollowsChangesInPlaceAndIsBuiltAgainOnlyWhereItMustBe) {
  struct Case {
    const char* change;
    std::function<void(Nodes&)> apply;
    uint64_t builds;
  };
  auto at = [](Nodes& n, const char16_t* key) -> Node& { return *n.Find(key); };
  const Case cases[] = {
      {"a root added last", [](Nodes& n) { n.AddRoot(u"", u"c"); }, 0},
      {"a root of a new text between two", [&](Nodes& n) { n.Add(at(n, u"b"), Relationship::Next, u"", u"x"); }, 0},
      {"beside a sibling of its text, after it", [&](Nodes& n) { n.Add(at(n, u"b"), Relationship::Next, u"", u"B"); }, 0},
      {"beside a sibling of its text, before it", [&](Nodes& n) { n.Add(at(n, u"f"), Relationship::Previous, u"", u"f"); }, 0},
      {"between two, the text of a root apart", [&](Nodes& n) { n.Add(at(n, u"b"), Relationship::Next, u"", u"F"); }, 1},
      {"a root first of all", [&](Nodes& n) { n.Add(at(n, u"b"), Relationship::First, u"", u"f"); }, 0},
      {"a root renamed to a new text", [&](Nodes& n) { at(n, u"d").SetText(u"e"); }, 0},
      {"a root renamed to the text of its sibling", [&](Nodes& n) { at(n, u"d").SetText(u"B"); }, 0},
      {"a root between two renamed to the text of a root apart", [&](Nodes& n) { at(n, u"f").SetText(u"B"); }, 1},
      {"a child added", [&](Nodes& n) { n.Add(at(n, u"d"), Relationship::Child, u"", u"z"); }, 0},
      {"a root expanded", [&](Nodes& n) { at(n, u"d").SetExpanded(true); }, 0},
      {"a root removed", [](Nodes& n) { n.Remove(Variant::String(u"f")); }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.change);
    Ref<TreeView> tree = MakeHeadlessTree();
    Nodes& nodes = tree->NodeCollection();
    nodes.AddRoot(u"b", u"b");
    nodes.AddRoot(u"d", u"d");
    nodes.Add(*nodes.Find(u"d"), Relationship::Child, u"d1", u"d1");
    nodes.AddRoot(u"f", u"f");
    nodes.AddRoot(u"h", u"h");
    tree->SetSorted(true);
    ASSERT_NE(tree->NodeAtRow(0), nullptr);  // the index, built
    const uint64_t before = desk::detail::RowIndex::Builds();
    c.apply(nodes);
    const std::vector<Node*> rows = tree->VisibleRows();
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(tree->NodeAtRow(static_cast<int64_t>(i)), rows[i]) << i;
    EXPECT_EQ(tree->NodeAtRow(static_cast<int64_t>(rows.size())), nullptr);
    EXPECT_EQ(desk::detail::RowIndex::Builds() - before, c.builds);
  }
}

// Memory running out in the middle of a change leaves the tree, its keys and its rows as they
// were; the row index, a cache, may be dropped and built again, but never left wrong.
TEST(TreeRowIndex, MemoryRunningOutInAChangeLeavesTheTreeAndItsRowsAsTheyWere) {
  if (!desktest::FailAllocation::Available()) GTEST_SKIP() << "the sanitizers' allocator stands in front";
  struct Case {
    const char* change;
    std::function<void(Nodes&)> apply;
  };
  auto at = [](Nodes& n, const char16_t* key) -> Node& { return *n.Find(key); };
  const Case cases[] = {
      {"a child added", [&](Nodes& n) { n.Add(at(n, u"d"), Relationship::Child, u"New", u"c"); }},
      {"a root added among sorted roots", [&](Nodes& n) { n.Add(at(n, u"b"), Relationship::Next, u"", u"e"); }},
      {"a subtree removed", [](Nodes& n) { n.Remove(Variant::String(u"d")); }},
      {"a key changed", [&](Nodes& n) { at(n, u"d1").SetKey(u"Other"); }},
      {"a root renamed", [&](Nodes& n) { at(n, u"f").SetText(u"a"); }},
  };
  // What a host sees: the rows in order with their keys, and every key finding its node.
  auto seen = [](TreeView& t, Nodes& n) {
    std::u16string s;
    for (Node* r : t.VisibleRows()) {
      s += r->Text() + u"/" + r->Key() + u" ";
      if (!r->Key().empty() && n.Find(r->Key()) != r) s += u"(lost) ";
    }
    // The keys a change gives find nothing unless it was made.
    for (const char16_t* k : {u"New", u"Other"})
      if (n.Find(k)) s += std::u16string(u"[") + k + u"] ";
    return s + DecimalText(n.Count());
  };
  // Seven nodes fill the position index's slots but one, eight fill them: each of its two
  // tables is full in one of them.
  for (const bool andLater : {false, true})
  for (const int count : {7, 8})
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.change) + ", nodes " + std::to_string(count) + (andLater ? ", memory stays used up" : ""));
    Ref<TreeView> tree;
    std::u16string before;
    auto prepare = [&] {
      tree = MakeHeadlessTree();
      Nodes& nodes = tree->NodeCollection();
      for (const char16_t* r : {u"b", u"d", u"f", u"h"}) nodes.AddRoot(r, r);
      nodes.Add(*nodes.Find(u"d"), Relationship::Child, u"d1", u"d1");
      nodes.Add(*nodes.Find(u"d1"), Relationship::Child, u"d2", u"d2");
      while (nodes.Count() < count) nodes.Add(*nodes.Find(u"h"), Relationship::Child, u"", u"h");
      for (const char16_t* e : {u"d", u"d1"}) nodes.Find(e)->SetExpanded(true);
      tree->SetSorted(true);
      ASSERT_NE(tree->NodeAtRow(0), nullptr);  // the index, built
      before = seen(*tree, nodes);
    };
    auto check = [&](bool failed) {
      Nodes& nodes = tree->NodeCollection();
      if (failed) {
        EXPECT_EQ(U8(seen(*tree, nodes)), U8(before));
      }
      // And the tree goes on working: a node added next is last by position and by row.
      Ref<Node> last = nodes.AddRoot(u"z", u"z");
      EXPECT_EQ(nodes.Item(Variant::Long(nodes.Count())).get(), last.get());
      const std::vector<Node*> rows = tree->VisibleRows();
      for (size_t i = 0; i < rows.size(); ++i) ASSERT_EQ(tree->NodeAtRow(static_cast<int64_t>(i)), rows[i]) << i;
      ASSERT_EQ(tree->NodeAtRow(static_cast<int64_t>(rows.size())), nullptr);
      ASSERT_EQ(rows.back(), last.get());
    };
    desktest::EachAllocationFailing(prepare, [&] { c.apply(tree->NodeCollection()); }, check, andLater);
  }
}

// A removed node leaves a hole among the position slots. Once fewer than half of 64 or more
// slots are in use the holes are packed, which renumbers the slots the row index is kept by:
// the one build that costs, and the rows are right after it.
// Packing the slots once fewer than half are in use moves the row index's entries with them:
// the rows stay right, and a million-node tree is not walked again.
TEST(TreeRowIndex, PackedSlotsCarryTheRowIndexAlong) {
  Ref<TreeView> tree = MakeHeadlessTree();
  Nodes& nodes = tree->NodeCollection();
  for (int i = 0; i < 64; ++i) {
    Ref<Node> r = nodes.AddRoot(u"", u"n" + desk::DecimalText(i));
    if (i % 8 == 0) nodes.Add(*r, Relationship::Child, u"", u"c" + desk::DecimalText(i));
    if (i % 16 == 0) r->SetExpanded(true);
  }
  ASSERT_NE(tree->NodeAtRow(0), nullptr);  // the index, built
  const uint64_t before = desk::detail::RowIndex::Builds();
  // A backend's marks go with the nodes: those there when the index was built start marked,
  // one added since starts unmarked, and every other root is unmarked here by a reset.
  auto& marks = desk::detail::RowIndex::Of(*tree);
  Ref<Node> late = nodes.AddRoot(u"", u"late");
  EXPECT_TRUE(marks.Marked(*tree->FirstRoot()));
  EXPECT_FALSE(marks.Marked(*late));
  marks.ClearMarks();
  auto markedAtFirst = [](const Node& n) { return n.Text().size() % 2 == 0; };  // "n10".."n63", "late"
  for (int32_t i = 1; i <= nodes.Count(); ++i)
    if (Node* x = nodes.Item(Variant::Long(i)).get(); markedAtFirst(*x)) marks.Mark(*x);
  for (int removed = 0; removed < 60; ++removed) {
    // From the front, then from the back, so that both ends of the old slots become holes.
    nodes.Remove(Variant::Long(removed % 2 ? nodes.Count() : 1));
    const std::vector<Node*> rows = tree->VisibleRows();
    for (size_t i = 0; i <= rows.size(); ++i)
      ASSERT_EQ(tree->NodeAtRow(static_cast<int64_t>(i)), i < rows.size() ? rows[i] : nullptr) << removed << " " << i;
    auto& index = desk::detail::RowIndex::Of(*tree);
    for (int32_t i = 1; i <= nodes.Count(); ++i) {
      Node* x = nodes.Item(Variant::Long(i)).get();
      ASSERT_EQ(index.ChildAt(x->Parent(), index.PlaceOf(*x)), x) << removed;
      ASSERT_EQ(index.Marked(*x), markedAtFirst(*x)) << removed << " " << desk::U8(x->Text());
    }
  }
  EXPECT_EQ(desk::detail::RowIndex::Builds(), before);
}

// Lists long enough that their blocks split, merge and stack several deep: thousands of nodes
// added at random places (sorted roots tying on their texts too), expanded and collapsed, then
// removed down to none. Every so often each node's place, each place's node, the counts and
// every row agree with the tree, and the index never had to be built again. Blocks of 4 make
// every size of list and every place of a split come up; blocks of 64 are those of a host.
TEST(TreeRowIndex, LongListsStayRightThroughSplitsAndMerges) {
  struct Restore {
    ~Restore() { desk::detail::RowIndex::SetBlockSize(64); }
  } restore;
  for (const int block : {4, 64})
  for (const bool sorted : {false, true}) {
    SCOPED_TRACE(std::string(sorted ? "sorted" : "in sibling order") + ", blocks of " + std::to_string(block));
    desk::detail::RowIndex::SetBlockSize(block);
    const int most = block == 4 ? 2000 : 9000;
    const int every = block == 4 ? 100 : 1500;
    Ref<TreeView> tree = MakeHeadlessTree();
    Nodes& nodes = tree->NodeCollection();
    std::mt19937 rng(7);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    nodes.AddRoot(u"", u"m");
    tree->SetSorted(sorted);
    ASSERT_NE(tree->NodeAtRow(0), nullptr);  // the index, built
    const uint64_t builds = desk::detail::RowIndex::Builds();
    auto check = [&](int step) {
      auto& index = desk::detail::RowIndex::Of(*tree);
      for (int32_t i = 1; i <= nodes.Count(); ++i) {
        Node* x = nodes.Item(Variant::Long(i)).get();
        ASSERT_EQ(index.ChildAt(x->Parent(), index.PlaceOf(*x)), x) << "step " << step;
        ASSERT_EQ(index.Count(x), x->Children()) << "step " << step;
      }
      int32_t roots = 0;
      for (Node* r = tree->FirstRoot(); r; r = r->Next()) {
        if (!sorted) {
          ASSERT_EQ(index.PlaceOf(*r), roots) << "step " << step;
        }
        ++roots;
      }
      ASSERT_EQ(index.Count(nullptr), roots) << "step " << step;
      const std::vector<Node*> rows = tree->VisibleRows();
      for (size_t i = 0; i <= rows.size(); ++i)
        ASSERT_EQ(tree->NodeAtRow(static_cast<int64_t>(i)), i < rows.size() ? rows[i] : nullptr) << "step " << step;
    };
    auto any = [&] { return nodes.Item(Variant::Long(pick(nodes.Count()) + 1)).get(); };
    int step = 0;
    // Most nodes are roots, so that the roots' list grows past 64 x 64; one in eight is a child.
    for (; nodes.Count() < most; ++step) {
      Node* n = any();
      // Texts tie often; a sorted root between two of another text is placed by a build.
      const std::u16string text = u"t" + desk::DecimalText(pick(sorted ? 5000 : 50));
      const int what = pick(8);
      if (what == 0) nodes.Add(*n, Relationship::Child, u"", text);
      else if (what < 3) nodes.AddRoot(u"", text);
      else if (n->Parent()) nodes.Add(*n, static_cast<Relationship>(pick(4)), u"", text);
      else nodes.Add(*n, pick(2) ? Relationship::Next : Relationship::Previous, u"", sorted ? n->Text() : text);
      if (pick(16) == 0) any()->SetExpanded(true);
      if (step % every == 0) check(step);
    }
    check(step);
    for (; nodes.Count() > 0; ++step) {
      nodes.Remove(Variant::Long(pick(nodes.Count()) + 1));
      if (pick(8) == 0 && nodes.Count() > 0) {
        Node* n = any();
        n->SetExpanded(!n->Expanded());
      }
      if (step % every == 0 || nodes.Count() < 70) check(step);
    }
    EXPECT_EQ(tree->NodeAtRow(0), nullptr);
    EXPECT_EQ(desk::detail::RowIndex::Of(*tree).Count(nullptr), 0);
    if (!sorted) {
      EXPECT_EQ(desk::detail::RowIndex::Builds(), builds);
    }
  }
}

// The index's memory: nodes added at either end of a list fill their blocks, and the blocks of
// a removed subtree's lists are taken again by the next, so that a host adding and removing
// subtrees for hours keeps the index it started with.
TEST(TreeRowIndex, BlocksAreFilledInOrderAndGoWithTheirNodes) {
  Ref<TreeView> tree = MakeHeadlessTree();
  Nodes& nodes = tree->NodeCollection();
  nodes.AddRoot(u"", u"r");
  ASSERT_NE(tree->NodeAtRow(0), nullptr);  // the index, built
  auto& index = desk::detail::RowIndex::Of(*tree);
  for (int i = 1; i < 64 * 32; ++i) nodes.AddRoot(u"", u"r");
  EXPECT_EQ(index.BlocksInUse(), 32u + 1);  // 32 full leaves under one inner block
  for (int i = 0; i < 64; ++i) nodes.Add(*tree->FirstRoot(), Relationship::First, u"", u"f");
  EXPECT_EQ(index.BlocksInUse(), 33u + 1);
  const size_t before = index.BlocksInUse();
  for (int round = 0; round < 3; ++round) {
    Ref<Node> top = nodes.AddRoot(u"top", u"top");
    for (int i = 0; i < 3000; ++i) {
      Ref<Node> c = nodes.Add(*top, Relationship::Child, u"", u"c");
      if (i % 100 == 0) nodes.Add(*c, Relationship::Child, u"", u"g");
    }
    top->SetExpanded(true);
    EXPECT_GT(index.BlocksInUse(), before + 47);
    nodes.Remove(Variant::String(u"top"));
    EXPECT_EQ(index.BlocksInUse(), before) << "round " << round;
  }
  while (nodes.Count() > 0) nodes.Remove(Variant::Long(1));
  EXPECT_EQ(index.BlocksInUse(), 0u);
}

// A sorted root that a new text moves tells a backend once where it was and where it is.
TEST(TreeRowIndex, AMovedRootIsToldOnceWhereItWasAndWhereItIs) {
  Ref<TreeView> tree = MakeHeadlessTree();
  Nodes& nodes = tree->NodeCollection();
  for (const char16_t* t : {u"a", u"c", u"e"}) nodes.AddRoot(t, t);
  tree->SetSorted(true);
  auto& index = desk::detail::RowIndex::Of(*tree);
  Node& a = *nodes.Find(u"a");
  a.SetText(u"d");
  int32_t from = -1, to = -1;
  EXPECT_FALSE(index.TakeMove(*nodes.Find(u"c"), from, to));  // not the node that moved
  ASSERT_TRUE(index.TakeMove(a, from, to));
  EXPECT_EQ(from, 0);
  EXPECT_EQ(to, 1);  // c, d, e
  EXPECT_EQ(index.PlaceOf(a), 1);
  EXPECT_FALSE(index.TakeMove(a, from, to));  // told once
}

TEST_F(TreeRows, ExpandedChildrenFollowTheirParent) {
  a->SetExpanded(true);
  EXPECT_EQ(Row(0), u"A");
  EXPECT_EQ(Row(1.0f), u"A1");  // a row starts at its top edge
  EXPECT_EQ(Row(1.999f), u"A1");
  EXPECT_EQ(Row(2.5f), u"A2");
  EXPECT_EQ(Row(3.5f), u"B");
  EXPECT_EQ(Row(4.0f), u"<nothing>");
  EXPECT_EQ(Row(0.5f, 1000), u"<nothing>");  // right of the tree
  EXPECT_EQ(Row(0.5f, -1), u"<nothing>");
}

// Four levels: a node takes a row only when every ancestor is expanded, not just its parent.
TEST_F(TreeRows, EveryAncestorMustBeExpandedAtEveryDepth) {
  Ref<Node> a1(nodes.Find(u"a1"));
  Ref<Node> x = nodes.Add(*a1, Relationship::Child, u"x", u"X");
  nodes.Add(*x, Relationship::Child, u"y", u"Y");
  auto rows = [&] {
    std::u16string s;
    for (int i = 0; i < 20; ++i) {
      std::u16string t = Row(i + 0.5f);
      if (t == u"<nothing>") break;
      s += t + u" ";
    }
    return s;
  };
  struct {
    const char* what;
    bool a, a1, x;
    std::u16string rows;
  } cases[] = {
      {"all collapsed", false, false, false, u"A B "},
      {"only the deepest expanded", false, false, true, u"A B "},
      {"the root collapsed", false, true, true, u"A B "},
      {"the middle collapsed", true, false, true, u"A A1 A2 B "},
      {"the third level collapsed", true, true, false, u"A A1 X A2 B "},
      {"all expanded", true, true, true, u"A A1 X Y A2 B "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    a->SetExpanded(c.a);
    a1->SetExpanded(c.a1);
    x->SetExpanded(c.x);
    EXPECT_EQ(U8(rows()), U8(c.rows));
    EXPECT_EQ(tree->VisibleRows().size(), static_cast<size_t>(std::count(c.rows.begin(), c.rows.end(), u' ')));
  }
}

TEST_F(TreeRows, SortedOrdersRootsByText) {
  nodes.AddRoot(u"", u"aa");
  tree->SetSorted(true);
  EXPECT_EQ(Row(0.5f), u"A");
  EXPECT_EQ(Row(1.5f), u"aa");
  EXPECT_EQ(Row(2.5f), u"B");
}

TEST_F(TreeRows, RowsBeyondTheTreesHeightAreNotHit) {
  Call(*ext, ext::kHeight, K::Let, {Variant::Single(TreeView::kRowHeight)});
  EXPECT_EQ(Row(0.5f), u"A");
  EXPECT_EQ(Row(1.5f), u"<nothing>");
  // The bottom and right edges are outside.
  Call(*ext, ext::kHeight, K::Let, {Variant::Single(1.5f * TreeView::kRowHeight)});
  EXPECT_EQ(Row(1.49f), u"B");
  EXPECT_EQ(Row(1.5f), u"<nothing>");
  EXPECT_EQ(Row(0.5f, 999.9f), u"A");
  EXPECT_EQ(Row(0.5f, 1000.0f), u"<nothing>");
  EXPECT_EQ(Row(0.5f, 0.0f), u"A");
  EXPECT_EQ(Row(0.5f, -0.01f), u"<nothing>");
  EXPECT_EQ(Row(0.0f), u"A") << "the top edge is inside";
}

// --- Events

class TreeEvents : public TreeRows {
 protected:
  // Connects a handler; the sink is the host's side.
  void On(FunctionSink::Fn fn) { tree->Events().Connect(MakeRef<FunctionSink>(std::move(fn))); }
};

TEST_F(TreeEvents, HandlersWriteThroughByReferenceArgumentsOfTheDeclaredKinds) {
  std::vector<VarType> kinds;
  On([&](DispId id, std::vector<Variant>& args) {
    if (id != treeevent::kMouseDown) return;
    for (const Variant& v : args) kinds.push_back(v.ValueType());
    args[0].Assign(Variant::Integer(2));
    args[3].Assign(Variant::Double(7.25));
  });
  int16_t button = 1, shift = 0;
  float x = 3, y = 4;
  tree->RaiseMouseDown(button, shift, x, y);
  EXPECT_EQ(kinds, (std::vector<VarType>{VarType::Integer, VarType::Integer, VarType::Single, VarType::Single}));
  EXPECT_EQ(button, 2);
  EXPECT_EQ(y, 7.25f);
  EXPECT_EQ(x, 3);
}

TEST_F(TreeEvents, CancelTextDataAndEffectComeBackToTheRaiser) {
  Ref<Object> data = MakeRef<Font>();
  On([&](DispId id, std::vector<Variant>& args) {
    if (id == treeevent::kKeyPress) args[0].Assign(Variant::Integer(0));
    if (id == treeevent::kValidate) args[0].Assign(Variant::Bool(true));
    if (id == treeevent::kOLEDragDrop) {
      args[0].Assign(Variant::Object(data));
      args[1].Assign(Variant::Long(4));
    }
    if (id == treeevent::kAfterLabelEdit) args[1].Assign(Variant::String(args[1].ToString() + u"!"));
  });
  int16_t key = 65;
  tree->RaiseKeyPress(key);
  EXPECT_EQ(key, 0);
  bool cancel = false;
  tree->RaiseValidate(cancel);
  EXPECT_TRUE(cancel);
  Ref<Object> given;  // Nothing
  int32_t effect = 1;
  int16_t button = 1, shift = 0, cancelEdit = 0;
  float x = 0, y = 0;
  tree->RaiseOLEDragDrop(given, effect, button, shift, x, y);
  EXPECT_EQ(given, data);
  EXPECT_EQ(effect, 4);
  std::u16string text = u"new";
  tree->RaiseAfterLabelEdit(cancelEdit, text);
  EXPECT_EQ(text, u"new!");
}

TEST_F(TreeEvents, NodeEventsDeliverTheVeryNode) {
  std::vector<std::pair<DispId, Object*>> got;
  On([&](DispId id, std::vector<Variant>& args) { got.emplace_back(id, args[0].RawObject().get()); });
  a->SetExpanded(true);
  a->SetExpanded(true);  // no change, no event
  a->SetExpanded(false);
  a->SetChecked(true);  // programmatic: no NodeCheck
  tree->UserCheck(*a, false);  // no checkboxes: the user cannot check
  tree->SetCheckboxes(true);
  tree->UserCheck(*a, false);
  tree->UserClickNode(*a);
  using P = std::pair<DispId, Object*>;
  EXPECT_EQ(got, (std::vector<P>{P{treeevent::kExpand, a.get()}, P{treeevent::kCollapse, a.get()},
                                 P{treeevent::kNodeCheck, a.get()}, P{treeevent::kNodeClick, a.get()}}));
  EXPECT_FALSE(a->Checked());
  EXPECT_TRUE(a->Selected());
}

TEST_F(TreeEvents, LabelEditIsCancelledOrAppliedAsTheHandlersSay) {
  int16_t cancelBefore = 0, cancelAfter = 0;
  int before = 0;
  On([&](DispId id, std::vector<Variant>& args) {
    if (id == treeevent::kBeforeLabelEdit) ++before, args[0].Assign(Variant::Integer(cancelBefore));
    if (id == treeevent::kAfterLabelEdit) args[0].Assign(Variant::Integer(cancelAfter));
  });
  Call(*tree, treeid::kStartLabelEdit, K::Method);
  EXPECT_EQ(before, 0);  // nothing selected, nothing to edit
  a->SetSelected(true);
  cancelBefore = 1;
  Call(*tree, treeid::kStartLabelEdit, K::Method);
  EXPECT_EQ(before, 1);
  EXPECT_EQ(tree->EditingNode(), nullptr);
  EXPECT_FALSE(tree->FinishLabelEdit(u"x"));
  cancelBefore = 0;
  tree->StartLabelEdit();
  EXPECT_EQ(tree->EditingNode(), a.get());
  cancelAfter = -1;
  EXPECT_FALSE(tree->FinishLabelEdit(u"refused"));
  EXPECT_EQ(a->Text(), u"A");
  tree->StartLabelEdit();
  cancelAfter = 0;
  EXPECT_TRUE(tree->FinishLabelEdit(u"renamed"));
  EXPECT_EQ(a->Text(), u"renamed");
}

TEST_F(TreeEvents, RemovingTheNodeUnderTheMouseDuringMouseDownLeavesNothingDangling) {
  a->SetExpanded(true);
  Ref<Node> heldByHost;
  On([&](DispId id, std::vector<Variant>& args) {
    if (id != treeevent::kMouseDown) return;
    heldByHost = tree->HitTest(args[2].ToSingle(), args[3].ToSingle());
    nodes.Remove(Variant::Object(Ref<Object>(heldByHost)));
  });
  int16_t button = 2, shift = 0;
  float x = 10, y = 0.5f * TreeView::kRowHeight;
  tree->RaiseMouseDown(button, shift, x, y);
  ASSERT_TRUE(heldByHost);
  EXPECT_FALSE(heldByHost->InTree());
  EXPECT_EQ(heldByHost->Text(), u"A");
  EXPECT_EQ(tree->HitTest(x, y)->Text(), u"B");  // B moved up into the row
  EXPECT_EQ(tree->HitTest(x, y + TreeView::kRowHeight), nullptr);
}

TEST(TreeEventLifetime, AHandlerMayReleaseTheLastReferenceToTheTree) {
  Ref<TreeView> tree = MakeHeadlessTree();
  TreeView* raw = tree.get();
  tree->Events().Connect(MakeRef<FunctionSink>([&](DispId, std::vector<Variant>& args) {
    tree.reset();
    args[0].Assign(Variant::Integer(0));
  }));
  int16_t key = 13;
  raw->RaiseKeyPress(key);
  EXPECT_EQ(key, 0);
  EXPECT_FALSE(tree);
}

// --- Observers

struct Recorder : TreeObserver {
  std::vector<std::string> log;
  void NodeAdded(Node& n) override { log.push_back("added " + std::string(n.Text().begin(), n.Text().end())); }
  void NodeAboutToBeRemoved(Node& n) override {
    log.push_back("removing " + std::string(n.Text().begin(), n.Text().end()) + " in tree " +
                  (n.InTree() ? "yes" : "no"));
  }
  void NodeChanged(Node&, NodeField f) override { log.push_back("changed " + std::to_string(static_cast<int>(f))); }
  void SettingChanged(DispId id) override { log.push_back("setting " + std::to_string(id)); }
  void Cleared() override { log.push_back("cleared"); }
};

TEST_F(TreeRows, ObserversSeeEachChangeOnce) {
  Recorder r;
  tree->AddObserver(&r);
  tree->AddObserver(&r);      // once is enough
  tree->AddObserver(nullptr);  // no one to tell
  nodes.Add(*a, Relationship::Child, u"", u"C");
  nodes.Remove(Variant::String(u"a"));  // one notice for the subtree
  Ref<Node> b = nodes.Item(Variant::Long(1));
  b->SetText(u"b2");
  // Each field of a node once; setting what it already is tells nobody.
  b->SetKey(u"kb");
  b->SetTag(Variant::Long(1));
  b->SetImage(Variant::Long(2));
  b->SetSelectedImage(Variant::Long(3));
  b->SetExpanded(true);
  b->SetExpanded(true);
  b->SetChecked(true);
  b->SetChecked(true);
  b->SetSelected(true);
  b->SetSelected(true);
  EXPECT_THROW(tree->SetStyle(9), Error);  // refused: no notice
  tree->SetStyle(1);
  Call(*ext, ext::kHeight, K::Let, {Variant::Single(5)});
  nodes.Clear();
  tree->RemoveObserver(&r);
  nodes.AddRoot(u"", u"unseen");
  EXPECT_EQ(r.log, (std::vector<std::string>{"added C", "removing A in tree yes", "changed 0", "changed 1", "changed 2",
                                             "changed 3", "changed 4", "changed 5", "changed 6", "changed 7", "setting 13",
                                             "setting " + std::to_string(ext::kHeight), "cleared"}));
}

}  // namespace
}  // namespace desk
