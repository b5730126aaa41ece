// The library as a host loads it: by path, through its two C entry points only.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "desk/component.h"
#include "desk/dispatch.h"
#include "desk/error.h"
#include "desk/text.h"
#include "support/test_support.h"

namespace {

using CreateFn = int32_t (*)(const char*, desk::Object**, char*, size_t);
using TypeLibFn = const desk::TypeLibInfo* (*)();

class LoadedLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    handle = dlopen(VARBEL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    create = reinterpret_cast<CreateFn>(dlsym(handle, "VarbelTreeview_CreateObject"));
    typeLib = reinterpret_cast<TypeLibFn>(dlsym(handle, "VarbelTreeview_TypeLib"));
    ASSERT_NE(create, nullptr);
    ASSERT_NE(typeLib, nullptr);
  }
  void TearDown() override {
    if (handle) dlclose(handle);
  }
  // "get/let" for the rows of one member, "method" for a method.
  static std::string KindText(desk::InvokeKind k) {
    switch (k) {
      case desk::InvokeKind::Get: return "get";
      case desk::InvokeKind::Let: return "let";
      case desk::InvokeKind::Set: return "set";
      case desk::InvokeKind::Method: return "method";
    }
    return "?";
  }
  struct Entry {
    const char* name;
    const char* kinds;
    desk::DispId id;
  };
  // Groups an interface's rows by member, in order: {name, "get/let", id}.
  static std::vector<std::string> Grouped(const desk::InterfaceInfo& i) {
    std::vector<std::string> out;
    std::string last;
    for (const auto& m : i.members) {
      if (!out.empty() && m.name == last) {
        out.back() += "/" + KindText(m.kind);
        continue;
      }
      last = m.name;
      char id[16];
      std::snprintf(id, sizeof id, "%08X", static_cast<uint32_t>(m.id));
      out.push_back(last + " " + id + " " + KindText(m.kind));
    }
    return out;
  }
  static std::vector<std::string> Expected(const std::vector<Entry>& entries) {
    std::vector<std::string> out;
    for (const Entry& e : entries) {
      char id[16];
      std::snprintf(id, sizeof id, "%08X", static_cast<uint32_t>(e.id));
      out.push_back(std::string(e.name) + " " + id + " " + e.kinds);
    }
    return out;
  }

  desk_test::FreshHost host;
  void* handle = nullptr;
  CreateFn create = nullptr;
  TypeLibFn typeLib = nullptr;
};

TEST_F(LoadedLibrary, CreatesTheControlByItsClassIdentifierInAnyLetterCase) {
  for (const char* clsid : {"{D5CA163D-6878-4BD8-A144-A5E85A414594}", "{d5ca163d-6878-4bd8-a144-a5e85a414594}"}) {
    SCOPED_TRACE(clsid);
    desk::Object* o = nullptr;
    char message[256] = "untouched";
    ASSERT_EQ(create(clsid, &o, message, sizeof message), 0);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->RefCount(), 1);  // the caller's
    EXPECT_EQ(o->Interface().name, "_VarbelTreeviewControl");
    EXPECT_EQ(o->GetIdOfName(u"DoHitTest"), 0x60030073);
    o->Release();
  }
}

TEST_F(LoadedLibrary, RefusesUnknownAndNonCreatableClassesWith429AndAText) {
  struct Case {
    const char* name;
    const char* clsid;
    const char* mentions;
  };
  const Case cases[] = {
      {"unknown identifier", "{00000000-0000-0000-0000-000000000000}", "{00000000-0000-0000-0000-000000000000}"},
      {"PopUpMenus is made by the control only", "{1E481904-0FCA-4490-81FF-D2CE80F04389}", "PopUpMenus"},
      {"PopUpMenu is made by its collection only", "{8e7efbc4-ba2f-4365-95b5-df891750a598}", "PopUpMenu"},
      {"no identifier", nullptr, "(null)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    desk::Object* o = reinterpret_cast<desk::Object*>(&o);  // must be cleared
    char message[256] = "";
    EXPECT_EQ(create(c.clsid, &o, message, sizeof message), 429);
    EXPECT_EQ(o, nullptr);
    EXPECT_NE(std::strstr(message, c.mentions), nullptr) << message;
  }
}

TEST_F(LoadedLibrary, TypeLibraryClassesAndIdentifiers) {
  const desk::TypeLibInfo* lib = typeLib();
  ASSERT_NE(lib, nullptr);
  EXPECT_EQ(lib->name, "VarbelTreeview");
  EXPECT_EQ(lib->libid, "{00BE35B3-E98A-4C94-BB2D-396DD521FC59}");
  struct Class {
    const char* name;
    const char* clsid;
    bool creatable;
    const char* dispatch;
    const char* iid;
    const char* events;  // null: none
  };
  const Class expected[] = {
      {"VarbelTreeviewControl", "{D5CA163D-6878-4BD8-A144-A5E85A414594}", true, "_VarbelTreeviewControl",
       "{3AD5F6E0-0308-42E6-91F9-F1A9000FD006}", "__VarbelTreeviewControl"},
      {"PopUpMenus", "{1E481904-0FCA-4490-81FF-D2CE80F04389}", false, "_PopUpMenus",
       "{E0F60E7C-6EF2-4238-A07D-09CFB4FD5475}", nullptr},
      {"PopUpMenu", "{8E7EFBC4-BA2F-4365-95B5-DF891750A598}", false, "_PopUpMenu",
       "{A050BBF5-FA10-4D87-8954-CE8E987085FC}", nullptr},
      // Added after the described classes: the control with the capabilities beyond them.
      {"VarbelTreeviewControlEx", "{5A314815-5123-4074-AD89-3886C1B12188}", true, "_VarbelTreeviewControlEx",
       "{94D59130-8AAD-4DFD-B1B4-5D0E92F2FE49}", "__VarbelTreeviewControlEx"},
  };
  ASSERT_EQ(lib->classes.size(), std::size(expected));
  for (size_t i = 0; i < lib->classes.size(); ++i) {
    const desk::ClassInfo& c = lib->classes[i];
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.name, expected[i].name);
    EXPECT_EQ(c.clsid, expected[i].clsid);
    EXPECT_EQ(c.creatable, expected[i].creatable);
    ASSERT_NE(c.dispatch, nullptr);
    EXPECT_EQ(c.dispatch->name, expected[i].dispatch);
    EXPECT_EQ(c.dispatch->iid, expected[i].iid);
    EXPECT_EQ(c.events ? c.events->name : "(none)", expected[i].events ? expected[i].events : "(none)");
  }
}

TEST_F(LoadedLibrary, PopupClassesPublishTheirMembersInOrder) {
  const desk::TypeLibInfo* lib = typeLib();
  EXPECT_EQ(Grouped(*lib->classes[1].dispatch), Expected({
                                                    {"mvarMainMNU", "get/let/set", 0x40030001},
                                                    {"Add", "method", 0x60030001},
                                                    {"Item", "get", 0},
                                                    {"Count", "get", 0x68030000},
                                                    {"Remove", "method", 0x60030002},
                                                    {"NewEnum", "get", -4},
                                                    {"Clear", "method", 0x60030005},
                                                }));
  EXPECT_EQ(Grouped(*lib->classes[2].dispatch), Expected({
                                                    {"Key", "get/let", 0x40030000},
                                                    {"Name", "get/let", 0x40030001},
                                                    {"Caption", "get/let", 0x40030002},
                                                }));
  for (const auto& m : lib->classes[1].dispatch->members) EXPECT_EQ(m.hidden, m.id == -4) << m.name;
}

// The published order of the control's 155 entries: a property's read and write entries
// share its id.
TEST_F(LoadedLibrary, ControlInterfaceHas155EntriesInThePublishedOrder) {
  const std::vector<Entry> published{
      {"BackColor", "get/let", 0x68030041},
      {"ForeColor", "get/let", 0x68030040},
      {"Enabled", "get/let", 0x6803003F},
      {"Font", "get/set", -512},
      {"BackStyle", "get/let", 0x6803003E},
      {"BorderStyle", "get/let", 0x6803003D},
      {"Refresh", "method", 0x60030042},
      {"WhatsThisHelpID", "get/let", 0x6803003C},
      {"ValidateControls", "method", 0x6003004B},
      {"ToolTipText", "get/let", 0x6803003B},
      {"TextWidth", "method", 0x60030051},
      {"TextHeight", "method", 0x60030052},
      {"Style", "get/let", 0x6803003A},
      {"StartLabelEdit", "method", 0x60030053},
      {"Sorted", "get/let", 0x68030039},
      {"Size", "method", 0x60030054},
      {"SingleSel", "get/let", 0x68030038},
      {"Scroll", "get/let", 0x68030037},
      {"ScaleY", "method", 0x60030055},
      {"ScaleX", "method", 0x60030056},
      {"ScaleWidth", "get/let", 0x68030036},
      {"ScaleTop", "get/let", 0x68030035},
      {"ScaleMode", "get/let", 0x68030034},
      {"ScaleLeft", "get/let", 0x68030033},
      {"ScaleHeight", "get/let", 0x68030032},
      {"Scale_", "method", 0x60030057},
      {"RightToLeft", "get/let", 0x68030031},
      {"PSet_", "method", 0x60030058},
      {"PopUpMenu", "method", 0x60030059},
      {"Point", "method", 0x6003005A},
      {"Picture", "get/set", 0x68030030},
      {"PathSeparator", "get/let", 0x6803002F},
      {"PaletteMode", "get/let", 0x6803002E},
      {"Palette", "get/set", 0x6803002D},
      {"PaintPicture", "method", 0x6003005B},
      {"OLEDropMode", "get/let", 0x6803002C},
      {"OLEDragMode", "get/let", 0x6803002B},
      {"OLEDrag", "method", 0x6003005D},
      {"MousePointer", "get/let", 0x6803002A},
      {"MouseIcon", "get/set", 0x68030029},
      {"MaskPicture", "get/set", 0x68030028},
      {"MaskColor", "get/let", 0x68030027},
      {"LineStyle", "get/let", 0x68030026},
      {"Line", "method", 0x60030061},
      {"LabelEdit", "get/let", 0x68030025},
      {"Indentation", "get/let", 0x68030024},
      {"ImageList", "get/set", 0x68030023},
      {"Image", "get/set", 0x68030022},
      {"HyperLink", "get/set", 0x68030021},
      {"hWnd", "get/let", 0x68030020},
      {"HotTracking", "get/let", 0x6803001F},
      {"HitBehavior", "get/let", 0x6803001E},
      {"HideSelection", "get/let", 0x6803001D},
      {"hDC", "get/let", 0x6803001C},
      {"HasDC", "get/let", 0x6803001B},
      {"FullRowSelect", "get/let", 0x6803001A},
      {"FontUnderline", "get/let", 0x68030019},
      {"FontTransparent", "get/let", 0x68030018},
      {"FontStrikethru", "get/let", 0x68030017},
      {"FontSize", "get/let", 0x68030016},
      {"FontName", "get/let", 0x68030015},
      {"FontItalic", "get/let", 0x68030014},
      {"FontBold", "get/let", 0x68030013},
      {"FillStyle", "get/let", 0x68030012},
      {"FillColor", "get/let", 0x68030011},
      {"DrawWidth", "get/let", 0x68030010},
      {"DrawStyle", "get/let", 0x6803000F},
      {"DrawMode", "get/let", 0x6803000E},
      {"DataMembers", "get/set", 0x6803000D},
      {"DataMemberChanged", "method", 0x60030063},
      {"CurrentY", "get/let", 0x6803000C},
      {"CurrentX", "get/let", 0x6803000B},
      {"Controls", "get/set", 0x6803000A},
      {"ContainerHwnd", "get/let", 0x68030009},
      {"Cls", "method", 0x60030065},
      {"ClipControls", "get/let", 0x68030008},
      {"ClipBehavior", "get/let", 0x68030007},
      {"Circle_", "method", 0x60030066},
      {"Checkboxes", "get/let", 0x68030006},
      {"CausesValidation", "get/let", 0x68030005},
      {"CanPropertyChange", "method", 0x60030067},
      {"CancelAsyncRead", "method", 0x60030068},
      {"AutoRedraw", "get/let", 0x68030004},
      {"AsyncRead", "method", 0x6003006A},
      {"Appearance", "get/let", 0x68030003},
      {"ActiveControl", "get/set", 0x68030002},
      {"Nodes", "get", 0x68030001},
      {"PopUpMenus", "get", 0x68030000},
      {"ShowPopupMenu", "method", 0x60030072},
      {"DoHitTest", "method", 0x60030073},
  };
  const desk::InterfaceInfo& control = *typeLib()->classes[0].dispatch;
  EXPECT_EQ(control.members.size(), 155u);
  EXPECT_EQ(Grouped(control), Expected(published));
  // Every entry is listed for hosts to see: none is hidden.
  for (const auto& m : control.members) EXPECT_FALSE(m.hidden) << m.name;
}

}  // namespace

namespace {

// What a host writes: one call that loads the library and adopts the new object's reference.
TEST(CreateFromLibrary, AdoptsTheObjectAndNamesWhatIsMissing) {
  {
    desk::Ref<desk::Object> tree =
        desk::CreateFromLibrary(VARBEL_LIBRARY_PATH, "VarbelTreeview_CreateObject", "{d5ca163d-6878-4bd8-a144-a5e85a414594}");
    ASSERT_TRUE(tree);
    EXPECT_EQ(tree->Interface().name, "_VarbelTreeviewControl");
    EXPECT_EQ(tree->RefCount(), 1);  // the entry point's reference, taken over, not doubled
  }
  struct Row {
    const char* name;
    const char* library;
    const char* entry;
    const char* clsid;
    const char* text;  // part of the error text
  };
  const Row rows[] = {
      {"unknown class", VARBEL_LIBRARY_PATH, "VarbelTreeview_CreateObject", "{00000000-0000-0000-0000-000000000000}",
       "no class"},
      {"class hosts may not create", VARBEL_LIBRARY_PATH, "VarbelTreeview_CreateObject",
       "{1E481904-0FCA-4490-81FF-D2CE80F04389}", "not creatable"},
      {"no such library", "libNoSuchControl.so", "VarbelTreeview_CreateObject", "{x}", "cannot load libNoSuchControl.so"},
      {"no such entry point", VARBEL_LIBRARY_PATH, "Quorvane_CreateObject", "{x}", "has no entry point Quorvane_CreateObject"},
      {"null library", nullptr, "VarbelTreeview_CreateObject", "{x}", "no library named"},
      {"null class", VARBEL_LIBRARY_PATH, "VarbelTreeview_CreateObject", nullptr, "(null)"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    try {
      desk::CreateFromLibrary(r.library, r.entry, r.clsid);
      ADD_FAILURE() << "no error";
    } catch (const desk::Error& e) {
      EXPECT_EQ(e.Number(), 429);
      EXPECT_NE(desk::U8(e.Description()).find(r.text), std::string::npos) << desk::U8(e.Description());
    }
  }
}

// Only the two entry points leave the library: its classes are reached through them.
TEST(LoadedLibraryExports, OnlyTheEntryPoints) {
  void* handle = dlopen(VARBEL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr);
  EXPECT_NE(dlsym(handle, "VarbelTreeview_CreateObject"), nullptr);
  EXPECT_NE(dlsym(handle, "VarbelTreeview_TypeLib"), nullptr);
  // The control's type library accessor, a C++ function inside the library.
  EXPECT_EQ(dlsym(handle, "_ZN6varbel21VarbelTreeviewControl7TypeLibEv"), nullptr);
  dlclose(handle);
}

}  // namespace
