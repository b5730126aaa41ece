// Qt Designer's own form editor (its components library, as the designer program runs it) with
// the plugin: the tree in the widget box, its settings are in the property sheet under the widget's group, a setting
// changed there is saved in the form's XML as Designer writes it, and that XML loads through
// QUiLoader with every setting reaching the control.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QDesignerComponents>
#include <QDesignerFormEditorInterface>
#include <QDesignerFormWindowInterface>
#include <QDesignerFormWindowManagerInterface>
#include <QDesignerIntegration>
#include <QDesignerPropertySheetExtension>
#include <QDesignerWidgetBoxInterface>
#include <QExtensionManager>
#include <QFile>
#include <QFileInfo>
#include <QMetaProperty>
#include <QUiLoader>
#include <memory>
#include <vector>

#include "desk/treeview_widget.h"
#include "desk/variant.h"

namespace {

desk::Variant Read(VarbelTreeviewWidget& w, const char16_t* name) {
  desk::Object& c = *w.Control();
  std::vector<desk::Variant> none;
  return c.Invoke(c.GetIdOfName(name), desk::InvokeKind::Get, none);
}

TEST(DesignerFormEditor, SavesTheSettingsAndTheFormLoadsBack) {
  QDesignerFormEditorInterface* core = QDesignerComponents::createFormEditor(nullptr);
  QDesignerComponents::createTaskMenu(core, nullptr);
  QDesignerComponents::initializePlugins(core);
  QDesignerComponents::initializeResources();
  core->setWidgetBox(QDesignerComponents::createWidgetBox(core, nullptr));
  // The widget box as Designer fills it: Qt's widgets, then the plugins' by their group.
  QDesignerWidgetBoxInterface* box = core->widgetBox();
  box->setFileName(QStringLiteral(":/qt-project.org/widgetbox/widgetbox.xml"));
  box->load();
  bool inBox = false;
  for (int c = 0; c < box->categoryCount(); ++c) {
    QDesignerWidgetBoxInterface::Category category = box->category(c);
    for (int w = 0; w < category.widgetCount(); ++w)
      inBox |= category.name() == "Desk Controls" && category.widget(w).name() == "VarbelTreeviewWidget";
  }
  EXPECT_TRUE(inBox) << "the widget box has no VarbelTreeviewWidget under Desk Controls";
  core->setPropertyEditor(QDesignerComponents::createPropertyEditor(core, nullptr));
  new QDesignerIntegration(core, nullptr);

  QDesignerFormWindowInterface* form = core->formWindowManager()->createFormWindow(nullptr);
  QFile file(QStringLiteral(DESK_TREE_FORM));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  form->setContents(QString::fromUtf8(file.readAll()));
  auto* tree = form->mainContainer()->findChild<VarbelTreeviewWidget*>("treeview");
  ASSERT_NE(tree, nullptr) << "Designer did not make the form's tree through the plugin";

  // Every property of the widget is in the sheet, visible, under the widget's own group.
  auto* sheet = qt_extension<QDesignerPropertySheetExtension*>(core->extensionManager(), tree);
  ASSERT_NE(sheet, nullptr);
  const QMetaObject& mo = VarbelTreeviewWidget::staticMetaObject;
  for (int i = mo.propertyOffset(); i < mo.propertyCount(); ++i) {
    int at = sheet->indexOf(QString::fromLatin1(mo.property(i).name()));
    ASSERT_GE(at, 0) << mo.property(i).name();
    EXPECT_TRUE(sheet->isVisible(at)) << mo.property(i).name();
    EXPECT_EQ(sheet->propertyGroup(at), "VarbelTreeviewWidget") << mo.property(i).name();
  }

  // A setting changed in the property editor, as the editor changes it.
  int labelEdit = sheet->indexOf(QStringLiteral("LabelEdit"));
  sheet->setProperty(labelEdit, 1);
  sheet->setChanged(labelEdit, true);
  QString saved = form->contents();
  for (const char* p : {"PathSeparator", "Indentation", "Checkboxes", "LabelEdit"})
    EXPECT_TRUE(saved.contains(QStringLiteral("<property name=\"%1\">").arg(QLatin1String(p)))) << p;
  EXPECT_FALSE(saved.contains("stdset")) << "uic would not call the setters";
  EXPECT_FALSE(saved.contains("<property name=\"Style\">")) << "an unchanged setting is not saved";

  QUiLoader loader;
  loader.clearPluginPaths();
  loader.addPluginPath(QFileInfo(QStringLiteral(DESK_DESIGNER_PLUGIN)).absolutePath());
  QByteArray bytes = saved.toUtf8();
  QBuffer buffer(&bytes);
  ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
  std::unique_ptr<QWidget> loaded(loader.load(&buffer));
  ASSERT_NE(loaded, nullptr) << loader.errorString().toStdString();
  auto* again = loaded->findChild<VarbelTreeviewWidget*>("treeview");
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(Read(*again, u"PathSeparator").ToString(), u"/");
  EXPECT_FLOAT_EQ(Read(*again, u"Indentation").ToSingle(), 300.0f);
  EXPECT_TRUE(Read(*again, u"Checkboxes").ToBool());
  EXPECT_EQ(Read(*again, u"LabelEdit").ToLong(), 1);
  EXPECT_EQ(Read(*again, u"Style").ToLong(), 7);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
