// The demo host: loads the control libraries by class identifier, as a form designer's run
// time would, and drives them only through their dispatch interfaces.
//
//   demo_host [--settings FILE]
//
// It builds a small tree, sizes the control and prints the tree.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "desk/dispatch.h"
#include "desk/headless.h"
#include "desk/platform.h"
#include "desk/text.h"

namespace {

using desk::InvokeKind;
using desk::Ref;
using desk::Variant;

constexpr const char* kTreeClsid = "{D5CA163D-6878-4BD8-A144-A5E85A414594}";

using CreateFn = int32_t (*)(const char*, desk::Object**, char*, size_t);

// Loads a control library and creates a class by identifier; exits with a message on failure.
Ref<desk::Object> CreateFromLibrary(const char* path, const char* entry, const char* clsid) {
  void* lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    std::fprintf(stderr, "demo_host: cannot load %s: %s\n", path, dlerror());
    std::exit(1);
  }
  auto create = reinterpret_cast<CreateFn>(dlsym(lib, entry));
  if (!create) {
    std::fprintf(stderr, "demo_host: %s has no %s\n", path, entry);
    std::exit(1);
  }
  desk::Object* raw = nullptr;
  char message[256] = {};
  int32_t err = create(clsid, &raw, message, sizeof message);
  if (err) {
    std::fprintf(stderr, "demo_host: error %d: %s\n", err, message);
    std::exit(1);
  }
  Ref<desk::Object> obj(raw);
  raw->Release();  // the Ref holds it now
  return obj;
}

Variant Call(const Ref<desk::Object>& o, const char16_t* name, InvokeKind kind, std::vector<Variant> args = {}) {
  return desk::CallByName(o, name, kind, std::move(args));
}

void PrintNode(const Ref<desk::Object>& node, int depth) {
  for (Ref<desk::Object> n = node; n; n = Call(n, u"Next", InvokeKind::Get).ToObject()) {
    std::printf("%*s- %s  [key %s]\n", depth * 2, "", desk::U8(Call(n, u"Text", InvokeKind::Get).ToString()).c_str(),
                desk::U8(Call(n, u"Key", InvokeKind::Get).ToString()).c_str());
    if (Call(n, u"Children", InvokeKind::Get).ToLong() > 0) PrintNode(Call(n, u"Child", InvokeKind::Get).ToObject(), depth + 1);
  }
}

}  // namespace

int main(int, char**) {
  try {
    auto platform = desk::SharedPlatform();
    Ref<desk::Object> tree = CreateFromLibrary(VARBEL_LIBRARY_PATH, "VarbelTreeview_CreateObject", kTreeClsid);
    auto* control = dynamic_cast<desk::Control*>(tree.get());
    if (!control) {
      std::fprintf(stderr, "demo_host: the object is not a control\n");
      return 1;
    }
    control->InitProperties();
    if (auto* surface = dynamic_cast<desk::HeadlessSurface*>(control->GetSurface())) surface->SetScale(0, 0, 4800, 3600);

    Ref<desk::Object> nodes = Call(tree, u"Nodes", InvokeKind::Get).ToObject();
    auto add = [&](Variant relative, int relationship, const char16_t* key, const char16_t* text) {
      return Call(nodes, u"Add", InvokeKind::Method,
                  {std::move(relative), relationship < 0 ? Variant::Missing() : Variant::Integer(static_cast<int16_t>(relationship)),
                   Variant::String(key), Variant::String(text)})
          .ToObject();
    };
    add(Variant::Missing(), -1, u"fruit", u"Fruit");
    add(Variant::String(u"fruit"), 4, u"apple", u"Apple");
    add(Variant::String(u"fruit"), 4, u"pear", u"Pear");
    add(Variant::Missing(), -1, u"veg", u"Vegetables");
    add(Variant::String(u"veg"), 4, u"leek", u"Leek");

    std::printf("Tree (%d nodes):\n", Call(nodes, u"Count", InvokeKind::Get).ToLong());
    PrintNode(Call(nodes, u"Item", InvokeKind::Get, {Variant::Long(1)}).ToObject(), 0);
    return 0;
  } catch (const desk::Error& e) {
    std::fprintf(stderr, "demo_host: error %d: %s\n", e.Number(), desk::U8(e.Description()).c_str());
    return 1;
  }
}
