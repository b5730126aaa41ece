// The tree control at a million nodes on the Qt platform (offscreen), each operation through
// the control's dispatch interface as a host calls it, against the same work on a QTreeWidget
// (a QHash from key to item finds a child's parent) and on a QTreeView over a minimal item
// model of its own.
//
// Two shapes: a grid of R roots with 1,000 children each (built, every root expanded, every
// root collapsed, cleared) and one root with N children (built, its first child removed, the
// root expanded, then its first child removed again while the root's million rows are
// shown). Each shape runs in a fresh process (the program runs itself with
// --child=IMPL:SHAPE:N), which prints the phase times; each phase ends with the event loop
// run once, so that the view's layout is part of it.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QHash>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTreeView>
#include <QTreeWidget>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "VarbelTreeview/VarbelTreeview.h"
#include "bench_main.h"
#include "control_host.h"
#include "VarbelTreeviewControl.h"
#include "desk/qt_platform.h"
#include "desk/text.h"
#include "desk/tree.h"

namespace {

using desk::InvokeKind;
using desk::Ref;
using desk::Variant;
using bench::Clock;
using bench::Ms;
using bench::PeakRssKb;

constexpr int kGridChildren = 1000;

std::u16string KeyOf(int i) { return u"k" + desk::DecimalText(i); }
QString QKeyOf(int i) { return QStringLiteral("k") + QString::number(i); }

// Times each phase up to and including one run of the event loop.
struct Timer {
  Clock::time_point t = Clock::now();
  std::vector<double> phases;
  void Lap() {
    // Until what the phase set off is done: a layout that shows or hides a scroll bar resizes
    // the viewport, whose repaint comes in the next turn.
    for (int turn = 0; turn < 3; ++turn) QCoreApplication::processEvents();
    auto now = Clock::now();
    phases.push_back(Ms(t, now));
    t = now;
  }
  // Drains the event loop as a lap does, and starts the phase afresh.
  void Restart() {
    for (int turn = 0; turn < 3; ++turn) QCoreApplication::processEvents();
    t = Clock::now();
  }
};

// ---- The control -------------------------------------------------------------------------

using bench::ControlHost;

std::vector<double> ControlGrid(int roots) {
  ControlHost h;
  std::vector<Ref<desk::Object>> rootNodes;
  Timer t;
  int k = 0;
  for (int r = 0; r < roots; ++r) {
    const int rootKey = k++;
    rootNodes.push_back(h.Add(Variant::Missing(), Variant::Missing(), KeyOf(rootKey), u"root").ToObject());
    const Variant relative = Variant::String(KeyOf(rootKey));  // the parent by its key
    for (int c = 0; c < kGridChildren; ++c) h.Add(relative, Variant::Long(4), KeyOf(k++), u"child");
  }
  t.Lap();
  for (auto& n : rootNodes) ControlHost::SetExpanded(n, true);
  t.Lap();
  for (auto& n : rootNodes) ControlHost::SetExpanded(n, false);
  t.Lap();
  std::vector<Variant> none;
  h.nodes->Invoke(desk::nodesid::kClear, InvokeKind::Method, none);
  t.Lap();
  return t.phases;
}

// A second view over a model, as a host with a proxy, a second window or a screen reader has:
// it reads whether the parent has children when it draws the parent's row, so every child
// added after that is announced to it.
std::unique_ptr<QTreeView> SecondView(QAbstractItemModel* model) {
  auto v = std::make_unique<QTreeView>();
  v->setHeaderHidden(true);
  v->setModel(model);
  v->resize(bench::WindowSize().first, bench::WindowSize().second);
  v->show();
  return v;
}

// `drawn`: the parent is on screen, drawn, before its children come (the build's time starts
// then); else they come right after it, before the window is drawn again. `viewed`: drawn, in
// a second view too.
std::vector<double> ControlWide(int children, bool drawn, bool viewed) {
  ControlHost h;
  Timer t;
  Ref<desk::Object> parent = h.Add(Variant::Missing(), Variant::Missing(), u"parent", u"parent").ToObject();
  std::unique_ptr<QTreeView> viewer = viewed ? SecondView(h.View()->model()) : nullptr;
  if (drawn) t.Restart();
  const Variant relative = Variant::String(u"parent");
  for (int c = 0; c < children; ++c) h.Add(relative, Variant::Long(4), KeyOf(c), u"child");
  t.Lap();
  std::vector<Variant> first{Variant::String(KeyOf(0))};
  h.nodes->Invoke(desk::nodesid::kRemove, InvokeKind::Method, first);
  t.Lap();
  ControlHost::SetExpanded(parent, true);
  t.Lap();
  std::vector<Variant> second{Variant::String(KeyOf(1))};
  h.nodes->Invoke(desk::nodesid::kRemove, InvokeKind::Method, second);
  t.Lap();
  std::vector<Variant> middle{Variant::String(KeyOf(children / 2))};
  h.nodes->Invoke(desk::nodesid::kRemove, InvokeKind::Method, middle);
  t.Lap();
  std::vector<Variant> last{Variant::String(KeyOf(children - 1))};
  h.nodes->Invoke(desk::nodesid::kRemove, InvokeKind::Method, last);
  t.Lap();
  return t.phases;
}

// What a user does among a million shown rows: a click on a row, Down, End, Home and Page
// Down, then a host selecting a child in the middle, renaming a shown row and collapsing.
// The events go to the view as its window system would deliver them.
void Click(QAbstractItemView* v, int row) {
  const QRect r = v->visualRect(v->model()->index(row, 0, v->model()->index(0, 0)));
  const QPointF at = QPointF(r.center());
  QMouseEvent press(QEvent::MouseButtonPress, at, v->viewport()->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, v->viewport()->mapToGlobal(at), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(v->viewport(), &press);
  QApplication::sendEvent(v->viewport(), &release);
}

void Key(QAbstractItemView* v, Qt::Key k) {
  QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
  QKeyEvent release(QEvent::KeyRelease, k, Qt::NoModifier);
  QApplication::sendEvent(v, &press);
  QApplication::sendEvent(v, &release);
}

void UserKeys(QAbstractItemView* v, Timer& t) {
  v->setFocus();
  Click(v, 3);
  t.Lap();
  for (Qt::Key k : {Qt::Key_Down, Qt::Key_End, Qt::Key_Home, Qt::Key_PageDown}) {
    Key(v, k);
    t.Lap();
  }
}

std::vector<double> ControlActions(int children) {
  ControlHost h;
  Ref<desk::Object> parent = h.Add(Variant::Missing(), Variant::Missing(), u"parent", u"parent").ToObject();
  const Variant relative = Variant::String(u"parent");
  for (int c = 0; c < children; ++c) h.Add(relative, Variant::Long(4), KeyOf(c), u"child");
  ControlHost::SetExpanded(parent, true);
  QCoreApplication::processEvents();
  Timer t;
  UserKeys(h.View(), t);
  std::vector<Variant> middle{Variant::String(KeyOf(children / 2))};
  Ref<desk::Object> m = h.nodes->Invoke(desk::nodesid::kItem, InvokeKind::Method, middle).ToObject();
  std::vector<Variant> on{Variant::Bool(true)};
  m->Invoke(desk::nodeid::kSelected, InvokeKind::Let, on);
  t.Lap();
  std::vector<Variant> text{Variant::String(u"renamed")};
  m->Invoke(desk::nodeid::kText, InvokeKind::Let, text);
  t.Lap();
  ControlHost::SetExpanded(parent, false);
  t.Lap();
  // The parent removed with its million children, their keys with them.
  std::vector<Variant> whole{Variant::String(u"parent")};
  h.nodes->Invoke(desk::nodesid::kRemove, InvokeKind::Method, whole);
  t.Lap();
  return t.phases;
}

// ---- QTreeWidget + QHash -----------------------------------------------------------------

struct TreeWidgetHost {
  TreeWidgetHost() {
    w.setHeaderHidden(true);
    w.setUniformRowHeights(true);
    w.resize(bench::WindowSize().first, bench::WindowSize().second);
    w.show();
  }
  QTreeWidgetItem* Add(QTreeWidgetItem* parent, const QString& key, const QString& text) {
    auto* item = new QTreeWidgetItem(QStringList{text});
    if (parent) parent->addChild(item);
    else w.addTopLevelItem(item);
    keys.insert(key, item);
    return item;
  }
  QTreeWidget w;
  QHash<QString, QTreeWidgetItem*> keys;
};

std::vector<double> TreeWidgetGrid(int roots) {
  TreeWidgetHost h;
  std::vector<QTreeWidgetItem*> rootItems;
  Timer t;
  int k = 0;
  for (int r = 0; r < roots; ++r) {
    const QString rootKey = QKeyOf(k++);
    rootItems.push_back(h.Add(nullptr, rootKey, QStringLiteral("root")));
    for (int c = 0; c < kGridChildren; ++c) h.Add(h.keys.value(rootKey), QKeyOf(k++), QStringLiteral("child"));
  }
  t.Lap();
  for (auto* i : rootItems) i->setExpanded(true);
  t.Lap();
  for (auto* i : rootItems) i->setExpanded(false);
  t.Lap();
  h.w.clear();
  h.keys.clear();
  t.Lap();
  return t.phases;
}

std::vector<double> TreeWidgetWide(int children, bool drawn, bool viewed) {
  TreeWidgetHost h;
  Timer t;
  QTreeWidgetItem* parent = h.Add(nullptr, QStringLiteral("parent"), QStringLiteral("parent"));
  std::unique_ptr<QTreeView> viewer = viewed ? SecondView(h.w.model()) : nullptr;
  if (drawn) t.Restart();
  for (int c = 0; c < children; ++c) h.Add(h.keys.value(QStringLiteral("parent")), QKeyOf(c), QStringLiteral("child"));
  t.Lap();
  delete h.keys.take(QKeyOf(0));
  t.Lap();
  parent->setExpanded(true);
  t.Lap();
  delete h.keys.take(QKeyOf(1));
  t.Lap();
  delete h.keys.take(QKeyOf(children / 2));
  t.Lap();
  delete h.keys.take(QKeyOf(children - 1));
  t.Lap();
  return t.phases;
}

std::vector<double> TreeWidgetActions(int children) {
  TreeWidgetHost h;
  QTreeWidgetItem* parent = h.Add(nullptr, QStringLiteral("parent"), QStringLiteral("parent"));
  for (int c = 0; c < children; ++c) h.Add(h.keys.value(QStringLiteral("parent")), QKeyOf(c), QStringLiteral("child"));
  parent->setExpanded(true);
  QCoreApplication::processEvents();
  Timer t;
  UserKeys(&h.w, t);
  QTreeWidgetItem* m = h.keys.value(QKeyOf(children / 2));
  h.w.setCurrentItem(m);
  t.Lap();
  m->setText(0, QStringLiteral("renamed"));
  t.Lap();
  parent->setExpanded(false);
  t.Lap();
  for (int c = 0; c < children; ++c) h.keys.remove(QKeyOf(c));
  h.keys.remove(QStringLiteral("parent"));
  delete parent;
  t.Lap();
  return t.phases;
}

// ---- QTreeView over a minimal model --------------------------------------------------------

// What a Qt developer writes for a tree of texts: children in a vector, a node's row kept in it
// (so removing a child renumbers the ones after it).
class MinimalModel : public QAbstractItemModel {
 public:
  struct Item {
    Item* parent = nullptr;
    int row = 0;
    QString text;
    std::vector<std::unique_ptr<Item>> kids;
  };
  Item root;
  QHash<QString, Item*> keys;

  QModelIndex IndexOf(Item* i) const { return i == &root ? QModelIndex() : createIndex(i->row, 0, i); }
  Item* ItemOf(const QModelIndex& i) const { return i.isValid() ? static_cast<Item*>(i.internalPointer()) : const_cast<Item*>(&root); }
  Item* Add(Item* parent, const QString& key, const QString& text) {
    const int row = static_cast<int>(parent->kids.size());
    beginInsertRows(IndexOf(parent), row, row);
    auto item = std::make_unique<Item>();
    item->parent = parent;
    item->row = row;
    item->text = text;
    Item* raw = item.get();
    parent->kids.push_back(std::move(item));
    keys.insert(key, raw);
    endInsertRows();
    return raw;
  }
  void Remove(Item* i) {
    Item* p = i->parent;
    const int row = i->row;
    beginRemoveRows(IndexOf(p), row, row);
    p->kids.erase(p->kids.begin() + row);
    for (size_t r = static_cast<size_t>(row); r < p->kids.size(); ++r) p->kids[r]->row = static_cast<int>(r);
    endRemoveRows();
  }
  void Clear() {
    beginResetModel();
    root.kids.clear();
    keys.clear();
    endResetModel();
  }
  QModelIndex index(int row, int column, const QModelIndex& parent) const override {
    Item* p = ItemOf(parent);
    if (column != 0 || row < 0 || row >= static_cast<int>(p->kids.size())) return QModelIndex();
    return createIndex(row, 0, p->kids[static_cast<size_t>(row)].get());
  }
  QModelIndex parent(const QModelIndex& child) const override {
    return child.isValid() ? IndexOf(ItemOf(child)->parent) : QModelIndex();
  }
  int rowCount(const QModelIndex& parent) const override {
    return parent.column() > 0 ? 0 : static_cast<int>(ItemOf(parent)->kids.size());
  }
  int columnCount(const QModelIndex&) const override { return 1; }
  QVariant data(const QModelIndex& index, int role) const override {
    return index.isValid() && role == Qt::DisplayRole ? QVariant(ItemOf(index)->text) : QVariant();
  }
};

struct ModelViewHost {
  ModelViewHost() {
    v.setHeaderHidden(true);
    v.setUniformRowHeights(true);
    v.setModel(&m);
    v.resize(bench::WindowSize().first, bench::WindowSize().second);
    v.show();
  }
  MinimalModel m;
  QTreeView v;
};

std::vector<double> ModelViewGrid(int roots) {
  ModelViewHost h;
  std::vector<MinimalModel::Item*> rootItems;
  Timer t;
  int k = 0;
  for (int r = 0; r < roots; ++r) {
    const QString rootKey = QKeyOf(k++);
    rootItems.push_back(h.m.Add(&h.m.root, rootKey, QStringLiteral("root")));
    for (int c = 0; c < kGridChildren; ++c) h.m.Add(h.m.keys.value(rootKey), QKeyOf(k++), QStringLiteral("child"));
  }
  t.Lap();
  for (auto* i : rootItems) h.v.expand(h.m.IndexOf(i));
  t.Lap();
  for (auto* i : rootItems) h.v.collapse(h.m.IndexOf(i));
  t.Lap();
  h.m.Clear();
  t.Lap();
  return t.phases;
}

std::vector<double> ModelViewWide(int children) {
  ModelViewHost h;
  Timer t;
  MinimalModel::Item* parent = h.m.Add(&h.m.root, QStringLiteral("parent"), QStringLiteral("parent"));
  for (int c = 0; c < children; ++c)
    h.m.Add(h.m.keys.value(QStringLiteral("parent")), QKeyOf(c), QStringLiteral("child"));
  t.Lap();
  h.m.Remove(h.m.keys.take(QKeyOf(0)));
  t.Lap();
  h.v.expand(h.m.IndexOf(parent));
  t.Lap();
  h.m.Remove(h.m.keys.take(QKeyOf(1)));
  t.Lap();
  h.m.Remove(h.m.keys.take(QKeyOf(children / 2)));
  t.Lap();
  h.m.Remove(h.m.keys.take(QKeyOf(children - 1)));
  t.Lap();
  return t.phases;
}

// ---- Runs ------------------------------------------------------------------------------------

int ChildMain(int argc, char** argv, const std::string& job) {
  // IMPL:SHAPE:N
  const auto a = job.find(':'), b = job.rfind(':');
  const std::string impl = job.substr(0, a), shape = job.substr(a + 1, b - a - 1);
  const int n = std::stoi(job.substr(b + 1));
  QApplication app(argc, argv);
  const bool grid = shape == "grid", viewed = shape == "wide-viewed", drawn = viewed || shape == "wide-drawn";
  std::vector<double> p;
  if (shape == "actions") p = impl == "control" ? ControlActions(n) : TreeWidgetActions(n);
  else if (impl == "control") p = grid ? ControlGrid(n) : ControlWide(n, drawn, viewed);
  else if (impl == "treewidget") p = grid ? TreeWidgetGrid(n) : TreeWidgetWide(n, drawn, viewed);
  else p = grid ? ModelViewGrid(n) : ModelViewWide(n);
  for (double x : p) std::printf("%.3f ", x);
  std::printf("%ld\n", PeakRssKb());
  std::fflush(stdout);
  std::_Exit(0);  // the teardown is not measured
}

bool RunChild(const std::string& job, size_t phases, std::vector<double>& out, long& rssKb) {
  std::string cmd = "QT_QPA_PLATFORM=offscreen '" + bench::SelfPath() + "' --child=" + job;
  FILE* f = popen(cmd.c_str(), "r");
  if (!f) return false;
  out.assign(phases, 0);
  size_t got = 0;
  for (size_t i = 0; i < phases; ++i) got += std::fscanf(f, "%lf", &out[i]) == 1 ? 1 : 0;
  got += std::fscanf(f, "%ld", &rssKb) == 1 ? 1 : 0;
  return pclose(f) == 0 && got == phases + 1;
}

void Run(benchmark::State& state, const char* impl, const char* shape, std::vector<const char*> names) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    std::vector<double> p;
    long rss = 0;
    if (!RunChild(std::string(impl) + ":" + shape + ":" + std::to_string(n), names.size(), p, rss)) {
      state.SkipWithError("the child run failed");
      return;
    }
    double total = 0;
    for (size_t i = 0; i < names.size(); ++i) {
      state.counters[names[i]] = p[i];
      total += p[i];
    }
    state.counters["peak_rss_MB"] = static_cast<double>(rss) / 1024.0;
    state.SetIterationTime(total / 1000.0);
  }
}

const std::vector<const char*> kGridPhases{"build_ms", "expand_all_ms", "collapse_all_ms", "clear_ms"};
const std::vector<const char*> kWidePhases{"build_ms",          "remove_first_ms",        "expand_ms",
                                           "remove_first_shown_ms", "remove_middle_shown_ms", "remove_last_shown_ms"};
const std::vector<const char*> kActionPhases{"click_ms", "down_ms", "end_ms", "home_ms", "page_down_ms",
                                             "select_middle_ms", "rename_ms", "collapse_ms", "remove_parent_ms"};

// R roots of 1,000 children each: built (children added by the parent's key), every root
// expanded, every root collapsed, everything cleared. Arg: R.
void BM_ControlGrid(benchmark::State& s) { Run(s, "control", "grid", kGridPhases); }
void BM_QTreeWidgetGrid(benchmark::State& s) { Run(s, "treewidget", "grid", kGridPhases); }
void BM_QTreeViewModelGrid(benchmark::State& s) { Run(s, "modelview", "grid", kGridPhases); }
// One root of N children: built, the first child removed, the root expanded, then while shown
// the first child removed, one in the middle (below the rows in view) and the last. Arg: N.
void BM_ControlWide(benchmark::State& s) { Run(s, "control", "wide", kWidePhases); }
void BM_QTreeWidgetWide(benchmark::State& s) { Run(s, "treewidget", "wide", kWidePhases); }
void BM_QTreeViewModelWide(benchmark::State& s) { Run(s, "modelview", "wide", kWidePhases); }

// One root of N children shown: a click, Down, End, Home, Page Down, a child in the middle
// selected by the host, a shown row renamed, the root collapsed. Arg: N.
void BM_ControlActions(benchmark::State& s) { Run(s, "control", "actions", kActionPhases); }
void BM_QTreeWidgetActions(benchmark::State& s) { Run(s, "treewidget", "actions", kActionPhases); }

#define SCALE_BENCH(f, small, large) \
  BENCHMARK(f)->Arg(small)->Arg(large)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond)
SCALE_BENCH(BM_ControlGrid, 100, 1000);
SCALE_BENCH(BM_QTreeWidgetGrid, 100, 1000);
SCALE_BENCH(BM_QTreeViewModelGrid, 100, 1000);
SCALE_BENCH(BM_ControlWide, 100000, 1000000);
SCALE_BENCH(BM_QTreeWidgetWide, 100000, 1000000);
SCALE_BENCH(BM_QTreeViewModelWide, 100000, 1000000);
SCALE_BENCH(BM_ControlActions, 100000, 1000000);
SCALE_BENCH(BM_QTreeWidgetActions, 100000, 1000000);

}  // namespace

int main(int argc, char** argv) {
  return bench::BenchMain(argc, argv, [&](const char* job) { return ChildMain(1, argv, job); });
}
