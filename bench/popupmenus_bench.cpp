// Cost of declaring popup items: n PopUpMenus.Add calls followed by Clear, beside n adds to
// the plain keyed collection that holds the definitions. Each Add also loads and sets a menu
// element by late binding, so the ratio is that overhead; both must grow linearly in n.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "PopUpMenus.h"
#include "VarbelTreeviewControl.h"
#include "desk/collection.h"
#include "desk/headless.h"
#include "desk/text.h"

namespace {

std::vector<std::u16string> Names(int n) {
  std::vector<std::u16string> names;
  names.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) names.push_back(u"item" + desk::DecimalText(i));
  return names;
}

bool AnyReport() {
  desk::HeadlessPlatform* p = desk::Headless();
  return p && !p->messageBoxes.empty();
}

void BM_PopUpMenusAddThenClear(benchmark::State& state) {
  const auto names = Names(static_cast<int>(state.range(0)));
  auto control = desk::MakeRef<varbel::VarbelTreeviewControl>();
  desk::Ref<varbel::PopUpMenus> menus = control->GetPopUpMenus();
  for (auto _ : state) {
    for (const auto& n : names) benchmark::DoNotOptimize(menus->Add(n, n));
    menus->Clear();
  }
  if (AnyReport() || control->GetSurface()->ItemArray().Count() != 1) state.SkipWithError("a step failed");
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_PopUpMenusAddThenClear)
    ->Arg(2500)
    ->Arg(10000)
    ->Arg(30000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// The same keys and a new definition object per add, into the plain collection, then Clear.
void BM_CollectionAddThenClear(benchmark::State& state) {
  const auto names = Names(static_cast<int>(state.range(0)));
  auto col = desk::MakeRef<desk::Collection>();
  for (auto _ : state) {
    for (const auto& n : names) col->Add(desk::Variant::Object(desk::MakeRef<varbel::PopUpMenu>()), n);
    col->Clear();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_CollectionAddThenClear)
    ->Arg(2500)
    ->Arg(10000)
    ->Arg(30000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace
