// The tree as a screen reader sees it through Qt's accessibility interface: only tree items,
// named and stated as the nodes are, the name the host gave the control, and the focus and
// selection changes announced by rows that are the interface's own.
#include <QAccessible>

#include "qt_fixture.h"

#ifdef DESK_QT_GUI_PRIVATE
#include <private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>
#endif

namespace desk_qt_test {
namespace {

struct Announced {
  QAccessible::Event type;
  QString item;  // the name of the row the event is about; empty for the view itself
};

std::vector<Announced>& Heard() {
  static std::vector<Announced> heard;
  return heard;
}

class QtAccessible : public QtHost {
 protected:
  void SetUp() override {
    QtHost::SetUp();
    if (HasFatalFailure()) return;
    Add(u"", u"fruit", u"fruit");
    Add(u"fruit", u"apple", u"apple");
    Add(u"fruit", u"pear", u"pear");
    Add(u"", u"veg", u"veg");
    Add(u"veg", u"leek", u"leek");
    NodeOf(u"fruit")->SetExpanded(true);
    QApplication::processEvents();
    Heard().clear();
    // As an assistive technology connected to the application would.
    previous_ = QAccessible::installUpdateHandler([](QAccessibleEvent* e) {
      if (e->object() != TreeView()) return;
      QAccessibleInterface* about = e->accessibleInterface();
      Heard().push_back({e->type(), e->child() >= 0 && about ? about->text(QAccessible::Name) : QString()});
    });
    TreeView() = Widget();
  }
  void TearDown() override {
    QAccessible::installUpdateHandler(previous_);
    SetActive(false);
    TreeView() = nullptr;
    QtHost::TearDown();
  }
  static QObject*& TreeView() {
    static QObject* view = nullptr;
    return view;
  }
  // Whether events reach the handler: as when a screen reader is running. False when Qt's
  // private interface to switch it on is not there.
  static bool SetActive(bool active) {
#ifdef DESK_QT_GUI_PRIVATE
    if (QPlatformAccessibility* a = QGuiApplicationPrivate::platformIntegration()->accessibility()) a->setActive(active);
#endif
    return QAccessible::isActive() == active;
  }
  QAccessibleInterface* Tree() { return QAccessible::queryAccessibleInterface(Widget()); }
  std::vector<QString> Names() {
    std::vector<QString> out;
    for (int i = 0; i < Tree()->childCount(); ++i) out.push_back(Tree()->child(i)->text(QAccessible::Name));
    return out;
  }

  QAccessible::UpdateHandler previous_ = nullptr;
};

TEST_F(QtAccessible, ListsTheRowsShownAsTreeItemsAndNoHeader) {
  QAccessibleInterface* tree = Tree();
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->role(), QAccessible::Tree);
  EXPECT_EQ(Names(), (std::vector<QString>{"fruit", "apple", "pear", "veg"}));
  for (int i = 0; i < tree->childCount(); ++i) {
    QAccessibleInterface* item = tree->child(i);
    EXPECT_EQ(item->role(), QAccessible::TreeItem) << i;
    EXPECT_EQ(item->parent(), tree);
    EXPECT_EQ(tree->indexOfChild(item), i);
    EXPECT_EQ(item->tableCellInterface()->rowIndex(), i);
  }
  ASSERT_NE(tree->tableInterface(), nullptr);
  EXPECT_EQ(tree->tableInterface()->rowCount(), 4);
  EXPECT_EQ(tree->tableInterface()->columnCount(), 1);
  EXPECT_EQ(tree->tableInterface()->cellAt(3, 0)->text(QAccessible::Name), "veg");

  // States follow the nodes: expanded, collapsed, leaf; checked with check boxes.
  EXPECT_TRUE(tree->child(0)->state().expanded);
  EXPECT_TRUE(tree->child(3)->state().collapsed);
  EXPECT_FALSE(tree->child(1)->state().expandable);
  EXPECT_FALSE(tree->child(1)->state().checkable);
  Call(control_, u"Checkboxes", InvokeKind::Let, {Variant::Bool(true)});
  NodeOf(u"pear")->SetChecked(true);
  EXPECT_TRUE(tree->child(2)->state().checkable);
  EXPECT_TRUE(tree->child(2)->state().checked);
  EXPECT_FALSE(tree->child(1)->state().checked);

  // The rows follow the tree: expanding, removing and adding nodes.
  NodeOf(u"veg")->SetExpanded(true);
  NodeOf(u"fruit")->SetExpanded(false);
  Add(u"", u"nuts", u"nuts");
  Call(Nodes(), u"Remove", InvokeKind::Method, {Variant::String(u"leek")});
  QApplication::processEvents();
  EXPECT_EQ(Names(), (std::vector<QString>{"fruit", "veg", "nuts"}));
  const QPoint nuts = Viewport()->mapToGlobal(RowCentre("nuts"));
  ASSERT_NE(tree->childAt(nuts.x(), nuts.y()), nullptr);
  EXPECT_EQ(tree->childAt(nuts.x(), nuts.y())->text(QAccessible::Name), "nuts");
}

TEST_F(QtAccessible, NameAndDescriptionAreTheControlWidgets) {
  QWidget* control = desk::ControlWidget(*control_);
  control->setAccessibleName("Folders");
  control->setAccessibleDescription("The folders of the mailbox");
  EXPECT_EQ(Tree()->text(QAccessible::Name), "Folders");
  EXPECT_EQ(Tree()->text(QAccessible::Description), "The folders of the mailbox");
  control->setAccessibleName("Mail folders");
  EXPECT_EQ(Tree()->text(QAccessible::Name), "Mail folders");
  Widget()->setAccessibleName("Set on the view");  // the view's own wins
  EXPECT_EQ(Tree()->text(QAccessible::Name), "Set on the view");
}

TEST_F(QtAccessible, FocusAndSelectionChangesAnnounceTheRow) {
  if (!SetActive(true)) GTEST_SKIP() << "no way to switch accessibility on without Qt's private headers";
  QApplication::setActiveWindow(window_.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  Widget()->setFocus(Qt::OtherFocusReason);
  NodeOf(u"apple")->SetSelected(true);
  QApplication::processEvents();
  // Each step as QTreeView announces it: the row selected, the row let go, the focus; by the
  // interface's own child index, so that each event names its row.
  struct Step {
    Qt::Key key;
    std::vector<std::pair<QAccessible::Event, QString>> heard;
  } const steps[] = {
      {Qt::Key_Down, {{QAccessible::SelectionAdd, "pear"}, {QAccessible::SelectionRemove, "apple"}, {QAccessible::Focus, "pear"}}},
      {Qt::Key_Down, {{QAccessible::SelectionAdd, "veg"}, {QAccessible::SelectionRemove, "pear"}, {QAccessible::Focus, "veg"}}},
      {Qt::Key_Right, {}},  // opens "veg": its child becomes a row
      {Qt::Key_Down, {{QAccessible::SelectionAdd, "leek"}, {QAccessible::SelectionRemove, "veg"}, {QAccessible::Focus, "leek"}}},
  };
  for (const Step& step : steps) {
    Heard().clear();
    QTest::keyClick(Widget(), step.key);
    std::vector<std::pair<QAccessible::Event, QString>> heard;
    for (const Announced& a : Heard())
      if (a.type == QAccessible::Focus || a.type == QAccessible::SelectionAdd || a.type == QAccessible::SelectionRemove)
        heard.emplace_back(a.type, a.item);
    EXPECT_EQ(heard, step.heard) << "after key " << step.key;
  }
  EXPECT_EQ(Tree()->focusChild()->text(QAccessible::Name), "leek");
  EXPECT_TRUE(Tree()->focusChild()->state().focused);
  EXPECT_EQ(Tree()->tableInterface()->selectedRows(), QList<int>{4});
}

}  // namespace
}  // namespace desk_qt_test
