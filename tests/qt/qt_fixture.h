// A host on the Qt platform: a window holding one tree control (created by class
// identifier) above a line edit, and a sink that records every event of the control and
// lets a test answer it.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QLineEdit>
#include <QStyledItemDelegate>
#include <QTest>
#include <QTreeView>
#include <QVBoxLayout>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "VarbelTreeview/VarbelTreeview.h"
#include "VarbelTreeviewControl.h"
#include "desk/events.h"
#include "desk/qt_platform.h"
#include "desk/text.h"
#include "desk/tree.h"
#include "qt_tree_widget.h"
#include "support/test_support.h"

namespace desk_qt_test {

using desk::DispId;
using desk::InvokeKind;
using desk::Ref;
using desk::Variant;

struct Recorded {
  DispId id;
  std::vector<Variant> values;  // the arguments' values when the event arrived
};

inline Variant Call(const Ref<desk::Object>& o, const char16_t* name, InvokeKind kind, std::vector<Variant> args = {}) {
  return desk::CallByName(o, name, kind, std::move(args));
}

// What Qt's model tester found wrong with the view's model, in order.
inline std::vector<std::string>& ModelFaults() {
  static std::vector<std::string> faults;
  return faults;
}
inline QtMessageHandler& OtherMessages() {
  static QtMessageHandler handler = nullptr;
  return handler;
}

class QtHost : public ::testing::Test {
 protected:
  // The class the host creates: the default one unless a fixture asks for another.
  virtual const char* ClassId() const { return varbel::kControlClsid; }
  void SetUp() override {
    platform_ = desk::MakeQtPlatform();
    ASSERT_TRUE(platform_);
    desk::SetPlatform(platform_);
    desk::Object* raw = nullptr;
    char message[256] = {};
    ASSERT_EQ(VarbelTreeview_CreateObject(ClassId(), &raw, message, sizeof message), 0) << message;
    control_ = Ref<desk::Object>(raw);
    raw->Release();
    Control().InitProperties();

    window_ = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(window_.get());
    layout->addWidget(desk::ControlWidget(*control_), 1);
    edit_ = new QLineEdit;
    layout->addWidget(edit_);
    window_->resize(400, 300);
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    // Every test runs with Qt's model tester watching the view's model: a change announced
    // with wrong rows, or read inconsistently while announced, fails the test.
    ModelFaults().clear();
    OtherMessages() = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
      if (context.category && std::string(context.category) == "qt.modeltest" && type != QtDebugMsg)
        ModelFaults().push_back(text.toStdString());
      else if (OtherMessages())
        OtherMessages()(type, context, text);
    });
    tester_ = std::make_unique<QAbstractItemModelTester>(Widget()->model(),
                                                         QAbstractItemModelTester::FailureReportingMode::Warning);
    cookie_ = Control().Advise(desk::MakeRef<desk::FunctionSink>([this](DispId id, std::vector<Variant>& args) {
      Recorded r{id, {}};
      for (const Variant& a : args) r.values.push_back(a.Value());
      events.push_back(std::move(r));
      if (auto h = handler) h(id, args);
    }));
  }

  void TearDown() override {
    handler = nullptr;
    tester_.reset();
    qInstallMessageHandler(OtherMessages());
    EXPECT_TRUE(ModelFaults().empty()) << ModelFaults().size() << " faults of the model, the first: " << ModelFaults().front();
    if (control_) Control().Unadvise(cookie_);
    control_.reset();  // takes its widget out of the window
    window_.reset();
    desk::SetPlatform(nullptr);
  }

  desk::Control& Control() { return *dynamic_cast<desk::Control*>(control_.get()); }
  desk::TreeView& Tree() { return Control().GetSurface()->Tree(); }
  QTreeView* Widget() { return desk::TreeViewOf(Tree()); }
  QWidget* Viewport() { return Widget()->viewport(); }
  // The rows the view lays out, top to bottom, from `from` on (the first row by default).
  std::vector<QModelIndex> LaidOut(const QModelIndex& from = QModelIndex()) {
    auto* w = static_cast<desk::qtb::TreeWidget*>(Widget());
    std::vector<QModelIndex> rows;
    for (int64_t r = from.isValid() ? w->RowOfIndex(from) : 0; r >= 0 && r < w->RowCount(); ++r)
      rows.push_back(w->IndexAtRow(r));
    return rows;
  }

  Ref<desk::Object> Nodes() { return Call(control_, u"Nodes", InvokeKind::Get).ToObject(); }
  // A root, or a child of the node with `parent` as key.
  Ref<desk::Object> Add(const std::u16string& parent, const std::u16string& key, const std::u16string& text) {
    std::vector<Variant> args{parent.empty() ? Variant::Missing() : Variant::String(parent),
                              parent.empty() ? Variant::Missing() : Variant::Integer(4), Variant::String(key),
                              Variant::String(text)};
    return Call(Nodes(), u"Add", InvokeKind::Method, std::move(args)).ToObject();
  }
  desk::Node* NodeOf(const std::u16string& key) { return Tree().NodeCollection().Find(key); }

  // The view's row of the first node with this text; invalid when none shows it.
  QModelIndex ItemOf(const QString& text) {
    QAbstractItemModel* m = Widget()->model();
    if (m->rowCount() == 0) return QModelIndex();
    auto found = m->match(m->index(0, 0), Qt::DisplayRole, text, 1, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? QModelIndex() : found.front();
  }
  // How the view's delegate would draw a row, given Qt's own view of its state.
  QStyleOptionViewItem OptionOf(const QModelIndex& item, QStyle::State state = {}) {
    QStyleOptionViewItem opt;
    opt.initFrom(Widget());
    opt.state |= state;
    opt.decorationSize = Widget()->iconSize();
    auto* d = dynamic_cast<QStyledItemDelegate*>(Widget()->itemDelegate());
    EXPECT_NE(d, nullptr);
    if (!d) return opt;
    // The protected member reached through a pointer to it, not by casting the delegate to a
    // class it is not (which the sanitizer rightly reports).
    struct Open : QStyledItemDelegate {
      using QStyledItemDelegate::initStyleOption;
    };
    const auto init = &Open::initStyleOption;
    (d->*init)(&opt, item);
    return opt;
  }
  // The picture a row is drawn with (the delegate chooses it); invalid when none.
  QVariant DecorationOf(const QModelIndex& item) {
    const QStyleOptionViewItem opt = OptionOf(item);
    return opt.features & QStyleOptionViewItem::HasDecoration ? QVariant(opt.icon) : QVariant();
  }
  // The centre of a node's row, in viewport coordinates.
  QPoint RowCentre(const QString& text) {
    const QModelIndex item = ItemOf(text);
    EXPECT_TRUE(item.isValid()) << text.toStdString();
    return item.isValid() ? Widget()->visualRect(item).center() : QPoint();
  }
  // A click on a node's row, with the modifiers held.
  void Click(const char* text, Qt::KeyboardModifiers mods = {}) {
    QTest::mouseClick(Viewport(), Qt::LeftButton, mods, RowCentre(text));
  }
  // The second class's selected nodes' keys in tree order, joined by `sep`.
  std::string SelectedKeys(const char* sep) {
    Ref<desk::Object> col = Call(control_, u"SelectedNodes", InvokeKind::Get).ToObject();
    std::string s;
    const int32_t n = Call(col, u"Count", InvokeKind::Get).ToLong();
    for (int32_t i = 1; i <= n; ++i) {
      Ref<desk::Object> node = Call(col, u"Item", InvokeKind::Method, {Variant::Long(i)}).ToObject();
      s += (s.empty() ? "" : sep) + desk::U8(Call(node, u"Key", InvokeKind::Get).ToString());
    }
    return s;
  }
  // A viewport point in the tree's units.
  QPointF InTwips(QPoint viewportPos) {
    const QPoint p = viewportPos + Viewport()->pos();
    return {p.x() * 15.0, p.y() * 15.0};
  }

  std::vector<Recorded> Of(DispId id) const {
    std::vector<Recorded> out;
    for (const Recorded& r : events)
      if (r.id == id) out.push_back(r);
    return out;
  }
  std::vector<DispId> Ids() const {
    std::vector<DispId> out;
    for (const Recorded& r : events) out.push_back(r.id);
    return out;
  }
  // Ids of the events among `wanted`, in order.
  std::vector<DispId> IdsAmong(std::initializer_list<DispId> wanted) const {
    std::vector<DispId> out;
    for (const Recorded& r : events)
      if (std::find(wanted.begin(), wanted.end(), r.id) != wanted.end()) out.push_back(r.id);
    return out;
  }

  std::shared_ptr<desk::QtPlatform> platform_;
  std::unique_ptr<QAbstractItemModelTester> tester_;
  Ref<desk::Object> control_;
  std::unique_ptr<QWidget> window_;
  QLineEdit* edit_ = nullptr;
  int cookie_ = 0;
  std::vector<Recorded> events;
  std::function<void(DispId, std::vector<Variant>&)> handler;
};

// Whether `picture` lies within `area` of `shot` (all of it when empty) pixel for pixel,
// where the picture is opaque.
inline bool Contains(const QImage& shot, const QImage& picture, QRect area = QRect()) {
  if (area.isEmpty()) area = shot.rect();
  area &= shot.rect();
  for (int y = area.top(); y + picture.height() <= area.bottom() + 1; ++y)
    for (int x = area.left(); x + picture.width() <= area.right() + 1; ++x) {
      bool same = true;
      for (int py = 0; py < picture.height() && same; ++py)
        for (int px = 0; px < picture.width() && same; ++px) {
          const QRgb p = picture.pixel(px, py);
          same = qAlpha(p) < 255 || (shot.pixel(x + px, y + py) & 0xFFFFFF) == (p & 0xFFFFFF);
        }
      if (same) return true;
    }
  return false;
}

// Runs a fixture's tests once left to right and once right to left, as in an application
// laid out right to left (QApplication::setLayoutDirection, or -reverse on its command line).
template <class Fixture>
class InBothDirections : public Fixture, public ::testing::WithParamInterface<Qt::LayoutDirection> {
 protected:
  void SetUp() override {
    QApplication::setLayoutDirection(this->GetParam());
    Fixture::SetUp();
  }
  void TearDown() override {
    Fixture::TearDown();
    QApplication::setLayoutDirection(Qt::LeftToRight);
  }
  bool Mirrored() const { return this->GetParam() == Qt::RightToLeft; }
};

inline std::string DirectionName(const ::testing::TestParamInfo<Qt::LayoutDirection>& info) {
  return info.param == Qt::RightToLeft ? "RightToLeft" : "LeftToRight";
}

#define DESK_IN_BOTH_DIRECTIONS(Suite) \
  INSTANTIATE_TEST_SUITE_P(Directions, Suite, ::testing::Values(Qt::LeftToRight, Qt::RightToLeft), DirectionName)

}  // namespace desk_qt_test
