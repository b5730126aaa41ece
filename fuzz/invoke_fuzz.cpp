// Hosts call members by id with whatever arguments they like. Random calls on every object
// of both controls (the tree control, its PopUpMenus, Nodes and Node objects, ucMain, its
// httpImages and httpImage entries, and every object they hand back) either work or fail
// with desk::Error; nothing crashes, leaks or reads freed memory. Calls are made at the
// points where a host can re-enter: pending-message dispatch during a download, a shown
// message box, a shown popup menu and an event raised to the host's sink.
//
// No network: the HTTP client installed here fails every request at once, so DownloadFile
// and Fill run their whole logic without leaving the process. One picture sits in the cache
// folder under "cached.png", so that a URL ending in that name fills the image list from
// the cache.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Quorvane/Quorvane.h"
#include "ucMain.h"
#include "VarbelTreeview/VarbelTreeview.h"
#include "VarbelTreeviewControl.h"
#include "desk/error.h"
#include "desk/events.h"
#include "desk/font.h"
#include "desk/headless.h"
#include "desk/http.h"
#include "desk/property_bag.h"
#include "fuzz_input.h"

namespace {

using desk::DispId;
using desk::InvokeKind;
using desk::Object;
using desk::Ref;
using desk::Variant;

class RefusingClient : public desk::http::Client {
  class Req : public desk::http::Request {
   public:
    size_t Read(uint8_t*, size_t) override { return 0; }
    bool Succeeded() const override { return false; }
  };
  class Sess : public desk::http::Session {
   public:
    std::unique_ptr<desk::http::Request> OpenUrl(std::string_view) override { return std::make_unique<Req>(); }
  };

 public:
  std::unique_ptr<desk::http::Session> OpenSession(std::string_view) override { return std::make_unique<Sess>(); }
};

// A 1x1 PNG.
constexpr uint8_t kPng[] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
                            0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00,
                            0x00, 0x1F, 0x15, 0xC4, 0x89, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x44, 0x41, 0x54, 0x78,
                            0x9C, 0x63, 0xF8, 0xCF, 0xC0, 0xF0, 0x1F, 0x00, 0x05, 0x00, 0x01, 0xFF, 0x89, 0x99,
                            0x3D, 0x1D, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};

constexpr InvokeKind kKinds[] = {InvokeKind::Get, InvokeKind::Let, InvokeKind::Set, InvokeKind::Method};
constexpr DispId kOddIds[] = {0, -4, -1, 1, 0x60030004, 0x68030000, 0x40030000, INT32_MIN, INT32_MAX};
constexpr size_t kMaxObjects = 48;
constexpr size_t kSlots = 6;
constexpr int kMaxDepth = 3;
constexpr int kMaxCalls = 200;

const char* const kClassIds[] = {varbel::kControlClsid, Quorvane::ucMain::kClassId, Quorvane::httpImages::kClassId,
                                 "{d5ca163d-6878-4bd8-a144-a5e85a414594}", "", "{", "not a class"};

bool Trace();

// The state of one run: the objects a host holds and the caller's variables that by-reference
// arguments point at. `pool` and `slots` outlive every call made during the run.
struct Run {
  explicit Run(desk_fuzz::Input input) : in(input) {}
  desk_fuzz::Input in;
  std::vector<Ref<Object>> pool;
  Variant slots[kSlots];
  int depth = 0;
  int calls = 0;

  void Keep(const Ref<Object>& o) {
    if (!o) return;
    if (std::find(pool.begin(), pool.end(), o) != pool.end()) return;
    if (pool.size() < kMaxObjects) pool.push_back(o);
    else pool[in.Below(pool.size())] = o;
  }
  Ref<Object> AnyObject() { return pool.empty() ? Ref<Object>() : pool[in.Below(pool.size())]; }
  // An object to pass as an argument. Objects that can keep a host's object (a node's Tag,
  // a collection, a property bag, the controls' object properties, menus) are never passed,
  // so the host here makes no reference cycle: a cycle leaks in any counted-reference host,
  // and would hide the leaks that are the library's own.
  Ref<Object> ArgumentObject() {
    Ref<Object> o = AnyObject();
    if (!o) return o;
    static const std::string_view kHolders[] = {"INode",         "_Collection",       "IEnumVARIANT",
                                                "_PopUpMenus",   "_VarbelTreeviewControl", "ITreeView",
                                                "ITreeViewExtender", "PropertyBag",   "Menu",
                                                "MenuArray"};
    const std::string& name = o->Interface().name;
    for (std::string_view h : kHolders)
      if (name == h) return desk::MakeRef<desk::Font>();
    return o;
  }

  Variant Value() {
    switch (in.Below(14)) {
      case 0: return Variant();
      case 1: return Variant::Missing();
      case 2: return Variant::Integer(in.Raw<int16_t>());
      case 3: return Variant::Integer(static_cast<int16_t>(in.Below(8)));
      case 4: return Variant::Long(in.Raw<int32_t>());
      case 5: return Variant::Single(in.Raw<float>());
      case 6: return Variant::Double(in.Raw<double>());
      case 7: return Variant::Bool(in.Byte() & 1);
      case 8: return Variant::String(in.Text(24));
      case 9: return Variant::String(u"http://127.0.0.1:9/cached.png");
      case 10: return Variant::Nothing();
      case 11:
      case 12: return Variant::Object(ArgumentObject());
      case 13: return Variant::ByRef(&slots[in.Below(kSlots)], in.Byte() & 1);
    }
    return Variant();
  }

  // One host action; the input decides which.
  void Step() {
    if (in.Empty() || ++calls > kMaxCalls || depth >= kMaxDepth) return;
    ++depth;
    try {
      switch (in.Below(16)) {
        case 0: {  // a host drops an object (possibly one in the middle of a call)
          if (Trace()) std::fprintf(stderr, "%*sdrop\n", depth * 2, "");
          if (!pool.empty()) pool.erase(pool.begin() + static_cast<long>(in.Below(pool.size())));
          break;
        }
        case 1: {  // late binding by a name from the input
          Ref<Object> o = AnyObject();
          if (!o) break;
          std::vector<Variant> args;
          for (size_t i = in.Below(4); i > 0; --i) args.push_back(Value());
          if (Trace()) std::fprintf(stderr, "%*sby name on %s\n", depth * 2, "", o->Interface().name.c_str());
          Variant r = desk::CallByName(o, in.Text(16), kKinds[in.Below(4)], std::move(args));
          if (r.IsObject()) Keep(r.RawObject());
          break;
        }
        case 2: {  // creation by class identifier, with a message buffer of any size
          char message[64];
          Object* out = nullptr;
          const char* id = kClassIds[in.Below(std::size(kClassIds))];
          const size_t size = in.Below(sizeof message + 1);
          int32_t err = (in.Byte() & 1) ? VarbelTreeview_CreateObject(id, &out, message, size)
                                        : Quorvane_CreateObject(id, &out, message, size);
          if ((err == 0) != (out != nullptr)) std::abort();
          if (out) {
            Keep(Ref<Object>(out));
            out->Release();  // the creation's reference
          }
          break;
        }
        case 3: {  // the saved form of a tree control
          if (auto* c = dynamic_cast<desk::Control*>(AnyObject().get())) {
            Ref<desk::MemoryPropertyBag> bag = desk::MakeRef<desk::MemoryPropertyBag>();
            c->WriteProperties(*bag);
            Ref<desk::MemoryPropertyBag> back = desk::MemoryPropertyBag::FromText(bag->ToText());
            c->ReadProperties(*back);
          }
          break;
        }
        default:
          Call();
          break;
      }
    } catch (const desk::Error&) {
      // The host's error: expected.
    }
    --depth;
  }

  // A member call by id: a row of the object's interface, or any id and kind.
  void Call() {
    Ref<Object> o = AnyObject();
    if (!o) return;
    const desk::InterfaceInfo& info = o->Interface();
    DispId id;
    InvokeKind kind;
    size_t argc;
    if (!info.members.empty() && in.Below(8) != 0) {
      const desk::MemberInfo& m = info.members[in.Below(info.members.size())];
      id = m.id;
      kind = m.kind;
      argc = m.params.size() + (kind == InvokeKind::Let || kind == InvokeKind::Set ? 1 : 0);
      if (in.Below(8) == 0) argc = in.Below(5);  // a wrong count now and then
    } else {
      id = (in.Byte() & 1) ? kOddIds[in.Below(std::size(kOddIds))] : in.Raw<int32_t>();
      kind = kKinds[in.Below(4)];
      argc = in.Below(5);
    }
    std::vector<Variant> args;
    for (size_t i = 0; i < argc; ++i) args.push_back(Value());
    if (Trace()) {
      int row = info.Find(id, kind);
      std::fprintf(stderr, "%*s%s.%s kind %d (", depth * 2, "", info.name.c_str(),
                   row >= 0 ? info.members[static_cast<size_t>(row)].name : "?", static_cast<int>(kind));
      for (const auto& a : args) std::fprintf(stderr, " %s", desk::VarTypeName(a.Type()));
      std::fprintf(stderr, " )\n");
    }
    Variant r = o->Invoke(id, kind, args);
    if (r.IsObject()) Keep(r.RawObject());
  }
};

Run* gRun = nullptr;
bool gTrace = false;  // DESK_FUZZ_TRACE=1: print every call, to read what a crashing input does
std::u16string gCache;

bool Trace() { return gTrace; }

void Reenter() {
  if (gRun) gRun->Step();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string tmpl = desk_fuzz::MakePrivateFolder("desk-fuzz-invoke");
  ::setenv("TMPDIR", tmpl.c_str(), 1);
  std::ofstream(std::filesystem::path(tmpl) / "cached.png", std::ios::binary)
      .write(reinterpret_cast<const char*>(kPng), sizeof kPng);
  desk::http::SetClient(std::make_shared<RefusingClient>());
  const char* trace = std::getenv("DESK_FUZZ_TRACE");
  gTrace = trace && *trace == '1';
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A fresh host for each input: nothing recorded by one run is seen by the next.
  auto host = std::make_shared<desk::HeadlessPlatform>();
  desk::SetPlatform(host);
  {
    Run run(desk_fuzz::Input(data, size));
    gRun = &run;
    host->onDoEvents = Reenter;
    host->onMessageBox = [](const desk::MessageBoxRequest&) { Reenter(); };
    host->choosePopupItem = [](desk::MenuArray&) {
      Reenter();
      return gRun ? static_cast<int>(gRun->in.Below(4)) - 1 : -1;
    };

    // The objects of both controls, as a host reaches them.
    Ref<varbel::VarbelTreeviewControl> tree = desk::MakeRef<varbel::VarbelTreeviewControl>();
    run.Keep(tree);
    // The host's event sink: it writes by-reference arguments, fails now and then, and calls
    // back into the objects while the event is being raised.
    tree->Advise(desk::MakeRef<desk::FunctionSink>([](DispId, std::vector<Variant>& args) {
      if (!gRun || gRun->in.Empty()) return;
      for (auto& a : args)
        if (a.IsByRef() && (gRun->in.Byte() & 1)) a.Assign(gRun->Value());
      if (gRun->in.Below(16) == 0) desk::Raise(desk::Err::InvalidProcedureCall);
      Reenter();
    }));
    run.Keep(tree->Nodes());
    std::vector<Variant> none;
    try {
      run.Keep(tree->Invoke(varbel::MemberId("PopUpMenus"), InvokeKind::Get, none).ToObject());
      std::vector<Variant> add{Variant::Missing(), Variant::Missing(), Variant::String(u"k"), Variant::String(u"n")};
      run.Keep(desk::CallByName(tree->Nodes(), u"Add", InvokeKind::Method, add).ToObject());
    } catch (const desk::Error&) {
      std::abort();  // a fresh control gives these
    }
    Ref<Quorvane::ucMain> web = desk::MakeRef<Quorvane::ucMain>();
    run.Keep(web);
    run.Keep(web->ListImages());
    run.Keep(web->ListImages()->Add(u"cached", u"http://127.0.0.1:9/cached.png"));
    run.Keep(web->ImageListControl());
    tree.reset();
    web.reset();

    while (!run.in.Empty() && run.calls < kMaxCalls) run.Step();

    host->onDoEvents = nullptr;
    host->onMessageBox = nullptr;
    host->choosePopupItem = nullptr;
    gRun = nullptr;
    run.pool.clear();
    for (auto& s : run.slots) s = Variant();  // values held in the caller's variables go too
  }
  desk::SetPlatform(nullptr);
  return 0;
}
