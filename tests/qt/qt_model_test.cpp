// The view's item model against the tree it shows: after every kind of change (adds in each
// relationship, removals of deep subtrees, Sorted, renamed sorted roots, Clear, and random
// sequences of all of them) every row of the model is the node the tree has there, the view
// shows the tree's expanded nodes expanded, and Qt's model tester (watching every test of this
// program, see qt_fixture.h) found nothing wrong with how the changes were announced.
#include <algorithm>
#include <functional>
#include <random>
#include <string>

#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSortFilterProxyModel>

#include "desk/text.h"
#include "qt_fixture.h"

namespace desk_qt_test {
namespace {

using desk::Node;
using desk::Relationship;

class QtModel : public QtHost {
 protected:
  void SetUp() override {
    QtHost::SetUp();
    if (HasFatalFailure()) return;
    // a > a1 > a11 > a111, four levels; b and c plain roots.
    Add(u"", u"a", u"alpha");
    Add(u"a", u"a1", u"alpha 1");
    Add(u"a1", u"a11", u"alpha 11");
    Add(u"a11", u"a111", u"alpha 111");
    Add(u"", u"b", u"beta");
    Add(u"", u"c", u"gamma");
  }

  desk::Nodes& Coll() { return Tree().NodeCollection(); }

  // The children of a node (null: the roots) in the order the view must show them.
  std::vector<Node*> Shown(Node* parent) {
    std::vector<Node*> out;
    for (Node* n = parent ? parent->Child() : Tree().FirstRoot(); n; n = n->Next()) out.push_back(n);
    if (!parent && Tree().Sorted())
      std::stable_sort(out.begin(), out.end(),
                       [](Node* x, Node* y) { return desk::FoldCase(x->Text()) < desk::FoldCase(y->Text()); });
    return out;
  }

  // Every row of the model against the tree, and the rows the view lays out against the
  // tree's own layout (which shows whether the view expanded what the tree expanded).
  void ExpectModelIsTree(const std::string& step) {
    QApplication::processEvents();
    QAbstractItemModel& m = *Widget()->model();
    std::function<void(const QModelIndex&, Node*)> walk = [&](const QModelIndex& at, Node* parent) {
      const std::vector<Node*> want = Shown(parent);
      ASSERT_EQ(m.rowCount(at), static_cast<int>(want.size())) << step;
      for (int i = 0; i < static_cast<int>(want.size()); ++i) {
        const QModelIndex row = m.index(i, 0, at);
        ASSERT_EQ(row.internalPointer(), want[static_cast<size_t>(i)]) << step << ", row " << i;
        ASSERT_EQ(row.parent(), at) << step;
        EXPECT_EQ(row.data().toString().toStdU16String(), want[static_cast<size_t>(i)]->Text()) << step;
        EXPECT_EQ(Widget()->isExpanded(row), want[static_cast<size_t>(i)]->Expanded()) << step << ", row " << i << " children " << want[static_cast<size_t>(i)]->Children();
        walk(row, want[static_cast<size_t>(i)]);
      }
    };
    walk(QModelIndex(), nullptr);
    std::vector<Node*> laidOut;
    for (const QModelIndex& i : LaidOut()) laidOut.push_back(static_cast<Node*>(i.internalPointer()));
    EXPECT_EQ(laidOut, Tree().VisibleRows()) << step;
    ASSERT_TRUE(ModelFaults().empty()) << step << ": " << ModelFaults().front();
  }
};

TEST_F(QtModel, RowsFollowEveryKindOfChange) {
  auto node = [&](const char16_t* key) -> Node& { return *NodeOf(key); };
  const std::pair<const char*, std::function<void()>> steps[] = {
      {"first read", [] {}},
      {"expand four levels",
       [&] {
         for (const char16_t* k : {u"a", u"a1", u"a11"}) node(k).SetExpanded(true);
       }},
      {"add the first root", [&] { Coll().Add(node(u"b"), Relationship::First, u"r0", u"first"); }},
      {"add the last root", [&] { Coll().Add(node(u"b"), Relationship::Last, u"r9", u"last"); }},
      {"add next to a root", [&] { Coll().Add(node(u"b"), Relationship::Next, u"bn", u"beta next"); }},
      {"add before a root", [&] { Coll().Add(node(u"b"), Relationship::Previous, u"bp", u"beta previous"); }},
      {"add a child of an expanded node", [&] { Coll().Add(node(u"a1"), Relationship::Child, u"a12", u"alpha 12"); }},
      {"add a first sibling three levels down",
       [&] { Coll().Add(node(u"a111"), Relationship::First, u"a110", u"alpha 110"); }},
      {"add between siblings", [&] { Coll().Add(node(u"a111"), Relationship::Previous, u"a1105", u"alpha 1105"); }},
      {"add a child of a collapsed leaf", [&] { Coll().Add(node(u"c"), Relationship::Child, u"c1", u"gamma 1"); }},
      {"expand it", [&] { node(u"c").SetExpanded(true); }},
      {"expand a childless node, then give it a child",
       [&] {
         node(u"b").SetExpanded(true);
         Coll().Add(node(u"b"), Relationship::Child, u"b1", u"beta 1");
       }},
      {"remove a leaf in the middle", [&] { Coll().Remove(Variant::String(u"a1105")); }},
      {"remove a subtree four levels deep holding the selection",
       [&] {
         node(u"a111").SetSelected(true);
         Coll().Remove(Variant::String(u"a"));
       }},
      {"sort", [&] { Tree().SetSorted(true); }},
      {"add sorted roots tying with one",
       [&] {
         Coll().Add(node(u"b"), Relationship::Next, u"t1", u"BETA");
         Coll().Add(node(u"b"), Relationship::Previous, u"t2", u"Beta");
         Coll().Add(node(u"b"), Relationship::First, u"t3", u"beta");
         Coll().Add(node(u"b"), Relationship::Last, u"t4", u"bEta");
         Coll().Add(node(u"r9"), Relationship::Previous, u"t5", u"beta");  // away from its equals
       }},
      {"rename an expanded sorted root to the front", [&] { node(u"c").SetText(u"aardvark"); }},
      {"rename a sorted root to the end", [&] { node(u"r0").SetText(u"zulu"); }},
      {"rename a child while sorted", [&] { node(u"c1").SetText(u"zzz"); }},
      {"remove a sorted root in the middle", [&] { Coll().Remove(Variant::String(u"t2")); }},
      {"unsort", [&] { Tree().SetSorted(false); }},
      {"collapse", [&] { node(u"c").SetExpanded(false); }},
      {"remove the first and the last root",
       [&] {
         Coll().Remove(Variant::Object(Ref<desk::Object>(Tree().FirstRoot())));
         Coll().Remove(Variant::Object(Ref<desk::Object>(Tree().LastRoot())));
       }},
      {"clear", [&] { Coll().Clear(); }},
      {"add after clear",
       [&] {
         Coll().AddRoot(u"n", u"N");
         Coll().Add(node(u"n"), Relationship::Child, u"n1", u"N1");
         node(u"n").SetExpanded(true);
       }},
  };
  for (const auto& [name, change] : steps) {
    change();
    ExpectModelIsTree(name);
    if (HasFatalFailure()) return;
  }
  EXPECT_EQ(Widget()->model()->rowCount(), 1);
}

// Thousands of random changes on a small tree, with texts that tie when sorted; the model
// and the view must agree with the tree after each.
// A closed node's children go unannounced only while nobody has read anything of them
// through the model; a reader made later reads them whole, and from then on each is announced.
TEST_F(QtModel, ChildrenOfAClosedNodeAreAnnouncedOnceAnyoneCouldKnowOfThem) {
  using Read = std::function<void(QAbstractItemModel&, const QModelIndex&)>;
  QSortFilterProxyModel early;
  const struct {
    const char* reader;
    Read read;
    bool keeps;  // may keep what it read
  } readers[] = {
      {"nobody", nullptr, false},
      {"the tree's own view, drawing it", [&](QAbstractItemModel&, const QModelIndex& p) {
         Widget()->scrollTo(p);
         Viewport()->repaint();
       }, false},
      {"its row count", [](QAbstractItemModel& m, const QModelIndex& p) { m.rowCount(p); }, true},
      {"whether it has children", [](QAbstractItemModel& m, const QModelIndex& p) { m.hasChildren(p); }, true},
      {"a proxy", [&](QAbstractItemModel& m, const QModelIndex& p) {
         early.setSourceModel(&m);
         early.rowCount(early.mapFromSource(p));
       }, true},
  };
  int made = 0;
  for (const bool open : {false, true}) for (const bool hadChild : {false, true}) for (const auto& [reader, read, keeps] : readers) {
    SCOPED_TRACE(std::string(reader) + (hadChild ? ", a child before" : "") + (open ? ", open" : ""));
    tester_.reset();  // it reads the whole model after every change; it watches again below
    const std::u16string key = u"p" + desk::DecimalText(made++);
    Add(u"", key, u"closed");
    if (hadChild) Add(key, key + u"c", u"child");
    Coll().Find(key)->SetExpanded(open);
    QAbstractItemModel& m = *Widget()->model();
    const QModelIndex p = m.index(m.rowCount() - 1, 0);
    if (read) read(m, p);
    int announced = 0;
    auto counting = QObject::connect(&m, &QAbstractItemModel::rowsInserted, [&](const QModelIndex& at) { announced += at == p; });
    for (int i = 0; i < 3; ++i) Add(key, key + u"c" + desk::DecimalText(i), u"child");
    EXPECT_EQ(announced, keeps || open ? 3 : 0);
    tester_ = std::make_unique<QAbstractItemModelTester>(&m, QAbstractItemModelTester::FailureReportingMode::Warning);
    QSortFilterProxyModel late;
    late.setSourceModel(&m);
    EXPECT_EQ(late.rowCount(late.mapFromSource(p)), hadChild + 3);
    Add(key, key + u"c3", u"child");
    EXPECT_EQ(late.rowCount(late.mapFromSource(p)), hadChild + 4);
    if (early.sourceModel()) {
      EXPECT_EQ(early.rowCount(early.mapFromSource(p)), hadChild + 4);
    }
    QObject::disconnect(counting);
    early.setSourceModel(nullptr);
    Coll().Find(key)->SetExpanded(true);
    ExpectModelIsTree(reader);
  }
}

TEST_F(QtModel, RandomChangesKeepTheModelTheTree) {
  std::mt19937 rng(12);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  auto anyNode = [&]() -> Node* {
    if (Coll().Count() == 0) return nullptr;
    return Coll().Item(Variant::Long(pick(Coll().Count()) + 1)).get();
  };
  const char16_t* texts[] = {u"b", u"B", u"a", u"c", u"ab", u"A"};
  for (int step = 0; step < 1500; ++step) {
    const int what = pick(12);
    Node* n = anyNode();
    std::string name;
    if (what < 5 || !n) {
      const std::u16string text = texts[pick(6)];
      const auto rel = static_cast<Relationship>(pick(5));
      name = "add";
      if (!n || pick(4) == 0) Coll().AddRoot(u"", text);
      else Coll().Add(*n, rel, u"", text);
    } else if (what < 7) {
      name = "remove";
      if (Coll().Count() > 30 || pick(3) == 0) Coll().Remove(Variant::Object(Ref<desk::Object>(n)));
    } else if (what < 9) {
      name = "expand or collapse";
      n->SetExpanded(!n->Expanded());
    } else if (what < 10) {
      name = "select";
      n->SetSelected(true);
    } else if (pick(5) == 0) {
      name = "sort or unsort";
      Tree().SetSorted(!Tree().Sorted());
    } else if (pick(40) == 0) {
      name = "clear";
      Coll().Clear();
    } else {
      name = "rename";
      n->SetText(texts[pick(6)]);
    }
    ExpectModelIsTree("step " + std::to_string(step) + " (" + name + ")");
    if (HasFatalFailure()) return;
  }
}

// A host that removes a node (or every node) from inside its own Expand or Collapse raised by
// the keyboard: the view lets go of the rows and goes on answering input.
TEST_F(QtModel, ANodeRemovedInsideItsOwnKeyboardEventLeavesTheViewWorking) {
  NodeOf(u"a")->SetExpanded(true);
  DispId removeOn = desk::treeevent::kExpand;
  handler = [&](DispId id, std::vector<Variant>& args) {
    if (id != removeOn) return;
    std::vector<Variant> a{Variant::Object(args[0].ToObject())};
    Nodes()->Invoke(desk::nodesid::kRemove, InvokeKind::Method, a);
  };
  QApplication::setActiveWindow(window_.get());
  Widget()->setFocus(Qt::OtherFocusReason);
  NodeOf(u"a1")->SetSelected(true);
  QTest::keyClick(Widget(), Qt::Key_Right);  // expands a1, whose handler removes it
  EXPECT_EQ(NodeOf(u"a1"), nullptr);
  EXPECT_EQ(NodeOf(u"a111"), nullptr);
  ExpectModelIsTree("removed in Expand");

  removeOn = desk::treeevent::kCollapse;
  Coll().Add(*NodeOf(u"a"), Relationship::Child, u"a2", u"alpha 2");
  NodeOf(u"a")->SetSelected(true);
  QTest::keyClick(Widget(), Qt::Key_Left);  // collapses a, whose handler removes it
  EXPECT_EQ(NodeOf(u"a"), nullptr);
  EXPECT_EQ(NodeOf(u"a2"), nullptr);
  ExpectModelIsTree("removed in Collapse");

  handler = nullptr;
  events.clear();
  QTest::mouseClick(Viewport(), Qt::LeftButton, {}, RowCentre("gamma"));
  EXPECT_EQ(Tree().SelectedNode(), NodeOf(u"c"));
  EXPECT_EQ(Of(desk::treeevent::kNodeClick).size(), 1u);

  // Every node cleared inside a Collapse from the keyboard.
  handler = [&](DispId id, std::vector<Variant>&) {
    std::vector<Variant> none;
    if (id == desk::treeevent::kCollapse) Nodes()->Invoke(desk::nodesid::kClear, InvokeKind::Method, none);
  };
  Coll().Add(*NodeOf(u"c"), Relationship::Child, u"c1", u"gamma 1");
  NodeOf(u"c")->SetExpanded(true);
  QTest::keyClick(Widget(), Qt::Key_Left);
  EXPECT_EQ(Coll().Count(), 0);
  ExpectModelIsTree("cleared in Collapse");
  handler = nullptr;
  Add(u"", u"d", u"delta");
  QTest::mouseClick(Viewport(), Qt::LeftButton, {}, RowCentre("delta"));
  EXPECT_EQ(Tree().SelectedNode(), NodeOf(u"d"));
}

// A sorted root renamed through the real label editor moves while the editor closes; it stays
// expanded and current, and the view goes on answering the keyboard from its new row.
TEST_F(QtModel, ASortedRootRenamedInTheEditorMovesWithItsState) {
  Tree().SetSorted(true);
  NodeOf(u"a")->SetExpanded(true);
  QApplication::setActiveWindow(window_.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  Widget()->setFocus(Qt::OtherFocusReason);
  NodeOf(u"a")->SetSelected(true);
  QTest::keyClick(Widget(), Qt::Key_F2);
  auto* editor = qobject_cast<QLineEdit*>(Widget()->indexWidget(Widget()->currentIndex()));
  ASSERT_NE(editor, nullptr);
  editor->clear();
  QTest::keyClicks(editor, "zebra");
  QTest::keyClick(editor, Qt::Key_Return);
  QApplication::processEvents();
  EXPECT_EQ(NodeOf(u"a")->Text(), u"zebra");
  ExpectModelIsTree("renamed in the editor");
  EXPECT_EQ(Widget()->model()->index(2, 0).internalPointer(), NodeOf(u"a"));  // after beta and gamma
  EXPECT_EQ(Widget()->currentIndex().internalPointer(), NodeOf(u"a"));

  QTest::keyClick(Widget(), Qt::Key_Down);  // onto its first child, shown under its new row
  EXPECT_EQ(Tree().SelectedNode(), NodeOf(u"a1"));
}

// Refresh reads the settings again but leaves the rows alone: no reset, so the current row,
// the expanded rows and an open label editor stay.
TEST_F(QtModel, RefreshKeepsTheRowsAndTheEditor) {
  Tree().SetSorted(true);
  NodeOf(u"a")->SetExpanded(true);
  NodeOf(u"a1")->SetSelected(true);
  Tree().StartLabelEdit();
  ASSERT_NE(Widget()->indexWidget(Widget()->currentIndex()), nullptr);
  QSignalSpy resets(Widget()->model(), &QAbstractItemModel::modelReset);
  Call(control_, u"Refresh", InvokeKind::Method);
  QApplication::processEvents();
  EXPECT_EQ(resets.count(), 0);
  EXPECT_NE(Widget()->indexWidget(Widget()->currentIndex()), nullptr);
  EXPECT_EQ(Widget()->currentIndex().internalPointer(), NodeOf(u"a1"));
  ExpectModelIsTree("refreshed");
}


// A run of expand, collapse, add and remove calls made with no turn of the event loop between
// them is laid out by the view once; what the host observes must not show it. Each run is made
// once a call at a time (the event loop turning after each call) and once all at once, and the
// events, the nodes' values and what HitTest and the view answer right after the run agree.
class QtBatch : public QtHost {
 protected:
  struct Observed {
    std::vector<std::u16string> events;  // "Expand r1", "Collapse r1", ...
    std::vector<std::u16string> values;  // each node in Nodes order: key, Index, Expanded, Children, Next, Previous
    std::vector<std::u16string> hits;    // HitTest down the window
    std::vector<std::u16string> rows;    // the rows the view lays out
    int scrollRange = 0;
    bool operator==(const Observed&) const = default;
  };

  static std::u16string KeyOf(const Variant& v) {
    auto* n = v.IsObject() && v.RawObject() ? dynamic_cast<Node*>(v.RawObject().get()) : nullptr;
    return n ? n->Key() : u"-";
  }

  // Six roots r0..r5 of four children each (r0c0..r5c3), r4 expanded; laid out.
  void Build() {
    Call(Nodes(), u"Clear", InvokeKind::Method);
    for (int r = 0; r < 6; ++r) {
      const std::u16string root = u"r" + desk::DecimalText(r);
      Add(u"", root, root);
      for (int c = 0; c < 4; ++c) Add(root, root + u"c" + desk::DecimalText(c), root + u" child");
    }
    Call(Call(Nodes(), u"Item", InvokeKind::Method, {Variant::String(u"r4")}).ToObject(), u"Expanded", InvokeKind::Let,
         {Variant::Bool(true)});
    QApplication::processEvents();
    events.clear();
  }

  Observed Observe() {
    Observed o;
    for (const Recorded& r : events)  // each event's id, and its node if it has one
      o.events.push_back(desk::DecimalText(r.id) + u" " + (r.values.empty() ? u"" : KeyOf(r.values[0])));
    const int32_t count = Call(Nodes(), u"Count", InvokeKind::Get).ToLong();
    for (int32_t i = 1; i <= count; ++i) {
      Ref<desk::Object> n = Call(Nodes(), u"Item", InvokeKind::Method, {Variant::Long(i)}).ToObject();
      std::u16string v = Call(n, u"Key", InvokeKind::Get).ToString();
      for (const char16_t* m : {u"Index", u"Expanded", u"Children"}) v += u" " + Call(n, m, InvokeKind::Get).ToString();
      for (const char16_t* m : {u"Next", u"Previous"}) v += u" " + KeyOf(Call(n, m, InvokeKind::Get));
      o.values.push_back(v);
    }
    for (int y = 2; y < Viewport()->height(); y += 7) {
      const QPointF at = InTwips(QPoint(30, y));
      o.hits.push_back(KeyOf(Call(control_, u"DoHitTest", InvokeKind::Method,
                                  {Variant::Integer(static_cast<int16_t>(at.x())), Variant::Integer(static_cast<int16_t>(at.y()))})));
    }
    for (const QModelIndex& i : LaidOut()) o.rows.push_back(static_cast<Node*>(i.internalPointer())->Key());
    o.scrollRange = Widget()->verticalScrollBar()->maximum();
    return o;
  }
};

TEST_F(QtBatch, ARunOfChangesReadsBackAsTheSameCallsOneAtATime) {
  using Step = std::function<void()>;
  auto node = [&](const char16_t* key) {
    return Call(Nodes(), u"Item", InvokeKind::Method, {Variant::String(key)}).ToObject();
  };
  auto expand = [&](const char16_t* key, bool on) -> Step {
    return [=] { Call(node(key), u"Expanded", InvokeKind::Let, {Variant::Bool(on)}); };
  };
  auto add = [&](const char16_t* parent, const char16_t* key) -> Step {
    return [=, this] { Add(parent, key, key); };
  };
  auto remove = [&](const char16_t* key) -> Step {
    return [=, this] { Call(Nodes(), u"Remove", InvokeKind::Method, {Variant::String(key)}); };
  };
  auto addBeside = [&](const char16_t* relative, int relationship, const char16_t* key) -> Step {
    return [=, this] {
      Call(Nodes(), u"Add", InvokeKind::Method,
           {Variant::String(relative), Variant::Integer(static_cast<int16_t>(relationship)), Variant::String(key),
            Variant::String(key)});
    };
  };
  auto select = [&](const char16_t* key) -> Step {
    return [=] { Call(node(key), u"Selected", InvokeKind::Let, {Variant::Bool(true)}); };
  };
  const std::pair<const char*, std::vector<Step>> runs[] = {
      {"adds inside a run, before it, and under a node of it",
       {add(u"r0", u"x10"), add(u"r0", u"x11"), addBeside(u"x10", 2, u"x12"), addBeside(u"r0c0", 3, u"x13"),
        add(u"x11", u"x14"), addBeside(u"x13", 0, u"x15"), expand(u"r0", true), expand(u"x11", true)}},
      {"a node of a run selected, then renamed, then removed",
       {add(u"r4", u"x16"), add(u"r4", u"x17"), select(u"x17"),
        [&] { Call(node(u"x16"), u"Text", InvokeKind::Let, {Variant::String(u"renamed")}); }, add(u"r4", u"x18"),
        remove(u"x17"), add(u"", u"x19")}},
      {"expand every root",
       {expand(u"r0", true), expand(u"r1", true), expand(u"r2", true), expand(u"r3", true), expand(u"r5", true)}},
      {"collapse every root", {expand(u"r4", false), expand(u"r0", false), expand(u"r1", false)}},
      {"expand, then collapse the same roots",
       {expand(u"r2", true), expand(u"r3", true), expand(u"r2", false), expand(u"r0", true), expand(u"r3", false)}},
      {"adds and removes among expands",
       {expand(u"r0", true), add(u"r0", u"x0"), remove(u"r0c1"), expand(u"r2", true), add(u"", u"x1"),
        add(u"r2", u"x2"), expand(u"r0", false), remove(u"r2c0"), expand(u"r5", true), remove(u"r4")}},
      {"an expanded root removed, its neighbour expanded",
       {expand(u"r1", true), remove(u"r1"), expand(u"r0", true), expand(u"r2", true), add(u"r0", u"x3")}},
      {"a node expanded before its children come",
       {add(u"", u"x4"), expand(u"x4", true), add(u"x4", u"x5"), add(u"x4", u"x6"), expand(u"r4", false)}},
      {"everything collapsed, then cleared and refilled",
       {expand(u"r4", false), expand(u"r0", true), [&] { Call(Nodes(), u"Clear", InvokeKind::Method); },
        add(u"", u"x7"), add(u"x7", u"x8"), expand(u"x7", true)}},
      // Last: Sorted stays on.
      {"sorted: children held while their root is renamed",
       {[&] { Call(control_, u"Sorted", InvokeKind::Let, {Variant::Bool(true)}); }, add(u"r2", u"x20"),
        add(u"r2", u"x21"), [&] { Call(node(u"r2"), u"Text", InvokeKind::Let, {Variant::String(u"a")}); },
        add(u"r2", u"x22"), expand(u"r2", true), add(u"", u"b0"), add(u"", u"A0")}},
  };
  // Qt's model tester reads every node after each change, so that nothing goes unannounced:
  // the runs go once watched by it and once as a host without it meets them.
  for (const bool watched : {true, false}) for (const auto& [name, steps] : runs) {
    SCOPED_TRACE(watched ? "watched" : "unwatched");
    if (!watched) tester_.reset();
    Build();
    const Observed before = Observe();
    for (const Step& s : steps) {
      s();
      QApplication::processEvents();
    }
    const Observed oneAtATime = Observe();
    Build();
    for (const Step& s : steps) s();
    const Observed batched = Observe();
    EXPECT_EQ(batched.events, oneAtATime.events) << name;
    EXPECT_EQ(batched.values, oneAtATime.values) << name;
    EXPECT_EQ(batched.hits, oneAtATime.hits) << name;
    EXPECT_EQ(batched.rows, oneAtATime.rows) << name;
    EXPECT_EQ(batched.scrollRange, oneAtATime.scrollRange) << name;
    EXPECT_FALSE(oneAtATime.values == before.values && oneAtATime.rows == before.rows) << name << " changed nothing";
    QApplication::processEvents();
    EXPECT_TRUE(Observe() == batched) << name << ": the view changed once the event loop turned";
  }
}

}  // namespace
}  // namespace desk_qt_test
