// The tree control in Qt Designer's forms: the plugin as Designer loads it, the widget's
// properties against the control's member table, and a form with three changed settings built
// through uic and loaded through QUiLoader, its settings read back through the control.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMetaProperty>
#include <QPluginLoader>
#include <QSignalSpy>
#include <QUiLoader>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>
#include <memory>
#include <string>
#include <vector>

#include "desk/treeview_widget.h"
#include "members.h"
#include "ui_tree_form.h"

namespace {

using desk::VarType;

desk::Variant Read(VarbelTreeviewWidget& w, const char16_t* name) {
  desk::Object& c = *w.Control();
  std::vector<desk::Variant> none;
  return c.Invoke(c.GetIdOfName(name), desk::InvokeKind::Get, none);
}

// The three settings the form changes, and one it leaves at the control's default.
void ExpectFormSettings(VarbelTreeviewWidget& w) {
  EXPECT_EQ(Read(w, u"PathSeparator").ToString(), u"/");
  EXPECT_FLOAT_EQ(Read(w, u"Indentation").ToSingle(), 300.0f);
  EXPECT_TRUE(Read(w, u"Checkboxes").ToBool());
  EXPECT_EQ(Read(w, u"Style").ToLong(), 7) << "a setting the form leaves alone keeps its default";
}

const char* QtTypeOf(VarType t) {
  switch (t) {
    case VarType::Boolean: return "bool";
    case VarType::Integer:
    case VarType::Long: return "int";
    case VarType::Single: return "double";
    case VarType::String: return "QString";
    default: return "?";
  }
}

TEST(DesignerPlugin, LoadsAndListsTheWidget) {
  QPluginLoader loader(QStringLiteral(DESK_DESIGNER_PLUGIN));
  QObject* instance = loader.instance();
  ASSERT_NE(instance, nullptr) << loader.errorString().toStdString();
  auto* plugin = qobject_cast<QDesignerCustomWidgetInterface*>(instance);
  ASSERT_NE(plugin, nullptr) << "the plugin does not offer QDesignerCustomWidgetInterface";
  EXPECT_EQ(plugin->name(), "VarbelTreeviewWidget");
  EXPECT_EQ(plugin->includeFile(), "desk/treeview_widget.h");
  EXPECT_FALSE(plugin->isContainer());
  EXPECT_TRUE(plugin->domXml().contains("class=\"VarbelTreeviewWidget\""));
  std::unique_ptr<QWidget> w(plugin->createWidget(nullptr));
  ASSERT_NE(qobject_cast<VarbelTreeviewWidget*>(w.get()), nullptr);
}

// Every saved setting that holds a value is a property, in the interface's order, of the
// member's type, with a standard setter (so that Designer saves it and uic calls setX), and
// nothing else is.
TEST(DesignerWidget, PropertiesAreTheSavedValueSettings) {
  std::vector<std::pair<std::string, std::string>> expected;
  for (const varbel::Desc& d : varbel::kMembers)
    if (varbel::IsSaved(d) && d.type != VarType::Object) expected.emplace_back(d.name, QtTypeOf(d.type));
  ASSERT_EQ(expected.size(), 54u);

  const QMetaObject& mo = VarbelTreeviewWidget::staticMetaObject;
  std::vector<std::pair<std::string, std::string>> actual;
  for (int i = mo.propertyOffset(); i < mo.propertyCount(); ++i) {
    QMetaProperty p = mo.property(i);
    actual.emplace_back(p.name(), p.typeName());
    EXPECT_TRUE(p.hasStdCppSet()) << p.name();
    EXPECT_TRUE(p.isDesignable()) << p.name();
    EXPECT_TRUE(p.isStored()) << p.name();
    EXPECT_TRUE(p.isWritable()) << p.name();
  }
  EXPECT_EQ(actual, expected);
}

// A property reads the control's value and writes through to it, for each kind of value.
TEST(DesignerWidget, PropertiesReadAndWriteTheControl) {
  VarbelTreeviewWidget w;
  struct Row {
    const char* name;
    QVariant value;
  } rows[] = {{"PathSeparator", QStringLiteral("::")},
              {"Sorted", true},
              {"LabelEdit", 1},
              {"Indentation", 450.0},
              {"BackColor", 0x00FF00},
              {"hWnd", 1234}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ASSERT_TRUE(w.setProperty(r.name, r.value));
    EXPECT_EQ(w.property(r.name), r.value);
  }
  EXPECT_EQ(Read(w, u"PathSeparator").ToString(), u"::");
  EXPECT_TRUE(Read(w, u"Sorted").ToBool());
  EXPECT_EQ(Read(w, u"LabelEdit").ToLong(), 1);
  EXPECT_FLOAT_EQ(Read(w, u"Indentation").ToSingle(), 450.0f);
  EXPECT_EQ(Read(w, u"BackColor").ToLong(), 0x00FF00);
  EXPECT_EQ(Read(w, u"hWnd").ToLong(), 1234);
}

// A value the control refuses is reported, not thrown into Qt, and changes nothing.
TEST(DesignerWidget, RefusedSettingIsReported) {
  VarbelTreeviewWidget w;
  QSignalSpy refused(&w, &VarbelTreeviewWidget::settingRefused);
  w.setStyle(99);
  ASSERT_EQ(refused.count(), 1);
  EXPECT_EQ(refused.at(0).at(1).toInt(), 380);
  EXPECT_EQ(w.Style(), 7);
}

// Without the control library (the test designer_tests_without_control), Designer or a form's
// host goes on: the widget says why, and its properties do nothing.
TEST(DesignerWidget, WithoutTheControlLibrary) {
  if (!qEnvironmentVariableIsSet("DESK_TEST_NO_CONTROL_LIBRARY")) GTEST_SKIP() << "run by designer_tests_without_control";
  VarbelTreeviewWidget w;
  EXPECT_EQ(w.Control(), nullptr);
  auto* label = w.findChild<QLabel*>();
  ASSERT_NE(label, nullptr);
  EXPECT_TRUE(label->text().contains("error 429")) << label->text().toStdString();
  w.setPathSeparator("/");
  EXPECT_EQ(w.PathSeparator(), QString());
  EXPECT_EQ(w.Style(), 0);
}

TEST(DesignerForm, BuiltWithUicReachesTheControl) {
  QWidget form;
  Ui::TreeForm ui;
  ui.setupUi(&form);
  ExpectFormSettings(*ui.treeview);
}

TEST(DesignerForm, LoadedWithQUiLoaderReachesTheControl) {
  QUiLoader loader;
  loader.clearPluginPaths();
  loader.addPluginPath(QFileInfo(QStringLiteral(DESK_DESIGNER_PLUGIN)).absolutePath());
  ASSERT_TRUE(loader.availableWidgets().contains("VarbelTreeviewWidget"));
  QFile file(QStringLiteral(DESK_TREE_FORM));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  std::unique_ptr<QWidget> form(loader.load(&file));
  ASSERT_NE(form, nullptr) << loader.errorString().toStdString();
  auto* tree = form->findChild<VarbelTreeviewWidget*>("treeview");
  ASSERT_NE(tree, nullptr);
  ExpectFormSettings(*tree);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
