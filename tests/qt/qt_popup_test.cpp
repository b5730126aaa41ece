// The context-menu road on screen: right-click, DoHitTest, ShowPopupMenu as a real QMenu,
// an action chosen in the open menu, onMenuClick inside ShowPopupMenu. And the modal
// message box.
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <optional>

#include "qt_fixture.h"

namespace desk_qt_test {
namespace {

namespace ev = desk::treeevent;
constexpr DispId kOnMenuClick = 1;

// Runs `pick` on the popup menu once it is open; closes whatever popup is still open a
// little later in any case, so that a failing test cannot hang in the menu's loop.
void WhenMenuOpens(std::function<void(QMenu&)> pick) {
  QTimer::singleShot(50, [pick] {
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) pick(*menu);
  });
  QTimer::singleShot(3000, [] {
    while (QWidget* w = QApplication::activePopupWidget()) w->close();
  });
}

QStringList Captions(const QMenu& menu) {
  QStringList out;
  for (QAction* a : menu.actions()) out << a->text();
  return out;
}

void Choose(QMenu& menu, const QString& caption) {
  for (QAction* a : menu.actions())
    if (a->text() == caption) {
      QTest::mouseClick(&menu, Qt::LeftButton, {}, menu.actionGeometry(a).center());
      return;
    }
  ADD_FAILURE() << "no menu item " << caption.toStdString();
  menu.close();
}

class QtPopup : public QtHost {
 protected:
  void SetUp() override {
    QtHost::SetUp();
    if (HasFatalFailure()) return;
    Add(u"", u"first", u"first");
    Add(u"", u"second", u"second");
    Ref<desk::Object> menus = Call(control_, u"PopUpMenus", InvokeKind::Get).ToObject();
    for (auto [name, caption] : {std::pair{u"open", u"Open"}, std::pair{u"copy", u"Copy"}, std::pair{u"gone", u"Gone"},
                                 std::pair{u"delete", u"Delete"}})
      Call(menus, u"Add", InvokeKind::Method, {Variant::String(name), Variant::String(caption)});
    // A removed definition keeps its element; a hidden element is not shown.
    Call(menus, u"Remove", InvokeKind::Method, {Variant::String(u"gone")});
    Control().GetSurface()->ItemArray().Element(2).SetVisible(false);
    // The host's side of the road: on a right-button MouseUp, hit-test and show the menu.
    handler = [this](DispId id, std::vector<Variant>& a) {
      if (id == kOnMenuClick) {
        menuNames.push_back(a[0].ToString());
        clickInsideShow.push_back(inShow);
      }
      QPointF at;
      if (id == ev::kMouseUp && a[0].ToInteger() == 2) {
        at = QPointF(a[2].ToSingle(), a[3].ToSingle());
      } else if (id == ev::kKeyDown && (a[0].ToInteger() == 93 || (a[0].ToInteger() == 121 && a[1].ToInteger() == 1))) {
        // The Menu key or Shift+F10: the middle of the selected node's row, in twips.
        const QRect row = Widget()->visualRect(Widget()->currentIndex());
        at = QPointF(row.center() + Viewport()->pos()) * 15.0;
      } else {
        return;
      }
      hit = Call(control_, u"DoHitTest", InvokeKind::Method,
                 {Variant::Integer(static_cast<int16_t>(at.x())), Variant::Integer(static_cast<int16_t>(at.y()))})
                .ToObject();
      inShow = true;
      Call(control_, u"ShowPopupMenu", InvokeKind::Method);
      inShow = false;
      showReturned = true;
    };
  }

  Ref<desk::Object> hit;
  bool inShow = false;
  bool showReturned = false;
  std::vector<std::u16string> menuNames;
  std::vector<bool> clickInsideShow;
};

TEST_F(QtPopup, ChoosingAnItemDeliversOnMenuClickInsideShowPopupMenu) {
  QStringList shown;
  WhenMenuOpens([&](QMenu& menu) {
    shown = Captions(menu);
    Choose(menu, "Gone");
  });
  QTest::mouseClick(Viewport(), Qt::RightButton, {}, RowCentre("second"));
  ASSERT_TRUE(showReturned);
  // The visible elements, in index order: not the hidden placeholder, not the hidden "Copy".
  EXPECT_EQ(shown, (QStringList{"Open", "Gone", "Delete"}));
  ASSERT_EQ(menuNames, (std::vector<std::u16string>{u"gone"}));
  EXPECT_EQ(clickInsideShow, (std::vector<bool>{true}));
  ASSERT_TRUE(hit);
  EXPECT_EQ(Call(hit, u"Text", InvokeKind::Get).ToString(), u"second");
}

TEST_F(QtPopup, DismissingTheMenuRaisesNothing) {
  WhenMenuOpens([](QMenu& menu) { QTest::keyClick(&menu, Qt::Key_Escape); });
  QTest::mouseClick(Viewport(), Qt::RightButton, {}, RowCentre("first"));
  EXPECT_TRUE(showReturned);
  EXPECT_TRUE(menuNames.empty());
}

TEST_F(QtPopup, TheMenuOpensAtTheMouse) {
  QPoint opened;
  WhenMenuOpens([&](QMenu& menu) {
    opened = menu.pos();
    menu.close();
  });
  const QPoint at = RowCentre("first");
  QCursor::setPos(Viewport()->mapToGlobal(at));
  QTest::mouseClick(Viewport(), Qt::RightButton, {}, at);
  EXPECT_TRUE(showReturned);
  const QPoint cursor = QCursor::pos();
  EXPECT_LE((opened - cursor).manhattanLength(), 40) << opened.x() << "," << opened.y();
}

// The keyboard's context-menu keys, with the host answering KeyDown as docs/qt.md says: the
// menu of the selected node opens at that node, not at the mouse, left to right and mirrored.
class QtKeyMenu : public InBothDirections<QtPopup> {};

TEST_P(QtKeyMenu, TheMenuKeyAndShiftF10OpenTheSelectedNodesMenuAtIt) {
  struct {
    const char* name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    const char* choose;
    const char16_t* chosen;
  } const keys[] = {{"Menu key", Qt::Key_Menu, {}, "Open", u"open"},
                    {"Shift+F10", Qt::Key_F10, Qt::ShiftModifier, "Delete", u"delete"}};
  NodeOf(u"second")->SetSelected(true);
  QApplication::processEvents();
  QCursor::setPos(window_->mapToGlobal(QPoint(window_->width() - 5, window_->height() - 5)));  // far away
  const QRect row = Widget()->visualRect(ItemOf("second"));
  const QPoint rowStart = Viewport()->mapToGlobal(QPoint(Mirrored() ? row.right() : row.left(), row.bottom()));
  for (const auto& k : keys) {
    SCOPED_TRACE(k.name);
    hit.reset();
    menuNames.clear();
    QPoint opened;
    Qt::LayoutDirection menuDirection = Qt::LayoutDirectionAuto;
    WhenMenuOpens([&](QMenu& menu) {
      opened = Mirrored() ? menu.geometry().topRight() : menu.geometry().topLeft();
      menuDirection = menu.layoutDirection();
      Choose(menu, k.choose);
    });
    QTest::keyClick(Widget(), k.key, k.modifiers);
    ASSERT_TRUE(hit);
    EXPECT_EQ(Call(hit, u"Text", InvokeKind::Get).ToString(), u"second");
    EXPECT_EQ(menuNames, (std::vector<std::u16string>{k.chosen}));
    EXPECT_EQ(clickInsideShow.back(), true);
    EXPECT_LE((opened - rowStart).manhattanLength(), 4) << opened.x() << "," << opened.y();
    EXPECT_EQ(menuDirection, GetParam());
  }
  // F10 alone asks for no menu.
  hit.reset();
  QTest::keyClick(Widget(), Qt::Key_F10);
  EXPECT_FALSE(hit);
}

DESK_IN_BOTH_DIRECTIONS(QtKeyMenu);

TEST_F(QtPopup, AnItemShownOrHiddenWhileTheMenuIsOpenIsUpdatedInIt) {
  QStringList before, after;
  WhenMenuOpens([&](QMenu& menu) {
    before = Captions(menu);
    Ref<desk::Object> menus = Call(control_, u"PopUpMenus", InvokeKind::Get).ToObject();
    Call(menus, u"Add", InvokeKind::Method, {Variant::String(u"late"), Variant::String(u"Late")});
    after = Captions(menu);
    Choose(menu, "Late");
  });
  QTest::mouseClick(Viewport(), Qt::RightButton, {}, RowCentre("first"));
  EXPECT_EQ(before, (QStringList{"Open", "Gone", "Delete"}));
  EXPECT_EQ(after, (QStringList{"Open", "Gone", "Delete", "Late"}));
  EXPECT_EQ(menuNames, (std::vector<std::u16string>{u"late"}));
}

TEST_F(QtPopup, TheWindowGoingWhileTheMenuIsOpenEndsTheMenu) {
  // A host's timer deletes the window while the menu, shown outside any event of the tree, is
  // open: the menu goes with it and ShowPopupMenu returns without a click.
  WhenMenuOpens([this](QMenu&) { window_.reset(); });
  Call(control_, u"ShowPopupMenu", InvokeKind::Method);
  EXPECT_TRUE(menuNames.empty());
  EXPECT_EQ(desk::ControlWidget(*control_), nullptr);
}

struct BoxCase {
  int32_t style;
  std::optional<std::u16string> caption;
  QMessageBox::Icon icon;
  QString title;
};

TEST(QtMessageBox, IsARealModalBoxWithTheStylesIconAndTheCaptionRules) {
  auto platform = desk::MakeQtPlatform();
  const BoxCase cases[] = {
      {16, std::nullopt, QMessageBox::Critical, "MyLibrary"},
      {0, std::u16string(u"Given"), QMessageBox::NoIcon, "Given"},
      {0, std::u16string(u""), QMessageBox::NoIcon, ""},
      {48, std::nullopt, QMessageBox::Warning, "MyLibrary"},
  };
  for (const BoxCase& c : cases) {
    bool seen = false;
    platform->onMessageBoxShown = [&](QMessageBox& box) {
      seen = true;
      EXPECT_TRUE(box.isVisible());
      EXPECT_TRUE(box.isModal());
      EXPECT_EQ(QApplication::activeModalWidget(), &box);
      EXPECT_EQ(box.icon(), c.icon);
      EXPECT_EQ(box.windowTitle(), c.title);
      EXPECT_EQ(box.text(), "Line one\nline two");
      EXPECT_EQ(box.standardButtons(), QMessageBox::Ok);
      box.done(QMessageBox::Ok);
    };
    QTimer::singleShot(3000, [] {
      if (QWidget* w = QApplication::activeModalWidget()) w->close();
    });
    platform->MessageBox({u"Line one\nline two", c.style, c.caption, u"MyLibrary"});
    EXPECT_TRUE(seen) << c.style;
  }
}

TEST(QtMessageBox, ItsWindowGoingWhileItIsOpenEndsIt) {
  auto platform = desk::MakeQtPlatform();
  auto window = std::make_unique<QWidget>();
  window->show();
  QApplication::setActiveWindow(window.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  bool shown = false;
  platform->onMessageBoxShown = [&](QMessageBox& box) {
    shown = true;
    EXPECT_EQ(box.parentWidget(), window.get());
    window.reset();  // takes its child box along
  };
  QTimer::singleShot(3000, [] {
    if (QWidget* w = QApplication::activeModalWidget()) w->close();
  });
  platform->MessageBox({u"Text", 16, std::nullopt, u"Title"});
  EXPECT_TRUE(shown);
}

TEST(QtMessageBox, BlocksUntilTheUserClosesIt) {
  auto platform = desk::MakeQtPlatform();
  bool closedByUser = false;
  QTimer::singleShot(50, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    closedByUser = true;
    QTest::keyClick(box, Qt::Key_Return);
  });
  QTimer::singleShot(3000, [] {
    if (QWidget* w = QApplication::activeModalWidget()) w->close();
  });
  platform->MessageBox({u"Text", 0, std::nullopt, u"Title"});
  EXPECT_TRUE(closedByUser);
}

}  // namespace
}  // namespace desk_qt_test
