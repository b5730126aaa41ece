// The second class on screen: an expander before the children come (in the Expand event or
// later from the event loop), and typed characters finding rows, in both directions with Qt's
// model tester watching (the fixture's).
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <string>

#include "VarbelTreeviewControlEx.h"
#include "desk/text.h"
#include "desk/tree_selection.h"
#include "qt_fixture.h"

namespace desk_qt_test {
namespace {

namespace ev = desk::treeevent;

class QtOnDemandHost : public QtHost {
 protected:
  const char* ClassId() const override { return varbel::kControlExClsid; }
  void SetUp() override {
    QtHost::SetUp();
    for (const char16_t* k : {u"apple", u"folder", u"cherry"}) Add(u"", k, k);
    FolderOnDemand(true);
  }
  void FolderOnDemand(bool on) {
    Call(control_, u"SetNodeChildrenOnDemand", InvokeKind::Method, {Variant::Object(Ref<desk::Object>(NodeOf(u"folder"))), Variant::Bool(on)});
    QApplication::processEvents();
  }
  void OpenByDoubleClick(const char* text) {
    const QPoint at = RowCentre(text);
    QTest::mouseClick(Viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(Viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(Viewport(), Qt::LeftButton, {}, at);
  }
  // The rows the view shows, by text, top to bottom.
  std::string Shown() {
    std::string s;
    for (const QModelIndex& i : LaidOut(Widget()->indexAt(QPoint(1, 1))))
      s += (s.empty() ? "" : " ") + i.data().toString().toStdString();
    return s;
  }
};

class QtOnDemand : public InBothDirections<QtOnDemandHost> {};

TEST_P(QtOnDemand, TheChildrenComeInTheExpandEventOrLater) {
  EXPECT_TRUE(Widget()->model()->hasChildren(ItemOf("folder")));
  EXPECT_FALSE(Widget()->model()->hasChildren(ItemOf("apple")));
  for (const bool later : {false, true}) {
    SCOPED_TRACE(later ? "later, from the event loop" : "in the Expand event");
    NodeOf(u"folder")->SetExpanded(false);
    for (const char16_t* k : {u"f1", u"f2"})
      if (NodeOf(k)) Call(Nodes(), u"Remove", InvokeKind::Method, {Variant::String(k)});
    Call(control_, u"ClearSelection", InvokeKind::Method);
    Call(control_, u"SelectionMode", InvokeKind::Let, {Variant::Long(1)});
    Call(control_, u"SetNodeSelected", InvokeKind::Method,
         {Variant::Object(Ref<desk::Object>(NodeOf(u"cherry"))), Variant::Bool(true)});
    int added = 0;
    handler = [&](DispId id, std::vector<Variant>&) {
      if (id != ev::kExpand || NodeOf(u"folder")->Children() > 0) return;
      auto add = [this, &added] {
        for (const char16_t* k : {u"f1", u"f2"}) Add(u"folder", k, k);
        ++added;
      };
      if (later) QTimer::singleShot(200, Widget(), add);
      else add();
    };
    events.clear();
    OpenByDoubleClick("folder");
    handler = nullptr;
    EXPECT_TRUE(NodeOf(u"folder")->Expanded());
    if (later) {
      QApplication::processEvents();
      EXPECT_EQ(added, 0);
      EXPECT_EQ(Shown(), "apple folder cherry");  // open, with nothing under it yet
      EXPECT_TRUE(Of(ev::kCollapse).empty());
      QTRY_COMPARE(added, 1);
    }
    QApplication::processEvents();  // the view shows the new rows when the event loop turns
    EXPECT_EQ(added, 1);
    EXPECT_EQ(Shown(), "apple folder f1 f2 cherry");
    EXPECT_TRUE(Widget()->isExpanded(ItemOf("folder")));
    EXPECT_TRUE(NodeOf(u"folder")->Expanded());
    // The double click made folder the selection; the rows under it came unselected.
    EXPECT_TRUE(Tree().Selection().Contains(*NodeOf(u"folder")));
    EXPECT_FALSE(Tree().Selection().Contains(*NodeOf(u"f1")));
    EXPECT_EQ(Tree().SelectedNode(), NodeOf(u"folder"));
  }
  // Open without children, a double click closes it again (it is drawn open), and so does the
  // key that closes an open node.
  for (const char16_t* k : {u"f1", u"f2"}) Call(Nodes(), u"Remove", InvokeKind::Method, {Variant::String(k)});
  NodeOf(u"folder")->SetExpanded(false);
  for (const bool byKey : {false, true}) {
    SCOPED_TRACE(byKey ? "the key" : "a double click");
    OpenByDoubleClick("folder");
    EXPECT_TRUE(NodeOf(u"folder")->Expanded());
    events.clear();
    if (byKey) QTest::keyClick(Widget(), Mirrored() ? Qt::Key_Right : Qt::Key_Left);
    else OpenByDoubleClick("folder");
    EXPECT_FALSE(NodeOf(u"folder")->Expanded());
    EXPECT_EQ(Of(ev::kCollapse).size(), 1u);
    EXPECT_TRUE(Of(ev::kExpand).empty());
    EXPECT_EQ(Tree().SelectedNode(), NodeOf(u"folder"));  // the key closed it, it did not move
  }
  for (const char16_t* k : {u"f1", u"f2"}) Add(u"folder", k, k);
  // Without children and no longer on demand: no expander.
  for (const char16_t* k : {u"f1", u"f2"}) Call(Nodes(), u"Remove", InvokeKind::Method, {Variant::String(k)});
  EXPECT_TRUE(Widget()->model()->hasChildren(ItemOf("folder")));
  FolderOnDemand(false);
  EXPECT_FALSE(Widget()->model()->hasChildren(ItemOf("folder")));
}

TEST_P(QtOnDemand, TypedCharactersFindRowsFromTheCurrentOneAndWrap) {
  for (const char16_t* k : {u"Mango", u"mate", u"melon"}) Add(u"", k, k);
  Widget()->setFocus();
  QTest::mouseClick(Viewport(), Qt::LeftButton, {}, RowCentre("mate"));
  const struct {
    const char* keys;
    const char* current;
  } steps[] = {
      {"ma", "Mango"},    // a new search starts after the current row and wraps past the last
      {"t", "mate"},      // "mat", typed within the pause, goes on from the current row
      {"zz", "mate"},     // nothing starts with it: the current row stays
      {"c", "cherry"},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.keys);
    QTest::keyClicks(Widget(), s.keys);
    EXPECT_EQ(Widget()->currentIndex().data().toString().toStdString(), s.current);
    EXPECT_EQ(desk::U8(Tree().SelectedNode()->Text()), s.current);
    if (std::string(s.keys) != "ma") QTest::qWait(QApplication::keyboardInputInterval() + 50);
  }
}

// A view state that names children an Expand handler makes: restored, the node opens, its
// children come, and the view scrolls to the one that was first in view.
TEST_P(QtOnDemand, AViewStateScrollsToChildrenMadeOnDemand) {
  handler = [&](DispId id, std::vector<Variant>& args) {
    desk::Node* n = NodeOf(u"folder");
    if (id != ev::kExpand || args.at(0).Value().RawObject().get() != n || n->Children() > 0) return;
    for (int i = 0; i < 40; ++i) Add(u"folder", u"f" + desk::DecimalText(i), u"f" + desk::DecimalText(i));
  };
  NodeOf(u"folder")->SetExpanded(true);
  NodeOf(u"f20")->SetSelected(true);
  Tree().ScrollToTop(*NodeOf(u"f20"));
  ASSERT_EQ(Tree().TopNode(), NodeOf(u"f20"));
  const Variant state = Call(control_, u"SaveViewState", InvokeKind::Method);
  NodeOf(u"folder")->SetExpanded(false);
  for (int i = 0; i < 40; ++i) Call(Nodes(), u"Remove", InvokeKind::Method, {Variant::String(u"f" + desk::DecimalText(i))});
  Tree().ScrollToTop(*NodeOf(u"apple"));

  Call(control_, u"RestoreViewState", InvokeKind::Method, {state});
  handler = nullptr;
  EXPECT_EQ(NodeOf(u"folder")->Children(), 40);
  EXPECT_EQ(Tree().SelectedNode(), NodeOf(u"f20"));
  EXPECT_EQ(Tree().TopNode(), NodeOf(u"f20"));
  QApplication::processEvents();
  EXPECT_TRUE(Widget()->isExpanded(ItemOf("folder")));
  EXPECT_EQ(Tree().TopNode(), NodeOf(u"f20"));
}

DESK_IN_BOTH_DIRECTIONS(QtOnDemand);

// A view state saved in one process and restored in another: the same expanded nodes, the same
// selection and current node, the same first row in view. The other process is this program
// running the second test, which does nothing unless it is given the state.
class QtViewStateHost : public QtHost {
 protected:
  const char* ClassId() const override { return varbel::kControlExClsid; }
  // 60 roots of 4 children each (the fixture's model tester checks the model at each change).
  void Fill() {
    desk::Nodes& n = Tree().NodeCollection();
    for (int r = 0; r < 60; ++r) {
      const std::u16string key = u"r" + desk::DecimalText(r);
      Ref<desk::Node> root = n.AddRoot(key, key);
      for (int c = 0; c < 4; ++c) n.Add(*root, desk::Relationship::Child, key + u"c" + desk::DecimalText(c), u"child");
    }
    Call(control_, u"SelectionMode", InvokeKind::Let, {Variant::Long(1)});
  }
  std::string Seen() {
    std::string s = "expanded:";
    for (desk::Node* r = Tree().FirstRoot(); r; r = r->Next())
      if (r->Expanded()) s += " " + desk::U8(r->Key());
    s += " selected:";
    for (desk::Node* n : Tree().Selection().SelectedNodes()) s += " " + desk::U8(n->Key());
    desk::Node* cur = Tree().SelectedNode();
    desk::Node* top = Tree().TopNode();
    return s + " current: " + (cur ? desk::U8(cur->Key()) : "-") + " top: " + (top ? desk::U8(top->Key()) : "-");
  }
  static bool WriteFile(const QString& path, const std::string& text) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text.c_str()) == qint64(text.size());
  }
};

TEST_F(QtViewStateHost, RestoredInAnotherProcess) {
  Fill();
  for (int r = 0; r < 60; r += 3) NodeOf(u"r" + desk::DecimalText(r))->SetExpanded(true);
  Tree().Selection().Click(*NodeOf(u"r30c1"), false, false);
  Tree().Selection().Click(*NodeOf(u"r34"), true, false);  // a Shift range over an expanded root
  Tree().ScrollToTop(*NodeOf(u"r24c2"));
  const std::string before = Seen();
  ASSERT_NE(before.find("current: r34 top: r24c2"), std::string::npos) << before;
  const Variant state = Call(control_, u"SaveViewState", InvokeKind::Method);

  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ASSERT_TRUE(WriteFile(dir.filePath("state.json"), desk::U8(state.ToString())));
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DESK_TEST_VIEW_STATE", dir.filePath("state.json"));
  env.insert("DESK_TEST_VIEW_SEEN", dir.filePath("seen.txt"));
  child.setProcessEnvironment(env);
  child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=QtViewStateHost.RestoresWhatAnotherProcessSaved"});
  ASSERT_TRUE(child.waitForFinished(60000));
  EXPECT_EQ(child.exitCode(), 0) << child.readAllStandardOutput().toStdString();
  QFile seen(dir.filePath("seen.txt"));
  ASSERT_TRUE(seen.open(QIODevice::ReadOnly));
  EXPECT_EQ(seen.readAll().toStdString(), before);
}

TEST_F(QtViewStateHost, RestoresWhatAnotherProcessSaved) {
  const QString statePath = qEnvironmentVariable("DESK_TEST_VIEW_STATE");
  if (statePath.isEmpty()) GTEST_SKIP() << "run by RestoredInAnotherProcess";
  Fill();
  QFile in(statePath);
  ASSERT_TRUE(in.open(QIODevice::ReadOnly));
  Call(control_, u"RestoreViewState", InvokeKind::Method, {Variant::String(desk::U16(in.readAll().toStdString()))});
  ASSERT_TRUE(WriteFile(qEnvironmentVariable("DESK_TEST_VIEW_SEEN"), Seen()));
}

}  // namespace
}  // namespace desk_qt_test
