// The dispatch index: every row of a table is found by its (id, kind), a repeated pair keeps
// its first row, a read finds a method row and back, and names resolve without allocation
// limits becoming failures.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "desk/collection.h"
#include "desk/component.h"
#include "desk/dispatch.h"
#include "desk/text.h"
#include "desk/tree.h"

namespace {

using desk::DispId;
using desk::InterfaceInfo;
using desk::InvokeKind;
using desk::MemberInfo;
using desk::VarType;

InterfaceInfo Make(std::vector<MemberInfo> members) {
  InterfaceInfo i;
  i.name = "ITest";
  i.members = std::move(members);
  i.BuildIndex();
  return i;
}

// Every row of the real tables answers its own (id, kind), or the first row of that pair.
TEST(DispatchIndex, EveryRowOfTheRealTablesIsFoundByIdAndKind) {
  const InterfaceInfo* tables[] = {&desk::TreeView::Table().Info(), &desk::Nodes::Table().Info(),
                                   &desk::Node::Table().Info(), &desk::Collection::Table().Info()};
  for (const InterfaceInfo* info : tables) {
    for (size_t r = 0; r < info->members.size(); ++r) {
      const MemberInfo& m = info->members[r];
      int found = info->Find(m.id, m.kind);
      ASSERT_GE(found, 0) << info->name << " " << m.name;
      EXPECT_LE(found, static_cast<int>(r)) << info->name << " " << m.name;
      EXPECT_EQ(info->members[static_cast<size_t>(found)].id, m.id);
      EXPECT_EQ(info->members[static_cast<size_t>(found)].kind, m.kind);
    }
  }
}

TEST(DispatchIndex, ManyRowsWithCollidingLowBitsAreAllFound) {
  // Ids that differ only in high bits, and negative ones, as the published tables use.
  std::vector<MemberInfo> members;
  std::vector<std::string> names;
  names.reserve(300);
  for (int i = 0; i < 300; ++i) names.push_back("M" + std::to_string(i));
  for (int i = 0; i < 300; ++i) {
    DispId id = (i % 3 == 0) ? static_cast<DispId>(0x68030000 + (i << 16)) : (i % 3 == 1 ? -i : i);
    members.push_back({names[static_cast<size_t>(i)].c_str(), id, i % 2 ? InvokeKind::Let : InvokeKind::Get, {}});
  }
  InterfaceInfo info = Make(members);
  for (size_t i = 0; i < members.size(); ++i)
    EXPECT_EQ(info.Find(members[i].id, members[i].kind), static_cast<int>(i)) << i;
  EXPECT_EQ(info.Find(12345678, InvokeKind::Get), -1);
  EXPECT_EQ(info.Find(members[0].id, InvokeKind::Set), -1);
}

TEST(DispatchIndex, KindsFallBackOnlyBetweenReadAndMethod) {
  InterfaceInfo info = Make({{"Item", 0, InvokeKind::Method, {}}, {"Count", 1, InvokeKind::Get, {}}, {"Text", 2, InvokeKind::Let, {}}});
  struct Case {
    DispId id;
    InvokeKind kind;
    int row;
  };
  const Case cases[] = {
      {0, InvokeKind::Method, 0}, {0, InvokeKind::Get, 0},  {0, InvokeKind::Let, -1}, {1, InvokeKind::Get, 1},
      {1, InvokeKind::Method, 1}, {1, InvokeKind::Set, -1}, {2, InvokeKind::Let, 2},   {2, InvokeKind::Get, -1},
  };
  for (const Case& c : cases) EXPECT_EQ(info.Find(c.id, c.kind), c.row) << c.id << " " << int(c.kind);
}

TEST(DispatchIndex, ARepeatedPairKeepsItsFirstRow) {
  InterfaceInfo info = Make({{"A", 7, InvokeKind::Get, {}}, {"B", 7, InvokeKind::Get, {}}});
  EXPECT_EQ(info.Find(7, InvokeKind::Get), 0);
}

TEST(DispatchIndex, NamesIgnoreCaseAndOddNamesAreSimplyAbsent) {
  InterfaceInfo info = Make({{"PathSeparator", 10, InvokeKind::Get, {}}});
  EXPECT_EQ(info.IdOfName(u"pathseparator"), 10);
  EXPECT_EQ(info.IdOfName(u"PATHSEPARATOR"), 10);
  EXPECT_EQ(info.IdOfName(u"PathSeparatorX"), desk::kNoDispId);
  EXPECT_EQ(info.IdOfName(u""), desk::kNoDispId);
  EXPECT_EQ(info.IdOfName(u"P\u00e4th"), desk::kNoDispId);
  EXPECT_EQ(info.IdOfName(std::u16string(5000, u'a')), desk::kNoDispId);
  // The first and last capitals fold like the others; the first member of a name wins.
  InterfaceInfo more = Make({{"Zoom", 11, InvokeKind::Get, {}},
                             {"Alpha", 12, InvokeKind::Get, {}},
                             {"AZ[]@", 13, InvokeKind::Get, {}},
                             {"ZOOM", 14, InvokeKind::Let, {}}});
  const std::pair<std::u16string, DispId> names[] = {
      {u"zoom", 11}, {u"ZOOM", 11}, {u"alpha", 12}, {u"ALPHA", 12}, {u"az[]@", 13}, {u"Az[]@", 13},
      {u"az{}`", desk::kNoDispId}, {u"zoo", desk::kNoDispId}, {u"zoomz", desk::kNoDispId}};
  for (const auto& [name, id] : names) EXPECT_EQ(more.IdOfName(name), id) << desk::U8(name);
  // A copy answers from its own index.
  InterfaceInfo copy = info;
  EXPECT_EQ(copy.IdOfName(u"pathseparator"), 10);
  EXPECT_EQ(copy.Find(10, InvokeKind::Get), 0);
}

// The value a Let or Set passes: converted to the member's declared type, passed as it is
// (references followed) when the member declares none or any.
TEST(DispatchCoercion, ThePutValueTakesTheMembersTypeOrStaysAsItIs) {
  desk::Variant target = desk::Variant::String(u"12");
  const desk::Variant text = desk::Variant::String(u"12");
  desk::Variant object = desk::Variant::Object(desk::MakeRef<desk::Collection>());
  struct Row {
    const char* name;
    InvokeKind kind;
    VarType result;
    desk::Variant given, passed;
  } rows[] = {
      {"Let of a Long", InvokeKind::Let, VarType::Long, text, desk::Variant::Long(12)},
      {"Let already a Long", InvokeKind::Let, VarType::Long, desk::Variant::Long(3), desk::Variant::Long(3)},
      {"Let without a type", InvokeKind::Let, VarType::Empty, text, text},
      {"Let of any type", InvokeKind::Let, VarType::Any, text, text},
      {"Let of a reference without a type", InvokeKind::Let, VarType::Empty, desk::Variant::ByRef(&target), text},
      {"Set of any type", InvokeKind::Set, VarType::Any, desk::Variant::ByRef(&target), text},
      {"Set of an object", InvokeKind::Set, VarType::Object, desk::Variant::Nothing(), desk::Variant::Nothing()},
      {"Set of an object through a reference", InvokeKind::Set, VarType::Object, desk::Variant::ByRef(&object),
       object},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    MemberInfo m{"Value", 1, r.kind, {}, r.result};
    std::vector<desk::Variant> args{r.given};
    desk::CoerceArgs(m, args);
    ASSERT_EQ(args.size(), 1u);
    EXPECT_EQ(args[0].Type(), r.passed.Type());
    EXPECT_TRUE(args[0] == r.passed);
  }
  // A Set of an object member needs an object; one of any type takes anything.
  MemberInfo set{"Value", 1, InvokeKind::Set, {}, VarType::Object};
  std::vector<desk::Variant> number{desk::Variant::Long(1)};
  try {
    desk::CoerceArgs(set, number);
    ADD_FAILURE() << "a number was taken for an object";
  } catch (const desk::Error& e) {
    EXPECT_EQ(e.Number(), 424);
  }
}

// Creating by class identifier: the number and the text for each way it can go, whatever the
// letter case of the identifier; a failing constructor is reported, never thrown past the
// entry point, and leaves no object.
TEST(CreateByClassId, AnswersEachCaseWithItsNumberAndText) {
  desk::TypeLibInfo lib;
  lib.name = "Lib";
  lib.classes = {{"Good", "{AA}", true, nullptr, nullptr}, {"Inner", "{BB}", false, nullptr, nullptr}};
  const desk::ClassFactory factories[] = {
      {"{AA}", [] { return desk::Ref<desk::Object>(desk::MakeRef<desk::Collection>()); }},
      {"{BB}", nullptr},
      {"{CC}", []() -> desk::Ref<desk::Object> { desk::Raise(desk::Err::OutOfMemory); }},
      {"{DD}", []() -> desk::Ref<desk::Object> { throw std::runtime_error("no resources"); }},
  };
  struct Row {
    const char* clsid;
    bool giveOut;
    int32_t number;
    std::string text;
  } rows[] = {
      {"{aa}", true, 0, ""},
      {"{AA}", false, 5, "Can't create object: no place given for the new object"},
      {"{Bb}", true, 429, "Can't create object: class Inner {Bb} of Lib is not creatable by hosts"},
      {"{CC}", true, 7, desk::U8(desk::ErrorText(desk::Err::OutOfMemory))},
      {"{DD}", true, 429, "no resources"},
      {"{AA", true, 429, "Can't create object: no class {AA in Lib"},
      {nullptr, true, 429, "Can't create object: no class (null) in Lib"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.clsid ? r.clsid : "(null)");
    desk::Object* out = reinterpret_cast<desk::Object*>(&lib);  // overwritten either way
    char message[128];
    std::fill(std::begin(message), std::end(message), 'x');
    EXPECT_EQ(desk::CreateByClassId(lib, factories, r.clsid, r.giveOut ? &out : nullptr,
                                    message, sizeof message),
              r.number);
    EXPECT_EQ(std::string(message), r.text);
    if (!r.giveOut) continue;
    if (r.number == 0) {
      ASSERT_NE(out, nullptr);
      desk::Ref<desk::Object> owned = desk::AdoptRef(out);  // the caller's reference
      EXPECT_TRUE(owned);
    } else {
      EXPECT_EQ(out, nullptr);
    }
  }
}

}  // namespace
