// Qt Designer's entry for VarbelTreeviewWidget: the widget box's item, the include file that
// uic writes, and the widget Designer creates on a form.
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

#include "desk/treeview_widget.h"

class VarbelTreeviewDesignerPlugin : public QObject, public QDesignerCustomWidgetInterface {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QDesignerCustomWidgetInterface")
  Q_INTERFACES(QDesignerCustomWidgetInterface)

 public:
  explicit VarbelTreeviewDesignerPlugin(QObject* parent = nullptr) : QObject(parent) {}

  QString name() const override { return QStringLiteral("VarbelTreeviewWidget"); }
  QString group() const override { return QStringLiteral("Desk Controls"); }
  QString toolTip() const override { return QStringLiteral("The tree-view control VarbelTreeviewControl"); }
  QString whatsThis() const override {
    return QStringLiteral(
        "A tree of nodes with pictures, check boxes and a context menu. Its saved settings are the "
        "properties under VarbelTreeviewWidget.");
  }
  QString includeFile() const override { return QStringLiteral("desk/treeview_widget.h"); }
  QIcon icon() const override { return {}; }
  bool isContainer() const override { return false; }
  bool isInitialized() const override { return initialized_; }
  void initialize(QDesignerFormEditorInterface*) override { initialized_ = true; }
  QWidget* createWidget(QWidget* parent) override { return new VarbelTreeviewWidget(parent); }
  QString domXml() const override {
    return QStringLiteral(
        "<ui language=\"c++\">\n"
        " <widget class=\"VarbelTreeviewWidget\" name=\"treeview\">\n"
        "  <property name=\"geometry\"><rect><x>0</x><y>0</y><width>200</width><height>240</height></rect>"
        "</property>\n"
        " </widget>\n"
        "</ui>\n");
  }

 private:
  bool initialized_ = false;
};

#include "treeview_designer_plugin.moc"
