// What the Qt tree draws for its settings: lines and plus/minus boxes by Style and
// LineStyle, the selection's extent by FullRowSelect, and its look without the focus by
// HideSelection. Checked on the widget's own rendering.
#include <QStyle>

#include "qt_fixture.h"

namespace desk_qt_test {
namespace {

class QtDrawing : public QtHost {
 protected:
  void SetUp() override {
    QtHost::SetUp();
    if (HasFatalFailure()) return;
    Add(u"", u"root", u"root");
    Add(u"root", u"kid", u"kid");
    Add(u"kid", u"grandkid", u"grandkid");
    Add(u"root", u"kid2", u"second kid");
    NodeOf(u"root")->SetExpanded(true);
    QApplication::processEvents();
  }
  void Set(const char16_t* name, Variant v) { Call(control_, name, InvokeKind::Let, {std::move(v)}); }
  QImage Shot() {
    QApplication::processEvents();
    return Viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  }
  // Pixels of `colour` in a rectangle of the viewport; `tolerance` per channel, since a
  // style may shade a selection.
  static int Count(const QImage& img, const QRect& r, QColor colour, int tolerance = 0) {
    int n = 0;
    for (int y = std::max(0, r.top()); y <= std::min(img.height() - 1, r.bottom()); ++y)
      for (int x = std::max(0, r.left()); x <= std::min(img.width() - 1, r.right()); ++x) {
        const QRgb p = img.pixel(x, y);
        n += std::abs(qRed(p) - colour.red()) <= tolerance && std::abs(qGreen(p) - colour.green()) <= tolerance &&
             std::abs(qBlue(p) - colour.blue()) <= tolerance;
      }
    return n;
  }
  // The area left of a row's label: its branch cells.
  QRect BranchArea(const QString& text) {
    const QRect r = Widget()->visualRect(ItemOf(text));
    return QRect(0, r.top(), r.left(), r.height());
  }
  QColor Dark() { return Widget()->palette().color(QPalette::Dark); }
};

TEST_F(QtDrawing, LinesAndPlusMinusFollowStyle) {
  Set(u"LineStyle", Variant::Long(1));
  Set(u"Indentation", Variant::Single(300));
  struct {
    int32_t style;
    bool lines;
    bool box;
  } const cases[] = {{0, false, false}, {1, false, false}, {2, false, true}, {4, true, false}, {6, true, true}, {7, true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.style);
    Set(u"Style", Variant::Long(c.style));
    const QImage img = Shot();
    // A leaf's cells hold lines only; the root's own cell holds its box.
    EXPECT_EQ(Count(img, BranchArea("second kid"), Dark()) > 0, c.lines);
    const QRect rootCell = BranchArea("root");
    const int rootDark = Count(img, rootCell, Dark());
    if (c.box) {
      EXPECT_GE(rootDark, 20);  // the box's outline
    } else if (!c.lines) {
      EXPECT_EQ(rootDark, 0);
    }
  }
}

TEST_F(QtDrawing, WithoutRootLinesRootsHaveNoBranchCell) {
  Set(u"Style", Variant::Long(7));
  Set(u"LineStyle", Variant::Long(0));
  QApplication::processEvents();
  EXPECT_EQ(Widget()->visualRect(ItemOf("root")).left(), 0);
  Set(u"LineStyle", Variant::Long(1));
  QApplication::processEvents();
  EXPECT_EQ(Widget()->visualRect(ItemOf("root")).left(), Widget()->indentation());
}

TEST_F(QtDrawing, FullRowSelectHighlightsTheWholeRow) {
  NodeOf(u"kid")->SetSelected(true);
  Widget()->setFocus();
  const QColor highlight = Widget()->palette().color(QPalette::Active, QPalette::Highlight);
  auto rightEnd = [&] {
    const QRect r = Widget()->visualRect(ItemOf("kid"));
    return QRect(Viewport()->width() - 12, r.top() + 2, 8, r.height() - 4);
  };
  constexpr int kShade = 30;
  Set(u"FullRowSelect", Variant::Bool(false));
  QImage img = Shot();
  const QRect label = Widget()->visualRect(ItemOf("kid"));
  const QRect probe(label.left() + 2, label.top() + 2, 6, label.height() - 4);
  EXPECT_GT(Count(img, probe, highlight, kShade), probe.width() * probe.height() / 2);
  EXPECT_EQ(Count(img, rightEnd(), highlight, kShade), 0);
  EXPECT_EQ(Count(img, BranchArea("kid"), highlight, kShade), 0);
  Set(u"FullRowSelect", Variant::Bool(true));
  img = Shot();
  const QRect right = rightEnd();
  EXPECT_GT(Count(img, right, highlight, kShade), right.width() * right.height() / 2);
  EXPECT_GT(Count(img, BranchArea("kid"), highlight, kShade), BranchArea("kid").width() * 4);
}

TEST_F(QtDrawing, HideSelectionHidesItWithoutTheFocus) {
  NodeOf(u"kid")->SetSelected(true);
  edit_->setFocus();  // the tree has no focus
  QApplication::processEvents();
  ASSERT_FALSE(Widget()->hasFocus());
  const QRect label = Widget()->visualRect(ItemOf("kid"));
  const QRect probe(label.left() + 2, label.top() + 2, 6, label.height() - 4);
  Set(u"HideSelection", Variant::Bool(false));
  const QColor shown = Widget()->palette().color(QPalette::Inactive, QPalette::Highlight);
  EXPECT_GT(Count(Shot(), probe, shown, 30), probe.width() * probe.height() / 2);
  Set(u"HideSelection", Variant::Bool(true));
  const QColor hidden = Widget()->palette().color(QPalette::Inactive, QPalette::Highlight);
  EXPECT_EQ(Count(Shot(), probe, shown, 30), 0);
  EXPECT_EQ(hidden, Widget()->palette().color(QPalette::Inactive, QPalette::Base));
}

TEST_F(QtDrawing, AutomaticDragStartsFromTheMouseGesture) {
  Set(u"OLEDragMode", Variant::Long(1));
  std::u16string offered;
  handler = [&](DispId id, std::vector<Variant>& a) {
    if (id == desk::treeevent::kOLEStartDrag)
      offered = Call(a[0].ToObject(), u"GetData", InvokeKind::Method, {Variant::Integer(1)}).ToString();
  };
  const QPoint from = RowCentre("kid");
  QTest::mousePress(Viewport(), Qt::LeftButton, {}, from);
  for (int step = 1; step <= 4; ++step) {
    const QPoint to = from + QPoint(0, step * QApplication::startDragDistance());
    QMouseEvent move(QEvent::MouseMove, QPointF(to), Viewport()->mapToGlobal(QPointF(to)), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(Viewport(), &move);
  }
  QTest::mouseRelease(Viewport(), Qt::LeftButton, {}, from);
  ASSERT_EQ(Of(desk::treeevent::kOLEStartDrag).size(), 1u);
  EXPECT_EQ(offered, u"kid");  // the dragged node's text
  EXPECT_EQ(Of(desk::treeevent::kOLECompleteDrag).size(), 1u);

  // Manual mode: the same gesture starts nothing.
  events.clear();
  Set(u"OLEDragMode", Variant::Long(0));
  QTest::mousePress(Viewport(), Qt::LeftButton, {}, from);
  const QPoint to = from + QPoint(0, 4 * QApplication::startDragDistance());
  QMouseEvent move(QEvent::MouseMove, QPointF(to), Viewport()->mapToGlobal(QPointF(to)), Qt::NoButton, Qt::LeftButton,
                   Qt::NoModifier);
  QApplication::sendEvent(Viewport(), &move);
  QTest::mouseRelease(Viewport(), Qt::LeftButton, {}, from);
  EXPECT_TRUE(Of(desk::treeevent::kOLEStartDrag).empty());
}

}  // namespace
}  // namespace desk_qt_test
