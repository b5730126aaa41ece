// The tree control on the Qt platform (offscreen) against what a Qt developer would write: a
// QTreeWidget with a QHash from key to item.
//
// Large runs (keyed nodes added, found by key and removed, all through the control's dispatch
// interface) each run in a fresh process, so that the peak resident size of one case is not
// the high-water mark of an earlier one: the program runs itself with --child=CASE:N and reads
// back the phase times and the peak RSS. Smaller figures (find by key through Invoke, expanding
// a node of 100,000 children, scrolling to the end) run in this process.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QHash>
#include <QScrollBar>
#include <QTreeWidget>
#include <chrono>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>
#include <random>
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

std::u16string KeyOf(int i) { return u"k" + desk::DecimalText(i); }
QString QKeyOf(int i) { return QStringLiteral("k") + QString::number(i); }

using bench::ControlHost;

struct Phases {
  double add = 0, find = 0, remove = 0;
  double slowestRemove = 0;  // the longest single removal: what a user waits for at once
  long rssKb = 0;
  // The phases between four instants, with the process's peak RSS so far.
  static Phases Of(Clock::time_point t0, Clock::time_point t1, Clock::time_point t2, Clock::time_point t3,
                   double slowest) {
    return {Ms(t0, t1), Ms(t1, t2), Ms(t2, t3), slowest, PeakRssKb()};
  }
};

// Runs each removal, keeping the longest. One clock read per removal, on both sides.
template <class F>
double EachTimed(const std::vector<int>& order, F remove) {
  double slowest = 0;
  auto last = Clock::now();
  for (int i : order) {
    remove(i);
    const auto now = Clock::now();
    slowest = std::max(slowest, Ms(last, now));
    last = now;
  }
  return slowest;
}

// The order of the finds and removals: as added, or shuffled (a fixed seed, the same for both
// sides), where every look-up lands on a node the caches have not just seen.
std::vector<int> Order(int n, bool shuffled) {
  std::vector<int> o(static_cast<size_t>(n));
  std::iota(o.begin(), o.end(), 0);
  if (shuffled) std::shuffle(o.begin(), o.end(), std::mt19937(12345));
  return o;
}

Phases RunControl(int n, bool shuffled) {
  const std::vector<int> order = Order(n, shuffled);
  ControlHost h;
  auto t0 = Clock::now();
  for (int i = 0; i < n; ++i) h.Add(Variant::Missing(), Variant::Missing(), KeyOf(i), u"Node " + desk::DecimalText(i));
  QCoreApplication::processEvents();
  auto t1 = Clock::now();
  size_t found = 0;
  for (int i : order) {
    std::vector<Variant> a{Variant::String(KeyOf(i))};
    found += h.nodes->Invoke(desk::nodesid::kItem, InvokeKind::Method, a).ToObject() ? 1 : 0;
  }
  auto t2 = Clock::now();
  const double slowest = EachTimed(order, [&](int i) {
    std::vector<Variant> a{Variant::String(KeyOf(i))};
    h.nodes->Invoke(desk::nodesid::kRemove, InvokeKind::Method, a);
  });
  QCoreApplication::processEvents();
  auto t3 = Clock::now();
  if (found != static_cast<size_t>(n)) std::abort();
  return Phases::Of(t0, t1, t2, t3, slowest);
}

Phases RunTreeWidget(int n, bool shuffled) {
  const std::vector<int> order = Order(n, shuffled);
  auto w = std::make_unique<QTreeWidget>();
  w->setHeaderHidden(true);
  w->resize(bench::WindowSize().first, bench::WindowSize().second);
  w->show();
  QHash<QString, QTreeWidgetItem*> keys;
  auto t0 = Clock::now();
  for (int i = 0; i < n; ++i) {
    auto* item = new QTreeWidgetItem(QStringList{QStringLiteral("Node ") + QString::number(i)});
    w->addTopLevelItem(item);
    keys.insert(QKeyOf(i), item);
  }
  QCoreApplication::processEvents();
  auto t1 = Clock::now();
  size_t found = 0;
  for (int i : order) found += keys.value(QKeyOf(i)) ? 1 : 0;
  auto t2 = Clock::now();
  // Otherwise the view moves its current item on with every removal of it and lays out all
  // the rows each time; the control's backend drops the current item with its node too.
  w->selectionModel()->clear();
  const double slowest = EachTimed(order, [&](int i) { delete keys.take(QKeyOf(i)); });
  QCoreApplication::processEvents();
  auto t3 = Clock::now();
  if (found != static_cast<size_t>(n)) std::abort();
  return Phases::Of(t0, t1, t2, t3, slowest);
}

// The least any keyed store does, with no GUI and no dispatch: an open-addressed table of
// (hash, pointer) slots to heap objects the size of the control's nodes, holding the key and
// the text. What it costs at each size is what this machine's caches charge for the access
// pattern alone, so its growth is the floor for the others' growth in the same run.
struct FloorNode {
  std::u16string key, text;
  char rest[sizeof(desk::Node) > 2 * sizeof(std::u16string) ? sizeof(desk::Node) - 2 * sizeof(std::u16string) : 1];
};
class FloorTable {
 public:
  explicit FloorTable(size_t n) {
    size_t cap = 16;
    while (cap * 3 < n * 4) cap *= 2;
    slots_.assign(cap, Slot{});
  }
  void Insert(FloorNode* node) {
    const uint32_t h = Hash(node->key);
    size_t i = h & Mask();
    while (slots_[i].node) i = (i + 1) & Mask();
    slots_[i] = Slot{h, node};
  }
  // The slot holding the key, or the empty slot ending its run.
  size_t Probe(std::u16string_view key) const {
    const uint32_t h = Hash(key);
    size_t i = h & Mask();
    while (slots_[i].node && (slots_[i].hash != h || slots_[i].node->key != key)) i = (i + 1) & Mask();
    return i;
  }
  FloorNode* Find(std::u16string_view key) const { return slots_[Probe(key)].node; }
  FloorNode* Take(std::u16string_view key) {
    size_t i = Probe(key);
    FloorNode* found = slots_[i].node;
    if (!found) return nullptr;
    for (size_t j = (i + 1) & Mask(); slots_[j].node; j = (j + 1) & Mask()) {
      const size_t home = slots_[j].hash & Mask();
      if (i <= j ? (home > i && home <= j) : (home > i || home <= j)) continue;
      slots_[i] = slots_[j];
      i = j;
    }
    slots_[i] = Slot{};
    return found;
  }

 private:
  struct Slot {
    uint32_t hash = 0;
    FloorNode* node = nullptr;
  };
  static uint32_t Hash(std::u16string_view k) { return static_cast<uint32_t>(std::hash<std::u16string_view>{}(k)); }
  size_t Mask() const { return slots_.size() - 1; }
  std::vector<Slot> slots_;
};

Phases RunFloor(int n, bool shuffled) {
  const std::vector<int> order = Order(n, shuffled);
  FloorTable table(static_cast<size_t>(n));
  auto t0 = Clock::now();
  for (int i = 0; i < n; ++i) table.Insert(new FloorNode{KeyOf(i), u"Node " + desk::DecimalText(i), {}});
  auto t1 = Clock::now();
  size_t found = 0;
  for (int i : order) found += table.Find(KeyOf(i)) ? 1 : 0;
  auto t2 = Clock::now();
  const double slowest = EachTimed(order, [&](int i) { delete table.Take(KeyOf(i)); });
  auto t3 = Clock::now();
  if (found != static_cast<size_t>(n)) std::abort();
  return Phases::Of(t0, t1, t2, t3, slowest);
}

// The child side: runs one case and prints its phases.
int ChildMain(int argc, char** argv, const char* childCase) {
  std::string s(childCase);
  auto colon = s.find(':');
  std::string which = s.substr(0, colon);
  int n = std::stoi(s.substr(colon + 1));  // then ":shuffled" for finds and removals in a shuffled order
  const bool shuffled = s.find(":shuffled") != std::string::npos;
  QApplication app(argc, argv);
  Phases p = which == "control"  ? RunControl(n, shuffled)
             : which == "floor" ? RunFloor(n, shuffled)
                                : RunTreeWidget(n, shuffled);
  std::printf("%.3f %.3f %.3f %.3f %ld\n", p.add, p.find, p.remove, p.slowestRemove, p.rssKb);
  return 0;
}

bool RunChild(const std::string& childCase, Phases& p) {
  std::string cmd = "QT_QPA_PLATFORM=offscreen '" + bench::SelfPath() + "' --child=" + childCase;
  FILE* f = popen(cmd.c_str(), "r");
  if (!f) return false;
  int got = std::fscanf(f, "%lf %lf %lf %lf %ld", &p.add, &p.find, &p.remove, &p.slowestRemove, &p.rssKb);
  int rc = pclose(f);
  return got == 5 && rc == 0;
}

void Report(benchmark::State& state, const char* which) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    Phases p;
    if (!RunChild(std::string(which) + ":" + std::to_string(n), p)) {
      state.SkipWithError("the child run failed");
      return;
    }
    state.SetIterationTime((p.add + p.find + p.remove) / 1000.0);
    state.counters["add_ms"] = p.add;
    state.counters["find_ms"] = p.find;
    state.counters["remove_ms"] = p.remove;
    state.counters["slowest_remove_ms"] = p.slowestRemove;
    state.counters["peak_rss_MB"] = static_cast<double>(p.rssKb) / 1024.0;
  }
  state.SetItemsProcessed(state.iterations() * n);
}

// Keyed roots added, found by key and removed through Nodes.Add, Nodes.Item and Nodes.Remove.
void BM_QtControlAddFindRemove(benchmark::State& state) { Report(state, "control"); }
BENCHMARK(BM_QtControlAddFindRemove)
    ->Arg(100000)
    ->Arg(1000000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The same work in a QTreeWidget with a QHash from key to item.
void BM_QTreeWidgetQHashAddFindRemove(benchmark::State& state) { Report(state, "treewidget"); }
BENCHMARK(BM_QTreeWidgetQHashAddFindRemove)
    ->Arg(100000)
    ->Arg(1000000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// ---- In this process ---------------------------------------------------------------------

QApplication& App() { return bench::App("qt_tree_bench"); }

constexpr int kFindKeys = 100000;

// A find by key as a host writes it: Nodes.Item(key) through Invoke on the Nodes collection.
void BM_InvokeNodesItemByKey(benchmark::State& state) {
  App();
  ControlHost h;
  const int n = static_cast<int>(state.range(0));
  for (int i = 0; i < n; ++i) h.Add(Variant::Missing(), Variant::Missing(), KeyOf(i), u"x");
  std::vector<std::vector<Variant>> args(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) args[static_cast<size_t>(i)] = {Variant::String(KeyOf(i))};
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(h.nodes->Invoke(desk::nodesid::kItem, InvokeKind::Method, args[i]));
    if (++i == args.size()) i = 0;
  }
}
BENCHMARK(BM_InvokeNodesItemByKey)->Arg(kFindKeys);

void BM_QHashValue(benchmark::State& state) {
  App();
  const int n = static_cast<int>(state.range(0));
  std::vector<std::unique_ptr<QTreeWidgetItem>> items;
  QHash<QString, QTreeWidgetItem*> keys;
  std::vector<QString> names;
  for (int i = 0; i < n; ++i) {
    items.push_back(std::make_unique<QTreeWidgetItem>(QStringList{QStringLiteral("x")}));
    names.push_back(QKeyOf(i));
    keys.insert(names.back(), items.back().get());
  }
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(keys.value(names[i]));
    if (++i == names.size()) i = 0;
  }
}
BENCHMARK(BM_QHashValue)->Arg(kFindKeys);

// One root with `children` children followed by plain roots up to `total` nodes, shown.
struct BigTree {
  BigTree(int total, int children) {
    Variant parent = h.Add(Variant::Missing(), Variant::Missing(), u"parent", u"parent");
    for (int i = 0; i < children; ++i) h.Add(parent, Variant::Long(4), KeyOf(i), u"child");
    for (int i = children + 1; i < total; ++i) h.Add(Variant::Missing(), Variant::Missing(), KeyOf(i), u"root");
    parentNode = parent.ToObject();
    QCoreApplication::processEvents();
  }
  void SetExpanded(bool on) {
    std::vector<Variant> a{Variant::Bool(on)};
    parentNode->Invoke(desk::nodeid::kExpanded, InvokeKind::Let, a);
  }
  void Paint() {
    QCoreApplication::processEvents();
    h.View()->viewport()->repaint();
  }
  ControlHost h;
  Ref<desk::Object> parentNode;
};

// Expanded set through the node's dispatch, then the view brought up to date and painted.
void BM_ExpandNodeOf100kChildren(benchmark::State& state) {
  App();
  BigTree t(static_cast<int>(state.range(0)), 100000);
  for (auto _ : state) {
    t.SetExpanded(true);
    t.Paint();
    state.PauseTiming();
    t.SetExpanded(false);
    t.Paint();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ExpandNodeOf100kChildren)->Arg(1000000)->Unit(benchmark::kMillisecond);

// With every node visible, the scroll bar moved from the top to the end and the view painted.
void BM_ScrollToEnd(benchmark::State& state) {
  App();
  BigTree t(static_cast<int>(state.range(0)), 100000);
  t.SetExpanded(true);
  t.Paint();
  QScrollBar* bar = t.h.View()->verticalScrollBar();
  for (auto _ : state) {
    bar->setValue(bar->maximum());
    t.Paint();
    state.PauseTiming();
    bar->setValue(0);
    t.Paint();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ScrollToEnd)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return bench::BenchMain(argc, argv, [&](const char* job) { return ChildMain(1, argv, job); });
}
