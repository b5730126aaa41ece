// Node collection costs: keyed add, look-up and removal must stay near O(1) (hash) or
// O(log n) (positions), so that 100,000 nodes take well under a second.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <string>
#include <vector>

#include "desk/tree.h"

namespace {

std::vector<std::u16string> Keys(int n) {
  std::vector<std::u16string> keys;
  keys.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    std::string k = "node" + std::to_string(i);
    keys.emplace_back(k.begin(), k.end());
  }
  return keys;
}

// Adds n keyed roots, finds each by key through Item, then removes each by key.
void BM_AddFindRemoveByKey(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const auto keys = Keys(n);
  for (auto _ : state) {
    desk::Ref<desk::TreeView> tree = desk::MakeHeadlessTree();
    desk::Nodes& nodes = tree->NodeCollection();
    for (const auto& k : keys) nodes.AddRoot(k, k);
    for (const auto& k : keys) benchmark::DoNotOptimize(nodes.Item(desk::Variant::String(k)));
    for (const auto& k : keys) nodes.Remove(desk::Variant::String(k));
    if (nodes.Count() != 0) state.SkipWithError("nodes left behind");
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_AddFindRemoveByKey)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Position look-up and removal from the front, the worst case for a plain array.
void BM_RemoveFirstByIndex(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    desk::Ref<desk::TreeView> tree = desk::MakeHeadlessTree();
    desk::Nodes& nodes = tree->NodeCollection();
    for (int i = 0; i < n; ++i) nodes.AddRoot(u"", u"x");
    state.ResumeTiming();
    while (nodes.Count() > 0) nodes.Remove(desk::Variant::Long(1));
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_RemoveFirstByIndex)->Arg(100000)->Unit(benchmark::kMillisecond);

// Hit testing in a deep, fully expanded chain: the cost is the walk to the row hit.
void BM_HitTestLastRow(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  desk::Ref<desk::TreeView> tree = desk::MakeHeadlessTree();
  desk::Nodes& nodes = tree->NodeCollection();
  for (int i = 0; i < n; ++i) nodes.AddRoot(u"", u"row");
  desk::Ref<desk::Object> ext = desk::MakeExtendedControl(tree, u"tree");
  std::vector<desk::Variant> w{desk::Variant::Single(1000)};
  ext->Invoke(desk::ext::kWidth, desk::InvokeKind::Let, w);
  std::vector<desk::Variant> h{desk::Variant::Single(desk::TreeView::kRowHeight * static_cast<float>(n))};
  ext->Invoke(desk::ext::kHeight, desk::InvokeKind::Let, h);
  const float y = desk::TreeView::kRowHeight * (static_cast<float>(n) - 0.5f);
  for (auto _ : state) benchmark::DoNotOptimize(tree->HitTest(10, y));
}
BENCHMARK(BM_HitTestLastRow)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

// The first hit test after the rows changed lays them out again: a node added and removed,
// then the last row hit.
void BM_HitTestAfterAChange(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  desk::Ref<desk::TreeView> tree = desk::MakeHeadlessTree();
  desk::Nodes& nodes = tree->NodeCollection();
  for (int i = 0; i < n; ++i) nodes.AddRoot(u"", u"row");
  desk::Ref<desk::Object> ext = desk::MakeExtendedControl(tree, u"tree");
  std::vector<desk::Variant> w{desk::Variant::Single(1000)};
  ext->Invoke(desk::ext::kWidth, desk::InvokeKind::Let, w);
  std::vector<desk::Variant> h{desk::Variant::Single(desk::TreeView::kRowHeight * static_cast<float>(n + 1))};
  ext->Invoke(desk::ext::kHeight, desk::InvokeKind::Let, h);
  const float y = desk::TreeView::kRowHeight * (static_cast<float>(n) - 0.5f);
  for (auto _ : state) {
    nodes.AddRoot(u"extra", u"row");
    nodes.Remove(desk::Variant::String(u"extra"));
    benchmark::DoNotOptimize(tree->HitTest(10, y));
  }
}
BENCHMARK(BM_HitTestAfterAChange)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

// Memory of the node model: heap bytes per keyed node (the node, its text and key, and the
// tree's key and position indexes), measured by the allocator around the adds.
void BM_BytesPerKeyedNode(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const auto keys = Keys(n);
  for (auto _ : state) {
    desk::Ref<desk::TreeView> tree = desk::MakeHeadlessTree();
    desk::Nodes& nodes = tree->NodeCollection();
    const size_t before = mallinfo2().uordblks;
    for (const auto& k : keys) nodes.AddRoot(k, u"Node text");
    const size_t after = mallinfo2().uordblks;
    state.counters["bytes_per_node"] = static_cast<double>(after - before) / n;
  }
  state.counters["sizeof_Node"] = static_cast<double>(sizeof(desk::Node));
}
BENCHMARK(BM_BytesPerKeyedNode)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
