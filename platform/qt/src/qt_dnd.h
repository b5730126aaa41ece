// Drag and drop: the data object the tree's OLE events carry, and its Qt side.
//
// Formats are the platform's clipboard numbers: 1 text ("text/plain"), 15 a file list
// ("text/uri-list", read as local paths one per line), -16639 rich text ("text/rtf"); any
// other number travels as "application/x-desk-format-<n>" (UTF-8 text).
#pragma once

#include <QMimeData>
#include <QPointer>
#include <map>

#include "desk/dispatch.h"
#include "desk/tree.h"

namespace desk::qtb {

class QtTree;

QString MimeOfFormat(int16_t format);
// The format of a MIME type; false when it is none of ours.
bool FormatOfMime(const QString& mime, int16_t& format);

namespace dataid {
inline constexpr DispId kGetData = 1, kGetFormat = 2, kSetData = 3, kClear = 4;
}

class DataObject : public Dispatchable<DataObject> {
 public:
  static const DispatchTable<DataObject>& Table();
  // Data the tree offers (a drag it starts): the host fills it in OLEStartDrag/OLESetData.
  DataObject() = default;
  // Data of a drag over the tree: read-only, and empty once the drag is over.
  explicit DataObject(const QMimeData* incoming) : incoming_(incoming), isIncoming_(true) {}

  // The value of a format, or Empty when it has none (or only promised one).
  Variant GetData(int16_t format) const;
  bool GetFormat(int16_t format) const;
  // Value Missing: promises the format, to be supplied in OLESetData when a target asks.
  // Format Missing: text for a text value. 5 on the data of a drag over the tree.
  void SetData(const Variant& value, const Variant& format);
  void Clear();

  // The offered formats, and whether a format has a value yet (outgoing data).
  const std::map<int16_t, Variant>& Values() const { return values_; }

 private:
  QPointer<const QMimeData> incoming_;
  bool isIncoming_ = false;
  std::map<int16_t, Variant> values_;  // Empty: promised, not supplied yet
};

// The QMimeData of a drag the tree started: lists the data object's formats and asks the
// host for a promised one (OLESetData) when a target reads it.
class DeskMimeData : public QMimeData {
 public:
  DeskMimeData(Ref<TreeView> tree, Ref<DataObject> data) : tree_(std::move(tree)), data_(std::move(data)) {}
  QStringList formats() const override;
  bool hasFormat(const QString& mime) const override;

 protected:
  QVariant retrieveData(const QString& mime, QMetaType type) const override;

 private:
  Ref<TreeView> tree_;
  Ref<DataObject> data_;
};

}  // namespace desk::qtb
