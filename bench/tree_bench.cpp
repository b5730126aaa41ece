// Node collection costs: keyed add, look-up and removal must stay near O(1) (hash) or
// O(log n) (positions), so that 100,000 nodes take well under a second.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <random>
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

// Roots of shuffled texts added one at a time to a sorted tree whose rows are indexed (a view
// shows it), then removed in another shuffled order: each root finds its place among the
// sorted ones, and each removal its place in the list.
void BM_SortedRootsAddedAndRemovedShuffled(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::vector<int> order(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) order[static_cast<size_t>(i)] = i;
  std::mt19937 rng(5);
  std::shuffle(order.begin(), order.end(), rng);
  const auto keys = Keys(n);
  for (auto _ : state) {
    desk::Ref<desk::TreeView> tree = desk::MakeHeadlessTree();
    desk::Nodes& nodes = tree->NodeCollection();
    std::vector<desk::Variant> on{desk::Variant::Bool(true)};
    tree->Invoke(desk::treeid::kSorted, desk::InvokeKind::Let, on);
    nodes.AddRoot(u"", u"first");
    benchmark::DoNotOptimize(tree->NodeAtRow(0));  // the row index, built
    for (int i : order) nodes.AddRoot(keys[static_cast<size_t>(i)], keys[static_cast<size_t>(i)]);
    std::shuffle(order.begin(), order.end(), rng);
    for (int i : order) nodes.Remove(desk::Variant::String(keys[static_cast<size_t>(i)]));
    if (nodes.Count() != 1) state.SkipWithError("nodes left behind");
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_SortedRootsAddedAndRemovedShuffled)->Arg(100000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);

// The tree in a container tall enough for `rows` rows; the container keeps the tree's size.
desk::Ref<desk::Object> SizeForRows(const desk::Ref<desk::TreeView>& tree, int rows) {
  desk::Ref<desk::Object> ext = desk::MakeExtendedControl(tree, u"tree");
  std::vector<desk::Variant> w{desk::Variant::Single(1000)};
  ext->Invoke(desk::ext::kWidth, desk::InvokeKind::Let, w);
  std::vector<desk::Variant> h{desk::Variant::Single(desk::TreeView::kRowHeight * static_cast<float>(rows))};
  ext->Invoke(desk::ext::kHeight, desk::InvokeKind::Let, h);
  return ext;
}

// Hit testing the last of n root rows.
void BM_HitTestLastRow(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  desk::Ref<desk::TreeView> tree = desk::MakeHeadlessTree();
  desk::Nodes& nodes = tree->NodeCollection();
  for (int i = 0; i < n; ++i) nodes.AddRoot(u"", u"row");
  desk::Ref<desk::Object> ext = SizeForRows(tree, n);
  const float y = desk::TreeView::kRowHeight * (static_cast<float>(n) - 0.5f);
  for (auto _ : state) benchmark::DoNotOptimize(tree->HitTest(10, y));
}
BENCHMARK(BM_HitTestLastRow)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

// A hit test right after the rows changed (a node added and removed), of the last row: the
// rows are counted along the tree, so the change costs no pass over them.
void BM_HitTestAfterAChange(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  desk::Ref<desk::TreeView> tree = desk::MakeHeadlessTree();
  desk::Nodes& nodes = tree->NodeCollection();
  for (int i = 0; i < n; ++i) nodes.AddRoot(u"", u"row");
  desk::Ref<desk::Object> ext = SizeForRows(tree, n + 1);
  const float y = desk::TreeView::kRowHeight * (static_cast<float>(n) - 0.5f);
  for (auto _ : state) {
    nodes.AddRoot(u"extra", u"row");
    nodes.Remove(desk::Variant::String(u"extra"));
    benchmark::DoNotOptimize(tree->HitTest(10, y));
  }
}
BENCHMARK(BM_HitTestAfterAChange)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

// Two levels, n/1000 roots of 999 children each, all expanded: (with a second argument of 1)
// one root in the middle collapsed and expanded again, then a row hit that moves through the
// tree from one iteration to the next, so that the walk down is not always the same cached
// path.
void BM_HitTestAfterExpandAnyRow(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  desk::Ref<desk::TreeView> tree = desk::MakeHeadlessTree();
  desk::Nodes& nodes = tree->NodeCollection();
  std::vector<desk::Ref<desk::Node>> roots;
  for (int r = 0; r < n / 1000; ++r) {
    roots.push_back(nodes.AddRoot(u"", u"root"));
    for (int c = 0; c < 999; ++c) nodes.Add(*roots.back(), desk::Relationship::Child, u"", u"row");
    roots.back()->SetExpanded(true);
  }
  desk::Ref<desk::Object> ext = SizeForRows(tree, n);
  desk::Node& middle = *roots[roots.size() / 2];
  uint64_t row = 1;
  const bool change = state.range(1) != 0;
  for (auto _ : state) {
    if (change) {
      middle.SetExpanded(false);
      middle.SetExpanded(true);
    }
    row = (row * 6364136223846793005ull + 1442695040888963407ull);
    const int64_t k = static_cast<int64_t>((row >> 33) % static_cast<uint64_t>(n));
    benchmark::DoNotOptimize(tree->NodeAtRow(k));
  }
  if (tree->VisibleRows().size() != static_cast<size_t>(n)) state.SkipWithError("rows lost");
}
BENCHMARK(BM_HitTestAfterExpandAnyRow)->Args({1000000, 0})->Args({1000000, 1})->Unit(benchmark::kMicrosecond);

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
