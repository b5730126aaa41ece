// The selection of many nodes at a million: select all, then a Shift+click half-way down,
// through the control's second class (headless: the same calls a Qt gesture makes). The goal
// is absolute (at most 16 ms each); the ranges held are reported beside the times.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <string>

#include "VarbelTreeviewControlEx.h"
#include "desk/headless.h"
#include "desk/platform.h"
#include "desk/text.h"
#include "desk/tree.h"
#include "desk/tree_selection.h"

namespace {

using desk::Variant;

struct Fixture {
  std::shared_ptr<desk::HeadlessPlatform> platform = std::make_shared<desk::HeadlessPlatform>();
  desk::Ref<varbel::VarbelTreeviewControlEx> control;
  desk::TreeView* tree = nullptr;
  desk::Node* first = nullptr;
  desk::Node* middle = nullptr;

  // 1,000 roots of 999 children each, every root expanded: a million rows.
  Fixture() {
    desk::SetPlatform(platform);
    control = desk::MakeRef<varbel::VarbelTreeviewControlEx>();
    tree = &control->GetSurface()->Tree();
    desk::Nodes& nodes = tree->NodeCollection();
    for (int r = 0; r < 1000; ++r) {
      desk::Ref<desk::Node> root = nodes.AddRoot(u"r" + desk::DecimalText(r), u"root");
      for (int c = 0; c < 999; ++c) nodes.Add(*root, desk::Relationship::Child, {}, u"child");
      root->SetExpanded(true);
      if (r == 0) first = root.get();
      if (r == 500) middle = root->Child();
    }
    control->LetSelectionMode(1);
  }
  ~Fixture() {
    control.reset();
    desk::SetPlatform(nullptr);
  }
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

void BM_SelectAllMillion(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    f.control->ClearSelection();
    auto t0 = std::chrono::steady_clock::now();
    f.control->SelectAll();
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  state.counters["ranges"] = static_cast<double>(f.tree->Selection().Ranges().size());
}
BENCHMARK(BM_SelectAllMillion)->UseManualTime()->Unit(benchmark::kMillisecond);

// After select all, a Shift+click on the row half-way down (half a million rows from the
// anchor), as the view reports it.
void BM_ShiftClickAfterSelectAllMillion(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    f.tree->Selection().Click(*f.first, false, false);  // the anchor
    f.control->SelectAll();
    auto t0 = std::chrono::steady_clock::now();
    f.tree->Selection().Click(*f.middle, true, false);
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  state.counters["ranges"] = static_cast<double>(f.tree->Selection().Ranges().size());
  state.counters["selected"] = static_cast<double>(f.tree->Selection().Count());
}
BENCHMARK(BM_ShiftClickAfterSelectAllMillion)->UseManualTime()->Unit(benchmark::kMillisecond);

// A view state of 1,000 expanded nodes, one selected and the middle root on the first row,
// restored on collapsed nodes, against expanding the same nodes one by one through the
// described members (Nodes.Item(key), then Node.Expanded = True, by dispatch).
void CollapseAll(Fixture& f) {
  for (desk::Node* r = f.tree->FirstRoot(); r; r = r->Next()) r->SetExpanded(false);
}

std::u16string MillionState(Fixture& f) {
  static const std::u16string state = [&] {
    f.control->LetSelectionMode(0);
    for (desk::Node* r = f.tree->FirstRoot(); r; r = r->Next()) r->SetExpanded(true);
    f.tree->NodeCollection().Find(u"r500")->SetSelected(true);
    f.tree->ScrollToTop(*f.tree->NodeCollection().Find(u"r500"));
    return f.control->SaveViewState();
  }();
  return state;
}

void BM_RestoreViewState1000(benchmark::State& state) {
  Fixture& f = Shared();
  const std::u16string saved = MillionState(f);
  for (auto _ : state) {
    CollapseAll(f);
    auto t0 = std::chrono::steady_clock::now();
    f.control->RestoreViewState(saved);
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
}
BENCHMARK(BM_RestoreViewState1000)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_ExpandOneByOne1000(benchmark::State& state) {
  Fixture& f = Shared();
  MillionState(f);
  desk::Ref<desk::Object> nodes = f.control->Nodes();
  const desk::DispId expanded = desk::nodeid::kExpanded;
  for (auto _ : state) {
    CollapseAll(f);
    auto t0 = std::chrono::steady_clock::now();
    for (int r = 0; r < 1000; ++r) {
      std::vector<Variant> key{Variant::String(u"r" + desk::DecimalText(r))};
      desk::Ref<desk::Object> node = nodes->Invoke(desk::nodesid::kItem, desk::InvokeKind::Method, key).ToObject();
      std::vector<Variant> on{Variant::Bool(true)};
      node->Invoke(expanded, desk::InvokeKind::Let, on);
    }
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
}
BENCHMARK(BM_ExpandOneByOne1000)->UseManualTime()->Unit(benchmark::kMillisecond);

// The two above taking turns, so that a machine shared with other work slows both alike: the
// ratio of their summed times (restore / one by one) is the counter; the time is the restore's.
double ThreadCpu() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void BM_RestoreAgainstOneByOne1000(benchmark::State& state) {
  Fixture& f = Shared();
  const std::u16string saved = MillionState(f);
  desk::Ref<desk::Object> nodes = f.control->Nodes();
  double restore = 0, oneByOne = 0, restoreCpu = 0, oneByOneCpu = 0;
  for (auto _ : state) {
    CollapseAll(f);
    double c0 = ThreadCpu();
    auto t0 = std::chrono::steady_clock::now();
    f.control->RestoreViewState(saved);
    const double r = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    restoreCpu += ThreadCpu() - c0;
    restore += r;
    CollapseAll(f);
    c0 = ThreadCpu();
    t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 1000; ++i) {
      std::vector<Variant> key{Variant::String(u"r" + desk::DecimalText(i))};
      desk::Ref<desk::Object> node = nodes->Invoke(desk::nodesid::kItem, desk::InvokeKind::Method, key).ToObject();
      std::vector<Variant> on{Variant::Bool(true)};
      node->Invoke(desk::nodeid::kExpanded, desk::InvokeKind::Let, on);
    }
    oneByOne += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    oneByOneCpu += ThreadCpu() - c0;
    state.SetIterationTime(r);
  }
  state.counters["ratio"] = restore / oneByOne;
  state.counters["ratio_cpu"] = restoreCpu / oneByOneCpu;
  state.counters["one_by_one_ms"] = oneByOne * 1e3 / static_cast<double>(state.iterations());
}
BENCHMARK(BM_RestoreAgainstOneByOne1000)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
