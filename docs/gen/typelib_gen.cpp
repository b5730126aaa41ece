// Writes what a developer reads about the two libraries from their type libraries, read through
// the public entry points (<Lib>_TypeLib()) as any host reads them:
//
//   typelib_gen markdown DIR              DIR/VarbelTreeview.md, DIR/Quorvane.md: every class,
//                                         interface, member and event
//   typelib_gen stubs FILE                the Python package's typed classes (desk/typelib.pyi)
//   typelib_gen pysettings FILE STUB      the same settings for the Python widget
//                                         (desk/_treeview_settings.py) and its stub
//                                         (desk/treeview_widget.pyi)
//   typelib_gen designer TEMPLATE FILE    the Designer widget's header: TEMPLATE with its
//                                         @DESK_PROPERTIES@ line replaced by one property per
//                                         saved value setting of the tree control
//
// Sections: shared helpers; Markdown; Python stubs; Designer properties; main.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Quorvane/Quorvane.h"
#include "VarbelTreeview/VarbelTreeview.h"
#include "desk/dispatch.h"

namespace {

using desk::InterfaceInfo;
using desk::InvokeKind;
using desk::MemberInfo;
using desk::ParamInfo;
using desk::TypeLibInfo;
using desk::VarType;

// ---- shared helpers ----

const TypeLibInfo* const kLibraries[] = {VarbelTreeview_TypeLib(), Quorvane_TypeLib()};

const char* KindName(InvokeKind k) {
  switch (k) {
    case InvokeKind::Get: return "get";
    case InvokeKind::Let: return "let";
    case InvokeKind::Set: return "set";
    case InvokeKind::Method: return "method";
  }
  return "?";
}

std::string Hex(desk::DispId id) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<uint32_t>(id));
  return buf;
}

bool Has(const InterfaceInfo& i, const std::string& name, InvokeKind k) {
  for (const MemberInfo& m : i.members)
    if (m.name == name && m.kind == k) return true;
  return false;
}

// The member names in first-appearance order, each once.
std::vector<const MemberInfo*> FirstOfEachName(const InterfaceInfo& i) {
  std::vector<const MemberInfo*> out;
  std::set<std::string> seen;
  for (const MemberInfo& m : i.members)
    if (seen.insert(m.name).second) out.push_back(&m);
  return out;
}

const MemberInfo* Find(const InterfaceInfo& i, const std::string& name, InvokeKind k) {
  for (const MemberInfo& m : i.members)
    if (m.name == name && m.kind == k) return &m;
  return nullptr;
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) {
    std::cerr << "typelib_gen: cannot write " << path << ": " << std::strerror(errno) << "\n";
    return false;
  }
  return true;
}

// ---- Markdown ----

std::string TypeText(VarType t, const char* objectType) {
  if (t == VarType::Object && objectType) return std::string("Object (") + objectType + ")";
  return desk::VarTypeName(t);
}

std::string ParamsText(const MemberInfo& m) {
  std::string s;
  for (const ParamInfo& p : m.params) {
    if (!s.empty()) s += ", ";
    if (p.optional) s += "[";
    if (p.byRef) s += "ByRef ";
    s += std::string("`") + p.name + "` " + TypeText(p.type, p.objectType);
    if (p.optional) s += "]";
  }
  return s.empty() ? "—" : s;
}

std::string Cell(const char* text) {
  std::string s = text ? text : "";
  std::string out;
  for (char c : s) out += c == '|' ? std::string("\\|") : std::string(1, c);
  return out.empty() ? "—" : out;
}

void InterfaceTable(std::ostringstream& o, const InterfaceInfo& i, bool events) {
  o << "| # | name | id | kind | arguments ([optional]) | " << (events ? "" : "returns | ") << "help |\n";
  o << "|---|---|---|---|---|" << (events ? "" : "---|") << "---|\n";
  int n = 0;
  for (const MemberInfo& m : i.members) {
    o << "| " << ++n << " | `" << m.name << "`" << (m.hidden ? " (hidden)" : "") << " | " << Hex(m.id) << " | "
      << KindName(m.kind) << " | " << ParamsText(m) << " | ";
    if (!events) {
      if (m.kind == InvokeKind::Let || m.kind == InvokeKind::Set)
        o << "— (writes " << TypeText(m.result, m.objectType) << ")";
      else
        o << (m.result == VarType::Empty ? "—" : TypeText(m.result, m.objectType));
      o << " | ";
    }
    o << Cell(m.help) << " |\n";
  }
}

std::string Markdown(const TypeLibInfo& lib) {
  std::ostringstream o;
  o << "# " << lib.name << " reference\n\n"
    << "Generated from the type library (`" << lib.name << "_TypeLib()`) by `docs/gen/typelib_gen.cpp`; "
    << "do not edit. `cmake --build B --target update_reference` writes it anew, and the test "
    << "`typelib_reference` fails while it differs from the library.\n\n"
    << "Library id `" << lib.libid << "`.\n\n"
    << "A member is called by its id and kind (get reads, let writes a value, set writes an object "
    << "reference, method calls), or by name through late binding. For a let or set entry the written "
    << "value is not listed among the arguments.\n\n";
  o << "## Classes\n\n| class | class id | creatable | interface | events |\n|---|---|---|---|---|\n";
  for (const desk::ClassInfo& c : lib.classes)
    o << "| `" << c.name << "` | `" << c.clsid << "` | " << (c.creatable ? "yes" : "no") << " | `"
      << c.dispatch->name << "` (" << c.dispatch->members.size() << " entries) | "
      << (c.events ? "`" + c.events->name + "` (" + std::to_string(c.events->members.size()) + " events)" : "—")
      << " |\n";
  for (const InterfaceInfo* i : lib.interfaces) {
    bool events = false;
    std::string owner;
    for (const desk::ClassInfo& c : lib.classes) {
      if (c.events == i) events = true, owner = c.name;
      if (c.dispatch == i) owner = c.name;
    }
    o << "\n## " << (events ? "Events of `" : "Interface of `") << owner << "`: `" << i->name << "`\n\n"
      << "Interface id `" << i->iid << "`, " << i->members.size() << (events ? " events" : " entries") << ".\n\n";
    InterfaceTable(o, *i, events);
  }
  return o.str();
}

// ---- Python stubs ----


bool IsPythonKeyword(const std::string& s) {
  static const std::set<std::string> k = {"False", "None", "True", "and", "as", "assert", "async", "await",
                                          "break", "class", "continue", "def", "del", "elif", "else", "except",
                                          "finally", "for", "from", "global", "if", "import", "in", "is",
                                          "lambda", "nonlocal", "not", "or", "pass", "raise", "return", "try",
                                          "while", "with", "yield"};
  return k.count(s) != 0;
}

// The Python type of a value: what a read gives back, and what a write or an argument takes.
std::string PyType(VarType t, const char* objectType, const std::set<std::string>& classes) {
  switch (t) {
    case VarType::Integer:
    case VarType::Long: return "int";
    case VarType::Single:
    case VarType::Double: return "float";
    case VarType::Boolean: return "bool";
    case VarType::String: return "str";
    case VarType::Object:
      // A class of the library is typed; any other object (a font, a picture, the tree's nodes)
      // is reached late-bound.
      if (objectType && classes.count(objectType)) return objectType;
      return "Any";
    case VarType::Empty: return "None";
    default: return "Any";
  }
}

std::string PyParams(const MemberInfo& m, const std::set<std::string>& classes) {
  std::string s = "self";
  for (const ParamInfo& p : m.params) {
    std::string t = PyType(p.type, p.objectType, classes);
    if (p.byRef && t != "Any") t += " | ByRef";
    s += ", " + std::string(p.name) + ": " + t + (p.optional ? " = ..." : "");
  }
  return s;
}

std::string Stubs() {
  std::ostringstream o;
  o << "# The classes of the two libraries, generated from their type libraries by docs/gen/typelib_gen.cpp:\n"
       "# do not edit. Objects are late-bound at run time (desk.Object); these classes tell a type checker\n"
       "# the members that a control created by its class identifier has. A module for annotations only:\n"
       "#     if TYPE_CHECKING:\n"
       "#         from desk.typelib import VarbelTreeviewControl\n"
       "from typing import Any, Iterator, Literal, overload\n\n"
       "from . import ByRef, Object\n";
  std::vector<std::pair<std::string, std::string>> creatable;  // (clsid, class)
  struct Written {
    std::string name;
    std::vector<std::string> body;
  };
  for (const TypeLibInfo* lib : kLibraries) {
    std::vector<Written> written;  // this library's classes so far
    std::set<std::string> classes;
    for (const desk::ClassInfo& c : lib->classes) classes.insert(c.name);
    for (const desk::ClassInfo& c : lib->classes) {
      if (c.creatable) {
        creatable.emplace_back(c.clsid, c.name);
        creatable.emplace_back(lib->name + "." + c.name, c.name);
      }
      const InterfaceInfo& i = *c.dispatch;
      std::vector<std::string> body;  // a member each, as written in the class
      for (const MemberInfo* first : FirstOfEachName(i)) {
        const std::string& n = first->name;
        if (IsPythonKeyword(n)) continue;
        const MemberInfo* get = Find(i, n, InvokeKind::Get);
        const MemberInfo* put = Find(i, n, InvokeKind::Let);
        if (!put) put = Find(i, n, InvokeKind::Set);
        const MemberInfo* method = Find(i, n, InvokeKind::Method);
        if (get && get->params.empty() && put) {
          body.push_back("    " + n + ": " + PyType(get->result, get->objectType, classes) + "\n");
        } else if (get && get->params.empty() && !method) {
          body.push_back("    @property\n    def " + n + "(self) -> " + PyType(get->result, get->objectType, classes) +
                         ": ...\n");
        } else {
          const MemberInfo* m = method ? method : get ? get : put;
          body.push_back("    def " + n + "(" + PyParams(*m, classes) + ") -> " + PyType(m->result, m->objectType, classes) +
                         ": ...\n");
        }
      }
      // The enumerator makes the object iterable; the default member answers a call and an index.
      for (const MemberInfo& m : i.members)
        if (m.id == desk::kDispIdNewEnum && m.kind == InvokeKind::Get) body.push_back("    def __iter__(self) -> Iterator[Any]: ...\n");
      // The default member answers a call and an index.
      for (const MemberInfo& m : i.members) {
        if (m.id != 0 || (m.kind != InvokeKind::Get && m.kind != InvokeKind::Method) || m.params.empty()) continue;
        std::string r = PyType(m.result, m.objectType, classes);
        body.push_back("    def __call__(" + PyParams(m, classes) + ") -> " + r + ": ...\n");
        body.push_back("    def __getitem__(self, index: " + PyType(m.params[0].type, nullptr, classes) + ") -> " + r +
                       ": ...\n");
        break;
      }
      // A class that has every member of an earlier one, as that one has it, derives from it and
      // lists only its own (a type checker then takes it wherever the earlier one is asked for).
      const Written* base = nullptr;
      for (const Written& w : written) {
        const bool all = std::all_of(w.body.begin(), w.body.end(), [&](const std::string& line) {
          return std::find(body.begin(), body.end(), line) != body.end();
        });
        if (all && !w.body.empty() && (!base || w.body.size() > base->body.size())) base = &w;
      }
      o << "\n\nclass " << c.name << "(" << (base ? base->name : std::string("Object")) << "):\n    \"\"\"" << lib->name
        << "." << c.name << " (" << c.clsid << "): interface " << i.name << ".\"\"\"\n";
      for (const std::string& line : body)
        if (!base || std::find(base->body.begin(), base->body.end(), line) == base->body.end()) o << line;
      written.push_back({c.name, std::move(body)});
    }
  }
  o << "\n\n# CreateObject by a class identifier written as in the type library, or by Library.Class, gives the\n"
       "# typed class.\n";
  for (const auto& [clsid, name] : creatable)
    o << "@overload\ndef CreateObject(clsid: Literal[\"" << clsid << "\"]) -> " << name << ": ...\n";
  o << "@overload\ndef CreateObject(clsid: str) -> Any: ...\n";
  return o.str();
}

// ---- Designer properties ----

// The tree control's saved settings that hold a value (an object setting has no designer
// editor here): every property with a read and a value write, in interface order.
struct DesignerProperty {
  std::string name;
  desk::DispId id;
  VarType type;
};

std::vector<DesignerProperty> DesignerProperties() {
  const TypeLibInfo& lib = *VarbelTreeview_TypeLib();
  const InterfaceInfo& i = *lib.classes.at(0).dispatch;
  std::vector<DesignerProperty> out;
  for (const MemberInfo* m : FirstOfEachName(i)) {
    const MemberInfo* get = Find(i, m->name, InvokeKind::Get);
    if (get && get->params.empty() && Has(i, m->name, InvokeKind::Let)) out.push_back({m->name, get->id, get->result});
  }
  return out;
}

const char* CppType(VarType t) {
  switch (t) {
    case VarType::Boolean: return "bool";
    case VarType::Integer:
    case VarType::Long: return "int";
    case VarType::Single:
    case VarType::Double: return "double";
    default: return "QString";
  }
}

std::string Setter(const std::string& n) {
  std::string s = "set" + n;
  s[3] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[3])));
  return s;
}

std::string DesignerBlock() {
  std::ostringstream o;
  std::vector<DesignerProperty> props = DesignerProperties();
  o << "  // " << props.size() << " saved settings of the tree control, generated from its type library.\n";
  for (const DesignerProperty& p : props)
    o << "  Q_PROPERTY(" << CppType(p.type) << " " << p.name << " READ " << p.name << " WRITE " << Setter(p.name)
      << ")\n";
  o << "\n public:\n";
  for (const DesignerProperty& p : props) {
    const char* t = CppType(p.type);
    std::string id = Hex(p.id);
    o << "  " << t << " " << p.name << "() const { return Get(" << id << ").value<" << t << ">(); }\n";
    o << "  void " << Setter(p.name) << "(" << (std::strcmp(t, "QString") == 0 ? "const QString&" : t)
      << " v) { Put(" << id << ", QVariant::fromValue(v)); }\n";
  }
  return o.str();
}

// The same settings for the Python widget (desk/treeview_widget.py): (name, member id, type).
std::string PythonSettings() {
  std::ostringstream o;
  o << "\"\"\"The tree control's saved settings that hold a value, as VarbelTreeviewWidget's properties:\n"
       "(name, member id, Python type). Generated from the type library by docs/gen/typelib_gen.cpp: do\n"
       "not edit.\"\"\"\n\nSETTINGS = (\n";
  for (const DesignerProperty& p : DesignerProperties()) {
    std::string t = CppType(p.type);
    o << "    (\"" << p.name << "\", " << Hex(p.id) << ", "
      << (t == "bool" ? "bool" : t == "int" ? "int" : t == "double" ? "float" : "str") << "),\n";
  }
  o << ")\n";
  return o.str();
}

// Its type-checker view: the widget's properties and the setters that uic calls.
std::string PythonWidgetStub() {
  std::ostringstream o;
  o << "# desk.treeview_widget for type checkers: VarbelTreeviewWidget's properties are the tree control's saved\n"
       "# value settings. Generated from the type library by docs/gen/typelib_gen.cpp: do not edit.\n"
       "from typing import Optional\n\n"
       "from PyQt6.QtWidgets import QWidget\n\n"
       "from .typelib import VarbelTreeviewControl\n\n"
       "CLASS_ID: str\n\n\n"
       "class VarbelTreeviewWidget(QWidget):\n"
       "    def __init__(self, parent: Optional[QWidget] = ...) -> None: ...\n"
       "    def control(self) -> VarbelTreeviewControl: ...\n";
  for (const DesignerProperty& p : DesignerProperties()) {
    std::string t = CppType(p.type);
    std::string py = t == "bool" ? "bool" : t == "int" ? "int" : t == "double" ? "float" : "str";
    o << "    " << p.name << ": " << py << "\n";
    // QWidget's own setStyle(QStyle) and setEnabled(bool) are the control's settings here; the
    // argument is named as PyQt6 names QWidget's.
    o << "    def " << Setter(p.name) << "(self, a0: " << py << ") -> None: ..."
      << (p.name == "Style" ? "  # type: ignore[override]" : "") << "\n";
  }
  return o.str();
}

bool Designer(const std::string& templatePath, const std::string& outPath) {
  std::ifstream in(templatePath);
  if (!in) {
    std::cerr << "typelib_gen: cannot read " << templatePath << ": " << std::strerror(errno) << "\n";
    return false;
  }
  std::ostringstream o;
  std::string line;
  bool replaced = false;
  while (std::getline(in, line)) {
    if (line.find("@DESK_PROPERTIES@") != std::string::npos) {
      o << DesignerBlock();
      replaced = true;
    } else {
      o << line << "\n";
    }
  }
  if (!replaced) {
    std::cerr << "typelib_gen: " << templatePath << " has no @DESK_PROPERTIES@ line\n";
    return false;
  }
  return WriteFile(outPath, o.str());
}

}  // namespace

int main(int argc, char** argv) {
  std::string what = argc > 1 ? argv[1] : "";
  if (what == "markdown" && argc == 3) {
    for (const TypeLibInfo* lib : kLibraries)
      if (!WriteFile(std::string(argv[2]) + "/" + lib->name + ".md", Markdown(*lib))) return 1;
    return 0;
  }
  if (what == "stubs" && argc == 3) return WriteFile(argv[2], Stubs()) ? 0 : 1;
  if (what == "pysettings" && argc == 4)
    return WriteFile(argv[2], PythonSettings()) && WriteFile(argv[3], PythonWidgetStub()) ? 0 : 1;
  if (what == "designer" && argc == 4) return Designer(argv[2], argv[3]) ? 0 : 1;
  std::cerr << "usage: typelib_gen markdown DIR | stubs FILE | pysettings FILE STUB | designer TEMPLATE FILE\n";
  return 2;
}
