// VarbelTreeviewControlEx: the added members' rows after a copy of the default interface's.
#include "VarbelTreeviewControlEx.h"

#include "desk/collection.h"
#include "desk/tree.h"
#include "desk/tree_filter.h"
#include "desk/tree_selection.h"
#include "members.h"
#include "view_state.h"

namespace varbel {

using desk::Args;
using desk::DispId;
using desk::InvokeKind;
using desk::ParamInfo;
using desk::Ref;
using desk::Row;
using desk::Variant;
using desk::VarType;
using C = VarbelTreeviewControl;
using X = VarbelTreeviewControlEx;

namespace {

constexpr ParamInfo kNodeParam{"Node", VarType::Object, false, false, "Node"};

X& Self(C& c) { return static_cast<X&>(c); }

void AddFilterRows(std::vector<Row<C>>& rows) {
  rows.push_back({{"FilterText", exid::kFilterText, InvokeKind::Get, {}, VarType::String},
                  [](C& c, Args&) { return Variant::String(Self(c).Filter().Text()); }});
  rows.push_back({{"FilterText", exid::kFilterText, InvokeKind::Let, {}, VarType::String},
                  [](C& c, Args& a) { return Self(c).Filter().SetText(a.NewValue().ToString()), Variant(); }});
  rows.push_back({{"FilterMatchesKeys", exid::kFilterMatchesKeys, InvokeKind::Get, {}, VarType::Boolean},
                  [](C& c, Args&) { return Variant::Bool(Self(c).Filter().MatchKeys()); }});
  rows.push_back({{"FilterMatchesKeys", exid::kFilterMatchesKeys, InvokeKind::Let, {}, VarType::Boolean},
                  [](C& c, Args& a) { return Self(c).Filter().SetMatchKeys(a.NewValue().ToBool()), Variant(); }});
  rows.push_back({{"FilterShowsSubtree", exid::kFilterShowsSubtree, InvokeKind::Get, {}, VarType::Boolean},
                  [](C& c, Args&) { return Variant::Bool(Self(c).Filter().ShowSubtree()); }});
  rows.push_back({{"FilterShowsSubtree", exid::kFilterShowsSubtree, InvokeKind::Let, {}, VarType::Boolean},
                  [](C& c, Args& a) { return Self(c).Filter().SetShowSubtree(a.NewValue().ToBool()), Variant(); }});
  rows.push_back({{"FilterMatchCount", exid::kFilterMatchCount, InvokeKind::Get, {}, VarType::Long},
                  [](C& c, Args&) {
                    const int64_t n = Self(c).Filter().MatchCount();
                    if (n > INT32_MAX) desk::Raise(desk::Err::Overflow);
                    return Variant::Long(static_cast<int32_t>(n));
                  }});
  rows.push_back({{"ClearFilter", exid::kClearFilter, InvokeKind::Method, {}},
                  [](C& c, Args&) { return Self(c).Filter().SetText(u""), Variant(); }});
  rows.push_back({{"IsNodeShown", exid::kIsNodeShown, InvokeKind::Method, {kNodeParam}, VarType::Boolean},
                  [](C& c, Args& a) {
                    X& x = Self(c);
                    return Variant::Bool(x.Filter().Shown(x.NodeOf(a.Obj(0))));
                  }});
}

void AddRows(std::vector<Row<C>>& rows) {
  rows.push_back({{"SelectionMode", exid::kSelectionMode, InvokeKind::Get, {}, VarType::Long},
                  [](C& c, Args&) {
                    return Variant::Long(static_cast<int32_t>(Self(c).Selection().GetMode()));
                  }});
  rows.push_back({{"SelectionMode", exid::kSelectionMode, InvokeKind::Let, {}, VarType::Long},
                  [](C& c, Args& a) {
                    const int32_t m = a.NewValue().ToLong();
                    if (m < 0 || m > 1) desk::Raise(desk::Err::InvalidPropertyValue);
                    Self(c).Selection().SetMode(static_cast<desk::TreeSelection::Mode>(m));
                    return Variant();
                  }});
  rows.push_back({{"SelectedNodes", exid::kSelectedNodes, InvokeKind::Get, {}, VarType::Object, nullptr, false,
                   "Collection"},
                  [](C& c, Args&) {
                    auto col = desk::MakeRef<desk::Collection>();
                    for (desk::Node* n : Self(c).Selection().SelectedNodes())
                      col->Add(Variant::Object(Ref<desk::Object>(n)));
                    return Variant::Object(col);
                  }});
  rows.push_back({{"SelectedCount", exid::kSelectedCount, InvokeKind::Get, {}, VarType::Long},
                  [](C& c, Args&) {
                    const int64_t n = Self(c).Selection().Count();
                    if (n > INT32_MAX) desk::Raise(desk::Err::Overflow);
                    return Variant::Long(static_cast<int32_t>(n));
                  }});
  rows.push_back({{"SelectAll", exid::kSelectAll, InvokeKind::Method, {}},
                  [](C& c, Args&) { return Self(c).Selection().SelectAll(), Variant(); }});
  rows.push_back({{"ClearSelection", exid::kClearSelection, InvokeKind::Method, {}},
                  [](C& c, Args&) { return Self(c).Selection().Clear(), Variant(); }});
  rows.push_back({{"SetNodeSelected", exid::kSetNodeSelected, InvokeKind::Method,
                   {kNodeParam, {"Selected", VarType::Boolean}}},
                  [](C& c, Args& a) {
                    X& x = Self(c);
                    x.Selection().SetSelected(x.NodeOf(a.Obj(0)), a.Boolean(1) != 0);
                    return Variant();
                  }});
  rows.push_back({{"IsNodeSelected", exid::kIsNodeSelected, InvokeKind::Method, {kNodeParam}, VarType::Boolean},
                  [](C& c, Args& a) {
                    X& x = Self(c);
                    return Variant::Bool(x.Selection().Contains(x.NodeOf(a.Obj(0))));
                  }});
  rows.push_back({{"SelectRows", exid::kSelectRows, InvokeKind::Method,
                   {{"FromNode", VarType::Object, false, false, "Node"},
                    {"ToNode", VarType::Object, false, false, "Node"}}},
                  [](C& c, Args& a) {
                    X& x = Self(c);
                    x.Selection().AddRows(x.NodeOf(a.Obj(0)), x.NodeOf(a.Obj(1)));
                    return Variant();
                  }});
  rows.push_back({{"SaveViewState", exid::kSaveViewState, InvokeKind::Method, {}, VarType::String},
                  [](C& c, Args&) { return Variant::String(SaveViewState(Self(c).View())); }});
  rows.push_back({{"RestoreViewState", exid::kRestoreViewState, InvokeKind::Method, {{"State", VarType::String}}},
                  [](C& c, Args& a) { return RestoreViewState(Self(c).View(), a.String(0)), Variant(); }});
  AddFilterRows(rows);
  rows.push_back({{"SetNodeChildrenOnDemand", exid::kSetNodeChildrenOnDemand, InvokeKind::Method,
                   {kNodeParam, {"OnDemand", VarType::Boolean}}},
                  [](C& c, Args& a) {
                    Self(c).NodeOf(a.Obj(0)).SetChildrenOnDemand(a.Boolean(1) != 0);
                    return Variant();
                  }});
  rows.push_back({{"NodeChildrenOnDemand", exid::kNodeChildrenOnDemand, InvokeKind::Method, {kNodeParam},
                   VarType::Boolean},
                  [](C& c, Args& a) { return Variant::Bool(Self(c).NodeOf(a.Obj(0)).ChildrenOnDemand()); }});
}

}  // namespace

const desk::DispatchTable<C>& X::TableEx() {
  static const desk::DispatchTable<C> table = [] {
    const desk::DispatchTable<C>& base = C::Table();
    std::vector<Row<C>> rows;
    const auto& members = base.Info().members;
    for (size_t i = 0; i < members.size(); ++i) {
      const int row = static_cast<int>(i);
      rows.push_back({members[i], base.Fn(row), base.Data(row)});
    }
    AddRows(rows);
    return desk::DispatchTable<C>("_VarbelTreeviewControlEx", kControlExIid, std::move(rows));
  }();
  return table;
}

const desk::InterfaceInfo& X::EventsEx() {
  static const desk::InterfaceInfo info = [] {
    desk::InterfaceInfo i;
    i.name = "__VarbelTreeviewControlEx";
    i.iid = kEventsExIid;
    i.members = C::Events().members;
    i.members.push_back({"SelectionChanged", exid::kSelectionChanged, InvokeKind::Method, {}, VarType::Empty,
                         "Occurs after the selected nodes changed."});
    i.BuildIndex();
    return i;
  }();
  return info;
}

X::VarbelTreeviewControlEx() {
  Selection().SetOnChanged([this] { SelectionChanged(); });
  // Typed characters find rows as the default class's do, from the tree's own rows: a key
  // costs a step per row passed, not a look-up per row.
  Selection().SetTypeAhead(true);
}

X::~VarbelTreeviewControlEx() { Selection().SetOnChanged(nullptr); }

desk::TreeSelection& X::Selection() { return InnerTreeView().Selection(); }
desk::TreeView& X::View() { return InnerTreeView(); }
desk::TreeFilter& X::Filter() { return InnerTreeView().Filter(); }

desk::Node& X::NodeOf(const Ref<desk::Object>& o) {
  if (!o) desk::Raise(desk::Err::ObjectNotSet);
  auto n = desk::RefCast<desk::Node>(o);
  if (!n) desk::Raise(desk::Err::TypeMismatch);
  if (n->Tree() != &InnerTreeView()) desk::Raise(desk::Err::InvalidProcedureCall);
  return *n;
}

void X::SelectionChanged() {
  Ref<desk::Object> keep(this);  // a handler may release the control
  std::vector<Variant> none;
  RaiseEvent(exid::kSelectionChanged, none);
}

namespace {
Variant Call(X& x, DispId id, InvokeKind k, std::vector<Variant> args = {}) { return x.Invoke(id, k, args); }
}  // namespace

int32_t X::GetSelectionMode() { return Call(*this, exid::kSelectionMode, InvokeKind::Get).RawLong(); }
void X::LetSelectionMode(int32_t m) { Call(*this, exid::kSelectionMode, InvokeKind::Let, {Variant::Long(m)}); }
Ref<desk::Object> X::SelectedNodes() { return Call(*this, exid::kSelectedNodes, InvokeKind::Get).RawObject(); }
int32_t X::SelectedCount() { return Call(*this, exid::kSelectedCount, InvokeKind::Get).RawLong(); }
void X::SelectAll() { Call(*this, exid::kSelectAll, InvokeKind::Method); }
void X::ClearSelection() { Call(*this, exid::kClearSelection, InvokeKind::Method); }
void X::SetNodeSelected(Ref<desk::Object> n, bool s) {
  Call(*this, exid::kSetNodeSelected, InvokeKind::Method, {Variant::Object(std::move(n)), Variant::Bool(s)});
}
bool X::IsNodeSelected(Ref<desk::Object> n) {
  return Call(*this, exid::kIsNodeSelected, InvokeKind::Method, {Variant::Object(std::move(n))}).ToBool();
}
std::u16string X::SaveViewState() { return Call(*this, exid::kSaveViewState, InvokeKind::Method).RawString(); }
void X::RestoreViewState(const std::u16string& s) {
  Call(*this, exid::kRestoreViewState, InvokeKind::Method, {Variant::String(s)});
}
std::u16string X::GetFilterText() { return Call(*this, exid::kFilterText, InvokeKind::Get).RawString(); }
void X::LetFilterText(const std::u16string& t) { Call(*this, exid::kFilterText, InvokeKind::Let, {Variant::String(t)}); }
bool X::GetFilterMatchesKeys() { return Call(*this, exid::kFilterMatchesKeys, InvokeKind::Get).ToBool(); }
void X::LetFilterMatchesKeys(bool k) { Call(*this, exid::kFilterMatchesKeys, InvokeKind::Let, {Variant::Bool(k)}); }
bool X::GetFilterShowsSubtree() { return Call(*this, exid::kFilterShowsSubtree, InvokeKind::Get).ToBool(); }
void X::LetFilterShowsSubtree(bool s) {
  Call(*this, exid::kFilterShowsSubtree, InvokeKind::Let, {Variant::Bool(s)});
}
int32_t X::FilterMatchCount() { return Call(*this, exid::kFilterMatchCount, InvokeKind::Get).RawLong(); }
void X::ClearFilter() { Call(*this, exid::kClearFilter, InvokeKind::Method); }
bool X::IsNodeShown(Ref<desk::Object> n) {
  return Call(*this, exid::kIsNodeShown, InvokeKind::Method, {Variant::Object(std::move(n))}).ToBool();
}
void X::SetNodeChildrenOnDemand(Ref<desk::Object> n, bool on) {
  Call(*this, exid::kSetNodeChildrenOnDemand, InvokeKind::Method, {Variant::Object(std::move(n)), Variant::Bool(on)});
}
bool X::NodeChildrenOnDemand(Ref<desk::Object> n) {
  return Call(*this, exid::kNodeChildrenOnDemand, InvokeKind::Method, {Variant::Object(std::move(n))}).ToBool();
}
void X::SelectRows(Ref<desk::Object> from, Ref<desk::Object> to) {
  Call(*this, exid::kSelectRows, InvokeKind::Method, {Variant::Object(std::move(from)), Variant::Object(std::move(to))});
}

}  // namespace varbel
