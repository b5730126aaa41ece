// The demo host as a real window: the tree control and the web image list on the Qt
// platform, loaded by class identifier and driven only through their dispatch interfaces.
//
//   demo_window [--screenshot FILE] [--settings FILE] [--slow]
//
// It serves the sample pictures on a local port, builds nodes that show them, hands the web
// image list to the tree, shows the window and fills the list from the server: the status
// line counts the pictures as they arrive ("n of N pictures") and the nodes show each one
// once it is there. --slow serves them at 2 KB/s, so that a person can watch the window stay
// alive while it fills. The context menu: a right-button MouseUp asks DoHitTest for the node
// under the mouse and shows the menu; so do the Menu key and Shift+F10 for the selected node.
// The chosen item (onMenuClick) and the node appear in the status line.
//
// The tree is the library's second class, with many nodes selected (Ctrl and Shift clicks,
// Shift+arrows, Ctrl+A; the status line counts them) and a filter field above it: typing
// shows the nodes whose text holds what was typed, with their ancestors.
//
// The tree control's settings are read from the settings file at start (a new control when
// there is none) and written back on exit.
//
// Without a display (QT_QPA_PLATFORM unset, no DISPLAY or WAYLAND_DISPLAY) it runs on Qt's
// offscreen platform, writes one screenshot of the window and exits; so does --screenshot.
// Message boxes are then closed as soon as they show, after their text is printed.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "desk/component.h"
#include "desk/dispatch.h"
#include "desk/events.h"
#include "desk/http.h"
#include "desk/platform.h"
#include "desk/property_bag.h"
#include "desk/qt_platform.h"
#include "desk/text.h"
#include "desk/tree.h"

#include "demo_calls.h"
#include "settings_file.h"

#include "sample_server.h"

namespace {

using desk::InvokeKind;
using desk::Ref;
using desk::Variant;

using namespace desk_demo;  // the controls' classes and events, Call

QString Q(const std::u16string& s) { return QString::fromStdU16String(s); }

// Key codes of the tree's key events.
constexpr int16_t kMenuKey = 93, kF10 = 121;

struct Options {
  QString screenshot;  // empty: stay open
  QString settings;
  bool unattended = false;
  bool slow = false;
};

Options ParseArgs(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    if (!std::strcmp(argv[i], "--screenshot") && hasValue) o.screenshot = QString::fromLocal8Bit(argv[++i]);
    else if (!std::strcmp(argv[i], "--settings") && hasValue) o.settings = QString::fromLocal8Bit(argv[++i]);
    else if (!std::strcmp(argv[i], "--slow")) o.slow = true;
    else if (!std::strcmp(argv[i], "--help")) {
      std::printf("usage: demo_window [--screenshot FILE] [--settings FILE] [--slow]\n");
      std::exit(0);
    }
  }
  return o;
}

bool HasDisplay() {
  auto set = [](const char* v) { return std::getenv(v) && *std::getenv(v); };
  return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
}

// The window: the tree control above a status line.
class DemoWindow {
 public:
  DemoWindow(Ref<desk::Object> tree, Ref<desk::Object> images) : tree_(std::move(tree)), images_(std::move(images)) {}
  ~DemoWindow() {
    if (cookie_) control()->Unadvise(cookie_);
  }

  desk::Control* control() const { return dynamic_cast<desk::Control*>(tree_.get()); }
  // Unattended: every status line is printed too.
  void EchoStatus(bool on) { echo_ = on; }

  // The control's settings: the saved ones, or a new control's with the demo's look. A file
  // that cannot be read is kept aside, never overwritten.
  void LoadSettings(const QString& path) {
    desk_demo::SettingsRead read =
        desk_demo::ReadSettings(path.toStdString(), [this](desk::MemoryPropertyBag& bag) { control()->ReadProperties(bag); });
    canSave_ = read.canSave;
    std::printf("demo_window: %s\n", read.message.c_str());
    if (read.bag) return;
    // The status line is short: the file's new name says the most.
    if (!read.keptAs.empty())
      settingsNote_ = QStringLiteral("Settings could not be read: kept as %1, starting afresh.")
                          .arg(QString::fromStdString(read.keptAs.filename().string()));
    else if (!read.canSave)
      settingsNote_ = QStringLiteral("Settings at %1 could not be read and are left alone; nothing is saved.")
                          .arg(QFileInfo(path).fileName());
    control()->InitProperties();
    Call(tree_, u"Style", InvokeKind::Let, {Variant::Long(7)});      // lines, plus/minus, pictures
    Call(tree_, u"LineStyle", InvokeKind::Let, {Variant::Long(1)});  // lines at the roots too
    Call(tree_, u"HideSelection", InvokeKind::Let, {Variant::Bool(false)});
    Call(tree_, u"HotTracking", InvokeKind::Let, {Variant::Bool(true)});
  }

  void SaveSettings(const QString& path) {
    auto bag = desk::MakeRef<desk::MemoryPropertyBag>();
    try {
      // The image list is rebuilt from the picture server at each start; it is no setting.
      Call(tree_, u"ImageList", InvokeKind::Set, {Variant::Nothing()});
      control()->WriteProperties(*bag);
    } catch (const desk::Error& e) {
      std::fprintf(stderr, "demo_window: settings not written: %s\n", desk::U8(e.Description()).c_str());
      return;
    }
    std::printf("demo_window: %s\n", desk_demo::WriteSettings(path.toStdString(), *bag, canSave_).c_str());
  }

  // Lists the pictures in the web image list and gives the list to the tree, still empty.
  void ListPictures(const std::vector<std::pair<std::u16string, std::u16string>>& entries) {
    Ref<desk::Object> list = Call(images_, u"ListImages", InvokeKind::Get).ToObject();
    for (const auto& [name, url] : entries) Call(list, u"Add", InvokeKind::Method, {Variant::String(name), Variant::String(url)});
    Call(images_, u"ForceDownload", InvokeKind::Let, {Variant::Bool(true)});  // always from the server
    Call(tree_, u"ImageList", InvokeKind::Set, {Variant::Object(ImageList())});
  }

  // Fills the web image list with the window on screen: a timer (which runs while Fill waits
  // for the network) counts the pictures in the status line and lets the tree draw the new
  // ones. Returns the keys that made it into the image list.
  std::vector<std::u16string> FillPictures(int32_t listed) {
    Ref<desk::Object> pictures = Call(ImageList(), u"ListImages", InvokeKind::Get).ToObject();
    auto count = [&] { return Call(pictures, u"Count", InvokeKind::Get).ToLong(); };
    int32_t shown = 0;
    QTimer progress;
    QObject::connect(&progress, &QTimer::timeout, [&] {
      const int32_t n = count();
      if (n == shown) return;
      shown = n;
      Status(QStringLiteral("%1 of %2 pictures").arg(n).arg(listed));
      Call(tree_, u"Refresh", InvokeKind::Method);
    });
    Status(QStringLiteral("0 of %1 pictures").arg(listed));
    progress.start(50);
    Call(images_, u"Fill", InvokeKind::Method);
    progress.stop();
    // Given again: the tree takes its picture size from the list's first picture.
    Call(tree_, u"ImageList", InvokeKind::Set, {Variant::Object(ImageList())});
    std::vector<std::u16string> keys;
    for (int32_t i = 1, n = count(); i <= n; ++i) {
      Ref<desk::Object> p = Call(pictures, u"Item", InvokeKind::Method, {Variant::Long(i)}).ToObject();
      keys.push_back(Call(p, u"Key", InvokeKind::Get).ToString());
    }
    Status(QStringLiteral("%1 of %2 pictures. %3").arg(keys.size()).arg(listed).arg(readyNote_));
    return keys;
  }

  void BuildNodes(const std::vector<std::u16string>& keys) {
    Ref<desk::Object> nodes = Call(tree_, u"Nodes", InvokeKind::Get).ToObject();
    Call(nodes, u"Clear", InvokeKind::Method);
    auto add = [&](Variant relative, Variant relationship, const std::u16string& key, const std::u16string& text,
                   Variant image) {
      return Call(nodes, u"Add", InvokeKind::Method,
                  {std::move(relative), std::move(relationship), Variant::String(key), Variant::String(text),
                   std::move(image)})
          .ToObject();
    };
    const Variant child = Variant::Integer(static_cast<int16_t>(desk::Relationship::Child));
    const Variant none = Variant::Missing();
    Ref<desk::Object> root = add(none, none, u"pictures", u"Pictures from the web", none);
    for (const std::u16string& key : keys) add(Variant::String(u"pictures"), child, u"p_" + key, key, Variant::String(key));
    Call(root, u"Expanded", InvokeKind::Let, {Variant::Bool(true)});
    Ref<desk::Object> other = add(none, none, u"more", u"More nodes", keys.empty() ? none : Variant::String(keys.front()));
    add(Variant::String(u"more"), child, u"plain", u"A node without a picture", none);
    add(Variant::String(u"more"), child, u"second", u"Right-click any node", none);
    Call(other, u"Expanded", InvokeKind::Let, {Variant::Bool(true)});
  }

  void DeclareMenu() {
    Ref<desk::Object> menus = Call(tree_, u"PopUpMenus", InvokeKind::Get).ToObject();
    static const std::pair<const char16_t*, const char16_t*> kItems[] = {
        {u"open", u"Open"}, {u"rename", u"Rename"}, {u"expand", u"Expand or collapse"}, {u"remove", u"Remove"}};
    for (const auto& [name, caption] : kItems)
      Call(menus, u"Add", InvokeKind::Method, {Variant::String(name), Variant::String(caption)});
  }

  void Show(const QString& title, const QString& intro) {
    window_.setWindowTitle(title);
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    auto* label = new QLabel(intro);
    label->setWordWrap(true);
    layout->addWidget(label);
    auto* filter = new QLineEdit;
    filter->setPlaceholderText(QStringLiteral("Filter the nodes"));
    filter->setClearButtonEnabled(true);
    QObject::connect(filter, &QLineEdit::textChanged, filter, [this](const QString& text) {
      try {
        Call(tree_, u"FilterText", InvokeKind::Let, {Variant::String(text.toStdU16String())});
      } catch (const desk::Error& e) {
        Status(QStringLiteral("Filter: error %1").arg(e.Number()));
      }
    });
    layout->addWidget(filter);
    layout->addWidget(desk::ControlWidget(*tree_), 1);
    Call(tree_, u"SelectionMode", InvokeKind::Let, {Variant::Long(1)});
    window_.setCentralWidget(central);
    readyNote_ = settingsNote_.isEmpty()
                     ? QStringLiteral("Right-click a node, or press the Menu key or Shift+F10, for its menu.")
                     : settingsNote_;
    window_.statusBar()->showMessage(readyNote_);
    window_.resize(600, 400);  // the status line's longest text in full
    cookie_ = control()->Advise(desk::MakeRef<desk::FunctionSink>(
        [this](desk::DispId id, std::vector<Variant>& args) { OnEvent(id, args); }));
    window_.show();
  }

  QMainWindow& Window() { return window_; }

 private:
  void Status(const QString& s) {
    window_.statusBar()->showMessage(s);
    if (echo_) std::printf("demo_window: status: %s\n", s.toLocal8Bit().constData()), std::fflush(stdout);
  }
  Ref<desk::Object> ImageList() { return Call(images_, u"ImageListControl", InvokeKind::Get).ToObject(); }

  static QString TextOf(const Ref<desk::Object>& node) {
    return node ? Q(Call(node, u"Text", InvokeKind::Get).ToString()) : QStringLiteral("(no node)");
  }

  void OnEvent(desk::DispId id, std::vector<Variant>& args) {
    switch (id) {
      case desk::treeevent::kMouseUp:
        if (args[0].ToInteger() == 2) MenuAt(args[2].ToSingle(), args[3].ToSingle());  // the right button
        break;
      case desk::treeevent::kKeyDown: {
        // The keyboard's way to the same menu: the Menu key, or Shift+F10, on the selected node.
        const int16_t code = args[0].ToInteger(), shift = args[1].ToInteger();
        if (code != kMenuKey && !(code == kF10 && shift == 1)) return;
        if (const std::optional<QPointF> at = SelectedRowCentre())
          MenuAt(static_cast<float>(at->x()), static_cast<float>(at->y()));
        break;
      }
      case kOnMenuClick: OnMenu(Q(args[0].ToString())); break;
      case kSelectionChanged: {
        const int32_t n = Call(tree_, u"SelectedCount", InvokeKind::Get).ToLong();
        Status(n == 1 ? QStringLiteral("1 node selected") : QStringLiteral("%1 nodes selected").arg(n));
        break;
      }
      case desk::treeevent::kNodeClick: Status(QStringLiteral("Node: %1").arg(TextOf(args[0].ToObject()))); break;
      case desk::treeevent::kAfterLabelEdit:
        Status(QStringLiteral("Renamed to %1").arg(Q(args[1].ToString())));
        break;
      default: break;
    }
  }

  // The node under (x, y), in the tree's units, and the menu for it. The menu opens at the
  // mouse, or at the selected node when a key asked for it.
  void MenuAt(float x, float y) {
    hit_ = Call(tree_, u"DoHitTest", InvokeKind::Method,
                {Variant::Integer(static_cast<int16_t>(x)), Variant::Integer(static_cast<int16_t>(y))})
               .ToObject();
    Status(QStringLiteral("Menu over %1").arg(TextOf(hit_)));
    Call(tree_, u"ShowPopupMenu", InvokeKind::Method);
  }

  // The middle of the selected node's row in the tree's units (twips from the tree's
  // top-left corner), from the Qt view that shows it; none when no row is selected.
  std::optional<QPointF> SelectedRowCentre() const {
    QTreeView* view = desk::TreeViewOf(control()->GetSurface()->Tree());
    const QRect row = view ? view->visualRect(view->currentIndex()) : QRect();
    if (!row.isValid()) return std::nullopt;
    return QPointF(row.center() + view->viewport()->pos()) * desk::kTwipsPerPixel;
  }

  void OnMenu(const QString& name) {
    Ref<desk::Object> node = hit_;
    Status(QStringLiteral("onMenuClick: %1 on node %2").arg(name, TextOf(node)));
    if (!node) return;
    if (name == QLatin1String("rename")) {
      Call(node, u"Selected", InvokeKind::Let, {Variant::Bool(true)});
      Call(tree_, u"StartLabelEdit", InvokeKind::Method);
    } else if (name == QLatin1String("expand")) {
      const bool open = Call(node, u"Expanded", InvokeKind::Get).ToBool();
      Call(node, u"Expanded", InvokeKind::Let, {Variant::Bool(!open)});
    } else if (name == QLatin1String("remove")) {
      Ref<desk::Object> nodes = Call(tree_, u"Nodes", InvokeKind::Get).ToObject();
      Call(nodes, u"Remove", InvokeKind::Method, {Variant::Object(node)});
      hit_.reset();
    }
  }

  Ref<desk::Object> tree_;
  Ref<desk::Object> images_;
  Ref<desk::Object> hit_;
  int cookie_ = 0;
  bool canSave_ = true;
  QString settingsNote_;  // what became of an unreadable settings file, for the status line
  QString readyNote_;     // the status line once the window is ready
  bool echo_ = false;
  QMainWindow window_;
};

}  // namespace

int main(int argc, char** argv) {
  Options opt = ParseArgs(argc, argv);
  if (!HasDisplay()) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (opt.screenshot.isEmpty()) opt.screenshot = QStringLiteral(DESK_DEMO_SCREENSHOT);
  }
  opt.unattended = !opt.screenshot.isEmpty();

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("desk-demo-window"));
  auto platform = desk::MakeQtPlatform();
  desk::SetPlatform(platform);
  if (opt.unattended) {
    platform->onMessageBoxShown = [](QMessageBox& box) {
      std::fprintf(stderr, "demo_window: message box \"%s\": %s\n", box.windowTitle().toLocal8Bit().constData(),
                   box.text().toLocal8Bit().constData());
      box.done(QMessageBox::Ok);
    };
  }
  if (opt.settings.isEmpty())
    opt.settings = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + QStringLiteral("/tree.json");

  int status = 0;
  try {
    Ref<desk::Object> tree = desk::CreateFromLibrary(VARBEL_LIBRARY_PATH, "VarbelTreeview_CreateObject", kTreeExClsid);
    Ref<desk::Object> images =
        desk::CreateFromLibrary(QUORVANE_LIBRARY_PATH, "Quorvane_CreateObject", kImageListClsid);
    if (!dynamic_cast<desk::Control*>(tree.get()) || !desk::ControlWidget(*tree)) {
      std::fprintf(stderr, "demo_window: the tree control has no window on this platform\n");
      return 1;
    }
    DemoWindow demo(tree, images);
    demo.EchoStatus(opt.unattended);
    demo.LoadSettings(opt.settings);

    std::vector<std::pair<std::u16string, std::u16string>> entries;
    QString intro;
    desk_demo::SampleServer server;
    if (opt.slow) server.Pace(2048);
    if (server.Start()) {
      const auto urls = server.Urls();
      const auto& pictures = desk_demo::BundledPictures();
      for (size_t i = 0; i < pictures.size() && i < urls.size(); ++i) {
        const QString name = QFileInfo(QString::fromStdString(pictures[i].name)).completeBaseName();
        entries.emplace_back(name.toStdU16String(), desk::U16(urls[i]));
      }
      intro = QStringLiteral("Pictures served from 127.0.0.1:%1 through the web image list.").arg(server.Port());
    } else {
      intro = QStringLiteral("The picture server did not start: the tree shows no pictures.");
    }
    std::vector<std::u16string> names;
    for (const auto& e : entries) names.push_back(e.first);
    demo.ListPictures(entries);
    demo.BuildNodes(names);
    demo.DeclareMenu();
    demo.Show(QStringLiteral("Tree control on Qt"), intro);
    const std::vector<std::u16string> keys =
        entries.empty() ? std::vector<std::u16string>{} : demo.FillPictures(static_cast<int32_t>(entries.size()));

    if (opt.unattended) {
      // Let the window lay itself out and paint once before it is captured.
      for (int i = 0; i < 5; ++i) QApplication::processEvents();
      const QPixmap shot = demo.Window().grab();
      if (!shot.save(opt.screenshot, "PNG")) {
        std::fprintf(stderr, "demo_window: cannot write %s\n", opt.screenshot.toLocal8Bit().constData());
        status = 1;
      } else {
        std::printf("demo_window: screenshot written to %s (%d pictures)\n", opt.screenshot.toLocal8Bit().constData(),
                    static_cast<int>(keys.size()));
      }
    } else {
      status = QApplication::exec();
    }
    demo.SaveSettings(opt.settings);
    // The connections the client keeps close first: the server then stops without waiting
    // for them to time out.
    desk::http::SetClient(nullptr);
  } catch (const desk::Error& e) {
    std::fprintf(stderr, "demo_window: error %d: %s\n", e.Number(), desk::U8(e.Description()).c_str());
    status = 1;
  }
  std::fflush(stdout);
  desk::SetPlatform(nullptr);
  return status;
}
