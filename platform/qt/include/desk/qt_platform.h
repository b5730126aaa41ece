// The Qt 6 Widgets backend of the platform seams (libDeskQt.so).
//
// A host that wants real windows creates its QApplication first, then installs this platform
// before it creates any control, and places each control's surface widget in its window:
//
//   QApplication app(argc, argv);
//   desk::SetPlatform(desk::MakeQtPlatform());
//   desk::Ref<desk::Object> tree = ...create the control by class identifier...;
//   QWidget* w = desk::ControlWidget(*tree);   // a parentless widget: put it in a layout
//
// The controls themselves never see Qt: they reach it only through desk::Platform.
//
// Units. A surface's ScaleLeft/Top/Width/Height, the tree's container Left/Top/Width/Height,
// the coordinates of its mouse and drag events, HitTest and Indentation are all in twips,
// 15 to a pixel (device-independent pixels), the scale in which the headless tree's
// 240-unit rows are 16 pixels. The surface's interior starts at (0, 0).
#pragma once

#include "desk/export.h"

#include <QWidget>
#include <functional>
#include <memory>
#include <string_view>

#include "desk/platform.h"

class QMessageBox;
class QTreeView;

namespace desk {

inline constexpr float kTwipsPerPixel = 15.0f;

class QtSurface;

// The widget of a control's surface. It hosts the inner tree; resizing it resizes the tree
// (the control lays the tree over the whole surface on every resize).
class DESK_QT_API QtSurfaceWidget : public QWidget {
  Q_OBJECT

 public:
  // Null once the surface is gone (the widget may outlive it inside a host's window).
  Surface* DeskSurface() const;

 signals:
  // The control reported a changed setting (PropertyChanged), by name.
  void propertyChanged(const QString& name);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  friend class QtSurface;
  explicit QtSurfaceWidget(QtSurface* surface);
  QtSurface* surface_;
};

class DESK_QT_API QtPlatform : public Platform {
 public:
  QtPlatform();
  ~QtPlatform() override;

  std::unique_ptr<Surface> CreateSurface(const SurfaceDesign& design, SurfaceClient& client) override;
  // A real modal QMessageBox: icon from the style (16 critical, 32 question, 48 warning,
  // 64 information), buttons from its low bits, caption per MessageBoxRequest.
  void MessageBox(const MessageBoxRequest& request) override;
  // A desk::ImageList; the tree draws its pictures through the platform's one pixmap cache.
  Ref<Object> CreateImageList() override;
  // QCoreApplication::processEvents().
  void DoEvents() override;
  // processEvents(ExcludeUserInputEvents, maxMs): paint and timers; input waits for DoEvents.
  void ProcessPaintAndTimers(int32_t maxMs) override;

  // Runs once each message box is on screen and modal, with the box itself: a test or an
  // unattended host can read it and close it. Unset: the user closes it.
  std::function<void(QMessageBox&)> onMessageBoxShown;
};

// The Qt platform; a QApplication must exist.
DESK_QT_API std::shared_ptr<QtPlatform> MakeQtPlatform();

// The widget of a surface made by the Qt platform; null for another platform's surface.
DESK_QT_API QtSurfaceWidget* SurfaceWidget(Surface& surface);
// The surface widget of a control (an object that is a desk::Control with a surface); null
// when it has none or runs on another platform.
DESK_QT_API QtSurfaceWidget* ControlWidget(Object& control);
// The Qt view that shows a tree made by the Qt platform; null for another tree. Its model's
// indexes carry the tree's nodes (QModelIndex::internalPointer is the desk::Node).
DESK_QT_API QTreeView* TreeViewOf(TreeView& tree);

// Conversions between the platform's font object and QFont.
DESK_QT_API QFont ToQFont(const Font& font);
DESK_QT_API Ref<Font> FromQFont(const QFont& font);

}  // namespace desk
