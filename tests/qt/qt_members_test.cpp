// The Qt tree and the headless tree answer the forwarded members alike: the same initial
// values, the same accepted values, the same refusals (the value kept). On the Qt tree each
// accepted value also shows in the widget.
#include <QScrollBar>

#include "qt_fixture.h"

namespace desk_qt_test {
namespace {

using desk_test::ErrOf;
namespace id = desk::treeid;

struct MemberCase {
  const char* name;
  DispId id;
  std::function<Variant()> valid;
  std::function<Variant()> invalid;  // null: every value of the type is accepted
  int32_t error;                     // what `invalid` fails with
  std::function<bool(QTreeView&)> shown;  // the widget shows the valid value; null: nothing to see
};

Variant Obj(Ref<desk::Object> o) { return Variant::Object(std::move(o)); }

// The text the view shows on a row.
QString Text(QTreeView& w, int row, const QModelIndex& parent = QModelIndex()) {
  return w.model()->index(row, 0, parent).data().toString();
}

std::vector<MemberCase> Cases() {
  auto picture = [] { return Obj(desk::CurrentPlatform().LoadPicture(QStringLiteral(DESK_SAMPLE_PICTURES "/sun.png").toStdU16String())); };
  auto font = [] {
    auto f = desk::MakeRef<desk::Font>(u"DejaVu Sans", 12.0f);
    f->weight = 700;
    return Obj(f);
  };
  return {
      {"Style", id::kStyle, [] { return Variant::Long(3); }, [] { return Variant::Long(8); }, 380, nullptr},
      {"Style below", id::kStyle, [] { return Variant::Long(0); }, [] { return Variant::Long(-1); }, 380, nullptr},
      {"Style text", id::kStyle, [] { return Variant::Long(5); }, [] { return Variant::String(u"five"); }, 13, nullptr},
      {"LineStyle", id::kLineStyle, [] { return Variant::Long(1); }, [] { return Variant::Long(2); }, 380,
       [](QTreeView& w) { return w.rootIsDecorated(); }},
      {"LabelEdit", id::kLabelEdit, [] { return Variant::Long(1); }, [] { return Variant::Long(-1); }, 380,
       [](QTreeView& w) { return w.editTriggers() == QAbstractItemView::NoEditTriggers; }},
      {"Indentation", id::kIndentation, [] { return Variant::Single(450); }, [] { return Variant::Single(-15); }, 380,
       [](QTreeView& w) { return w.indentation() == 30; }},
      {"MousePointer", id::kMousePointer, [] { return Variant::Long(11); }, [] { return Variant::Long(16); }, 380,
       [](QTreeView& w) { return w.viewport()->cursor().shape() == Qt::WaitCursor; }},
      {"MousePointer custom", id::kMousePointer, [] { return Variant::Long(99); }, [] { return Variant::Long(100); }, 380,
       nullptr},
      {"BorderStyle", id::kBorderStyle, [] { return Variant::Long(1); }, [] { return Variant::Long(2); }, 380,
       [](QTreeView& w) { return w.frameShape() != QFrame::NoFrame; }},
      {"Appearance", id::kAppearance, [] { return Variant::Long(0); }, [] { return Variant::Long(3); }, 380, nullptr},
      {"OLEDropMode", id::kOLEDropMode, [] { return Variant::Long(1); }, [] { return Variant::Long(2); }, 380,
       [](QTreeView& w) { return w.viewport()->acceptDrops(); }},
      {"OLEDragMode", id::kOLEDragMode, [] { return Variant::Long(1); }, [] { return Variant::Long(5); }, 380,
       [](QTreeView& w) { return w.dragEnabled(); }},
      {"HotTracking", id::kHotTracking, [] { return Variant::Bool(true); }, [] { return Variant::String(u"yes"); }, 13,
       nullptr},
      {"HideSelection", id::kHideSelection, [] { return Variant::Bool(false); }, [] { return Variant::String(u"x"); }, 13,
       [](QTreeView& w) {
         return w.palette().color(QPalette::Inactive, QPalette::Highlight) ==
                w.palette().color(QPalette::Active, QPalette::Highlight);
       }},
      {"FullRowSelect", id::kFullRowSelect, [] { return Variant::Bool(true); }, [] { return Variant::String(u"x"); }, 13,
       nullptr},
      {"Checkboxes", id::kCheckboxes, [] { return Variant::Bool(true); }, [] { return Variant::String(u"x"); }, 13,
       [](QTreeView& w) { return w.model()->index(0, 0).data(Qt::CheckStateRole).isValid(); }},
      {"Sorted", id::kSorted, [] { return Variant::Bool(true); }, [] { return Variant::String(u"x"); }, 13,
       [](QTreeView& w) { return w.model()->index(0, 0).data().toString() == "Alpha"; }},
      {"SingleSel", id::kSingleSel, [] { return Variant::Bool(true); }, [] { return Variant::String(u"x"); }, 13, nullptr},
      {"Scroll", id::kScroll, [] { return Variant::Bool(false); }, [] { return Variant::String(u"x"); }, 13,
       [](QTreeView& w) { return w.verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOff; }},
      {"PathSeparator", id::kPathSeparator, [] { return Variant::String(u"/"); }, nullptr, 0, nullptr},
      {"Font", id::kFont, font, [] { return Variant::Nothing(); }, 380,
       [](QTreeView& w) { return w.font().family() == "DejaVu Sans" && w.font().pointSizeF() == 12 && w.font().bold(); }},
      {"Font of another kind", id::kFont, font, picture, 13, nullptr},
      {"MouseIcon", id::kMouseIcon, picture, font, 13, nullptr},
      {"ImageList", id::kImageList, [] { return Obj(desk::CurrentPlatform().CreateImageList()); }, nullptr, 0, nullptr},
  };
}

bool IsObject(const Variant& v) { return v.ValueType() == desk::VarType::Object; }

Variant Get(desk::TreeView& t, DispId member) {
  std::vector<Variant> none;
  return t.Invoke(member, InvokeKind::Get, none);
}

void Put(desk::TreeView& t, DispId member, const Variant& v) {
  std::vector<Variant> a{v};
  t.Invoke(member, IsObject(v) ? InvokeKind::Set : InvokeKind::Let, a);
}

// Initial values compare by value; the initial fonts are each tree's own object.
bool SameInitial(const Variant& a, const Variant& b) {
  if (IsObject(a) && IsObject(b)) {
    auto fa = desk::RefCast<desk::Font>(a.RawObject()), fb = desk::RefCast<desk::Font>(b.RawObject());
    if (fa && fb) return fa->SameAs(*fb);
    return a.RawObject() == b.RawObject();
  }
  return a == b;
}

class NullClient : public desk::SurfaceClient {
 public:
  void OnResize() override {}
};

class BothTrees : public ::testing::Test {
 protected:
  void SetUp() override {
    platform_ = desk::MakeQtPlatform();
    desk::SetPlatform(platform_);
    surface_ = platform_->CreateSurface({u"tree", u"mnuMain", u"mnuMain", u"mnuStam", u"mnuStam"}, client_);
    headless_ = desk::MakeHeadlessTree();
    for (desk::TreeView* t : {&Qt(), headless_.get()}) {
      t->NodeCollection().AddRoot(u"b", u"beta");
      t->NodeCollection().AddRoot(u"a", u"Alpha");
    }
  }
  void TearDown() override {
    surface_.reset();
    desk::SetPlatform(nullptr);
  }
  desk::TreeView& Qt() { return surface_->Tree(); }

  std::shared_ptr<desk::QtPlatform> platform_;
  NullClient client_;
  std::unique_ptr<desk::Surface> surface_;
  Ref<desk::TreeView> headless_;
};

TEST_F(BothTrees, StartWithTheSameSettings) {
  for (const MemberCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(SameInitial(Get(Qt(), c.id), Get(*headless_, c.id)));
  }
}

TEST_F(BothTrees, AcceptAndRefuseTheSameValues) {
  for (const MemberCase& c : Cases()) {
    for (desk::TreeView* t : {&Qt(), headless_.get()}) {
      SCOPED_TRACE(std::string(c.name) + (t == headless_.get() ? " (headless)" : " (Qt)"));
      const Variant valid = c.valid();
      ASSERT_EQ(ErrOf([&] { Put(*t, c.id, valid); }), 0);
      EXPECT_EQ(Get(*t, c.id), valid);
      if (c.invalid) {
        const Variant invalid = c.invalid();
        EXPECT_EQ(ErrOf([&] { Put(*t, c.id, invalid); }), c.error);
        EXPECT_EQ(Get(*t, c.id), valid);  // kept
      }
      if (t == &Qt() && c.shown) {
        QTreeView* w = desk::TreeViewOf(Qt());
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(c.shown(*w));
      }
    }
  }
}

TEST_F(BothTrees, AMemberThatIsNoSettingFailsAlike) {
  for (desk::TreeView* t : {&Qt(), headless_.get()}) {
    EXPECT_EQ(ErrOf([&] { Get(*t, 12345); }), 438);
    EXPECT_EQ(ErrOf([&] { Put(*t, 12345, Variant::Long(1)); }), 438);
  }
}

TEST_F(BothTrees, SortedOrdersTheRootsAlike) {
  for (desk::TreeView* t : {&Qt(), headless_.get()}) {
    t->NodeCollection().AddRoot(u"c", u"gamma");
    t->NodeCollection().AddRoot(u"d", u"Beta");  // ties with "beta": kept in sibling order
    t->SetSorted(true);
  }
  QApplication::processEvents();
  QTreeView* w = desk::TreeViewOf(Qt());
  std::vector<std::u16string> shown;
  for (int i = 0; i < w->model()->rowCount(); ++i) shown.push_back(Text(*w, i).toStdU16String());
  std::vector<std::u16string> rows;
  for (desk::Node* n : headless_->VisibleRows()) rows.push_back(n->Text());
  EXPECT_EQ(shown, rows);
  EXPECT_EQ(shown, (std::vector<std::u16string>{u"Alpha", u"beta", u"Beta", u"gamma"}));

  // A renamed root moves to its place.
  Qt().NodeCollection().Find(u"a")->SetText(u"zeta");
  QApplication::processEvents();
  EXPECT_EQ(Text(*w, 3), "zeta");
  Qt().SetSorted(false);
  EXPECT_EQ(Text(*w, 0), "beta");  // sibling order again
}

TEST_F(BothTrees, NodeChangesShowInTheWidget) {
  desk::Nodes& nodes = Qt().NodeCollection();
  QTreeView* w = desk::TreeViewOf(Qt());
  Ref<desk::Node> child = nodes.Add(*nodes.Find(u"b"), desk::Relationship::Child, u"b1", u"child");
  nodes.Add(*nodes.Find(u"b"), desk::Relationship::First, u"b0", u"first");
  ASSERT_EQ(w->model()->rowCount(), 3);
  EXPECT_EQ(Text(*w, 0), "first");  // before beta, as the model says
  EXPECT_EQ(Text(*w, 0, w->model()->index(1, 0)), "child");
  child->SetText(u"renamed");
  EXPECT_EQ(Text(*w, 0, w->model()->index(1, 0)), "renamed");
  child->SetSelected(true);
  EXPECT_EQ(w->currentIndex(), w->model()->index(0, 0, w->model()->index(1, 0)));
  nodes.Remove(Variant::String(u"b"));  // with its child, which was selected
  EXPECT_EQ(w->model()->rowCount(), 2);
  EXPECT_FALSE(w->currentIndex().isValid());
  EXPECT_EQ(Qt().SelectedNode(), nullptr);
  nodes.Clear();
  EXPECT_EQ(w->model()->rowCount(), 0);
}

}  // namespace
}  // namespace desk_qt_test
