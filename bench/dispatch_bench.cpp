// What late binding costs: a host that calls a member by id pays for the table look-up, the
// argument checks and the Variant result; the typed C++ members are one-liners over the same
// table. Baseline: a plain read of a field, the least any call can cost.
//
// Sorted is forwarded to the inner tree (two dispatches); BackStyle is stored in the control.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "VarbelTreeviewControl.h"
#include "desk/headless.h"

namespace {

using desk::InvokeKind;
using desk::Variant;

struct Host {
  Host() : platform(std::make_shared<desk::HeadlessPlatform>()) {
    desk::SetPlatform(platform);
    control = desk::MakeRef<varbel::VarbelTreeviewControl>();
  }
  ~Host() {
    control.reset();
    desk::SetPlatform(nullptr);
  }
  std::shared_ptr<desk::HeadlessPlatform> platform;
  desk::Ref<varbel::VarbelTreeviewControl> control;
};

// The baseline: a field of an object read through a pointer the compiler cannot see through.
struct Plain {
  int16_t sorted = 0;
};

void BM_PlainMemberRead(benchmark::State& state) {
  auto p = std::make_unique<Plain>();
  Plain* q = p.get();
  for (auto _ : state) {
    benchmark::DoNotOptimize(q);
    benchmark::DoNotOptimize(q->sorted);
  }
}
BENCHMARK(BM_PlainMemberRead);

void BM_TypedGetSorted(benchmark::State& state) {
  Host h;
  for (auto _ : state) benchmark::DoNotOptimize(h.control->GetSorted());
}
BENCHMARK(BM_TypedGetSorted);

void BM_InvokeGetSorted(benchmark::State& state) {
  Host h;
  const desk::DispId id = varbel::MemberId("Sorted");
  std::vector<Variant> args;
  for (auto _ : state) {
    args.clear();
    benchmark::DoNotOptimize(h.control->Invoke(id, InvokeKind::Get, args));
  }
}
BENCHMARK(BM_InvokeGetSorted);

void BM_TypedGetBackStyle(benchmark::State& state) {
  Host h;
  for (auto _ : state) benchmark::DoNotOptimize(h.control->GetBackStyle());
}
BENCHMARK(BM_TypedGetBackStyle);

void BM_InvokeGetBackStyle(benchmark::State& state) {
  Host h;
  const desk::DispId id = varbel::MemberId("BackStyle");
  std::vector<Variant> args;
  for (auto _ : state) {
    args.clear();
    benchmark::DoNotOptimize(h.control->Invoke(id, InvokeKind::Get, args));
  }
}
BENCHMARK(BM_InvokeGetBackStyle);

// Late binding by name, as a host without ids calls: the name look-up comes on top.
void BM_CallByNameGetSorted(benchmark::State& state) {
  Host h;
  desk::Object& o = *h.control;
  for (auto _ : state) benchmark::DoNotOptimize(desk::CallByName(o, u"Sorted", InvokeKind::Get));
}
BENCHMARK(BM_CallByNameGetSorted);

}  // namespace
