// The tree control in a QWidget whose properties are the control's saved settings.
#include "desk/treeview_widget.h"

#include <QLabel>
#include <QVBoxLayout>
#include <QtGlobal>
#include <vector>

#include "desk/component.h"
#include "desk/error.h"
#include "desk/platform.h"
#include "desk/qt_platform.h"
#include "desk/variant.h"

namespace {

QString Q(const std::u16string& s) {
  return QString(reinterpret_cast<const QChar*>(s.data()), static_cast<qsizetype>(s.size()));
}

std::u16string U(const QString& s) { return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), s.size()); }

QVariant ToQVariant(const desk::Variant& v) {
  switch (v.ValueType()) {
    case desk::VarType::Boolean: return v.ToBool();
    case desk::VarType::Integer:
    case desk::VarType::Long: return static_cast<int>(v.ToLong());
    case desk::VarType::Single:
    case desk::VarType::Double: return v.ToDouble();
    case desk::VarType::String: return Q(v.ToString());
    default: return {};
  }
}

desk::Variant FromQVariant(const QVariant& v) {
  switch (v.typeId()) {
    case QMetaType::Bool: return desk::Variant::Bool(v.toBool());
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::Short: return desk::Variant::Long(static_cast<int32_t>(v.toLongLong()));
    case QMetaType::Double:
    case QMetaType::Float: return desk::Variant::Double(v.toDouble());
    default: return desk::Variant::String(U(v.toString()));
  }
}

}  // namespace

VarbelTreeviewWidget::VarbelTreeviewWidget(QWidget* parent) : QWidget(parent) {
  // A form may be the first thing a host shows: the controls need the Qt platform before the
  // first of them is made.
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  try {
    if (!dynamic_cast<desk::QtPlatform*>(&desk::CurrentPlatform())) desk::SetPlatform(desk::MakeQtPlatform());
    control_ = desk::CreateFromLibrary("libVarbelTreeview.so", "VarbelTreeview_CreateObject", kClassId);
    if (auto* c = dynamic_cast<desk::Control*>(control_.get())) c->InitProperties();
    layout->addWidget(desk::ControlWidget(*control_));
  } catch (const desk::Error& e) {
    // Designer or a form's host goes on without the control, and says why.
    control_ = nullptr;
    QString text = QStringLiteral("The tree control could not be created: error %1: %2").arg(e.Number()).arg(Q(e.Description()));
    qWarning("VarbelTreeviewWidget: %s", qPrintable(text));
    auto* label = new QLabel(text, this);
    label->setWordWrap(true);
    layout->addWidget(label);
  }
}

VarbelTreeviewWidget::~VarbelTreeviewWidget() {
  // Releasing the control deletes its surface widget, which leaves the layout.
  control_ = nullptr;
}

QVariant VarbelTreeviewWidget::Get(desk::DispId id) const {
  if (!control_) return {};
  std::vector<desk::Variant> none;
  try {
    return ToQVariant(control_->Invoke(id, desk::InvokeKind::Get, none));
  } catch (const desk::Error& e) {
    qWarning("VarbelTreeviewWidget: reading member 0x%08X failed: error %d: %s", static_cast<unsigned>(id),
             e.Number(), e.what());
    return {};
  }
}

void VarbelTreeviewWidget::Put(desk::DispId id, const QVariant& value) {
  if (!control_) return;
  std::vector<desk::Variant> args{FromQVariant(value)};
  try {
    control_->Invoke(id, desk::InvokeKind::Let, args);
  } catch (const desk::Error& e) {
    qWarning("VarbelTreeviewWidget: the control refused member 0x%08X = %s: error %d: %s",
             static_cast<unsigned>(id), qPrintable(value.toString()), e.Number(), e.what());
    emit settingRefused(id, e.Number(), Q(e.Description()));
  }
}
