#include "desk/menu.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <map>
#include <random>
#include <string>

#include "desk/text.h"
#include "support/failing_new.h"
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


// An element keeps its caption and tag in one buffer: each edit of one, longer or shorter, in
// place or with the buffer regrown, leaves the other as it was; a loaded element copies both
// from element 0.
TEST(MenuElement, CaptionAndTagChangeIndependentlyWhateverTheirLengths) {
  auto m = desk::MakeRef<MenuArray>(u"mnu", u"zero");
  m->Element(0).SetTag(u"t0");
  const std::u16string longText(300, u'x');
  struct Edit {
    bool caption;  // else the tag
    std::u16string text;
  };
  const Edit edits[] = {
      {true, u"item12345"}, {false, u"item12345"}, {true, u""},      {false, longText}, {true, u"a"},
      {true, longText},     {false, u""},          {false, u"tag"},  {true, u"\u00e9\U0001F600"},
      {false, longText + u"y"}, {true, u"short"},
  };
  m->Load(1);
  desk::MenuElement& e = m->Element(1);
  EXPECT_EQ(e.Caption(), u"zero");
  EXPECT_EQ(e.Tag(), u"t0");
  std::u16string caption = u"zero", tag = u"t0";
  for (const Edit& edit : edits) {
    SCOPED_TRACE(std::string(edit.caption ? "caption " : "tag ") + std::to_string(edit.text.size()));
    if (edit.caption) {
      e.SetCaption(edit.text);
      caption = edit.text;
    } else {
      e.SetTag(edit.text);
      tag = edit.text;
    }
    EXPECT_EQ(e.Caption(), caption);
    EXPECT_EQ(e.Tag(), tag);
    std::vector<Variant> none;
    EXPECT_EQ(e.Invoke(1, InvokeKind::Get, none).RawString(), caption);
    EXPECT_EQ(e.Invoke(2, InvokeKind::Get, none).RawString(), tag);
  }
  // A caption set from the element's own text.
  e.SetCaption(e.Tag());
  EXPECT_EQ(e.Caption(), tag);
  EXPECT_EQ(e.Tag(), tag);
}

// A caption and tag of 24 units together (a typical item's) live inside the element; one unit
// more takes memory of its own, and when there is none the element keeps its old text.
TEST(MenuElement, ShortTextsTakeNoMemoryOfTheirOwn) {
  if (!desktest::FailAllocation::Available()) GTEST_SKIP() << "allocations cannot be failed in this build";
  auto m = desk::MakeRef<MenuArray>(u"mnu", u"zero");
  m->Load(1);
  desk::MenuElement& e = m->Element(1);
  e.SetTag(u"tag4");
  const std::u16string fits(20, u'f'), over(21, u'o');
  {
    desktest::FailAllocation fail(0);
    EXPECT_NO_THROW(e.SetCaption(fits));
    EXPECT_FALSE(fail.Fired());
  }
  {
    desktest::FailAllocation fail(0);
    EXPECT_THROW(e.SetCaption(over), std::bad_alloc);
    EXPECT_TRUE(fail.Fired());
  }
  EXPECT_EQ(e.Caption(), fits);
  EXPECT_EQ(e.Tag(), u"tag4");
  e.SetCaption(over);
  EXPECT_EQ(e.Caption(), over);
  EXPECT_EQ(e.Tag(), u"tag4");
}

// Elements are reused once released: a new one starts clean, and one the host still holds
// keeps its state however many others come and go.
TEST(MenuElement, ReusedElementsStartCleanAndHeldOnesKeepTheirState) {
  auto m = desk::MakeRef<MenuArray>(u"mnu", u"zero");
  m->Load(1);
  m->Element(1).SetCaption(u"held caption");
  m->Element(1).SetTag(u"held tag");
  desk::Ref<desk::MenuElement> held(&m->Element(1));
  m->Unload(1);
  size_t heapAfterFirstRound = 0;
  for (int round = 0; round < 3; ++round) {
    if (round == 1) heapAfterFirstRound = mallinfo2().uordblks;
    for (int16_t i = 1; i <= 600; ++i) {
      m->Load(i);
      ASSERT_EQ(m->Element(i).Caption(), u"zero") << i;
      ASSERT_EQ(m->Element(i).Tag(), u"") << i;
      ASSERT_TRUE(m->Element(i).Visible());
      m->Element(i).SetCaption(u"c" + desk::DecimalText(i));
      if (i % 2) m->Element(i).SetVisible(false);
    }
    for (int16_t i = 600; i >= 1; --i) {
      ASSERT_EQ(m->Element(i).Caption(), u"c" + desk::DecimalText(i));
      ASSERT_EQ(m->Element(i).Visible(), i % 2 == 0);
      m->Unload(i);
    }
  }
  EXPECT_LT(mallinfo2().uordblks, heapAfterFirstRound + 600 * sizeof(desk::MenuElement))
      << "the later rounds took new memory rather than the elements given back";
  EXPECT_EQ(m->Count(), 1);
  EXPECT_EQ(m->VisibleCount(), 1);
  EXPECT_EQ(held->Caption(), u"held caption");
  EXPECT_EQ(held->Tag(), u"held tag");
  EXPECT_EQ(held->Index(), 1);
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
  // A caption written by id tells the array, and leaves the tag as it was.
  int changes = 0;
  m->changed = [&] { ++changes; };
  call(two, 1, InvokeKind::Let, {Variant::String(u"renamed")});
  EXPECT_EQ(call(two, 1, InvokeKind::Get), Variant::String(u"renamed"));
  EXPECT_EQ(call(two, 2, InvokeKind::Get), Variant::String(u"t0"));
  EXPECT_EQ(changes, 1);
}

}  // namespace
