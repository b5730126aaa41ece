// The tree control made as a Qt host makes it (by class identifier), its widget shown in a
// window, with the calls the Qt benchmarks make through its dispatch interface.
#pragma once

#include <QTreeView>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "VarbelTreeview/VarbelTreeview.h"
#include "bench_main.h"
#include "VarbelTreeviewControl.h"
#include "desk/qt_platform.h"
#include "desk/tree.h"

namespace bench {

struct ControlHost {
  // By default the class a host written against the control's description creates.
  explicit ControlHost(const char* clsid = varbel::kControlClsid) {
    desk::SetPlatform(desk::MakeQtPlatform());
    desk::Object* raw = nullptr;
    char message[256] = {};
    if (VarbelTreeview_CreateObject(clsid, &raw, message, sizeof message) != 0) {
      std::fprintf(stderr, "cannot create the control: %s\n", message);
      std::abort();
    }
    control = desk::AdoptRef(raw);
    window = desk::ControlWidget(*control);
    window->resize(bench::WindowSize().first, bench::WindowSize().second);
    window->show();
    std::vector<desk::Variant> none;
    nodes = control->Invoke(varbel::MemberId("Nodes"), desk::InvokeKind::Get, none).ToObject();
  }
  ~ControlHost() {
    nodes.reset();
    control.reset();
    desk::SetPlatform(nullptr);
  }
  ControlHost(const ControlHost&) = delete;
  ControlHost& operator=(const ControlHost&) = delete;

  desk::TreeView& Tree() { return dynamic_cast<desk::Control&>(*control).GetSurface()->Tree(); }
  QTreeView* View() { return desk::TreeViewOf(Tree()); }

  desk::Variant Add(const desk::Variant& relative, const desk::Variant& relationship, std::u16string key,
                    std::u16string text) {
    std::vector<desk::Variant> a{relative, relationship, desk::Variant::String(std::move(key)),
                                 desk::Variant::String(std::move(text))};
    return nodes->Invoke(desk::nodesid::kAdd, desk::InvokeKind::Method, a);
  }
  static void SetExpanded(const desk::Ref<desk::Object>& node, bool on) {
    std::vector<desk::Variant> a{desk::Variant::Bool(on)};
    node->Invoke(desk::nodeid::kExpanded, desk::InvokeKind::Let, a);
  }

  desk::Ref<desk::Object> control;
  desk::Ref<desk::Object> nodes;
  QWidget* window = nullptr;
};

}  // namespace bench
