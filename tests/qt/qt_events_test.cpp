// Real input sent to the Qt tree reaches the host's handlers through the control, and what
// the handlers write back acts on the real widget.
#include <QMimeData>
#include <QStyleOptionViewItem>
#include <cmath>

#include "qt_dnd.h"
#include "qt_fixture.h"

namespace desk_qt_test {
namespace {

namespace ev = desk::treeevent;

class QtEvents : public QtHost {
 protected:
  void SetUp() override {
    QtHost::SetUp();
    if (HasFatalFailure()) return;
    Add(u"", u"apple", u"apple");
    Add(u"", u"banana", u"banana");
    Add(u"banana", u"b1", u"banana split");
    Add(u"", u"cherry", u"cherry");
    QApplication::processEvents();
  }
  void Focus() {
    QApplication::setActiveWindow(window_.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    Widget()->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    ASSERT_TRUE(Widget()->hasFocus());
  }
  void Select(const std::u16string& key) {
    NodeOf(key)->SetSelected(true);
    QApplication::processEvents();
  }
  bool Editing() { return qobject_cast<QLineEdit*>(Widget()->indexWidget(Widget()->currentIndex())) != nullptr; }
  QString CurrentText() { return Widget()->currentIndex().data().toString(); }
};

// The tests of what the tree draws where: once left to right, once mirrored.
class QtInput : public InBothDirections<QtEvents> {
 protected:
  // The columns of a row's top line drawn in the highlight colour.
  std::vector<int> FramedColumns(const QRect& row) {
    QApplication::processEvents();
    const QImage img = Viewport()->grab().toImage();
    const QRgb highlight = Widget()->palette().color(QPalette::Highlight).rgb();
    std::vector<int> out;
    for (int x = 0; x < img.width(); ++x)
      if (img.pixel(x, row.top()) == highlight) out.push_back(x);
    return out;
  }
  // The row's own branch cell, next to its label: left of it, or right of it when mirrored.
  QRect OwnCell(const QString& text) {
    const QRect label = Widget()->visualRect(ItemOf(text));
    const int indent = Widget()->indentation();
    return QRect(Mirrored() ? label.right() + 1 : label.left() - indent, label.top(), indent, label.height());
  }
};

struct MouseCase {
  Qt::MouseButton button;
  Qt::KeyboardModifiers modifiers;
  int16_t buttonArg;
  int16_t shiftArg;
};

TEST_F(QtEvents, MouseDownAndUpCarryButtonShiftAndTwips) {
  const MouseCase cases[] = {
      {Qt::LeftButton, Qt::NoModifier, 1, 0},
      {Qt::LeftButton, Qt::ShiftModifier, 1, 1},
      {Qt::RightButton, Qt::ControlModifier, 2, 2},
      {Qt::MiddleButton, Qt::AltModifier, 4, 4},
      {Qt::LeftButton, Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier, 1, 7},
  };
  for (const MouseCase& c : cases) {
    events.clear();
    const QPoint at = RowCentre("cherry") + QPoint(3, 1);
    QTest::mouseClick(Viewport(), c.button, c.modifiers, at);
    const QPointF t = InTwips(at);
    for (DispId id : {ev::kMouseDown, ev::kMouseUp}) {
      auto got = Of(id);
      ASSERT_EQ(got.size(), 1u) << id;
      EXPECT_EQ(got[0].values[0].RawInteger(), c.buttonArg);
      EXPECT_EQ(got[0].values[1].RawInteger(), c.shiftArg);
      EXPECT_FLOAT_EQ(got[0].values[2].RawSingle(), static_cast<float>(t.x()));
      EXPECT_FLOAT_EQ(got[0].values[3].RawSingle(), static_cast<float>(t.y()));
    }
  }
}

TEST_P(QtInput, LeftClickOnANodeRaisesNodeClickThenClickAndSelectsIt) {
  QTest::mouseClick(Viewport(), Qt::LeftButton, {}, RowCentre("cherry"));
  EXPECT_EQ(IdsAmong({ev::kMouseDown, ev::kNodeClick, ev::kMouseUp, ev::kClick}),
            (std::vector<DispId>{ev::kMouseDown, ev::kNodeClick, ev::kMouseUp, ev::kClick}));
  auto clicks = Of(ev::kNodeClick);
  ASSERT_EQ(clicks.size(), 1u);
  EXPECT_EQ(clicks[0].values[0].RawObject().get(), NodeOf(u"cherry"));  // the tree's own node
  EXPECT_TRUE(NodeOf(u"cherry")->Selected());
  EXPECT_EQ(CurrentText(), "cherry");
}

TEST_F(QtEvents, RightClickLeavesTheSelectionAndRaisesNoClick) {
  Select(u"apple");
  QTest::mouseClick(Viewport(), Qt::RightButton, {}, RowCentre("cherry"));
  EXPECT_TRUE(Of(ev::kNodeClick).empty());
  EXPECT_TRUE(Of(ev::kClick).empty());
  EXPECT_TRUE(NodeOf(u"apple")->Selected());
}

TEST_F(QtEvents, MouseMoveReportsTheButtonsHeld) {
  const QPoint from = RowCentre("apple"), to = RowCentre("cherry");
  QTest::mouseMove(Viewport(), to);
  auto moves = Of(ev::kMouseMove);
  ASSERT_FALSE(moves.empty());
  EXPECT_EQ(moves.back().values[0].RawInteger(), 0);
  events.clear();
  QMouseEvent move(QEvent::MouseMove, QPointF(from), Viewport()->mapToGlobal(QPointF(from)), Qt::NoButton,
                   Qt::LeftButton | Qt::RightButton, Qt::ShiftModifier);
  QApplication::sendEvent(Viewport(), &move);
  moves = Of(ev::kMouseMove);
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0].values[0].RawInteger(), 3);
  EXPECT_EQ(moves[0].values[1].RawInteger(), 1);
  EXPECT_FLOAT_EQ(moves[0].values[3].RawSingle(), static_cast<float>(InTwips(from).y()));
}

TEST_P(QtInput, HitTestFindsTheNodeUnderTheMouseEventsCoordinates) {
  Ref<desk::Object> hit;
  handler = [&](DispId id, std::vector<Variant>& a) {
    if (id != ev::kMouseDown) return;
    hit = Call(control_, u"DoHitTest", InvokeKind::Method,
               {Variant::Integer(static_cast<int16_t>(a[2].ToSingle())), Variant::Integer(static_cast<int16_t>(a[3].ToSingle()))})
              .ToObject();
  };
  for (const char* text : {"apple", "banana", "cherry"}) {
    hit.reset();
    QTest::mouseClick(Viewport(), Qt::RightButton, {}, RowCentre(text) + QPoint(40, 0));
    ASSERT_TRUE(hit) << text;
    EXPECT_EQ(QString::fromStdU16String(Call(hit, u"Text", InvokeKind::Get).ToString()), text);
  }
  // Below the last row, and outside the widget: no node.
  const QRect last = Widget()->visualRect(ItemOf("cherry"));
  const QPointF below = InTwips(QPoint(10, last.bottom() + 10));
  EXPECT_FALSE(Call(control_, u"DoHitTest", InvokeKind::Method,
                    {Variant::Integer(static_cast<int16_t>(below.x())), Variant::Integer(static_cast<int16_t>(below.y()))})
                   .ToObject());
  EXPECT_FALSE(Tree().HitTest(-15, 15));
  EXPECT_FALSE(Tree().HitTest(15, std::nanf("")));
}

TEST_F(QtEvents, KeysRaiseKeyDownKeyPressKeyUpWithCodesAndShift) {
  Focus();
  QTest::keyClick(Widget(), Qt::Key_B);
  EXPECT_EQ(IdsAmong({ev::kKeyDown, ev::kKeyPress, ev::kKeyUp}),
            (std::vector<DispId>{ev::kKeyDown, ev::kKeyPress, ev::kKeyUp}));
  EXPECT_EQ(Of(ev::kKeyDown)[0].values[0].RawInteger(), 66);
  EXPECT_EQ(Of(ev::kKeyDown)[0].values[1].RawInteger(), 0);
  EXPECT_EQ(Of(ev::kKeyPress)[0].values[0].RawInteger(), 'b');
  EXPECT_EQ(Of(ev::kKeyUp)[0].values[0].RawInteger(), 66);

  events.clear();
  QKeyEvent shifted(QEvent::KeyPress, Qt::Key_B, Qt::ShiftModifier, "B");
  QApplication::sendEvent(Widget(), &shifted);
  EXPECT_EQ(Of(ev::kKeyDown)[0].values[0].RawInteger(), 66);
  EXPECT_EQ(Of(ev::kKeyDown)[0].values[1].RawInteger(), 1);
  EXPECT_EQ(Of(ev::kKeyPress)[0].values[0].RawInteger(), 'B');

  struct {
    Qt::Key key;
    int16_t code;
  } const keys[] = {{Qt::Key_Down, 40}, {Qt::Key_F2, 113}, {Qt::Key_Delete, 46}, {Qt::Key_7, 55}, {Qt::Key_Home, 36}};
  for (const auto& k : keys) {
    events.clear();
    QTest::keyClick(Widget(), k.key, Qt::ControlModifier);  // the control key goes down first
    auto downs = Of(ev::kKeyDown);
    ASSERT_EQ(downs.size(), 2u);
    EXPECT_EQ(downs[0].values[0].RawInteger(), 17);
    EXPECT_EQ(downs[1].values[0].RawInteger(), k.code);
    EXPECT_EQ(downs[1].values[1].RawInteger(), 2);
  }
}

TEST_F(QtEvents, KeyAsciiZeroSwallowsTheCharacter) {
  Focus();
  Select(u"apple");
  // Without a handler, typing moves to the node that starts with the letter.
  QTest::keyClick(Widget(), Qt::Key_C);
  EXPECT_EQ(CurrentText(), "cherry");
  Select(u"apple");
  QTest::qWait(QApplication::keyboardInputInterval() + 50);  // a fresh search
  handler = [](DispId id, std::vector<Variant>& a) {
    if (id == ev::kKeyPress) a[0].Assign(Variant::Integer(0));
  };
  QTest::keyClick(Widget(), Qt::Key_C);
  EXPECT_EQ(CurrentText(), "apple");
  EXPECT_TRUE(NodeOf(u"apple")->Selected());
}

TEST_F(QtEvents, AChangedKeyAsciiIsTheCharacterTheTreeGets) {
  Focus();
  Select(u"apple");
  handler = [](DispId id, std::vector<Variant>& a) {
    if (id == ev::kKeyPress) a[0].Assign(Variant::Integer('b'));
  };
  QTest::keyClick(Widget(), Qt::Key_C);
  EXPECT_EQ(CurrentText(), "banana");
  EXPECT_TRUE(NodeOf(u"banana")->Selected());
}

TEST_F(QtEvents, KeyCodeZeroSwallowsTheKeyAndAChangedCodeActsInstead) {
  Focus();
  Select(u"banana");
  handler = [](DispId id, std::vector<Variant>& a) {
    if (id == ev::kKeyDown) a[0].Assign(Variant::Integer(0));
  };
  QTest::keyClick(Widget(), Qt::Key_Down);
  EXPECT_EQ(CurrentText(), "banana");
  handler = [](DispId id, std::vector<Variant>& a) {
    if (id == ev::kKeyDown && a[0].ToInteger() == 40) a[0].Assign(Variant::Integer(38));  // Down becomes Up
  };
  QTest::keyClick(Widget(), Qt::Key_Down);
  EXPECT_EQ(CurrentText(), "apple");
  handler = nullptr;
  QTest::keyClick(Widget(), Qt::Key_Down);
  EXPECT_EQ(CurrentText(), "banana");
}

TEST_P(QtInput, BeforeLabelEditCancelKeepsTheEditorClosed) {
  Focus();
  Select(u"apple");
  handler = [](DispId id, std::vector<Variant>& a) {
    if (id == ev::kBeforeLabelEdit) a[0].Assign(Variant::Integer(1));
  };
  QTest::keyClick(Widget(), Qt::Key_F2);
  EXPECT_EQ(Of(ev::kBeforeLabelEdit).size(), 1u);
  EXPECT_FALSE(Editing());
  EXPECT_EQ(Widget()->indexWidget(Widget()->currentIndex()), nullptr);

  handler = nullptr;
  QTest::keyClick(Widget(), Qt::Key_F2);
  EXPECT_EQ(Of(ev::kBeforeLabelEdit).size(), 2u);
  EXPECT_TRUE(Editing());
  EXPECT_NE(Widget()->indexWidget(Widget()->currentIndex()), nullptr);
}

// Opens the editor on the selected node with F2, types `text` and presses Enter.
void EditTo(QTreeView* w, const QString& text) {
  QTest::keyClick(w, Qt::Key_F2);
  auto* editor = qobject_cast<QLineEdit*>(w->indexWidget(w->currentIndex()));
  ASSERT_NE(editor, nullptr);
  editor->clear();
  QTest::keyClicks(editor, text);
  QTest::keyClick(editor, Qt::Key_Return);
  QApplication::processEvents();
}

TEST_P(QtInput, AfterLabelEditNewStringIsTheTextTheNodeGets) {
  Focus();
  Select(u"apple");
  std::u16string seen;
  handler = [&](DispId id, std::vector<Variant>& a) {
    if (id != ev::kAfterLabelEdit) return;
    seen = a[1].ToString();
    a[1].Assign(Variant::String(u"Apricot"));
  };
  EditTo(Widget(), "typed");
  EXPECT_EQ(seen, u"typed");
  EXPECT_EQ(NodeOf(u"apple")->Text(), u"Apricot");
  EXPECT_TRUE(ItemOf("Apricot").isValid());  // the widget shows it
  EXPECT_FALSE(ItemOf("typed").isValid());
}

TEST_P(QtInput, AfterLabelEditCancelKeepsTheOldText) {
  Focus();
  Select(u"apple");
  handler = [&](DispId id, std::vector<Variant>& a) {
    if (id == ev::kAfterLabelEdit) a[0].Assign(Variant::Integer(1));
  };
  EditTo(Widget(), "pear");
  EXPECT_EQ(Of(ev::kAfterLabelEdit).size(), 1u);
  EXPECT_EQ(NodeOf(u"apple")->Text(), u"apple");
  EXPECT_TRUE(ItemOf("apple").isValid());
  EXPECT_FALSE(ItemOf("pear").isValid());
}

TEST_P(QtInput, StartLabelEditFromTheHostOpensTheRealEditor) {
  Call(control_, u"LabelEdit", InvokeKind::Let, {Variant::Long(1)});  // manual: no key opens it
  Focus();
  Select(u"cherry");
  QTest::keyClick(Widget(), Qt::Key_F2);
  EXPECT_FALSE(Editing());
  EXPECT_TRUE(Of(ev::kBeforeLabelEdit).empty());
  Call(control_, u"StartLabelEdit", InvokeKind::Method);
  EXPECT_EQ(Of(ev::kBeforeLabelEdit).size(), 1u);  // once, not again when the editor opens
  auto* editor = qobject_cast<QLineEdit*>(Widget()->indexWidget(Widget()->currentIndex()));
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->text(), "cherry");
  // It holds the label's text where the label starts, next to the branch area.
  EXPECT_EQ(editor->layoutDirection(), GetParam());
  const QRect label = Widget()->visualRect(ItemOf("cherry")), box = editor->geometry();
  EXPECT_LE(std::abs(Mirrored() ? label.right() - box.right() : box.left() - label.left()), 8)
      << box.left() << ".." << box.right() << " in " << label.left() << ".." << label.right();
  editor->setText("date");
  QTest::keyClick(editor, Qt::Key_Return);
  QApplication::processEvents();  // the editor commits from the event loop
  EXPECT_EQ(NodeOf(u"cherry")->Text(), u"date");
}

TEST_P(QtInput, DoubleClickExpandsAndTheArrowTowardTheBranchesCollapsesWithTheirEvents) {
  Focus();
  // As the window system delivers it: press, release, double click, release.
  const QPoint at = RowCentre("banana");
  QTest::mouseClick(Viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(Viewport(), Qt::LeftButton, {}, at);
  QTest::mouseRelease(Viewport(), Qt::LeftButton, {}, at);
  EXPECT_EQ(Of(ev::kClick).size(), 1u);  // the release that ends a double click is no click
  ASSERT_EQ(Of(ev::kDblClick).size(), 1u);
  auto expands = Of(ev::kExpand);
  ASSERT_EQ(expands.size(), 1u);
  EXPECT_EQ(expands[0].values[0].RawObject().get(), NodeOf(u"banana"));
  EXPECT_TRUE(NodeOf(u"banana")->Expanded());
  EXPECT_TRUE(Widget()->isExpanded(ItemOf("banana")));
  EXPECT_NE(RowCentre("banana split").y(), 0);

  QTest::keyClick(Widget(), Mirrored() ? Qt::Key_Right : Qt::Key_Left);
  ASSERT_EQ(Of(ev::kCollapse).size(), 1u);
  EXPECT_FALSE(NodeOf(u"banana")->Expanded());
  EXPECT_FALSE(Widget()->isExpanded(ItemOf("banana")));
}

// The box drawn in the row's own cell (mirrored right to left) is where a click opens and
// closes the node; a click there is no click on the node.
TEST_P(QtInput, AClickInThePlusMinusBoxOpensAndClosesTheNode) {
  Call(control_, u"LineStyle", InvokeKind::Let, {Variant::Long(1)});  // roots have a cell
  Call(control_, u"Style", InvokeKind::Let, {Variant::Long(7)});
  // A child with children: its own cell is one of two, on the label's side.
  Add(u"b1", u"b11", u"half");
  NodeOf(u"banana")->SetExpanded(true);
  QApplication::processEvents();
  events.clear();
  const QRect cell = OwnCell("banana split");
  const QImage img = Viewport()->grab().toImage();
  const QRgb dark = Widget()->palette().color(QPalette::Dark).rgb();
  int boxOutline = 0;
  for (int y = cell.center().y() - 6; y <= cell.center().y() + 6; ++y)
    for (int x = cell.center().x() - 6; x <= cell.center().x() + 6; ++x) boxOutline += img.pixel(x, y) == dark;
  EXPECT_GE(boxOutline, 32);  // the box's sides (the dotted lines alone are far fewer)
  for (bool open : {true, false}) {
    events.clear();
    QTest::mouseClick(Viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(NodeOf(u"b1")->Expanded(), open);
    EXPECT_EQ(Widget()->isExpanded(ItemOf("banana split")), open);
    EXPECT_EQ(Of(open ? ev::kExpand : ev::kCollapse).size(), 1u);
    EXPECT_TRUE(Of(ev::kNodeClick).empty());
  }
  // The same click on the label selects the node and leaves it closed.
  QTest::mouseClick(Viewport(), Qt::LeftButton, {}, RowCentre("banana split"));
  EXPECT_TRUE(NodeOf(u"b1")->Selected());
  EXPECT_FALSE(NodeOf(u"b1")->Expanded());
}

TEST_F(QtEvents, TheModelsExpandedShowsInTheWidgetWithoutAUserEvent) {
  NodeOf(u"banana")->SetExpanded(true);
  EXPECT_TRUE(Widget()->isExpanded(ItemOf("banana")));
  EXPECT_EQ(Of(ev::kExpand).size(), 1u);  // raised once, by the model, not again by the widget
}

TEST_P(QtInput, SpaceAndAClickOnTheCheckBoxRaiseNodeCheck) {
  Call(control_, u"Checkboxes", InvokeKind::Let, {Variant::Bool(true)});
  Focus();
  Select(u"apple");
  QTest::keyClick(Widget(), Qt::Key_Space);
  auto checks = Of(ev::kNodeCheck);
  ASSERT_EQ(checks.size(), 1u);
  EXPECT_EQ(checks[0].values[0].RawObject().get(), NodeOf(u"apple"));
  EXPECT_TRUE(NodeOf(u"apple")->Checked());
  EXPECT_EQ(ItemOf("apple").data(Qt::CheckStateRole).toInt(), Qt::Checked);

  // The check box of another row, where the style draws it.
  QStyleOptionViewItem opt;
  opt.initFrom(Widget());
  opt.rect = Widget()->visualRect(ItemOf("cherry"));
  opt.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
  opt.text = "cherry";
  const QRect box = Widget()->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, Widget());
  QTest::mouseClick(Viewport(), Qt::LeftButton, {}, box.center());
  checks = Of(ev::kNodeCheck);
  ASSERT_EQ(checks.size(), 2u);
  EXPECT_EQ(checks[1].values[0].RawObject().get(), NodeOf(u"cherry"));
  EXPECT_TRUE(NodeOf(u"cherry")->Checked());

  // Without check boxes there is nothing to click.
  Call(control_, u"Checkboxes", InvokeKind::Let, {Variant::Bool(false)});
  EXPECT_FALSE(ItemOf("cherry").data(Qt::CheckStateRole).isValid());
}

// A host that removes a node from inside that node's own event (NodeClick from a click,
// Expand from a double click, NodeCheck from the space key): the view lets go of the row at
// once and the tree goes on answering real input.
TEST_F(QtEvents, ANodeRemovedInsideItsOwnEventLeavesTheViewWorking) {
  Call(control_, u"Checkboxes", InvokeKind::Let, {Variant::Bool(true)});
  Focus();
  DispId removeOn = ev::kNodeClick;
  handler = [&](DispId id, std::vector<Variant>& args) {
    if (id != removeOn) return;
    std::vector<Variant> a{Variant::Object(args[0].ToObject())};
    Nodes()->Invoke(desk::nodesid::kRemove, InvokeKind::Method, a);
  };
  QTest::mouseClick(Viewport(), Qt::LeftButton, {}, RowCentre("cherry"));
  QApplication::processEvents();
  EXPECT_EQ(NodeOf(u"cherry"), nullptr);
  EXPECT_FALSE(ItemOf("cherry").isValid());

  removeOn = ev::kExpand;
  const QPoint banana = RowCentre("banana");
  QTest::mouseClick(Viewport(), Qt::LeftButton, {}, banana);
  QTest::mouseDClick(Viewport(), Qt::LeftButton, {}, banana);
  QTest::mouseRelease(Viewport(), Qt::LeftButton, {}, banana);
  QApplication::processEvents();
  EXPECT_EQ(NodeOf(u"banana"), nullptr);
  EXPECT_EQ(NodeOf(u"b1"), nullptr);
  EXPECT_FALSE(ItemOf("banana").isValid());
  EXPECT_FALSE(ItemOf("banana split").isValid());

  removeOn = ev::kNodeCheck;
  Select(u"apple");
  QTest::keyClick(Widget(), Qt::Key_Space);
  QApplication::processEvents();
  EXPECT_EQ(NodeOf(u"apple"), nullptr);
  EXPECT_EQ(Widget()->model()->rowCount(), 0);
  EXPECT_EQ(Call(Nodes(), u"Count", InvokeKind::Get), Variant::Long(0));

  handler = nullptr;
  Add(u"", u"date", u"date");
  QApplication::processEvents();
  events.clear();
  QTest::mouseClick(Viewport(), Qt::LeftButton, {}, RowCentre("date"));
  EXPECT_EQ(Tree().SelectedNode(), NodeOf(u"date"));
  EXPECT_EQ(Of(ev::kNodeClick).size(), 1u);
}

TEST_F(QtEvents, ValidateCancelKeepsTheFocusOnTheTree) {
  Focus();
  edit_->setFocus(Qt::TabFocusReason);
  QApplication::processEvents();
  EXPECT_EQ(Of(ev::kValidate).size(), 1u);
  EXPECT_TRUE(edit_->hasFocus());

  Widget()->setFocus(Qt::TabFocusReason);
  QApplication::processEvents();
  handler = [](DispId id, std::vector<Variant>& a) {
    if (id == ev::kValidate) a[0].Assign(Variant::Bool(true));
  };
  edit_->setFocus(Qt::TabFocusReason);
  QTest::qWait(20);
  EXPECT_EQ(Of(ev::kValidate).size(), 2u);
  EXPECT_TRUE(Widget()->hasFocus());
}

TEST_P(QtInput, DragOverAndDropReachTheHostWithTheDataAndItsEffectDecides) {
  Call(control_, u"OLEDropMode", InvokeKind::Let, {Variant::Long(1)});
  QMimeData mime;
  mime.setText("dropped text");
  int32_t answer = 1;
  std::u16string seen;
  handler = [&](DispId id, std::vector<Variant>& a) {
    if (id != ev::kOLEDragOver && id != ev::kOLEDragDrop) return;
    seen = Call(a[0].ToObject(), u"GetData", InvokeKind::Method, {Variant::Integer(1)}).ToString();
    a[1].Assign(Variant::Long(answer));
  };
  const QPoint at = RowCentre("banana");
  QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::ControlModifier);
  QApplication::sendEvent(Viewport(), &enter);
  auto over = Of(ev::kOLEDragOver);
  ASSERT_EQ(over.size(), 1u);
  EXPECT_EQ(seen, u"dropped text");
  EXPECT_EQ(over[0].values[1].RawLong(), 3);     // both effects offered
  EXPECT_EQ(over[0].values[2].RawInteger(), 1);  // left button
  EXPECT_EQ(over[0].values[3].RawInteger(), 2);  // ctrl
  EXPECT_FLOAT_EQ(over[0].values[5].RawSingle(), static_cast<float>(InTwips(at).y()));
  EXPECT_EQ(over[0].values[6].RawInteger(), 0);  // entering
  EXPECT_TRUE(enter.isAccepted());
  EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
  // The drop indicator frames the label under the drag, from where the label starts.
  const QRect label = Widget()->visualRect(ItemOf("banana"));
  std::vector<int> framed = FramedColumns(label);
  ASSERT_FALSE(framed.empty());
  EXPECT_EQ(Mirrored() ? framed.back() : framed.front(), Mirrored() ? label.right() : label.left());
  EXPECT_LT(static_cast<int>(framed.size()), label.width() / 2);  // the label, not the row

  answer = 0;
  QDragMoveEvent move(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
  QApplication::sendEvent(Viewport(), &move);
  EXPECT_EQ(Of(ev::kOLEDragOver).back().values[6].RawInteger(), 2);  // over
  EXPECT_FALSE(move.isAccepted());
  EXPECT_TRUE(FramedColumns(label).empty());  // refused there: no indicator

  answer = 2;
  seen.clear();
  QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
  QApplication::sendEvent(Viewport(), &drop);
  ASSERT_EQ(Of(ev::kOLEDragDrop).size(), 1u);
  EXPECT_EQ(seen, u"dropped text");
  EXPECT_TRUE(drop.isAccepted());
  EXPECT_EQ(drop.dropAction(), Qt::MoveAction);
}

TEST_F(QtEvents, WithoutDropModeADragIsRefusedAndRaisesNothing) {
  QMimeData mime;
  mime.setText("x");
  QDragEnterEvent enter(RowCentre("apple"), Qt::CopyAction, &mime, Qt::LeftButton, {});
  QApplication::sendEvent(Viewport(), &enter);
  EXPECT_FALSE(enter.isAccepted());
  EXPECT_TRUE(Of(ev::kOLEDragOver).empty());
}

TEST_F(QtEvents, OLEDragRaisesStartDragAndCompleteDrag) {
  handler = [&](DispId id, std::vector<Variant>& a) {
    if (id != ev::kOLEStartDrag) return;
    Call(a[0].ToObject(), u"SetData", InvokeKind::Method, {Variant::String(u"payload"), Variant::Integer(1)});
    a[1].Assign(Variant::Long(1));
  };
  Call(control_, u"OLEDrag", InvokeKind::Method);
  ASSERT_EQ(Of(ev::kOLEStartDrag).size(), 1u);
  EXPECT_EQ(Of(ev::kOLEStartDrag)[0].values[1].RawLong(), 3);  // copy and move offered
  ASSERT_EQ(Of(ev::kOLECompleteDrag).size(), 1u);

  // AllowedEffects 0 calls the drag off.
  events.clear();
  handler = [&](DispId id, std::vector<Variant>& a) {
    if (id == ev::kOLEStartDrag) a[1].Assign(Variant::Long(0));
  };
  Call(control_, u"OLEDrag", InvokeKind::Method);
  EXPECT_EQ(Of(ev::kOLEStartDrag).size(), 1u);
  EXPECT_TRUE(Of(ev::kOLECompleteDrag).empty());
}

TEST_F(QtEvents, APromisedFormatIsAskedForWithOLESetDataWhenATargetReadsIt) {
  auto data = desk::MakeRef<desk::qtb::DataObject>();
  data->SetData(Variant::Missing(), Variant::Integer(1));  // promised, no value yet
  handler = [&](DispId id, std::vector<Variant>& a) {
    if (id != ev::kOLESetData) return;
    EXPECT_EQ(a[1].ToInteger(), 1);
    Call(a[0].ToObject(), u"SetData", InvokeKind::Method, {Variant::String(u"late"), Variant::Integer(1)});
  };
  desk::qtb::DeskMimeData mime(Ref<desk::TreeView>(&Tree()), data);
  EXPECT_TRUE(mime.hasText());
  EXPECT_EQ(mime.text(), "late");
  EXPECT_EQ(Of(ev::kOLESetData).size(), 1u);
  EXPECT_EQ(mime.text(), "late");
  EXPECT_EQ(Of(ev::kOLESetData).size(), 1u);  // supplied once
}

TEST_F(QtEvents, AFailingHandlerEndsTheEventButNotTheProgram) {
  handler = [](DispId id, std::vector<Variant>&) {
    if (id == ev::kMouseDown) desk::Raise(desk::Err::InvalidProcedureCall);
  };
  QTest::mouseClick(Viewport(), Qt::LeftButton, {}, RowCentre("apple"));
  EXPECT_EQ(Of(ev::kMouseDown).size(), 1u);
  EXPECT_EQ(Of(ev::kMouseUp).size(), 1u);  // the next event still arrives
}

TEST_F(QtEvents, TheTreeOutlivesItsWindow) {
  window_.reset();  // the host closes the window first
  EXPECT_EQ(Widget(), nullptr);
  Add(u"", u"late", u"added later");
  EXPECT_NE(NodeOf(u"late"), nullptr);
  EXPECT_FALSE(Tree().HitTest(15, 15));
  Call(control_, u"Style", InvokeKind::Let, {Variant::Long(1)});
  Call(control_, u"Refresh", InvokeKind::Method);
}

DESK_IN_BOTH_DIRECTIONS(QtInput);

}  // namespace
}  // namespace desk_qt_test
