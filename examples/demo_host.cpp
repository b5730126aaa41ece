// The demo host: loads the control libraries by class identifier, as a form designer's run
// time would, and drives them only through their dispatch interfaces (late-bound, by name).
//
//   demo_host [--settings FILE] [--urls URL...]
//
// It starts a small picture server of its own on 127.0.0.1 (or uses the URLs given), fills
// a web image list from it, hands the image list to a tree control, builds nodes that show
// those pictures by key, declares a context menu, simulates a right-click over a node and
// prints the node hit and the item chosen. The tree control's settings are restored from the
// settings file at start and saved to it on exit.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "desk/component.h"
#include "desk/dispatch.h"
#include "desk/events.h"
#include "desk/headless.h"
#include "desk/platform.h"
#include "desk/property_bag.h"
#include "desk/text.h"
#include "desk/tree.h"
#include "sample_server.h"
#include "demo_calls.h"
#include "settings_file.h"

namespace {

using desk::InvokeKind;
using desk::Ref;
using desk::Variant;

using namespace desk_demo;  // the controls' classes and events, Call

std::string Text(const Variant& v) { return desk::U8(v.ToString()); }

void PrintNodes(const Ref<desk::Object>& first, int depth) {
  for (Ref<desk::Object> n = first; n; n = Call(n, u"Next", InvokeKind::Get).ToObject()) {
    std::printf("%*s- %s  [key %s, picture %s]\n", depth * 2, "", Text(Call(n, u"Text", InvokeKind::Get)).c_str(),
                Text(Call(n, u"Key", InvokeKind::Get)).c_str(), Text(Call(n, u"Image", InvokeKind::Get)).c_str());
    if (Call(n, u"Children", InvokeKind::Get).ToLong() > 0) PrintNodes(Call(n, u"Child", InvokeKind::Get).ToObject(), depth + 1);
  }
}

void PrintMessageBoxes(desk::HeadlessPlatform& p, size_t from) {
  for (size_t i = from; i < p.messageBoxes.size(); ++i)
    std::printf("[message box \"%s\"]\n%s\n", desk::U8(p.messageBoxes[i].EffectiveCaption()).c_str(),
                desk::U8(p.messageBoxes[i].text).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::filesystem::path settings = "demo_host.settings.json";
  std::vector<std::string> urls;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--settings") && i + 1 < argc) {
      settings = argv[++i];
    } else if (!std::strcmp(argv[i], "--urls")) {
      while (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0) urls.push_back(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: demo_host [--settings FILE] [--urls URL...]\n");
      return 2;
    }
  }

  auto platform = std::make_shared<desk::HeadlessPlatform>();
  desk::SetPlatform(platform);
  // The popup menu is "shown" headless: the host's user picks the second declared item.
  platform->choosePopupItem = [](desk::MenuArray& items) { return items.Count() > 2 ? 2 : -1; };

  try {
    // The web image list, filled from the built-in picture server or the URLs given.
    desk_demo::SampleServer server;
    if (urls.empty()) {
      if (!server.Start()) {
        std::fprintf(stderr, "demo_host: cannot start the picture server on 127.0.0.1\n");
        return 1;
      }
      urls = server.Urls();
      std::printf("Picture server on http://127.0.0.1:%d/\n", server.Port());
    }
    Ref<desk::Object> images = desk::CreateFromLibrary(QUORVANE_LIBRARY_PATH, "Quorvane_CreateObject", kImageListClsid);
    Ref<desk::Object> list = Call(images, u"ListImages", InvokeKind::Get).ToObject();
    std::vector<std::u16string> keys;
    for (const std::string& url : urls) {
      std::string name = url.substr(url.find_last_of('/') + 1);
      name = name.substr(0, name.find_first_of(".?#"));
      if (name.empty()) name = "picture" + std::to_string(keys.size() + 1);
      Call(list, u"Add", InvokeKind::Method, {Variant::String(desk::U16(name)), Variant::String(desk::U16(url))});
      keys.push_back(desk::U16(name));
    }
    size_t boxes = platform->messageBoxes.size();
    Call(images, u"Fill", InvokeKind::Method);
    PrintMessageBoxes(*platform, boxes);
    std::printf("Web image list ready: %s\n", Call(images, u"IsReady", InvokeKind::Method).ToBool() ? "yes" : "no");

    // The tree control, its settings restored from the last run.
    Ref<desk::Object> tree = desk::CreateFromLibrary(VARBEL_LIBRARY_PATH, "VarbelTreeview_CreateObject", kTreeClsid);
    auto* control = dynamic_cast<desk::Control*>(tree.get());
    if (!control) {
      std::fprintf(stderr, "demo_host: the object is not a control\n");
      return 1;
    }
    const desk_demo::SettingsRead read =
        desk_demo::ReadSettings(settings, [&](desk::MemoryPropertyBag& bag) { control->ReadProperties(bag); });
    if (read.bag) {
      std::printf("Settings restored from %s (Style %d, Checkboxes %s, PathSeparator \"%s\")\n",
                  settings.string().c_str(), Call(tree, u"Style", InvokeKind::Get).ToLong(),
                  Call(tree, u"Checkboxes", InvokeKind::Get).ToBool() ? "on" : "off",
                  Text(Call(tree, u"PathSeparator", InvokeKind::Get)).c_str());
    } else {
      control->InitProperties();
      Call(tree, u"PathSeparator", InvokeKind::Let, {Variant::String(u"/")});
      Call(tree, u"Checkboxes", InvokeKind::Let, {Variant::Bool(true)});
      std::printf("New instance: %s\n", read.message.c_str());
    }
    auto* surface = dynamic_cast<desk::HeadlessSurface*>(control->GetSurface());
    if (surface) surface->SetScale(0, 0, 4800, 3600);
    Call(tree, u"ImageList", InvokeKind::Set, {Call(images, u"ImageListControl", InvokeKind::Get)});

    Ref<desk::Object> nodes = Call(tree, u"Nodes", InvokeKind::Get).ToObject();
    Call(nodes, u"Add", InvokeKind::Method,
         {Variant::Missing(), Variant::Missing(), Variant::String(u"pictures"), Variant::String(u"Pictures")});
    for (const auto& key : keys)
      Call(nodes, u"Add", InvokeKind::Method,
           {Variant::String(u"pictures"), Variant::Integer(4), Variant::String(u"n-" + key), Variant::String(key),
            Variant::String(key)});
    Call(Call(nodes, u"Item", InvokeKind::Get, {Variant::Long(1)}).ToObject(), u"Expanded", InvokeKind::Let,
         {Variant::Bool(true)});
    std::printf("Tree (%d nodes):\n", Call(nodes, u"Count", InvokeKind::Get).ToLong());
    PrintNodes(Call(nodes, u"Item", InvokeKind::Get, {Variant::Long(1)}).ToObject(), 0);

    // The context menu, and a host that shows it on a right-button MouseUp.
    Ref<desk::Object> menus = Call(tree, u"PopUpMenus", InvokeKind::Get).ToObject();
    Call(menus, u"Add", InvokeKind::Method, {Variant::String(u"open"), Variant::String(u"Open")});
    Call(menus, u"Add", InvokeKind::Method, {Variant::String(u"rename"), Variant::String(u"Rename…")});
    Call(menus, u"Add", InvokeKind::Method, {Variant::String(u"delete"), Variant::String(u"Delete")});
    int cookie = control->Advise(desk::MakeRef<desk::FunctionSink>([&](desk::DispId id, std::vector<Variant>& args) {
      if (id == kMouseUp && args[0].ToInteger() == 2) {
        Variant node = Call(tree, u"DoHitTest", InvokeKind::Method,
                            {Variant::Integer(static_cast<int16_t>(args[2].ToSingle())),
                             Variant::Integer(static_cast<int16_t>(args[3].ToSingle()))});
        std::printf("Right-click at (%g, %g) over node: %s\n", args[2].ToSingle(), args[3].ToSingle(),
                    node.RawObject() ? Text(Call(node.RawObject(), u"FullPath", InvokeKind::Get)).c_str() : "(none)");
        Call(tree, u"ShowPopupMenu", InvokeKind::Method);
      } else if (id == kOnMenuClick) {
        std::printf("Menu item chosen: %s\n", Text(args[0]).c_str());
      }
    }));
    if (surface) {
      // The user right-clicks over the third row (the second picture node).
      int16_t button = 2, shift = 0;
      float x = 600, y = desk::TreeView::kRowHeight * 2 + 10;
      surface->Tree().RaiseMouseDown(button, shift, x, y);
      surface->Tree().RaiseMouseUp(button, shift, x, y);
    }
    control->Unadvise(cookie);

    // Settings saved on exit. The image list is a run-time object that cannot be saved; it is
    // handed to the tree again after every Fill, so it is detached first.
    Call(tree, u"ImageList", InvokeKind::Set, {Variant::Nothing()});
    auto bag = desk::MakeRef<desk::MemoryPropertyBag>();
    control->WriteProperties(*bag);
    std::printf("%s\n", desk_demo::WriteSettings(settings, *bag, read.canSave).c_str());
    return 0;
  } catch (const desk::Error& e) {
    std::fprintf(stderr, "demo_host: error %d: %s\n", e.Number(), desk::U8(e.Description()).c_str());
    return 1;
  }
}
