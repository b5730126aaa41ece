// The tree's filter at a million nodes on the Qt platform (offscreen, the view shown): a
// keystroke in a filter field and clearing it, through the control's second class by its
// FilterText member as a host calls it, against a QSortFilterProxyModel with recursive
// filtering over a QStandardItemModel of the same tree under a QTreeView. Each step ends with
// the event loop run once and the view painted, so that its layout is part of it; the proxy's view expands
// what it shows, as the tree shows a match's ancestors open, and on clearing it gets back the
// rows expanded before.
//
// Two shapes of 1,000,000 nodes: 1,000 roots of 999 children (shape 0) and 100 roots of 100
// children of 99 children each (shape 1); ten roots expanded before filtering. One node in ten
// holds "ten" in its text, one in a thousand "milli": the keystrokes are "t", "te", "ten" (10%
// match) or "m", "mi", "mil" (0.1%), then the text is cleared: seven rounds for the tree, one
// for the proxy, whose clearing takes minutes (its 95th percentile is then its slowest).
// Args: shape, matches per thousand. Counters: the 95th percentile of a keystroke and of
// clearing, in ms; the manual time is the keystroke's.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTreeView>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <memory>
#include <string>
#include <vector>

#include "VarbelTreeviewControlEx.h"
#include "bench_main.h"
#include "control_host.h"
#include "desk/text.h"

namespace {

using desk::InvokeKind;
using desk::Ref;
using desk::Variant;
using bench::Clock;
using bench::Ms;

double P95(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t i = static_cast<size_t>(0.95 * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

// The n-th node's text (n counts every node in the order they are added).
std::u16string TextOf(int n) {
  const std::u16string num = desk::DecimalText(n);
  if (n % 1000 == 0) return u"node milli ten " + num;
  if (n % 10 == 0) return u"node ten " + num;
  return u"node " + num;
}

// The tree of a shape as (parent's number or -1, own number), parents first.
template <class F>
void Shape(int shape, F add) {
  int n = 0;
  if (shape == 0) {
    for (int r = 0; r < 1000; ++r) {
      const int root = n++;
      add(-1, root);
      for (int c = 0; c < 999; ++c) add(root, n++);
    }
    return;
  }
  for (int r = 0; r < 100; ++r) {
    const int root = n++;
    add(-1, root);
    for (int c = 0; c < 100; ++c) {
      const int child = n++;
      add(root, child);
      for (int g = 0; g < 99; ++g) add(child, n++);
    }
  }
}

const char16_t* const kKeys10[] = {u"t", u"te", u"ten"};
const char16_t* const kKeys01[] = {u"m", u"mi", u"mil"};

struct Times {
  std::vector<double> keystrokes, clears;
};

// ---- The control ---------------------------------------------------------------------------

struct ControlTree {
  explicit ControlTree(int shape) : host(varbel::kControlExClsid) {
    std::vector<Ref<desk::Object>> byNumber;
    int roots = 0;
    Shape(shape, [&](int parent, int n) {
      if (static_cast<size_t>(n) >= byNumber.size()) byNumber.resize(static_cast<size_t>(n) + 1);
      const Variant rel = parent < 0 ? Variant::Missing() : Variant::Object(byNumber[static_cast<size_t>(parent)]);
      Ref<desk::Object> node =
          host.Add(rel, parent < 0 ? Variant::Missing() : Variant::Long(4), {}, TextOf(n)).ToObject();
      // Only parents are needed again.
      if (parent < 0 || shape == 1) byNumber[static_cast<size_t>(n)] = node;
      if (parent < 0 && roots++ < 10) expandLater.push_back(node);
    });
    for (auto& r : expandLater) bench::ControlHost::SetExpanded(r, true);
    QCoreApplication::processEvents();
  }
  void SetFilter(const char16_t* text) {
    std::vector<Variant> a{Variant::String(text)};
    host.control->Invoke(varbel::exid::kFilterText, InvokeKind::Let, a);
  }
  void Settle() {
    QCoreApplication::processEvents();
    host.View()->viewport()->repaint();
  }
  bench::ControlHost host;
  std::vector<Ref<desk::Object>> expandLater;
};

Times RunControl(ControlTree& t, const char16_t* const* keys, int rounds) {
  Times out;
  for (int r = 0; r < rounds; ++r) {
    for (int k = 0; k < 3; ++k) {
      auto t0 = Clock::now();
      t.SetFilter(keys[k]);
      t.Settle();
      out.keystrokes.push_back(Ms(t0, Clock::now()));
    }
    auto t0 = Clock::now();
    t.SetFilter(u"");
    t.Settle();
    out.clears.push_back(Ms(t0, Clock::now()));
  }
  return out;
}

// ---- QSortFilterProxyModel over a QStandardItemModel ---------------------------------------

struct ProxyTree {
  explicit ProxyTree(int shape) {
    std::vector<QStandardItem*> byNumber;
    QStandardItem* root = model.invisibleRootItem();
    Shape(shape, [&](int parent, int n) {
      if (static_cast<size_t>(n) >= byNumber.size()) byNumber.resize(static_cast<size_t>(n) + 1);
      auto* item = new QStandardItem(QString::fromStdU16String(TextOf(n)));
      item->setEditable(false);
      (parent < 0 ? root : byNumber[static_cast<size_t>(parent)])->appendRow(item);
      byNumber[static_cast<size_t>(n)] = item;
      if (parent < 0 && expanded.size() < 10) expanded.push_back(item);
    });
    proxy.setRecursiveFilteringEnabled(true);
    proxy.setFilterCaseSensitivity(Qt::CaseInsensitive);
    proxy.setSourceModel(&model);
    view.setHeaderHidden(true);
    view.setUniformRowHeights(true);
    view.setModel(&proxy);
    view.resize(400, 300);
    view.show();
    ShowExpanded();
    QCoreApplication::processEvents();
  }
  void Settle() {
    QCoreApplication::processEvents();
    view.viewport()->repaint();
  }
  void ShowExpanded() {
    for (QStandardItem* i : expanded) view.expand(proxy.mapFromSource(i->index()));
  }
  QStandardItemModel model;
  QSortFilterProxyModel proxy;
  QTreeView view;
  std::vector<QStandardItem*> expanded;
};

Times RunProxy(ProxyTree& t, const char16_t* const* keys, int rounds) {
  Times out;
  for (int r = 0; r < rounds; ++r) {
    for (int k = 0; k < 3; ++k) {
      auto t0 = Clock::now();
      t.proxy.setFilterFixedString(QString::fromStdU16String(keys[k]));
      t.view.expandAll();  // a match's ancestors open
      t.Settle();
      out.keystrokes.push_back(Ms(t0, Clock::now()));
    }
    auto t0 = Clock::now();
    t.proxy.setFilterFixedString(QString());
    t.view.collapseAll();
    t.ShowExpanded();  // the rows expanded before
    t.Settle();
    out.clears.push_back(Ms(t0, Clock::now()));
  }
  return out;
}

// One tree of each kind at a time, kept across the benchmarks of its shape.
std::unique_ptr<ControlTree> g_control;
std::unique_ptr<ProxyTree> g_proxy;
int g_controlShape = -1, g_proxyShape = -1;

void Report(benchmark::State& state, const Times& t) {
  state.SetIterationTime(P95(t.keystrokes) / 1000.0);
  state.counters["keystroke_p95_ms"] = P95(t.keystrokes);
  state.counters["clear_p95_ms"] = P95(t.clears);
  state.counters["samples"] = static_cast<double>(t.keystrokes.size());
}

void BM_ControlFilter(benchmark::State& state) {
  const int shape = static_cast<int>(state.range(0));
  const auto* keys = state.range(1) == 100 ? kKeys10 : kKeys01;
  g_proxy.reset();
  if (g_controlShape != shape) {
    g_control.reset();
    g_control = std::make_unique<ControlTree>(shape);
    g_controlShape = shape;
  }
  for (auto _ : state) Report(state, RunControl(*g_control, keys, 7));
}

void BM_ProxyFilter(benchmark::State& state) {
  const int shape = static_cast<int>(state.range(0));
  const auto* keys = state.range(1) == 100 ? kKeys10 : kKeys01;
  g_control.reset();
  g_controlShape = -1;
  if (g_proxyShape != shape) {
    g_proxy.reset();
    g_proxy = std::make_unique<ProxyTree>(shape);
    g_proxyShape = shape;
  }
  for (auto _ : state) Report(state, RunProxy(*g_proxy, keys, 1));
}

// Control and proxy side by side per shape, so that each tree is built once.
#define FILTER_BENCH(f, shape)                                                                        \
  BENCHMARK(f)->Args({shape, 100})->Args({shape, 1})->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond)
FILTER_BENCH(BM_ControlFilter, 0);
FILTER_BENCH(BM_ProxyFilter, 0);
FILTER_BENCH(BM_ControlFilter, 1);
FILTER_BENCH(BM_ProxyFilter, 1);

}  // namespace

// --pair=SHAPE:PERMILLE:CAP runs the tree and then the proxy for one case in this process and
// prints each time as it is measured. The proxy's clearing can take many minutes at a million
// nodes: after CAP seconds of it the program prints that it is still running (a lower bound
// for its time) and ends.
int Pair(const char* arg) {
  int shape = 0, permille = 100, cap = 120;
  if (std::sscanf(arg, "%d:%d:%d", &shape, &permille, &cap) < 2) return 2;
  const auto* keys = permille == 100 ? kKeys10 : kKeys01;
  auto print = [](const char* what, const std::vector<double>& v) {
    std::printf("%s", what);
    for (double x : v) std::printf(" %.1f", x);
    std::printf(" (p95 %.1f ms)\n", P95(v));
    std::fflush(stdout);
  };
  std::printf("shape %d, %d per thousand\n", shape, permille);
  {
    ControlTree tree(shape);
    const Times t = RunControl(tree, keys, 7);
    print("tree keystrokes ms:", t.keystrokes);
    print("tree clearing ms:", t.clears);
  }
  ProxyTree proxy(shape);
  Times t;
  for (int k = 0; k < 3; ++k) {
    auto t0 = Clock::now();
    proxy.proxy.setFilterFixedString(QString::fromStdU16String(keys[k]));
    proxy.view.expandAll();
    proxy.Settle();
    t.keystrokes.push_back(Ms(t0, Clock::now()));
  }
  print("proxy keystrokes ms:", t.keystrokes);
  std::thread([cap] {
    std::this_thread::sleep_for(std::chrono::seconds(cap));
    std::printf("proxy clearing ms: still running after %d s\n", cap);
    std::fflush(stdout);
    std::_Exit(0);
  }).detach();
  auto t0 = Clock::now();
  proxy.proxy.setFilterFixedString(QString());
  proxy.view.collapseAll();
  proxy.ShowExpanded();
  proxy.Settle();
  t.clears.push_back(Ms(t0, Clock::now()));
  print("proxy clearing ms:", t.clears);
  std::_Exit(0);
}

// --changes=SHAPE: a host changing the nodes while the filter is on, then a keystroke. Each of
// seven rounds times a keystroke with no change before it; one after 100 children were added
// under the first root through Nodes.Add and ten of them removed through Nodes.Remove; and one
// after the first root was renamed (matching as before, so the filter does not change at
// once), which makes a new sweep of every text, as any change did before changes were followed.
int Changes(const char* arg) {
  const int shape = std::atoi(arg);
  ControlTree tree(shape);
  Ref<desk::Object> first = tree.expandLater.front();
  const char16_t* const keys[] = {u"te", u"ten"};
  int k = 0;
  auto keystroke = [&] {
    auto t0 = Clock::now();
    tree.SetFilter(keys[k++ % 2]);
    tree.Settle();
    return Ms(t0, Clock::now());
  };
  keystroke();
  std::vector<double> unchanged, afterAdds, afterRename;
  int n = 2000000;
  for (int r = 0; r < 7; ++r) {
    unchanged.push_back(keystroke());
    std::vector<Ref<desk::Object>> added;
    for (int i = 0; i < 100; ++i)
      added.push_back(tree.host.Add(Variant::Object(first), Variant::Long(4), {}, TextOf(n++)).ToObject());
    tree.Settle();
    for (int i = 0; i < 10; ++i) {
      std::vector<Variant> a{Variant::Object(added[static_cast<size_t>(i) * 10])};
      tree.host.nodes->Invoke(desk::nodesid::kRemove, InvokeKind::Method, a);
    }
    tree.Settle();
    afterAdds.push_back(keystroke());
    std::vector<Variant> text{Variant::String(TextOf(0) + (r % 2 ? u"" : u" renamed"))};
    first->Invoke(desk::nodeid::kText, InvokeKind::Let, text);
    tree.Settle();
    afterRename.push_back(keystroke());
  }
  auto print = [](const char* what, const std::vector<double>& v) {
    std::printf("%s", what);
    for (double x : v) std::printf(" %.1f", x);
    std::printf(" (p95 %.1f ms)\n", P95(v));
  };
  std::printf("shape %d\n", shape);
  print("keystroke, no change before it, ms:", unchanged);
  print("keystroke after 100 adds and 10 removals, ms:", afterAdds);
  print("keystroke after a parent renamed (a new sweep), ms:", afterRename);
  std::fflush(stdout);
  std::_Exit(0);
}

int main(int argc, char** argv) {
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--pair=", 7) == 0) return Pair(argv[i] + 7);
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--changes=", 10) == 0) return Changes(argv[i] + 10);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  g_control.reset();
  g_proxy.reset();
  return 0;
}
