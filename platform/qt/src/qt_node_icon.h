// The picture a row shows for its node: the list's copy of the node's picture (or of its
// selected picture, for a selected row), drawn on a device of higher density from pixels
// decoded at the device's size when the picture has them (DevicePixmap).
#pragma once

#include <QIconEngine>
#include <QPixmap>

#include "desk/imagelist.h"

namespace desk::qtb {

class NodeIconEngine : public QIconEngine {
 public:
  struct Face {
    Ref<ListImage> image;  // null: none
    QPixmap pixmap;        // the list's pixels at the tree's icon size
  };
  NodeIconEngine(Face normal, Face selected) : normal_(std::move(normal)), selected_(std::move(selected)) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override;
  QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
  QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override;
  QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override;
  bool isNull() override { return normal_.pixmap.isNull() && selected_.pixmap.isNull(); }
  QString key() const override { return QStringLiteral("desk-node"); }
  QIconEngine* clone() const override { return new NodeIconEngine(*this); }

 private:
  const Face& FaceOf(QIcon::Mode mode) const;

  Face normal_, selected_;
};

}  // namespace desk::qtb
