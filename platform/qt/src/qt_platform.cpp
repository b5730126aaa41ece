// The Qt platform: surfaces as widgets, popup menus as QMenu, message boxes as QMessageBox.
// Pictures are decoded by the run-time's own strict decoder, as on every platform; Qt only
// turns the decoded pixels into its images when they are drawn.
#include "desk/qt_platform.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QResizeEvent>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <vector>

#include "desk/picture_loader.h"
#include "desk/surface_base.h"
#include "qt_tree.h"
#include "qt_util.h"

namespace desk {

using qtb::Q;
using qtb::U;

// ---------------------------------------------------------------------------------------------
// Surface

class QtSurface : public SurfaceBase {
 public:
  QtSurface(const SurfaceDesign& design, SurfaceClient& client);
  ~QtSurface() override;

  float ScaleLeft() const override { return 0; }
  float ScaleTop() const override { return 0; }
  float ScaleWidth() const override { return widget_ ? qtb::ToTwips(widget_->width()) : 0; }
  float ScaleHeight() const override { return widget_ ? qtb::ToTwips(widget_->height()) : 0; }
  void PropertyChanged(std::u16string_view name) override;
  Ref<Font> AmbientFont() override;
  void PopupMenu(const Ref<Object>& menu, const Variant& flags, const Variant& x, const Variant& y,
                 const Variant& defaultMenu) override;

  QtSurfaceWidget* Widget() const { return widget_; }
  void Resized() { client_.OnResize(); }

 private:
  struct OpenMenu {
    QMenu* menu;
    MenuArray* items;
    Ref<Object> defaultItem;
  };
  static void Fill(QMenu& menu, MenuArray& items, const Ref<Object>& defaultItem);
  void ItemsChanged();

  SurfaceClient& client_;
  QPointer<QtSurfaceWidget> widget_;
  std::vector<OpenMenu> open_;  // menus on screen now, innermost last
};

QtSurfaceWidget::QtSurfaceWidget(QtSurface* surface) : QWidget(nullptr), surface_(surface) {
  setContextMenuPolicy(Qt::PreventContextMenu);
  resize(320, 240);
}

Surface* QtSurfaceWidget::DeskSurface() const { return surface_; }

void QtSurfaceWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (QtSurface* s = surface_) qtb::Shielded("Resize", [s] { s->Resized(); });
}

QtSurface::QtSurface(const SurfaceDesign& design, SurfaceClient& client)
    : client_(client), widget_(new QtSurfaceWidget(this)) {
  MakeChildren(design, MakeRef<qtb::QtTree>(widget_.data()));
  items_->changed = [this] { ItemsChanged(); };
}

QtSurface::~QtSurface() {
  items_->changed = nullptr;
  if (widget_) {
    widget_->surface_ = nullptr;
    if (qtb::CanDeleteWidgets()) delete widget_.data();  // takes the tree's widget with it
  }
}

void QtSurface::PropertyChanged(std::u16string_view name) {
  if (widget_) emit widget_->propertyChanged(Q(name));
}

Ref<Font> QtSurface::AmbientFont() {
  // The surface widget's font is the one it inherits from the widget hosting it.
  return FromQFont(widget_ ? widget_->font() : QApplication::font());
}

void QtSurface::Fill(QMenu& menu, MenuArray& items, const Ref<Object>& defaultItem) {
  menu.clear();
  for (const auto& [index, element] : items.Elements()) {
    if (!element->Visible()) continue;
    QAction* a = menu.addAction(Q(element->Caption()));
    a->setData(static_cast<int>(index));
    if (defaultItem && defaultItem.get() == element.get()) menu.setDefaultAction(a);
  }
}

void QtSurface::ItemsChanged() {
  // A host's timer may change the items while their menu is on screen.
  for (OpenMenu& m : open_)
    if (m.items == items_.get()) Fill(*m.menu, *m.items, m.defaultItem);
}

void QtSurface::PopupMenu(const Ref<Object>& menu, const Variant& flags, const Variant& x, const Variant& y,
                          const Variant& defaultMenu) {
  Ref<MenuArray> items = PopupItems(menu);
  const Variant def = defaultMenu.Value();
  Ref<Object> defaultItem = def.ValueType() == VarType::Object ? def.RawObject() : nullptr;
  const bool hasX = !x.IsMissing() && !x.IsEmpty(), hasY = !y.IsMissing() && !y.IsEmpty();
  const float fx = hasX ? x.ToSingle() : 0, fy = hasY ? y.ToSingle() : 0;
  const int32_t align = flags.IsMissing() || flags.IsEmpty() ? 0 : flags.ToLong();

  // On the heap: a host's code running in the menu's loop may close the window it belongs to,
  // and the window would then delete its child menu.
  QPointer<QMenu> qmenu = new QMenu(widget_);
  Fill(*qmenu, *items, defaultItem);
  QPoint at = QCursor::pos();
  auto* tree = dynamic_cast<qtb::QtTree*>(&Tree());
  if (!hasX && !hasY && tree && tree->Widget())
    if (const std::optional<QPoint> key = tree->Widget()->KeyboardMenuAt(qmenu->sizeHint())) at = *key;  // asked for by a key
  if ((hasX || hasY) && widget_) {
    const QPoint local = widget_->mapFromGlobal(at);
    at = widget_->mapToGlobal(QPoint(hasX ? qtb::ToPixels(fx) : local.x(), hasY ? qtb::ToPixels(fy) : local.y()));
  }
  // Alignment flags: 4 centres the menu on x, 8 puts its right edge there.
  if (align & 4) at.rx() -= qmenu->sizeHint().width() / 2;
  else if (align & 8) at.rx() -= qmenu->sizeHint().width();

  open_.push_back({qmenu.data(), items.get(), defaultItem});
  QAction* chosen = qmenu->exec(at);
  open_.erase(std::remove_if(open_.begin(), open_.end(), [&](const OpenMenu& m) { return m.menu == qmenu.data(); }),
              open_.end());
  bool ok = false;
  const int index = chosen && qmenu ? chosen->data().toInt(&ok) : 0;
  delete qmenu.data();
  if (!ok) return;
  // The element may have gone or been hidden while the menu was open.
  const MenuElement* element = index >= 0 && index <= INT16_MAX ? items->Find(static_cast<int16_t>(index)) : nullptr;
  if (!element || !element->Visible()) return;
  items->Click(static_cast<int16_t>(index));  // modal: the click is handled before we return
}

// ---------------------------------------------------------------------------------------------
// Fonts

QFont ToQFont(const Font& f) {
  QFont q(Q(f.name));
  q.setPointSizeF(f.size > 0 ? f.size : 8.25);
  q.setWeight(static_cast<QFont::Weight>(std::clamp<int>(f.weight, 1, 1000)));
  q.setItalic(f.italic);
  q.setUnderline(f.underline);
  q.setStrikeOut(f.strikethrough);
  return q;
}

Ref<Font> FromQFont(const QFont& q) {
  // A font set in pixels has no point size; 96 pixels to the inch.
  const double points = q.pointSizeF() > 0 ? q.pointSizeF() : q.pixelSize() * 0.75;
  auto f = MakeRef<Font>(U(q.family()), static_cast<float>(points));
  f->weight = static_cast<int16_t>(q.weight());
  f->italic = q.italic();
  f->underline = q.underline();
  f->strikethrough = q.strikeOut();
  return f;
}

// ---------------------------------------------------------------------------------------------
// Platform

QtPlatform::QtPlatform() = default;

QtPlatform::~QtPlatform() = default;

std::unique_ptr<Surface> QtPlatform::CreateSurface(const SurfaceDesign& design, SurfaceClient& client) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) Raise(Err::CantCreateObject);
  return std::make_unique<QtSurface>(design, client);
}

void QtPlatform::MessageBox(const MessageBoxRequest& request) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (request.style & 0x70) {
    case 16: icon = QMessageBox::Critical; break;
    case 32: icon = QMessageBox::Question; break;
    case 48: icon = QMessageBox::Warning; break;
    case 64: icon = QMessageBox::Information; break;
    default: break;
  }
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
  switch (request.style & 7) {
    case 1: buttons = QMessageBox::Ok | QMessageBox::Cancel; break;
    case 2: buttons = QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore; break;
    case 3: buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel; break;
    case 4: buttons = QMessageBox::Yes | QMessageBox::No; break;
    case 5: buttons = QMessageBox::Retry | QMessageBox::Cancel; break;
    default: break;
  }
  // On the heap, for the same reason as a popup menu: its parent window may go meanwhile.
  QPointer<QMessageBox> box =
      new QMessageBox(icon, Q(request.EffectiveCaption()), Q(request.text), buttons, QApplication::activeWindow());
  box->setWindowModality(Qt::ApplicationModal);
  if (auto hook = onMessageBoxShown) {
    // Runs inside the box's own loop, once it is on screen.
    QTimer::singleShot(0, box.data(), [hook, box] {
      if (box) hook(*box);
    });
  }
  box->exec();
  delete box.data();
}

Ref<Object> QtPlatform::CreateImageList() { return MakeImageList(); }

void QtPlatform::DoEvents() { QCoreApplication::processEvents(); }

void QtPlatform::ProcessPaintAndTimers(int32_t maxMs) {
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, std::max(maxMs, 0));
  // Input held back stays queued, but the dispatcher saw its wake-up: without another one the
  // next full pass (DoEvents, or the host's own loop once the Fill returns) would leave it
  // there until more input came.
  if (QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance()) d->wakeUp();
}

std::shared_ptr<QtPlatform> MakeQtPlatform() {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return nullptr;
  return std::make_shared<QtPlatform>();
}

QtSurfaceWidget* SurfaceWidget(Surface& surface) {
  auto* s = dynamic_cast<QtSurface*>(&surface);
  return s ? s->Widget() : nullptr;
}

QtSurfaceWidget* ControlWidget(Object& control) {
  auto* c = dynamic_cast<Control*>(&control);
  Surface* s = c ? c->GetSurface() : nullptr;
  return s ? SurfaceWidget(*s) : nullptr;
}

QTreeView* TreeViewOf(TreeView& tree) {
  auto* t = dynamic_cast<qtb::QtTree*>(&tree);
  return t ? t->Widget() : nullptr;
}

}  // namespace desk
