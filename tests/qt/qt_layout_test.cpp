// The rows as the view lays them out itself: where the cursor keys land, what a removal or an
// expansion does to the rows below and to the scroll range, and type-ahead among the rows.
#include <QBackingStore>
#include <QHeaderView>
#include <QScrollBar>
#ifdef DESK_QT_GUI_PRIVATE
#include <qpa/qplatformbackingstore.h>
#endif

#include "qt_fixture.h"

namespace desk_qt_test {
namespace {

class QtLayoutHost : public QtHost {
 protected:
  // Three roots of 30 children each, the first and last open.
  void Fill() {
    for (int r = 0; r < 3; ++r) {
      const std::u16string root = u"r" + desk::DecimalText(r);
      Add(u"", root, root);
      for (int c = 0; c < 30; ++c) Add(root, root + u"c" + desk::DecimalText(c), u"child " + desk::DecimalText(c));
    }
    NodeOf(u"r0")->SetExpanded(true);
    NodeOf(u"r2")->SetExpanded(true);
    QApplication::processEvents();
  }
  desk::qtb::TreeWidget* View() { return static_cast<desk::qtb::TreeWidget*>(Widget()); }
  int64_t CurrentRow() { return View()->RowOfIndex(Widget()->currentIndex()); }
  bool CurrentWhollyInView() {
    const QRect r = Widget()->visualRect(Widget()->currentIndex());
    return r.isValid() && Viewport()->rect().contains(QRect(Viewport()->rect().left(), r.top(), 1, r.height()));
  }
};

class QtLayout : public InBothDirections<QtLayoutHost> {};

TEST_P(QtLayout, CursorKeysLandWhereQTreeViewPutsThemAndKeepTheRowInView) {
  Fill();
  const uint64_t listed = desk::qtb::TreeWidget::Listings();
  Widget()->setFocus();
  // A click on the first row selects it alone.
  Click("r0");
  EXPECT_EQ(Widget()->selectionModel()->selectedIndexes(), QModelIndexList{ItemOf("r0")});
  const int64_t rows = View()->RowCount();
  ASSERT_EQ(rows, 63);
  const int64_t page = Viewport()->height() / View()->RowHeight();
  const int64_t pageUp = (Viewport()->height() + View()->RowHeight() - 1) / View()->RowHeight();
  const Qt::Key open = Mirrored() ? Qt::Key_Left : Qt::Key_Right, close = Mirrored() ? Qt::Key_Right : Qt::Key_Left;
  const struct {
    Qt::Key key;
    int64_t row;
  } steps[] = {
      {Qt::Key_Down, 1},  {Qt::Key_PageDown, 1 + page}, {Qt::Key_PageDown, 1 + 2 * page},
      {Qt::Key_End, 62},  {Qt::Key_Down, 62},           {Qt::Key_PageUp, 62 - pageUp},
      {Qt::Key_Home, 0},  {Qt::Key_Up, 0},              {Qt::Key_End, 62},
      {Qt::Key_PageDown, 62},
  };
  for (const auto& s : steps) {
    QTest::keyClick(Widget(), s.key);
    EXPECT_EQ(CurrentRow(), s.row) << QKeySequence(s.key).toString().toStdString();
    EXPECT_TRUE(CurrentWhollyInView()) << QKeySequence(s.key).toString().toStdString();
  }
  // The closed root in the middle: the arrow toward the label opens it without moving, the
  // other closes it.
  Widget()->setCurrentIndex(ItemOf("r1"));
  QTest::keyClick(Widget(), open);
  EXPECT_TRUE(NodeOf(u"r1")->Expanded());
  EXPECT_EQ(View()->RowCount(), 93);
  EXPECT_EQ(CurrentRow(), 31);
  QTest::keyClick(Widget(), close);
  EXPECT_FALSE(NodeOf(u"r1")->Expanded());
  EXPECT_EQ(View()->RowCount(), 63);
  // The asterisk opens the row and everything under it.
  QTest::keyClick(Widget(), Qt::Key_Asterisk);
  EXPECT_TRUE(NodeOf(u"r1")->Expanded());
  EXPECT_EQ(View()->RowCount(), 93);
  // Without a filter every row came from the tree's row index: none was listed.
  EXPECT_EQ(desk::qtb::TreeWidget::Listings(), listed);
}

TEST_P(QtLayout, RowsBelowAChangeMoveAndTheScrollRangeFollows) {
  Fill();
  QScrollBar* bar = Widget()->verticalScrollBar();
  const int max = bar->maximum();
  ASSERT_GT(max, 0);
  const QPoint second(Viewport()->width() / 2, View()->RowHeight() * 2 + 1);
  ASSERT_EQ(Widget()->indexAt(second).data().toString(), "child 1");
  Call(Nodes(), u"Remove", InvokeKind::Method, {Variant::String(u"r0c0")});
  QApplication::processEvents();
  EXPECT_EQ(Widget()->indexAt(second).data().toString(), "child 2");
  EXPECT_EQ(bar->maximum(), max - 1);
  // Under a closed root nothing is laid out; opened, its rows come after it.
  const QModelIndex hidden = Widget()->model()->index(0, 0, ItemOf("r1"));
  EXPECT_FALSE(Widget()->visualRect(hidden).isValid());
  EXPECT_EQ(View()->RowOfIndex(hidden), -1);
  NodeOf(u"r1")->SetExpanded(true);
  QApplication::processEvents();
  EXPECT_EQ(View()->RowOfIndex(hidden), View()->RowOfIndex(ItemOf("r1")) + 1);
  EXPECT_EQ(bar->maximum(), max - 1 + 30);
  // QTreeView's own expandAll and collapseAll still open and close every node, through the tree,
  // with changes between them.
  Widget()->expandAll();
  EXPECT_TRUE(NodeOf(u"r1")->Expanded());
  EXPECT_EQ(View()->RowCount(), 92);
  Add(u"r1", u"late", u"late");
  Call(Nodes(), u"Remove", InvokeKind::Method, {Variant::String(u"r2c5")});
  Widget()->expand(ItemOf("late"));
  QApplication::processEvents();
  EXPECT_EQ(View()->RowCount(), 92);
  Widget()->collapseAll();
  QApplication::processEvents();
  EXPECT_FALSE(NodeOf(u"r0")->Expanded());
  EXPECT_EQ(View()->RowCount(), 3);
  Widget()->expandAll();
  // Scrolled to the end, the last row is the bottom one in view.
  Widget()->scrollTo(View()->IndexAtRow(View()->RowCount() - 1));
  const QRect last = Widget()->visualRect(View()->IndexAtRow(View()->RowCount() - 1));
  EXPECT_LE(last.bottom(), Viewport()->rect().bottom());
  EXPECT_GT(last.bottom() + View()->RowHeight(), Viewport()->rect().bottom());
  // A header a host shows stands above the rows.
  Widget()->setHeaderHidden(false);
  QApplication::processEvents();
  EXPECT_GT(Widget()->header()->height(), 0);
  EXPECT_GE(Widget()->header()->geometry().top(), Widget()->contentsRect().top());
  EXPECT_LE(Widget()->header()->geometry().bottom(), Viewport()->geometry().top());
  EXPECT_EQ(Widget()->indexAt(QPoint(5, 1)), View()->IndexAtRow(Widget()->verticalScrollBar()->value()));
}

#ifdef DESK_QT_GUI_PRIVATE
// A removal moves the pixels of the rows below it instead of drawing them again: what the
// window shows afterwards is what a full repaint draws, whatever else changed in the same run.
TEST_P(QtLayout, WhatTheWindowShowsAfterRemovalsIsAFullRepaint) {
  Fill();
  NodeOf(u"r0c4")->SetExpanded(true);
  Add(u"r0c4", u"deep", u"deep");
  auto shown = [&] {
    // A layout made while painting leaves the rest of the window to the next turn.
    for (int turn = 0; turn < 3; ++turn) QApplication::processEvents();
    const QImage store = Widget()->window()->backingStore()->handle()->toImage();
    const QRect vp(Viewport()->mapTo(Widget()->window(), QPoint(0, 0)), Viewport()->size());
    return store.copy(vp).convertToFormat(QImage::Format_RGB32);
  };
  const struct {
    const char* name;
    std::function<void()> change;
  } cases[] = {
      {"a middle row", [&] { Call(Nodes(), u"Remove", InvokeKind::Method, {Variant::String(u"r0c2")}); }},
      {"an open row with its child", [&] { Call(Nodes(), u"Remove", InvokeKind::Method, {Variant::String(u"r0c4")}); }},
      {"a row under a closed one", [&] { Call(Nodes(), u"Remove", InvokeKind::Method, {Variant::String(u"r1c3")}); }},
      {"a row below a renamed and a selected one",
       [&] {
         NodeOf(u"r0c9")->SetText(u"renamed");
         NodeOf(u"r0c8")->SetSelected(true);
         Call(Nodes(), u"Remove", InvokeKind::Method, {Variant::String(u"r0c1")});
       }},
      {"scrolled down", [&] { Widget()->verticalScrollBar()->setValue(3); }},
      {"the first row, scrolled down",
       [&] {
         Call(Nodes(), u"Remove", InvokeKind::Method, {Variant::String(u"r0c0")});
       }},
      {"a row in view, scrolled down", [&] { Call(Nodes(), u"Remove", InvokeKind::Method, {Variant::String(u"r0c6")}); }},
      {"two rows in one run", [&] {
         Call(Nodes(), u"Remove", InvokeKind::Method, {Variant::String(u"r0c10")});
         Call(Nodes(), u"Remove", InvokeKind::Method, {Variant::String(u"r0c11")});
       }},
      // Not a removal: a row drawn closed and childless, which only this view has read, gets
      // a child unannounced and must show its expander.
      {"a first child under a closed row in view", [&] {
         tester_.reset();
         Call(Nodes(), u"Add", InvokeKind::Method,
              {Variant::String(u"r0c7"), Variant::Integer(2), Variant::String(u"fresh"), Variant::String(u"fresh")});
         shown();
         Add(u"fresh", u"freshc", u"child");
       }},
  };
  // What each change has drawn again.
  struct Painted : QObject {
    QRegion region;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) region += static_cast<QPaintEvent*>(e)->region();
      return false;
    }
  } painted;
  shown();  // the window as filled, scroll bar and all
  Viewport()->installEventFilter(&painted);
  for (const auto& c : cases) {
    painted.region = QRegion();
    c.change();
    const QImage after = shown();
    if (std::string(c.name) == "a middle row") {
      // The rows below moved: only the row come into view at the bottom is drawn.
      EXPECT_LE(painted.region.boundingRect().height(), 2 * View()->RowHeight()) << painted.region.boundingRect().height();
    }
    if (std::string(c.name) == "a row under a closed one") {
      EXPECT_TRUE(painted.region.isEmpty());
    }
    const QImage full = Viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    // Moved pixels may differ from drawn ones by a rounding step at an antialiased edge.
    int off = 0;
    for (int y = 0; y < full.height(); ++y)
      for (int x = 0; x < full.width(); ++x) {
        const QRgb p = after.pixel(x, y), q = full.pixel(x, y);
        off += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q)) > 6;
      }
    EXPECT_EQ(off, 0) << c.name;
  }
}
#endif

TEST_P(QtLayout, TypeAheadFindsTheNextShownRowThatStartsWithTheKeys) {
  for (const char16_t* t : {u"apple", u"banana", u"Blueberry", u"cherry"}) Add(u"", t, t);
  Add(u"apple", u"bramble", u"bramble");  // under a closed row: not among the rows
  QApplication::processEvents();
  Widget()->setFocus();
  Widget()->setCurrentIndex(ItemOf("apple"));
  const struct {
    bool pause;  // long enough for the next keys to start a new search
    const char* keys;
    const char* current;
  } steps[] = {
      {false, "b", "banana"}, {false, "b", "Blueberry"}, {false, "b", "banana"},  // the same key steps on
      {true, "c", "cherry"},
      {true, "bl", "Blueberry"},  // letter case aside
      {true, "z", "Blueberry"},   // no row: the current one stays
  };
  const int interval = QApplication::keyboardInputInterval();
  QApplication::setKeyboardInputInterval(300);
  for (const auto& s : steps) {
    if (s.pause) QTest::qWait(350);
    QTest::keyClicks(Widget(), s.keys);
    EXPECT_EQ(Widget()->currentIndex().data().toString().toStdString(), s.current) << s.keys;
  }
  QApplication::setKeyboardInputInterval(interval);
}

DESK_IN_BOTH_DIRECTIONS(QtLayout);

}  // namespace
}  // namespace desk_qt_test
