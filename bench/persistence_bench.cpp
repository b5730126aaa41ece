// The tree control's settings saved and restored: WriteProperties, a save to a file, a load
// and ReadProperties, against a bare parse of the same file with the JSON library. The
// in-memory cycle (text made and read back, no file) shows what the disk costs; a save
// flushes the file to the disk, which dominates the file cycle.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "VarbelTreeviewControl.h"
#include "desk/headless.h"
#include "desk/property_bag.h"
#include "support/bmp.h"

namespace {

using desk::InvokeKind;
using desk::Ref;
using desk::Variant;
using varbel::VarbelTreeviewControl;

// A control whose settings all differ from their defaults, pictures (32 x 32) included.
struct Fixture {
  Fixture() : platform(std::make_shared<desk::HeadlessPlatform>()) {
    desk::SetPlatform(platform);
    source = desk::MakeRef<VarbelTreeviewControl>();
    target = desk::MakeRef<VarbelTreeviewControl>();
    source->InitProperties();
    auto set = [&](const char* name, Variant v) {
      std::vector<Variant> args{std::move(v)};
      source->Invoke(varbel::MemberId(name), args[0].IsObject() ? InvokeKind::Set : InvokeKind::Let, args);
    };
    uint32_t seed = 0;
    for (const char* name : {"Picture", "Palette", "MouseIcon", "MaskPicture", "Image"})
      set(name, Variant::Object(desk_test::MakePicture(32, 32, ++seed)));
    set("Font", Variant::Object(desk::MakeRef<desk::Font>(u"DejaVu Sans", 10.5f)));
    set("ToolTipText", Variant::String(u"Right-click for the menu"));
    set("Style", Variant::Long(4));
    set("Checkboxes", Variant::Bool(true));
    set("PathSeparator", Variant::String(u"/"));
    set("Indentation", Variant::Single(283.5f));
    set("BackColor", Variant::Long(0xC0FFEE));
    set("ScaleWidth", Variant::Single(4800));
    set("FontName", Variant::String(u"Liberation Mono"));
    set("HasDC", Variant::Bool(true));
    file = std::filesystem::temp_directory_path() / ("desk-persistence-bench-" + std::to_string(::getpid()) + ".json");
    desk::MemoryPropertyBag bag;
    source->WriteProperties(bag);
    bag.SaveToFile(file);
  }
  ~Fixture() {
    std::filesystem::remove(file);
    source.reset();
    target.reset();
    desk::SetPlatform(nullptr);
  }

  std::shared_ptr<desk::HeadlessPlatform> platform;
  Ref<VarbelTreeviewControl> source, target;
  std::filesystem::path file;
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void BM_CycleThroughFile(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    desk::MemoryPropertyBag saved;
    f.source->WriteProperties(saved);
    saved.SaveToFile(f.file);
    desk::MemoryPropertyBag loaded;
    loaded.LoadFromFile(f.file);
    f.target->ReadProperties(loaded);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(std::filesystem::file_size(f.file)));
}
BENCHMARK(BM_CycleThroughFile)->Unit(benchmark::kMicrosecond);

void BM_CycleInMemory(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    desk::MemoryPropertyBag saved;
    f.source->WriteProperties(saved);
    std::string text = saved.ToText();
    Ref<desk::MemoryPropertyBag> loaded = desk::MemoryPropertyBag::FromText(text);
    f.target->ReadProperties(*loaded);
  }
}
BENCHMARK(BM_CycleInMemory)->Unit(benchmark::kMicrosecond);

// The floor: reading the same file and parsing it with the JSON library, nothing else.
void BM_BareParseOfTheFile(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    nlohmann::json doc = nlohmann::json::parse(ReadFile(f.file));
    benchmark::DoNotOptimize(doc);
  }
}
BENCHMARK(BM_BareParseOfTheFile)->Unit(benchmark::kMicrosecond);

// The parts of the cycle on their own.
void BM_SaveToFile(benchmark::State& state) {
  Fixture& f = Shared();
  desk::MemoryPropertyBag saved;
  f.source->WriteProperties(saved);
  for (auto _ : state) saved.SaveToFile(f.file);
}
BENCHMARK(BM_SaveToFile)->Unit(benchmark::kMicrosecond);

void BM_LoadFromFile(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    desk::MemoryPropertyBag loaded;
    loaded.LoadFromFile(f.file);
    benchmark::DoNotOptimize(loaded.Count());
  }
}
BENCHMARK(BM_LoadFromFile)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
