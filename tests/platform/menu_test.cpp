#include "desk/menu.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

#include "desk/text.h"
#include "support/test_support.h"

using desk::InvokeKind;
using desk::MenuArray;
using desk::Variant;
using desk_test::ErrOf;

namespace {

int ErrOfCall(MenuArray& m, desk::DispId id, InvokeKind kind, int16_t index) {
  return ErrOf([&] {
    std::vector<Variant> a{Variant::Integer(index)};
    m.Invoke(id, kind, a);
  });
}

// The array against a plain ordered map through loads and unloads at any index, in and out of
// order, with the errors each member gives: element look-ups, Count, UBound and the order of
// the elements must agree after every step.
TEST(MenuArray, LoadUnloadAndLookUpAgreeWithAnOrderedMap) {
  auto m = desk::MakeRef<MenuArray>(u"mnu", u"zero");
  std::map<int16_t, std::u16string> model{{0, u"zero"}};
  std::mt19937 rng(12);
  std::uniform_int_distribution<int> pick(-2, 80);
  for (int step = 0; step < 4000; ++step) {
    const int16_t i = static_cast<int16_t>(pick(rng));
    const bool load = rng() % 2 == 0;
    SCOPED_TRACE("step " + std::to_string(step) + (load ? " Load " : " Unload ") + std::to_string(i));
    int expected = 0;
    if (load) {
      if (i < 0) expected = 340;
      else if (model.count(i)) expected = 360;
      EXPECT_EQ(ErrOfCall(*m, 2, InvokeKind::Method, i), expected);
      if (!expected) {
        EXPECT_EQ(m->Element(i).Caption(), u"zero");  // a copy of element 0
        m->Element(i).SetCaption(u"c" + desk::DecimalText(i));
        model[i] = u"c" + desk::DecimalText(i);
      }
    } else {
      if (i == 0) expected = 362;
      else if (!model.count(i)) expected = 340;
      EXPECT_EQ(ErrOfCall(*m, 3, InvokeKind::Method, i), expected);
      if (!expected) model.erase(i);
    }
    ASSERT_EQ(m->Count(), static_cast<int32_t>(model.size()));
    std::vector<Variant> none;
    EXPECT_EQ(m->Invoke(4, InvokeKind::Get, none).ToLong(), model.rbegin()->first);
    auto it = model.begin();
    for (const auto& [index, e] : m->Elements()) {
      ASSERT_NE(it, model.end());
      EXPECT_EQ(index, it->first);
      EXPECT_EQ(e->Index(), index);
      EXPECT_EQ(e->Caption(), it->second);
      ++it;
    }
    const int16_t probe = static_cast<int16_t>(pick(rng));
    EXPECT_EQ(ErrOfCall(*m, desk::kDispIdValue, InvokeKind::Get, probe), model.count(probe) ? 0 : 340);
  }
}

// An element the host still holds after it was unloaded belongs to no array: showing or
// hiding it changes nothing of the array it was in, and hiding it is not refused as the last
// visible element's would be.
TEST(MenuArray, AnUnloadedElementNoLongerCountsInItsArray) {
  auto m = desk::MakeRef<MenuArray>(u"mnu", u"zero");
  m->Load(1);
  desk::Ref<desk::MenuElement> held(&m->Element(1));
  m->Element(0).SetVisible(false);  // element 1 is now the only visible one
  EXPECT_EQ(m->VisibleCount(), 1);
  m->Element(0).SetVisible(true);
  m->Unload(1);
  EXPECT_EQ(m->VisibleCount(), 1);
  EXPECT_EQ(ErrOf([&] { held->SetVisible(false); }), 0);
  EXPECT_EQ(m->VisibleCount(), 1);
  held->SetVisible(true);
  EXPECT_EQ(m->VisibleCount(), 1);
  EXPECT_EQ(ErrOf([&] { m->Element(0).SetVisible(false); }), 380) << "element 0 is still the last visible one";
}

// An element's members by id, and a loaded element as a copy of element 0: caption, tag and
// whether it is shown, a hidden element 0 included.
TEST(MenuArray, ElementsReadBackByIdAndLoadAsCopiesOfElementZero) {
  auto m = desk::MakeRef<MenuArray>(u"mnu", u"zero");
  m->Load(1);
  desk::MenuElement& zero = m->Element(0);
  auto call = [](desk::MenuElement& e, desk::DispId id, InvokeKind kind, std::vector<Variant> a = {}) {
    return e.Invoke(id, kind, a);
  };
  call(zero, 2, InvokeKind::Let, {Variant::String(u"t0")});
  call(zero, 3, InvokeKind::Let, {Variant::Bool(false)});
  EXPECT_EQ(call(zero, 2, InvokeKind::Get), Variant::String(u"t0"));
  EXPECT_EQ(call(zero, 3, InvokeKind::Get), Variant::Bool(false));
  EXPECT_EQ(m->VisibleCount(), 1);
  m->Load(2);
  desk::MenuElement& two = m->Element(2);
  EXPECT_EQ(call(two, 1, InvokeKind::Get), Variant::String(u"zero"));
  EXPECT_EQ(call(two, 2, InvokeKind::Get), Variant::String(u"t0"));
  EXPECT_EQ(call(two, 3, InvokeKind::Get), Variant::Bool(false));
  EXPECT_EQ(call(two, 4, InvokeKind::Get), Variant::Integer(2));
  EXPECT_EQ(m->VisibleCount(), 1);
  call(two, 3, InvokeKind::Let, {Variant::Bool(true)});
  EXPECT_EQ(call(two, 3, InvokeKind::Get), Variant::Bool(true));
  EXPECT_EQ(m->VisibleCount(), 2);
}

}  // namespace
