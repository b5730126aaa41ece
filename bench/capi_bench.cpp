// What the C interface adds to a call: a property read through desk_get (handle check, the
// Variant converted to a plain C value, given back with desk_value_clear when it owns a string
// or an object, as the header says) against the same read through the C++ Invoke on the same
// object. Sorted is forwarded to the inner tree, BackStyle stored in the control, PathSeparator
// a string (copied out for the C host). The AlwaysClear runs clear every value, scalars too,
// as a host that does not look at the kind would.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "VarbelTreeview/VarbelTreeview.h"
#include "desk/desk_c.h"
#include "desk/headless.h"

namespace {

struct Host {
  Host() : platform(std::make_shared<desk::HeadlessPlatform>()) {
    desk::SetPlatform(platform);
    desk_error err;
    if (VarbelTreeview_DeskCreate("{D5CA163D-6878-4BD8-A144-A5E85A414594}", &handle, &err) != 0) std::abort();
    object = reinterpret_cast<desk::Object*>(handle);  // a handle is the object
  }
  ~Host() {
    desk_release(handle);
    desk::SetPlatform(nullptr);
  }
  int32_t Id(const char* name) const {
    int32_t id = 0;
    desk_error err;
    if (desk_id_of_name(handle, name, &id, &err) != 0) std::abort();
    return id;
  }
  std::shared_ptr<desk::HeadlessPlatform> platform;
  desk_object* handle = nullptr;
  desk::Object* object = nullptr;
};

void InvokeGet(benchmark::State& state, const char* name) {
  Host h;
  const int32_t id = h.Id(name);
  std::vector<desk::Variant> args;
  for (auto _ : state) {
    args.clear();
    benchmark::DoNotOptimize(h.object->Invoke(id, desk::InvokeKind::Get, args));
  }
}

bool Owns(const desk_value& v) { return v.kind == DESK_STRING || v.kind == DESK_OBJECT; }

void CApiGet(benchmark::State& state, const char* name, bool alwaysClear = false) {
  Host h;
  const int32_t id = h.Id(name);
  desk_value v;
  desk_error err;
  for (auto _ : state) {
    if (desk_get(h.handle, id, &v, &err) != 0) state.SkipWithError(err.text);
    benchmark::DoNotOptimize(v);
    if (alwaysClear || Owns(v)) desk_value_clear(&v);
  }
}

void CApiInvokeGet(benchmark::State& state, const char* name, bool alwaysClear = false) {
  Host h;
  const int32_t id = h.Id(name);
  desk_value v;
  desk_error err;
  for (auto _ : state) {
    if (desk_invoke(h.handle, id, DESK_GET, nullptr, 0, &v, &err) != 0) state.SkipWithError(err.text);
    benchmark::DoNotOptimize(v);
    if (alwaysClear || Owns(v)) desk_value_clear(&v);
  }
}

void BM_InvokeGetBackStyle(benchmark::State& s) { InvokeGet(s, "BackStyle"); }
void BM_CApiGetBackStyle(benchmark::State& s) { CApiGet(s, "BackStyle"); }
void BM_CApiInvokeGetBackStyle(benchmark::State& s) { CApiInvokeGet(s, "BackStyle"); }
void BM_CApiGetBackStyleAlwaysClear(benchmark::State& s) { CApiGet(s, "BackStyle", true); }
void BM_CApiInvokeGetBackStyleAlwaysClear(benchmark::State& s) { CApiInvokeGet(s, "BackStyle", true); }
void BM_InvokeGetSorted(benchmark::State& s) { InvokeGet(s, "Sorted"); }
void BM_CApiGetSorted(benchmark::State& s) { CApiGet(s, "Sorted"); }
void BM_InvokeGetPathSeparator(benchmark::State& s) { InvokeGet(s, "PathSeparator"); }
void BM_CApiGetPathSeparator(benchmark::State& s) { CApiGet(s, "PathSeparator"); }
BENCHMARK(BM_InvokeGetBackStyle);
BENCHMARK(BM_CApiGetBackStyle);
BENCHMARK(BM_CApiInvokeGetBackStyle);
BENCHMARK(BM_CApiGetBackStyleAlwaysClear);
BENCHMARK(BM_CApiInvokeGetBackStyleAlwaysClear);
BENCHMARK(BM_InvokeGetSorted);
BENCHMARK(BM_CApiGetSorted);
BENCHMARK(BM_InvokeGetPathSeparator);
BENCHMARK(BM_CApiGetPathSeparator);

}  // namespace

BENCHMARK_MAIN();
