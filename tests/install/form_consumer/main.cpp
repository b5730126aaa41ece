// A Qt application whose form, made in Qt Designer, holds the tree control: built by uic
// against the installed package, its settings read back through the widget's properties.
#include <QApplication>
#include <cstdio>

#include "desk/treeview_widget.h"
#include "ui_tree_form.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget form;
  Ui::TreeForm ui;
  ui.setupUi(&form);
  if (!ui.treeview->Control()) return 1;
  std::printf("form consumer: PathSeparator %s, Indentation %g, Checkboxes %s\n",
              qPrintable(ui.treeview->PathSeparator()), ui.treeview->Indentation(),
              ui.treeview->Checkboxes() ? "on" : "off");
  return 0;
}
