// The tree's settings and methods, its events, and the container's extended-control wrapper.
// The node model and the row layout are in tree_nodes.cpp.
#include <algorithm>
#include <array>
#include <cmath>

#include "desk/platform.h"
#include "desk/tree.h"
#include "desk/tree_filter.h"
#include "desk/tree_selection.h"
#include "tree/tree_index.h"

namespace desk {

namespace {

Variant Done() { return Variant(); }

// ---------------------------------------------------------------------------------------------
// Settings table: one row per setting; reads, writes, checks and dispatch rows all come from it.

enum class SettingKind : uint8_t { Boolean, Enum, Single, String, FontObject, PictureObject, AnyObject };

struct SettingRow {
  const char* name;
  DispId id;
  SettingKind kind;
  int32_t max = 0;  // an enumeration's values are 0..max
};

constexpr std::array<SettingRow, 20> kSettings{{
    {"Style", treeid::kStyle, SettingKind::Enum, 7},
    {"LineStyle", treeid::kLineStyle, SettingKind::Enum, 1},
    {"LabelEdit", treeid::kLabelEdit, SettingKind::Enum, 1},
    {"Indentation", treeid::kIndentation, SettingKind::Single},
    {"ImageList", treeid::kImageList, SettingKind::AnyObject},
    {"HotTracking", treeid::kHotTracking, SettingKind::Boolean},
    {"HideSelection", treeid::kHideSelection, SettingKind::Boolean},
    {"FullRowSelect", treeid::kFullRowSelect, SettingKind::Boolean},
    {"Checkboxes", treeid::kCheckboxes, SettingKind::Boolean},
    {"Sorted", treeid::kSorted, SettingKind::Boolean},
    {"SingleSel", treeid::kSingleSel, SettingKind::Boolean},
    {"Scroll", treeid::kScroll, SettingKind::Boolean},
    {"PathSeparator", treeid::kPathSeparator, SettingKind::String},
    {"OLEDropMode", treeid::kOLEDropMode, SettingKind::Enum, 1},
    {"OLEDragMode", treeid::kOLEDragMode, SettingKind::Enum, 1},
    {"MousePointer", treeid::kMousePointer, SettingKind::Enum, 15},  // and 99, a custom icon
    {"MouseIcon", treeid::kMouseIcon, SettingKind::PictureObject},
    {"BorderStyle", treeid::kBorderStyle, SettingKind::Enum, 1},
    {"Font", treeid::kFont, SettingKind::FontObject},
    {"Appearance", treeid::kAppearance, SettingKind::Enum, 1},
}};

constexpr int32_t kCustomMousePointer = 99;

int RowOf(DispId id) {
  for (size_t i = 0; i < kSettings.size(); ++i)
    if (kSettings[i].id == id) return static_cast<int>(i);
  return -1;
}

Variant Initial(const SettingRow& r) {
  switch (r.id) {
    case treeid::kStyle: return Variant::Long(7);
    case treeid::kAppearance: return Variant::Long(1);
    case treeid::kIndentation: return Variant::Single(566.9291f);
    case treeid::kHideSelection:
    case treeid::kScroll: return Variant::Bool(true);
    case treeid::kPathSeparator: return Variant::String(u"\\");
    case treeid::kFont: return Variant::Object(MakeRef<Font>());
    default: break;
  }
  switch (r.kind) {
    case SettingKind::Boolean: return Variant::Bool(false);
    case SettingKind::Enum: return Variant::Long(0);
    case SettingKind::Single: return Variant::Single(0);
    case SettingKind::String: return Variant::String(u"");
    case SettingKind::FontObject:
    case SettingKind::PictureObject:
    case SettingKind::AnyObject: return Variant::Nothing();
  }
  return Variant();
}

// Converts to the setting's type and checks its range.
Variant Validated(const SettingRow& r, const Variant& value) {
  switch (r.kind) {
    case SettingKind::Boolean: return Variant::BoolRaw(value.ToBoolean());
    case SettingKind::Enum: {
      int32_t v = value.ToLong();
      bool ok = (v >= 0 && v <= r.max) || (r.id == treeid::kMousePointer && v == kCustomMousePointer);
      if (!ok) Raise(Err::InvalidPropertyValue);
      return Variant::Long(v);
    }
    case SettingKind::Single: {
      float v = value.ToSingle();
      if (!(v >= 0) || std::isinf(v)) Raise(Err::InvalidPropertyValue);
      return Variant::Single(v);
    }
    case SettingKind::String: return Variant::String(value.ToString());
    case SettingKind::FontObject: {
      Ref<Object> o = value.ToObject();
      if (!o) Raise(Err::InvalidPropertyValue);  // the tree always has a font
      if (!RefCast<Font>(o)) Raise(Err::TypeMismatch);
      return Variant::Object(std::move(o));
    }
    case SettingKind::PictureObject: {
      Ref<Object> o = value.ToObject();
      if (o && !RefCast<Picture>(o)) Raise(Err::TypeMismatch);
      return Variant::Object(std::move(o));
    }
    case SettingKind::AnyObject: return Variant::Object(value.ToObject());
  }
  Raise(Err::InvalidPropertyValue);
}

bool IsObjectKind(SettingKind k) {
  return k == SettingKind::FontObject || k == SettingKind::PictureObject || k == SettingKind::AnyObject;
}

VarType DeclaredType(SettingKind k) {
  switch (k) {
    case SettingKind::Boolean: return VarType::Boolean;
    case SettingKind::Enum: return VarType::Long;
    case SettingKind::Single: return VarType::Single;
    case SettingKind::String: return VarType::String;
    case SettingKind::FontObject:
    case SettingKind::PictureObject:
    case SettingKind::AnyObject: return VarType::Object;
  }
  return VarType::Any;
}

// ---------------------------------------------------------------------------------------------
// Event arguments: each C++ value travels in a variant of its declared kind.

Variant Box(int16_t v) { return Variant::Integer(v); }
Variant Box(int32_t v) { return Variant::Long(v); }
Variant Box(float v) { return Variant::Single(v); }
Variant Box(bool v) { return Variant::Bool(v); }
Variant Box(const std::u16string& v) { return Variant::String(v); }
Variant Box(const Ref<Object>& v) { return Variant::Object(v); }

void Unbox(const Variant& v, int16_t& out) { out = v.ToInteger(); }
void Unbox(const Variant& v, int32_t& out) { out = v.ToLong(); }
void Unbox(const Variant& v, float& out) { out = v.ToSingle(); }
void Unbox(const Variant& v, bool& out) { out = v.ToBool(); }
void Unbox(const Variant& v, std::u16string& out) { out = v.ToString(); }
void Unbox(const Variant& v, Ref<Object>& out) { out = v.ToObject(); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// TreeView

const DispatchTable<TreeView>& TreeView::Table() {
  static const DispatchTable<TreeView> t = [] {
    using K = InvokeKind;
    using T = VarType;
    std::vector<Row<TreeView>> rows;
    for (const SettingRow& s : kSettings) {
      DispId id = s.id;
      T type = DeclaredType(s.kind);
      const uint32_t slot = static_cast<uint32_t>(&s - kSettings.data());
      rows.push_back({{s.name, id, K::Get, {}, type},
                      [](TreeView& tv, Args& a) { return tv.SettingAt(static_cast<int>(a.Data())); }, slot});
      rows.push_back({{s.name, id, IsObjectKind(s.kind) ? K::Set : K::Let, {}, type},
                      [](TreeView& tv, Args& a) { return tv.SetSettingAt(static_cast<int>(a.Data()), a.NewValue()), Done(); },
                      slot});
    }
    rows.push_back({{"Nodes", treeid::kNodes, K::Get, {}, T::Object},
                    [](TreeView& tv, Args&) { return Variant::Object(tv.NodesRef()); }});
    rows.push_back({{"HitTest", treeid::kHitTest, K::Method, {{"x", T::Single}, {"y", T::Single}}, T::Object},
                    [](TreeView& tv, Args& a) { return Variant::Object(tv.HitTest(a.Single(0), a.Single(1))); }});
    rows.push_back({{"Refresh", treeid::kRefresh, K::Method, {}}, [](TreeView& tv, Args&) {
                      return tv.Refresh(), Done();
                    }});
    rows.push_back({{"StartLabelEdit", treeid::kStartLabelEdit, K::Method, {}}, [](TreeView& tv, Args&) {
                      return tv.StartLabelEdit(), Done();
                    }});
    rows.push_back({{"OLEDrag", treeid::kOLEDrag, K::Method, {}}, [](TreeView& tv, Args&) {
                      return tv.OLEDrag(), Done();
                    }});
    return DispatchTable<TreeView>("ITreeView", "{}", std::move(rows));
  }();
  return t;
}

TreeView::TreeView() : nodes_(new Nodes(this)), index_(new detail::NodeIndex) {
  for (const SettingRow& r : kSettings) settings_.push_back(Initial(r));
}

TreeView::~TreeView() {
  DetachAll();
  nodes_->tree_ = nullptr;
}

TreeSelection& TreeView::Selection() {
  if (!selection_) {
    selection_ = std::make_unique<TreeSelection>(*this);
    // First among the observers: it orders the nodes being removed by their places, which a
    // backend's observer may take out of the row index when it is told.
    std::rotate(observers_.begin(), observers_.end() - 1, observers_.end());
    SelectionMade(*selection_);
  }
  return *selection_;
}

TreeFilter& TreeView::Filter() {
  if (!filter_) {
    filter_ = std::make_unique<TreeFilter>(*this);
    // Before a backend's observer, which reads the shown rows it keeps.
    std::rotate(observers_.begin(), observers_.end() - 1, observers_.end());
    FilterMade(*filter_);
  }
  return *filter_;
}

TreeFilter* TreeView::ActiveFilter() const { return filter_ && filter_->Active() ? filter_.get() : nullptr; }

Node* TreeView::TopNode() { return top_ && top_->Tree() == this ? top_.get() : FirstRoot(); }

void TreeView::ScrollToTop(Node& n) {
  if (n.Tree() != this) Raise(Err::InvalidProcedureCall);
  top_ = Ref<Node>(&n);
}

int TreeView::SettingIndex(DispId id) { return RowOf(id); }

bool TreeView::Sorted() const {
  static const int row = RowOf(treeid::kSorted);
  return settings_[static_cast<size_t>(row)].ToBool();
}

Variant TreeView::Setting(DispId id) const {
  int r = RowOf(id);
  if (r < 0) Raise(Err::NotSupported);
  return settings_[static_cast<size_t>(r)];
}

void TreeView::SetSetting(DispId id, const Variant& value) {
  int r = RowOf(id);
  if (r < 0) Raise(Err::NotSupported);
  SetSettingAt(r, value);
}

const Variant& TreeView::SettingAt(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= settings_.size()) Raise(Err::NotSupported);
  return settings_[static_cast<size_t>(index)];
}

void TreeView::SetSettingAt(int index, const Variant& value) {
  if (index < 0 || static_cast<size_t>(index) >= settings_.size()) Raise(Err::NotSupported);
  const SettingRow& row = kSettings[static_cast<size_t>(index)];
  Variant v = Validated(row, value);
  // The selection holds its ranges in display order, which the roots' order is part of.
  const bool reorder = row.id == treeid::kSorted && selection_ && v.ToBool() != Sorted();
  if (reorder) selection_->BeforeRootsReorder();
  settings_[static_cast<size_t>(index)] = std::move(v);
  if (row.id == treeid::kSorted) rowIndex_.reset();
  if (reorder) selection_->AfterRootsReorder();
  SettingChanged(row.id);
}

void TreeView::SettingChanged(DispId id) {
  Notify([id](TreeObserver& o) { o.SettingChanged(id); });
}

void TreeView::ContainerValueChanged(DispId id, const Variant& value) {
  switch (id) {
    case ext::kLeft: container_.left = value.ToSingle(); break;
    case ext::kTop: container_.top = value.ToSingle(); break;
    case ext::kWidth: container_.width = value.ToSingle(); break;
    case ext::kHeight: container_.height = value.ToSingle(); break;
    case ext::kVisible: container_.visible = value.ToBool(); break;
    case ext::kEnabled: container_.enabled = value.ToBool(); break;
    default: break;
  }
  Notify([id](TreeObserver& o) { o.SettingChanged(id); });
}

void TreeView::StartLabelEdit() {
  Ref<Node> n(selected_);
  if (!n) return;
  int16_t cancel = 0;
  RaiseBeforeLabelEdit(cancel);
  editing_ = cancel == 0 && n->tree_ == this ? n : nullptr;
}

bool TreeView::FinishLabelEdit(std::u16string text) {
  Ref<Node> n = std::move(editing_);  // leaves no edit in progress
  if (!n || n->tree_ != this) return false;
  int16_t cancel = 0;
  RaiseAfterLabelEdit(cancel, text);
  if (cancel != 0 || n->tree_ != this) return false;
  n->SetText(std::move(text));
  return true;
}

void TreeView::UserClickNode(Node& node) {
  Ref<Node> keep(&node);
  node.SetSelected(true);
  RaiseNodeClick(node);
}

void TreeView::UserCheck(Node& node, bool checked) {
  Ref<Node> keep(&node);
  if (node.Tree() != this) Raise(Err::ObjectNotSet);
  if (!Checkboxes() || node.Checked() == checked) return;
  node.SetChecked(checked);
  RaiseNodeCheck(node);
}

// ---------------------------------------------------------------------------------------------
// Events

template <class... T>
void TreeView::RaiseWithRefs(DispId id, T&... values) {
  Ref<Object> keepAlive(this);  // a handler may drop the last reference to the tree
  std::array<Variant, sizeof...(T)> store{Box(values)...};
  std::vector<Variant> args(store.size());
  for (size_t i = 0; i < store.size(); ++i) args[i] = Variant::ByRef(&store[i]);
  auto giveBack = [&] {
    size_t i = 0;
    (Unbox(store[i++], values), ...);
  };
  try {
    events_.Raise(id, args);
  } catch (...) {
    giveBack();
    throw;
  }
  giveBack();
}

void TreeView::RaiseWithNode(DispId id, Node& node) {
  Ref<Object> keepAlive(this);
  std::vector<Variant> args{Variant::Object(Ref<Object>(&node))};
  events_.Raise(id, args);
}

void TreeView::RaiseClick() { RaiseWithRefs(treeevent::kClick); }
void TreeView::RaiseDblClick() { RaiseWithRefs(treeevent::kDblClick); }
void TreeView::RaiseKeyDown(int16_t& keyCode, int16_t& shift) { RaiseWithRefs(treeevent::kKeyDown, keyCode, shift); }
void TreeView::RaiseKeyPress(int16_t& keyAscii) { RaiseWithRefs(treeevent::kKeyPress, keyAscii); }
void TreeView::RaiseKeyUp(int16_t& keyCode, int16_t& shift) { RaiseWithRefs(treeevent::kKeyUp, keyCode, shift); }
void TreeView::RaiseMouseDown(int16_t& button, int16_t& shift, float& x, float& y) {
  RaiseWithRefs(treeevent::kMouseDown, button, shift, x, y);
}
void TreeView::RaiseMouseMove(int16_t& button, int16_t& shift, float& x, float& y) {
  RaiseWithRefs(treeevent::kMouseMove, button, shift, x, y);
}
void TreeView::RaiseMouseUp(int16_t& button, int16_t& shift, float& x, float& y) {
  RaiseWithRefs(treeevent::kMouseUp, button, shift, x, y);
}
void TreeView::RaiseValidate(bool& cancel) { RaiseWithRefs(treeevent::kValidate, cancel); }
void TreeView::RaiseOLEStartDrag(Ref<Object>& data, int32_t& allowedEffects) {
  RaiseWithRefs(treeevent::kOLEStartDrag, data, allowedEffects);
}
void TreeView::RaiseOLESetData(Ref<Object>& data, int16_t& dataFormat) {
  RaiseWithRefs(treeevent::kOLESetData, data, dataFormat);
}
void TreeView::RaiseOLEGiveFeedback(int32_t& effect, bool& defaultCursors) {
  RaiseWithRefs(treeevent::kOLEGiveFeedback, effect, defaultCursors);
}
void TreeView::RaiseOLEDragOver(Ref<Object>& data, int32_t& effect, int16_t& button, int16_t& shift, float& x,
                                float& y, int16_t& state) {
  RaiseWithRefs(treeevent::kOLEDragOver, data, effect, button, shift, x, y, state);
}
void TreeView::RaiseOLEDragDrop(Ref<Object>& data, int32_t& effect, int16_t& button, int16_t& shift, float& x,
                                float& y) {
  RaiseWithRefs(treeevent::kOLEDragDrop, data, effect, button, shift, x, y);
}
void TreeView::RaiseOLECompleteDrag(int32_t& effect) { RaiseWithRefs(treeevent::kOLECompleteDrag, effect); }
void TreeView::RaiseNodeClick(Node& node) { RaiseWithNode(treeevent::kNodeClick, node); }
void TreeView::RaiseNodeCheck(Node& node) { RaiseWithNode(treeevent::kNodeCheck, node); }
void TreeView::RaiseExpand(Node& node) { RaiseWithNode(treeevent::kExpand, node); }
void TreeView::RaiseCollapse(Node& node) { RaiseWithNode(treeevent::kCollapse, node); }
void TreeView::RaiseBeforeLabelEdit(int16_t& cancel) { RaiseWithRefs(treeevent::kBeforeLabelEdit, cancel); }
void TreeView::RaiseAfterLabelEdit(int16_t& cancel, std::u16string& newString) {
  RaiseWithRefs(treeevent::kAfterLabelEdit, cancel, newString);
}

Ref<TreeView> MakeHeadlessTree() { return MakeRef<TreeView>(); }

// ---------------------------------------------------------------------------------------------
// Extended-control wrapper

namespace {

struct ExtRow {
  const char* name;
  DispId id;
  VarType type;
  bool writable;
};

constexpr std::array<ExtRow, 10> kExtRows{{
    {"Name", ext::kName, VarType::String, false},
    {"Visible", ext::kVisible, VarType::Boolean, true},
    {"Left", ext::kLeft, VarType::Single, true},
    {"Top", ext::kTop, VarType::Single, true},
    {"Width", ext::kWidth, VarType::Single, true},
    {"Height", ext::kHeight, VarType::Single, true},
    {"Enabled", ext::kEnabled, VarType::Boolean, true},
    {"WhatsThisHelpID", ext::kWhatsThisHelpID, VarType::Long, true},
    {"CausesValidation", ext::kCausesValidation, VarType::Boolean, true},
    {"ToolTipText", ext::kToolTipText, VarType::String, true},
}};

class ExtendedControl : public Dispatchable<ExtendedControl> {
 public:
  static const DispatchTable<ExtendedControl>& Table() {
    static const DispatchTable<ExtendedControl> t = [] {
      std::vector<Row<ExtendedControl>> rows;
      for (size_t i = 0; i < kExtRows.size(); ++i) {
        const ExtRow& r = kExtRows[i];
        const auto slot = static_cast<uint32_t>(i);
        rows.push_back({{r.name, r.id, InvokeKind::Get, {}, r.type},
                        [](ExtendedControl& e, Args& a) { return e.values_[a.Data()]; }, slot});
        if (r.writable)
          rows.push_back({{r.name, r.id, InvokeKind::Let, {}, r.type},
                          [](ExtendedControl& e, Args& a) { return e.Write(a.Data(), a.NewValue()), Done(); }, slot});
      }
      return DispatchTable<ExtendedControl>("ITreeViewExtender", "{}", std::move(rows));
    }();
    return t;
  }

  ExtendedControl(Ref<TreeView> tree, std::u16string name) : tree_(std::move(tree)) {
    for (const ExtRow& r : kExtRows) {
      switch (r.type) {
        case VarType::Boolean: values_.push_back(Variant::Bool(true)); break;
        case VarType::Single: values_.push_back(Variant::Single(0)); break;
        case VarType::Long: values_.push_back(Variant::Long(0)); break;
        default: values_.push_back(Variant::String(u"")); break;
      }
    }
    values_[0] = Variant::String(std::move(name));
    for (size_t i = 0; i < kExtRows.size(); ++i) tree_->ContainerValueChanged(kExtRows[i].id, values_[i]);
  }

  // The wrapper's members followed by the tree's, so that names of both resolve.
  const InterfaceInfo& Interface() const override {
    static const InterfaceInfo info = [] {
      InterfaceInfo i = Table().Info();
      const auto& tree = TreeView::Table().Info().members;
      i.members.insert(i.members.end(), tree.begin(), tree.end());
      i.BuildIndex();
      return i;
    }();
    return info;
  }

  Variant Invoke(DispId id, InvokeKind kind, std::vector<Variant>& args) override {
    if (Table().Info().Find(id, InvokeKind::Get) >= 0) return Dispatchable::Invoke(id, kind, args);
    Ref<TreeView> tree = tree_;
    return tree->Invoke(id, kind, args);
  }

 private:
  void Write(size_t i, const Variant& v) {
    DispId id = kExtRows[i].id;
    if ((id == ext::kWidth || id == ext::kHeight) && !(v.RawSingle() >= 0)) Raise(Err::InvalidPropertyValue);
    values_[i] = v;
    Ref<TreeView> tree = tree_;
    tree->ContainerValueChanged(id, values_[i]);
  }

  Ref<TreeView> tree_;
  std::vector<Variant> values_;  // one per row of kExtRows
};

}  // namespace

Ref<Object> MakeExtendedControl(Ref<TreeView> tree, std::u16string name) {
  if (!tree) Raise(Err::ObjectNotSet);
  return MakeRef<ExtendedControl>(std::move(tree), std::move(name));
}

}  // namespace desk
