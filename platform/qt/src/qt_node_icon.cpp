#include "qt_node_icon.h"

#include <QGuiApplication>
#include <QPaintEngine>
#include <QPainter>

#include "qt_image_list.h"

namespace desk::qtb {

const NodeIconEngine::Face& NodeIconEngine::FaceOf(QIcon::Mode mode) const {
  if (mode == QIcon::Selected && !selected_.pixmap.isNull()) return selected_;
  return normal_.pixmap.isNull() ? selected_ : normal_;
}

QSize NodeIconEngine::actualSize(const QSize& size, QIcon::Mode mode, QIcon::State) {
  const QSize own = FaceOf(mode).pixmap.size();
  return own.width() <= size.width() && own.height() <= size.height() ? own : own.scaled(size, Qt::KeepAspectRatio);
}

QPixmap NodeIconEngine::pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) {
  const QPixmap& own = FaceOf(mode).pixmap;
  const QSize fit = actualSize(size, mode, state);
  return fit == own.size() ? own : own.scaled(fit, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QPixmap NodeIconEngine::scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) {
  // `size` is in device pixels.
  const Face& face = FaceOf(mode);
  if (face.image && scale > 1) {
    const QPixmap dense = DevicePixmap(*face.image, actualSize(size / scale, mode, state), scale);
    if (!dense.isNull()) return dense;
  }
  return pixmap(size, mode, state);
}

void NodeIconEngine::paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) {
  // The device painted on: a widget's painter may be redirected (QWidget::render, grab) to
  // an image of another density.
  const QPaintEngine* engine = painter->paintEngine();
  const QPaintDevice* device = engine && engine->paintDevice() ? engine->paintDevice() : painter->device();
  const qreal dpr = device ? device->devicePixelRatio() : qApp->devicePixelRatio();
  const Face& face = FaceOf(mode);
  QPixmap dense = face.image && dpr > 1 ? DevicePixmap(*face.image, rect.size(), dpr) : QPixmap();
  painter->drawPixmap(rect, dense.isNull() ? pixmap(rect.size(), mode, state) : dense);
}

QList<QSize> NodeIconEngine::availableSizes(QIcon::Mode mode, QIcon::State) {
  const QPixmap& own = FaceOf(mode).pixmap;
  return own.isNull() ? QList<QSize>{} : QList<QSize>{own.size()};
}

}  // namespace desk::qtb
