#include "VarbelTreeviewControl.h"

#include <gtest/gtest.h>

#include "PopUpMenus.h"
#include "desk/menu.h"
#include "desk/tree.h"
#include "support/test_support.h"

using desk::InvokeKind;
using desk::Variant;
using desk_test::ErrOf;

namespace {

class ControlTest : public ::testing::Test {
 protected:
  ControlTest() : control(desk::MakeRef<varbel::VarbelTreeviewControl>()) {
    surface = dynamic_cast<desk::HeadlessSurface*>(control->GetSurface());
  }
  float TreeEdge(desk::DispId id) {
    std::vector<Variant> none;
    return control->GetSurface()->TreeChild()->Invoke(id, InvokeKind::Get, none).ToSingle();
  }
  desk_test::FreshHost host;
  desk::Ref<varbel::VarbelTreeviewControl> control;
  desk::HeadlessSurface* surface = nullptr;
};

TEST_F(ControlTest, ResizePlacesTheTreeOnTheSurfacesOwnScaleOnly) {
  ASSERT_NE(surface, nullptr);
  control->LetScaleLeft(100);
  control->LetScaleWidth(7);
  control->LetScaleMode(3);
  surface->SetScale(15.5f, 30.25f, 4800.125f, 3600.5f);
  EXPECT_EQ(TreeEdge(desk::ext::kLeft), 15.5f);
  EXPECT_EQ(TreeEdge(desk::ext::kTop), 30.25f);
  EXPECT_EQ(TreeEdge(desk::ext::kWidth), 4800.125f);
  EXPECT_EQ(TreeEdge(desk::ext::kHeight), 3600.5f);
  // The stored Scale members come back unchanged and never moved the tree.
  EXPECT_EQ(control->GetScaleLeft(), 100);
  EXPECT_EQ(control->GetScaleWidth(), 7);
  EXPECT_EQ(control->GetScaleMode(), 3);
  surface->SetScale(0, 0, 10, 20);
  EXPECT_EQ(TreeEdge(desk::ext::kLeft), 0);
  EXPECT_EQ(TreeEdge(desk::ext::kHeight), 20);
}

TEST_F(ControlTest, HandlesAreStoredNumbersOnly) {
  EXPECT_EQ(control->GethWnd(), 0);
  control->LethWnd(5);
  control->LethDC(-9);
  EXPECT_EQ(control->GethWnd(), 5);
  EXPECT_EQ(control->GethDC(), -9);
}

TEST_F(ControlTest, NodesIsTheTreesLiveCollection) {
  desk::Ref<desk::Object> nodes = control->Nodes();
  desk::CallByName(nodes, u"Add", InvokeKind::Method,
                   {Variant::Missing(), Variant::Missing(), Variant::String(u"k1"), Variant::String(u"One")});
  std::vector<Variant> none;
  desk::Ref<desk::Object> fromTree =
      surface->Tree().Invoke(desk::treeid::kNodes, InvokeKind::Get, none).ToObject();
  EXPECT_EQ(desk::CallByName(fromTree, u"Count", InvokeKind::Get).ToLong(), 1);
  EXPECT_EQ(desk::CallByName(control->Nodes(), u"Count", InvokeKind::Get).ToLong(), 1);
}

TEST_F(ControlTest, PopUpMenusIsMadeOnceOnFirstReadAndBoundToTheItemArray) {
  EXPECT_FALSE(control->HasPopUpMenus());
  EXPECT_EQ(ErrOf([&] { control->ShowPopupMenu(); }), 91);
  EXPECT_TRUE(surface->popups.empty());
  std::vector<Variant> none;
  Variant first = control->Invoke(varbel::MemberId("PopUpMenus"), InvokeKind::Get, none);
  Variant second = control->Invoke(varbel::MemberId("PopUpMenus"), InvokeKind::Get, none);
  EXPECT_EQ(first.RawObject().get(), second.RawObject().get());
  EXPECT_EQ(control->GetPopUpMenus()->GetMainMNU().RawObject().get(), &surface->ItemArray());
}

// A host may keep the popup's item array after the control is gone: a click on it then
// reaches nobody (the control's handler must not run on a freed control).
TEST_F(ControlTest, AnItemArrayKeptPastTheControlNoLongerCallsIt) {
  desk::Ref<desk::MenuArray> items(&surface->ItemArray());
  items->Load(1);
  surface = nullptr;
  control.reset();
  items->Click(0);
  items->Click(1);
  EXPECT_EQ(items->Count(), 2);
}

TEST_F(ControlTest, BadCallsThroughInvokeAnswerThePlatformsErrors) {
  std::vector<Variant> none;
  EXPECT_EQ(ErrOf([&] { control->Invoke(0x12345, InvokeKind::Get, none); }), 438);
  EXPECT_EQ(ErrOf([&] { control->GetIdOfName(u"NoSuchMember"); }), 438);
  EXPECT_EQ(control->GetIdOfName(u"backcolor"), 0x68030041);
  std::vector<Variant> tooMany{Variant::Long(1), Variant::Long(2)};
  EXPECT_EQ(ErrOf([&] { control->Invoke(varbel::MemberId("BackColor"), InvokeKind::Let, tooMany); }), 450);
  std::vector<Variant> text{Variant::String(u"abc")};
  EXPECT_EQ(ErrOf([&] { control->Invoke(varbel::MemberId("BackColor"), InvokeKind::Let, text); }), 13);
  EXPECT_EQ(control->GetBackColor(), 0);
  EXPECT_TRUE(surface->propertyChanges.empty());
}

}  // namespace
