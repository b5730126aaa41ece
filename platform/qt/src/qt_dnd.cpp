#include "qt_dnd.h"

#include <QUrl>

#include "qt_util.h"

namespace desk::qtb {

namespace {

constexpr int16_t kText = 1, kFiles = 15, kRtf = -16639;
const QString kCustomPrefix = QStringLiteral("application/x-desk-format-");

Variant Done() { return Variant(); }

}  // namespace

QString MimeOfFormat(int16_t format) {
  switch (format) {
    case kText: return QStringLiteral("text/plain");
    case kFiles: return QStringLiteral("text/uri-list");
    case kRtf: return QStringLiteral("text/rtf");
    default: return kCustomPrefix + QString::number(format);
  }
}

bool FormatOfMime(const QString& mime, int16_t& format) {
  if (mime == QLatin1String("text/plain")) return format = kText, true;
  if (mime == QLatin1String("text/uri-list")) return format = kFiles, true;
  if (mime == QLatin1String("text/rtf")) return format = kRtf, true;
  if (!mime.startsWith(kCustomPrefix)) return false;
  bool ok = false;
  int n = mime.mid(kCustomPrefix.size()).toInt(&ok);
  if (!ok || n < INT16_MIN || n > INT16_MAX) return false;
  format = static_cast<int16_t>(n);
  return true;
}

Variant DataObject::GetData(int16_t format) const {
  if (!isIncoming_) {
    auto it = values_.find(format);
    return it == values_.end() ? Variant() : it->second;
  }
  if (!incoming_) return Variant();
  if (format == kText) return incoming_->hasText() ? Variant::String(U(incoming_->text())) : Variant();
  if (format == kFiles) {
    if (!incoming_->hasUrls()) return Variant();
    QStringList paths;
    for (const QUrl& u : incoming_->urls()) paths << (u.isLocalFile() ? u.toLocalFile() : u.toString());
    return Variant::String(U(paths.join(QLatin1Char('\n'))));
  }
  const QString mime = MimeOfFormat(format);
  if (!incoming_->hasFormat(mime)) return Variant();
  return Variant::String(U(QString::fromUtf8(incoming_->data(mime))));
}

bool DataObject::GetFormat(int16_t format) const {
  if (!isIncoming_) return values_.count(format) > 0;
  if (!incoming_) return false;
  if (format == kText) return incoming_->hasText();
  if (format == kFiles) return incoming_->hasUrls();
  return incoming_->hasFormat(MimeOfFormat(format));
}

void DataObject::SetData(const Variant& value, const Variant& format) {
  if (isIncoming_) Raise(Err::InvalidProcedureCall);
  const bool noValue = value.IsMissing() || value.IsEmpty();
  const bool noFormat = format.IsMissing() || format.IsEmpty();
  if (noValue && noFormat) Raise(Err::InvalidProcedureCall);
  const int16_t f = noFormat ? kText : format.ToInteger();
  values_[f] = noValue ? Variant() : Variant::String(value.ToString());
}

void DataObject::Clear() {
  if (isIncoming_) Raise(Err::InvalidProcedureCall);
  values_.clear();
}

const DispatchTable<DataObject>& DataObject::Table() {
  using K = InvokeKind;
  using T = VarType;
  static const DispatchTable<DataObject> t(
      "DataObject", "{}",
      {
          {{"GetData", dataid::kGetData, K::Method, {{"Format", T::Integer}}, T::Any},
           [](DataObject& d, Args& a) { return d.GetData(a.Integer(0)); }},
          {{"GetFormat", dataid::kGetFormat, K::Method, {{"Format", T::Integer}}, T::Boolean},
           [](DataObject& d, Args& a) { return Variant::Bool(d.GetFormat(a.Integer(0))); }},
          {{"SetData", dataid::kSetData, K::Method, {{"Value", T::Any, false, true}, {"Format", T::Any, false, true}}},
           [](DataObject& d, Args& a) { return d.SetData(a[0].Value(), a[1].Value()), Done(); }},
          {{"Clear", dataid::kClear, K::Method, {}}, [](DataObject& d, Args&) { return d.Clear(), Done(); }},
      });
  return t;
}

QStringList DeskMimeData::formats() const {
  QStringList out;
  for (const auto& [f, v] : data_->Values()) out << MimeOfFormat(f);
  return out;
}

bool DeskMimeData::hasFormat(const QString& mime) const {
  int16_t f = 0;
  return FormatOfMime(mime, f) && data_->GetFormat(f);
}

QVariant DeskMimeData::retrieveData(const QString& mime, QMetaType type) const {
  int16_t f = 0;
  if (!FormatOfMime(mime, f) || !data_->GetFormat(f)) return QVariant();
  if (data_->GetData(f).IsEmpty()) {
    // A promised format: the host supplies it now, into the same data object.
    Ref<Object> obj = data_;
    int16_t format = f;
    try {
      tree_->RaiseOLESetData(obj, format);
    } catch (const Error&) {
      return QVariant();  // a failing handler leaves the target without the data
    }
  }
  const Variant v = data_->GetData(f);
  if (v.IsEmpty()) return QVariant();
  const QString text = Q(v.ToString());
  if (type.id() == QMetaType::QString) return text;
  return text.toUtf8();
}

}  // namespace desk::qtb
