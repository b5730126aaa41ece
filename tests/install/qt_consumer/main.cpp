// A Qt application of another project: it finds the controls and their Qt backend through
// find_package(DeskControls COMPONENTS Qt), shows the tree control in a window and prints
// what it shows.
#include <QApplication>
#include <QImage>
#include <QMainWindow>
#include <QPixmap>
#include <cstdio>

#include "VarbelTreeview/VarbelTreeview.h"
#include "desk/dispatch.h"
#include "desk/platform.h"
#include "desk/qt_platform.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  desk::SetPlatform(desk::MakeQtPlatform());
  int status = 1;
  {
    desk::Object* raw = nullptr;
    char message[256] = {};
    if (int32_t err = VarbelTreeview_CreateObject("{D5CA163D-6878-4BD8-A144-A5E85A414594}", &raw, message, sizeof message)) {
      std::printf("error %d: %s\n", err, message);
      return 1;
    }
    auto tree = desk::AdoptRef(raw);
    dynamic_cast<desk::Control&>(*tree).InitProperties();
    auto nodes = desk::CallByName(tree, u"Nodes", desk::InvokeKind::Get).ToObject();
    desk::CallByName(nodes, u"Add", desk::InvokeKind::Method,
                     {desk::Variant::Missing(), desk::Variant::Missing(), desk::Variant::String(u"k"),
                      desk::Variant::String(u"Hello from the package")});
    QMainWindow window;
    window.setCentralWidget(desk::ControlWidget(*tree));
    window.resize(300, 200);
    window.show();
    QApplication::processEvents();
    const QImage shot = window.grab().toImage();
    int dark = 0;
    for (int y = 0; y < shot.height(); ++y)
      for (int x = 0; x < shot.width(); ++x) dark += qGray(shot.pixel(x, y)) < 100;
    std::printf("qt consumer: %d node, %dx%d window, %s\n",
                desk::CallByName(nodes, u"Count", desk::InvokeKind::Get).ToLong(), shot.width(), shot.height(),
                dark > 20 ? "text drawn" : "nothing drawn");
    status = dark > 20 ? 0 : 1;
  }
  desk::SetPlatform(nullptr);
  return status;
}
