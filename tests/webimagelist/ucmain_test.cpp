// The control, its collection and entries, as a host drives them: through dispatch where
// the host would, with the headless platform recording every box and dispatch point.
#include <gtest/gtest.h>

#include "Quorvane/Quorvane.h"
#include "httpImages.h"
#include "mdlError.h"
#include "ucMain.h"
#include "desk/collection.h"
#include "desk/imagelist.h"
#include "desk/text.h"
#include "support/web_test.h"

namespace {

using desk::InvokeKind;
using desk::Ref;
using desk::Variant;
using testenv::Report;

const std::u16string kEntry = u"httpImage, Class Module";
const std::u16string kList = u"httpImages, Class Module";
const std::u16string kControl = u"ucMain, User Control";

class Control : public testenv::WebTest {
 public:  // the table rows below reach these through the fixture
  void SetUp() override {
    WebTest::SetUp();
    for (const char* f : {"px.png", "px.gif", "px.jpg", "px.bmp", "px.ico"}) server_.Serve(std::string("/") + f, testenv::DataFile(f));
    server_.Serve("/text.png", "just some text");
    control_ = desk::MakeRef<Quorvane::ucMain>();
  }
  void TearDown() override {
    control_.reset();
    WebTest::TearDown();
  }
  Quorvane::httpImages& List() { return *control_->ListImages(); }
  desk::ListImages& Pictures() {
    return desk::RefCast<desk::ImageList>(control_->ImageListControl())->Images();
  }
  void Add(const std::u16string& name, const std::string& path) { List().Add(name, server_.Url16(path)); }

  Ref<Quorvane::ucMain> control_;
};

TEST_F(Control, NewControlIsEmptyAndFillsNothingQuietly) {
  EXPECT_FALSE(control_->IsReady());
  EXPECT_FALSE(control_->ForceDownload());
  EXPECT_EQ(List().Count(), 0);
  control_->Fill();
  EXPECT_EQ(Pictures().Count(), 0);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(Control, FillsPicturesOfEachFormatUnderTheirKeys) {
  server_.Start();
  Add(u"png", "/px.png");
  Add(u"gif", "/px.gif");
  Add(u"jpeg", "/px.jpg");
  Add(u"bmp", "/px.bmp");
  Add(u"ico", "/px.ico");
  Add(u"missing", "/nothing-here.png");  // 404: skipped without a box
  std::vector<Variant> none;
  control_->Invoke(Quorvane::ucMainId::kFill, InvokeKind::Method, none);
  EXPECT_TRUE(Boxes().empty());
  ASSERT_EQ(Pictures().Count(), 5);
  EXPECT_EQ(Pictures().At(4)->Key(), u"ico");
  auto tree = desk::RefCast<desk::ImageList>(control_->ImageListControl());
  ASSERT_TRUE(tree->Find(u"jpeg"));
  EXPECT_EQ(tree->Find(u"jpeg")->width, 4);
  EXPECT_EQ(tree->Find(u"ico")->kind, desk::Picture::Kind::Icon);
  EXPECT_TRUE(control_->IsReady());
  EXPECT_EQ(Host().doEventsCount, 18) << "three dispatch points for each of six downloads";
}

TEST_F(Control, ReuseMakesNoRequestUnlessForced) {
  server_.Start();
  Add(u"a", "/px.png");
  control_->Fill();
  EXPECT_EQ(server_.Count("/px.png"), 1);
  control_->Fill();
  EXPECT_EQ(server_.Count("/px.png"), 1) << "the cached file is reused";
  EXPECT_EQ(Pictures().Count(), 1) << "and still loaded";
  std::vector<Variant> args{Variant::Bool(true)};
  control_->Invoke(Quorvane::ucMainId::kForceDownload, InvokeKind::Let, args);
  control_->Fill();
  EXPECT_EQ(server_.Count("/px.png"), 2);
  // An entry's own DownloadFile, as a late-bound host calls it, unforced and forced.
  std::vector<Variant> key{Variant::String(u"a")};
  auto entry = control_->ListImages()->Invoke(Quorvane::httpImagesId::kItem, InvokeKind::Get, key).ToObject();
  ASSERT_TRUE(entry);
  for (bool force : {false, true}) {
    std::vector<Variant> flag{Variant::Bool(force)};
    EXPECT_EQ(entry->Invoke(Quorvane::httpImageId::kDownloadFile, InvokeKind::Method, flag), Variant::Bool(true));
    EXPECT_EQ(server_.Count("/px.png"), force ? 3 : 2) << "only a forced call asks the server";
  }
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(Control, FillFailuresReportOnceUnderFill) {
  server_.Start();
  struct Row {
    const char* what;
    std::function<void(Control&)> arrange;
    int number;
    std::u16string description;
    int picturesAfter;
  } rows[] = {
      {"two entries with the same Key",
       [](Control& t) {
         t.Add(u"one", "/px.png");
         t.Add(u"two", "/px.gif");
         t.List().Item(u"two")->Key = u"one";
       },
       35602, u"Key is not unique in collection", 1},
      {"a key the image list refuses",
       [](Control& t) {
         t.Add(u"one", "/px.png");
         t.Add(u"123", "/px.gif");
         t.Add(u"three", "/px.bmp");  // not reached
       },
       35603, u"Invalid key", 1},
      {"a cached file that is not a picture",
       [](Control& t) {
         t.Add(u"text", "/text.png");
         t.Add(u"after", "/px.png");  // not reached
       },
       481, u"Invalid picture", 0},
      {"ListImages set to no object",
       [](Control& t) {
         t.Add(u"one", "/px.png");
         t.control_->Fill();
         t.control_->ListImages(nullptr);
       },
       91, u"Object variable or With block variable not set", 0},
  };
  for (Row& r : rows) {
    SCOPED_TRACE(r.what);
    control_ = desk::MakeRef<Quorvane::ucMain>();
    r.arrange(*this);
    Host().messageBoxes.clear();
    control_->Fill();
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, Report(kControl, u"Fill", r.number, r.description));
    EXPECT_EQ(Pictures().Count(), r.picturesAfter);
  }
  EXPECT_EQ(server_.Count("/px.bmp"), 0);
}

TEST_F(Control, ReleasingOneControlLeavesTheOthersWorking) {
  server_.Start();
  Ref<Quorvane::ucMain> other = desk::MakeRef<Quorvane::ucMain>();
  other->ListImages()->Add(u"a", server_.Url16("/px.png"));
  control_.reset();
  other->Fill();
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(desk::RefCast<desk::ImageList>(other->ImageListControl())->Images().Count(), 1);
  // With no control left in the thread, a URL cannot derive its cache path.
  Ref<Quorvane::httpImages> held = other->ListImages();
  Ref<Quorvane::httpImage> entry = held->Item(u"a");
  const std::u16string before = entry->TempFilePath();
  other.reset();
  entry->httpImageURL(u"http://127.0.0.1/b.png");
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, Report(kEntry, u"httpImageURL", 91, u"Object variable or With block variable not set"));
  EXPECT_EQ(entry->httpImageURL(), u"http://127.0.0.1/b.png");
  EXPECT_EQ(entry->TempFilePath(), before);
}

// At a dispatch point the host does something drastic; the outer Fill must finish with what
// it still holds, without a crash or a use after free (the suite runs under ASan).
TEST_F(Control, HostActionsAtDispatchPointsAreSafe) {
  server_.Start();
  struct Row {
    const char* what;
    std::function<void(Control&)> action;
  } rows[] = {
      {"Fill again", [](Control& t) { t.control_->Fill(); }},
      {"clear ListImages", [](Control& t) { t.List().Clear(); }},
      {"replace ListImages", [](Control& t) { t.control_->ListImages(desk::MakeRef<Quorvane::httpImages>()); }},
      {"remove entries", [](Control& t) {
         while (t.List().Count() > 0) t.List().Remove(Variant::Long(1));
       }},
      {"release the control", [](Control& t) { t.control_.reset(); }},
      {"clear the image list", [](Control& t) { t.Pictures().Clear(); }},
  };
  for (Row& r : rows) {
    for (int at : {1, 2, 3, 5, 8}) {
      SCOPED_TRACE(std::string(r.what) + " at dispatch point " + std::to_string(at));
      control_ = desk::MakeRef<Quorvane::ucMain>();
      control_->ForceDownload(true);
      Add(u"png", "/px.png");
      Add(u"gif", "/px.gif");
      Add(u"bmp", "/px.bmp");
      Ref<desk::Object> pictures = control_->ImageListControl();
      int points = 0;
      Host().onDoEvents = [&] {
        if (++points == at) r.action(*this);
      };
      // The host calls through dispatch on the object it holds; releasing it at a dispatch
      // point drops the host's reference while the call is still running.
      Quorvane::ucMain* raw = control_.get();
      std::vector<Variant> none;
      raw->Invoke(Quorvane::ucMainId::kFill, InvokeKind::Method, none);
      Host().onDoEvents = nullptr;
      EXPECT_LE(desk::RefCast<desk::ImageList>(pictures)->Images().Count(), 3);
    }
  }
}

TEST_F(Control, RemovedEntryIsStillDownloadedByTheFillHoldingIt) {
  server_.Start();
  Add(u"png", "/px.png");
  Add(u"gif", "/px.gif");
  bool removed = false;
  Host().onDoEvents = [&] {
    if (!removed) removed = true, List().Remove(Variant::String(u"png"));
  };
  control_->Fill();
  Host().onDoEvents = nullptr;
  EXPECT_EQ(Pictures().Count(), 2);
  EXPECT_EQ(List().Count(), 1);
}

TEST_F(Control, CollectionRules) {
  auto first = List().Add(u"Name", u"http://h/dir/pic.png?x=1");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Key, u"Name");
  EXPECT_EQ(first->Name(), u"Name");
  EXPECT_EQ(first->TempFilePath(), desk::U16(dir_.string()) + u"/pic.png?x=1");
  // Letter case does not make a new key.
  EXPECT_FALSE(List().Add(u"NAME", u"http://h/other.png"));
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, Report(kList, u"Add", 457, desk::ErrorText(desk::Err::KeyAlreadyAssociated)));
  EXPECT_EQ(List().Count(), 1);
  // Item takes a key only: 1 is the key "1".
  std::vector<Variant> one{Variant::Long(1)};
  EXPECT_EQ(control_->ListImages()->Invoke(Quorvane::httpImagesId::kItem, InvokeKind::Get, one), Variant::Nothing());
  ASSERT_EQ(Boxes().size(), 2u);
  EXPECT_EQ(Boxes()[1].text, Report(kList, u"Item", 5, u"Invalid procedure call or argument"));
  one = {Variant::Long(1)};
  control_->ListImages()->Invoke(Quorvane::httpImagesId::kRemove, InvokeKind::Method, one);
  EXPECT_EQ(List().Count(), 0);
  List().Remove(Variant::Long(1));
  ASSERT_EQ(Boxes().size(), 3u);
  EXPECT_EQ(Boxes()[2].text, Report(kList, u"Remove", 9, u"Subscript out of range"));
  // The removed key is free again, and names only the new entry.
  auto again = List().Add(u"name", u"http://h/again.png");
  ASSERT_TRUE(again);
  EXPECT_EQ(List().Item(u"NAME").get(), again.get());
  List().Remove(Variant::String(u"Name"));
  EXPECT_EQ(List().Count(), 0);
  // Clear, as a host calls it: count 0, held entries still usable.
  auto held = List().Add(u"kept", u"http://h/k.png");
  List().Add(u"other", u"http://h/o.png");
  std::vector<Variant> none;
  EXPECT_EQ(control_->ListImages()->Invoke(Quorvane::httpImagesId::kClear, InvokeKind::Method, none), Variant());
  EXPECT_EQ(List().Count(), 0);
  EXPECT_FALSE(List().Item(u"kept"));
  held->Name(u"renamed");
  EXPECT_EQ(held->Name(), u"renamed");
  EXPECT_EQ(Boxes().size(), 4u);  // the Item just above reported its missing key
  // Set ListImages, as a host calls it: the new collection is the control's; anything else
  // is a type mismatch that keeps the one in place.
  auto replacement = desk::MakeRef<Quorvane::httpImages>();
  replacement->Add(u"new", u"http://h/n.png");
  std::vector<Variant> value{Variant::Object(replacement)};
  control_->Invoke(Quorvane::ucMainId::kListImages, InvokeKind::Set, value);
  EXPECT_EQ(control_->ListImages().get(), replacement.get());
  value = {Variant::Object(desk::MakeRef<Quorvane::httpImage>())};
  control_->Invoke(Quorvane::ucMainId::kListImages, InvokeKind::Set, value);
  EXPECT_EQ(control_->ListImages().get(), replacement.get());
  ASSERT_EQ(Boxes().size(), 5u);
  EXPECT_EQ(Boxes()[4].text, Report(kControl, u"ListImages", 13, u"Type mismatch"));
}

TEST_F(Control, UrlAssignmentDerivesTheCachePath) {
  auto e = List().Add(u"e", u"http://h/a/b.png");
  const std::u16string folder = desk::U16(dir_.string());
  e->TempFilePath(u"/elsewhere/x.png");
  e->httpImageURL(u"http://h/c.gif");
  EXPECT_EQ(e->TempFilePath(), folder + u"/c.gif") << "the URL overwrites an earlier path";
  e->TempFilePath(u"/elsewhere/x.png");
  EXPECT_EQ(e->TempFilePath(), u"/elsewhere/x.png") << "and a later path stays";
  struct Row {
    std::u16string url, fileName;
  } rows[] = {{u"http://h/dir/", u""}, {u"no-slash.png", u"no-slash.png"}, {u"http://h/a.png#frag", u"a.png#frag"}};
  for (const Row& r : rows) {
    e->httpImageURL(r.url);
    EXPECT_EQ(e->FileName(), r.fileName);
  }
  EXPECT_TRUE(Boxes().empty());
}

// The report's edge cases, to the character.
TEST_F(Control, ReportsToTheCharacter) {
  auto e = List().Add(u"e", u"");  // an empty URL: FileName fails inside the derivation
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text,
            u"Error\r\nModule : httpImage, Class Module\r\nFunction : FileName\r\nError Number : 9\r\n"
            u"Error Description : Subscript out of range\r\nError Line : 0");
  EXPECT_EQ(Boxes()[0].style, 16);
  ASSERT_TRUE(Boxes()[0].caption.has_value());
  EXPECT_EQ(*Boxes()[0].caption, u"\u05E9\u05D2\u05D9\u05D0\u05D4 \u05DE\u05E2\u05E8\u05DB\u05EA\u05D9\u05EA");
  EXPECT_EQ(e->TempFilePath(), desk::U16(dir_.string()) + u"/");
  EXPECT_EQ(e->FileName(), u"");
  EXPECT_EQ(Boxes().size(), 2u);

  namespace E = Quorvane::mdlError;
  E::ReportError({-2147012889, u"", 0}, u"mdlInternet, Module", u"DownloadFile");
  EXPECT_EQ(Boxes().back().text,
            u"Error\r\nModule : mdlInternet, Module\r\nFunction : DownloadFile\r\nError Number : -2147012889\r\n"
            u"Error Description : \r\nError Line : 0");
  E::ReportError({7, u"two\r\nlines", 0}, u"M", u"P");
  EXPECT_EQ(Boxes().back().text, Report(u"M", u"P", 7, u"two\r\nlines"));
  // A failure that is not the platform's own still reports, once, and the trap gives the default.
  int calls = 0;
  const int result = E::Trap(u"M", u"P", [&]() -> int {
    ++calls;
    throw std::runtime_error("boom");
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(Boxes().back().text, Report(u"M", u"P", 5, u"boom"));
}

// The entry's DownloadFile: the innermost trap reports; the entry just answers False.
TEST_F(Control, EntryDownloadReportsOnlyInside) {
  server_.Start();
  auto good = List().Add(u"good", server_.Url16("/px.png"));
  auto gone = List().Add(u"gone", server_.Url16("/404.png"));
  auto dir = List().Add(u"dir", server_.Url16("/folder/"));
  Host().messageBoxes.clear();
  EXPECT_TRUE(good->DownloadFile(false));
  EXPECT_TRUE(good->DownloadFile(false)) << "cached";
  EXPECT_FALSE(gone->DownloadFile(true));
  EXPECT_TRUE(Boxes().empty());
  std::vector<Variant> force{Variant::Bool(true)};
  EXPECT_EQ(dir->Invoke(Quorvane::httpImageId::kDownloadFile, InvokeKind::Method, force), Variant::Bool(false));
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, Report(u"mdlInternet, Module", u"DownloadFile", 75, u"Path/File access error"));
  EXPECT_EQ(server_.Count("/folder/"), 0);
}

TEST(TypeLibrary, ClassesInterfacesAndCreation) {
  const desk::TypeLibInfo* lib = Quorvane_TypeLib();
  ASSERT_TRUE(lib);
  EXPECT_EQ(lib->name, "Quorvane");
  EXPECT_EQ(lib->libid, "{74924FA6-9510-4339-8B5D-F6C5283BC11B}");
  ASSERT_EQ(lib->classes.size(), 3u);
  for (const auto& c : lib->classes) EXPECT_EQ(c.creatable, c.name == "ucMain") << c.name;

  const auto& ev = Quorvane::ucMain::EventInterface();
  EXPECT_EQ(ev.name, "__ucMain");
  EXPECT_EQ(ev.iid, "{E289DE76-BE32-435A-8DE3-C576E864BC4B}");
  std::vector<std::pair<std::string, int>> events;
  for (const auto& m : ev.members) events.emplace_back(m.name, m.id);
  EXPECT_EQ(events, (std::vector<std::pair<std::string, int>>{{"Click", 1},
                                                              {"DblClick", 2},
                                                              {"KeyDown", 3},
                                                              {"KeyPress", 4},
                                                              {"KeyUp", 5},
                                                              {"MouseDown", 6},
                                                              {"MouseMove", 7},
                                                              {"MouseUp", 8}}));
  EXPECT_STREQ(ev.members[3].help, "Occurs when the user presses and releases an ANSI key.");
  EXPECT_EQ(ev.members[5].params.size(), 4u);
  // A host's sink finds each event by name and by id.
  for (const auto& [name, id] : events) {
    EXPECT_EQ(ev.IdOfName(desk::U16(name)), id) << name;
    EXPECT_GE(ev.Find(id, desk::InvokeKind::Method), 0) << name;
  }

  auto names = [](const desk::InterfaceInfo& i) {
    std::vector<std::pair<std::string, int>> out;
    for (const auto& m : i.members) {
      std::string name = std::string(m.name) + (m.hidden ? " (hidden)" : "");
      if (out.empty() || out.back().first != name) out.emplace_back(name, m.id);
    }
    return out;
  };
  EXPECT_EQ(names(Quorvane::ucMain::Table().Info()),
            (std::vector<std::pair<std::string, int>>{{"Fill", 0x60030004},
                                                      {"ImageListControl", 0x68030002},
                                                      {"ListImages", 0x68030001},
                                                      {"ForceDownload", 0x68030000},
                                                      {"IsReady", 0x60030006}}));
  EXPECT_EQ(names(Quorvane::httpImages::Table().Info()),
            (std::vector<std::pair<std::string, int>>{{"Add", 0x60030001},
                                                      {"Item", 0},
                                                      {"Count", 0x68030000},
                                                      {"Remove", 0x60030002},
                                                      {"NewEnum (hidden)", -4},
                                                      {"Clear", 0x60030005}}));
  EXPECT_EQ(names(Quorvane::httpImage::Table().Info()),
            (std::vector<std::pair<std::string, int>>{{"Key", 0x40030000},
                                                      {"httpImageURL", 0x68030003},
                                                      {"TempFilePath", 0x68030002},
                                                      {"Name", 0x68030001},
                                                      {"FileName", 0x68030000},
                                                      {"DownloadFile", 0x60030004}}));

  desk::Object* obj = nullptr;
  char msg[200];
  ASSERT_EQ(Quorvane_CreateObject("{54db11e5-373f-4255-8b48-d0c961fae634}", &obj, msg, sizeof msg), 0);
  ASSERT_TRUE(obj);
  EXPECT_EQ(desk::CallByName(*obj, u"IsReady", InvokeKind::Method), Variant::Bool(false));
  obj->Release();
  for (const char* id : {"{BD2837DA-1906-47C4-9F3C-B7CD2E2D7D48}", "{746F33EE-F315-4D41-AA5C-546821BD8CFA}"}) {
    EXPECT_EQ(Quorvane_CreateObject(id, &obj, msg, sizeof msg), 429);
    EXPECT_EQ(obj, nullptr);
  }
  // A class the library does not have: after the last one, nothing more is looked at.
  EXPECT_EQ(Quorvane_CreateObject("{00000000-0000-0000-0000-000000000000}", &obj, msg, sizeof msg), 429);
  EXPECT_EQ(obj, nullptr);
  EXPECT_NE(std::string(msg).find("no class"), std::string::npos) << msg;
}

}  // namespace
