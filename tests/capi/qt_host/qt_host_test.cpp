// The C interface on the Qt platform inside a C++ host's own application: a control's widget
// in the host's window, destroyed in either order, and a control released inside its own
// event raised by the host's event loop. It loads libDeskQt.so through desk_use_platform, as a
// host that only has desk_c.h does. (python/tests/test_pyqt.py makes the same calls from a
// PyQt6 host, with clicks and posted calls through app.exec().)
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QSplitter>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "VarbelTreeview/VarbelTreeview.h"
#include "desk/desk_c.h"

namespace {

constexpr const char* kTreeClsid = "{D5CA163D-6878-4BD8-A144-A5E85A414594}";

// An event sink that hands each event's name to a function.
struct Sink {
  std::function<void(const std::string&)> on;
  const desk_interface_info* events = nullptr;
  static int32_t Invoke(void* self, int32_t id, int32_t, desk_value*, int32_t, desk_value*, desk_error*) {
    auto* s = static_cast<Sink*>(self);
    for (int32_t i = 0; i < s->events->member_count; ++i)
      if (s->events->members[i].id == id) s->on(s->events->members[i].name);
    return 0;
  }
  static constexpr desk_host_vtbl kVtbl{sizeof(desk_host_vtbl), &Invoke, nullptr};
};

class QtHost : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(desk_handle_count(), 0);
    ASSERT_EQ(VarbelTreeview_DeskCreate(kTreeClsid, &tree, &err), 0) << err.text;
    ASSERT_EQ(desk_init_properties(tree, &err), 0);
    for (const char* key : {"a", "b", "c"}) AddNode(key);
    void* w = nullptr;
    ASSERT_EQ(desk_widget(tree, &w, &err), 0) << err.text;
    widget = static_cast<QWidget*>(w);
    window = new QWidget;  // the host's window: a splitter in a layout
    auto* layout = new QVBoxLayout(window);
    splitter = new QSplitter;
    layout->addWidget(splitter);
    splitter->addWidget(widget);
    splitter->addWidget(new QLabel("picture"));
    window->resize(500, 300);
    window->show();
    QApplication::processEvents();
  }
  void TearDown() override {
    delete window.data();
    if (tree) desk_release(tree);
    QApplication::processEvents();  // what waited for the loop to be idle
    EXPECT_EQ(desk_handle_count(), 0) << "a handle was not given back";
  }
  int32_t Id(desk_object* o, const char* name) {
    int32_t id = 0;
    EXPECT_EQ(desk_id_of_name(o, name, &id, &err), 0) << name;
    return id;
  }
  desk_value Get(desk_object* o, const char* name) {
    desk_value v{};
    EXPECT_EQ(desk_get(o, Id(o, name), &v, &err), 0) << name << ": " << err.text;
    return v;
  }
  void AddNode(const char* key) {
    desk_value nodes = Get(tree, "Nodes"), node{};
    desk_value args[4] = {{}, {}, {}, {}};
    args[0].kind = args[1].kind = DESK_MISSING;
    ASSERT_EQ(desk_string_utf8(key, &args[2], &err), 0);
    ASSERT_EQ(desk_string_utf8(key, &args[3], &err), 0);
    ASSERT_EQ(desk_invoke(nodes.u.object, Id(nodes.u.object, "Add"), DESK_METHOD, args, 4, &node, &err), 0) << err.text;
    for (desk_value* v : {&args[2], &args[3], &node, &nodes}) desk_value_clear(v);
  }
  int32_t Count() {
    desk_value nodes = Get(tree, "Nodes");
    desk_value n = Get(nodes.u.object, "Count");
    desk_value_clear(&nodes);
    return n.u.long_;
  }
  // Connects `on` to the tree's events; the tree holds the sink from then on.
  void Connect(std::function<void(const std::string&)> on) {
    sink.on = std::move(on);
    sink.events = desk_event_interface(tree, &err);
    desk_object* h = nullptr;
    ASSERT_EQ(desk_host_new(&Sink::kVtbl, &sink, nullptr, 0, &h, &err), 0);
    int32_t cookie = 0;
    ASSERT_EQ(desk_advise(tree, h, &cookie, &err), 0);
    desk_release(h);
  }
  // A left click on a row's centre, made from inside the host's own event loop (app.exec()).
  void ClickInTheLoop(int row) {
    QTreeView* view = widget->findChild<QTreeView*>();
    ASSERT_NE(view, nullptr);
    const QPoint at = view->visualRect(view->model()->index(row, 0)).center();
    QPointer<QWidget> viewport = view->viewport();
    QTimer::singleShot(0, [viewport, at] {
      if (viewport) QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
      QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    });
    QApplication::exec();
  }

  desk_object* tree = nullptr;
  desk_error err{};
  QWidget* widget = nullptr;
  QPointer<QWidget> window;
  QSplitter* splitter = nullptr;
  Sink sink;
};

TEST_F(QtHost, TheHostsWindowDestroyedFirstTakesTheWidgetAndTheControlWorksOn) {
  QPointer<QWidget> watch(widget);
  delete window.data();
  EXPECT_TRUE(watch.isNull()) << "deleted with the host's window";
  AddNode("d");  // the tree keeps its nodes without a view
  EXPECT_EQ(Count(), 4);
  desk_value path = Get(tree, "PathSeparator");
  desk_value_clear(&path);
  void* w = &err;
  EXPECT_EQ(desk_widget(tree, &w, &err), 438) << "no window any more";
  EXPECT_EQ(w, nullptr);
  EXPECT_EQ(desk_release(tree), 0);
  tree = nullptr;
}

TEST_F(QtHost, TheControlReleasedFirstTakesItsWidgetOutOfTheHostsWindow) {
  QPointer<QWidget> watch(widget);
  ASSERT_EQ(splitter->count(), 2);
  EXPECT_EQ(desk_release(tree), 0);
  tree = nullptr;
  EXPECT_TRUE(watch.isNull());
  ASSERT_EQ(splitter->count(), 1) << "the splitter holds the host's own pane only";
  EXPECT_TRUE(qobject_cast<QLabel*>(splitter->widget(0)));
  window->resize(600, 300);  // the host's layout works on
  QApplication::processEvents();
}

TEST_F(QtHost, AWidgetNeverPlacedGoesWithTheControl) {
  desk_object* other = nullptr;
  ASSERT_EQ(VarbelTreeview_DeskCreate(kTreeClsid, &other, &err), 0);
  void* w = nullptr;
  ASSERT_EQ(desk_widget(other, &w, &err), 0);
  QPointer<QWidget> watch(static_cast<QWidget*>(w));
  EXPECT_EQ(watch->parent(), nullptr);
  desk_release(other);
  EXPECT_TRUE(watch.isNull());
  desk_object* bag = nullptr;
  ASSERT_EQ(desk_bag_new(&bag, &err), 0);
  EXPECT_EQ(desk_widget(bag, &w, &err), 438) << "a bag has no window";
  desk_release(bag);
}

// The sink drops the host's last handle in MouseDown: the control lives until the loop is idle
// again, so the rest of the click is delivered.
TEST_F(QtHost, AControlReleasedInsideItsEventInTheHostsLoopLivesUntilTheLoopIsIdle) {
  std::vector<std::string> seen;
  QPointer<QWidget> watch(widget);
  Connect([&](const std::string& name) {
    seen.push_back(name);
    if (name == "MouseDown" && tree) desk_release(std::exchange(tree, nullptr));
  });
  ClickInTheLoop(0);
  EXPECT_EQ(seen.back(), "Click");
  QApplication::processEvents();
  EXPECT_EQ(desk_handle_count(), 0);
  EXPECT_TRUE(watch.isNull());
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);  // the host's own
  desk_error err;
  if (desk_use_platform("qt", &err) != 0) {
    std::fprintf(stderr, "desk_use_platform(\"qt\"): %d %s\n", err.number, err.text);
    return 1;
  }
  if (QCoreApplication::instance() != &app) return 1;  // no second application
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
