#include <QApplication>

#include "desk/component.h"
#include "desk/qt_platform.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  desk::SetPlatform(desk::MakeQtPlatform());  // before the first control
  desk::Ref<desk::Object> tree = desk::CreateFromLibrary(
      "libVarbelTreeview.so", "VarbelTreeview_CreateObject", "{D5CA163D-6878-4BD8-A144-A5E85A414594}");
  QWidget* widget = desk::ControlWidget(*tree);  // the control's QWidget: put it in any layout
  widget->resize(400, 300);
  widget->show();
  return app.exec();
}
