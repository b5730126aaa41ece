// The Qt platform's pictures, image list and surface.
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#if defined(DESK_QT_GUI_PRIVATE)
#include <qpa/qwindowsysteminterface.h>
#endif
#include <cstdlib>
#include <set>

#include "desk/imagelist.h"
#include "desk/picture_loader.h"
#include "qt_fixture.h"
#include "support/damaged_pictures.h"

namespace desk_qt_test {
namespace {

using desk_test::ErrOf;

const QString kPictures = QStringLiteral(DESK_SAMPLE_PICTURES);
const QString kData = QStringLiteral(DESK_TEST_DATA);

std::u16string Path(const QString& dir, const char* name) { return (dir + "/" + name).toStdU16String(); }

int Channel(uint32_t px, int shift) { return static_cast<int>((px >> shift) & 0xFF); }

// Each sample picture decodes to the same size and pixels as with the headless loader (JPEG
// and 16-bit PNG within the rounding of two decoders).
TEST(QtPictures, DecodeLikeTheHeadlessLoader) {
  auto platform = desk::MakeQtPlatform();
  struct {
    const char* name;
    int tolerance;
    desk::Picture::Kind kind;
  } const cases[] = {{"sun.png", 1, desk::Picture::Kind::Bitmap},  // 16 bits a channel, rounded to 8
                     {"cloud.gif", 0, desk::Picture::Kind::Bitmap},
                     {"board.bmp", 0, desk::Picture::Kind::Bitmap},
                     {"dot.ico", 0, desk::Picture::Kind::Icon},
                     {"leaf.jpg", 12, desk::Picture::Kind::Bitmap}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Ref<desk::Picture> q = platform->LoadPicture(Path(kPictures, c.name));
    Ref<desk::Picture> h = desk::LoadPictureFile(Path(kPictures, c.name));
    ASSERT_TRUE(q && h);
    EXPECT_EQ(q->kind, c.kind);
    ASSERT_EQ(q->width, h->width);
    ASSERT_EQ(q->height, h->height);
    ASSERT_EQ(q->pixels.size(), h->pixels.size());
    // Alpha alike; colours alike where opaque, and within the rounding of premultiplication
    // where translucent.
    int worst = 0;
    for (size_t i = 0; i < q->pixels.size(); ++i) {
      const int alpha = Channel(h->pixels[i], 24);
      ASSERT_EQ(Channel(q->pixels[i], 24), alpha) << "pixel " << i;
      for (int shift : {0, 8, 16}) {
        const int a = Channel(q->pixels[i], shift), b = Channel(h->pixels[i], shift);
        const int d = alpha == 255 ? std::abs(a - b) : std::abs(a * alpha - b * alpha) / 255 - 1;
        worst = std::max(worst, d);
      }
    }
    EXPECT_LE(worst, c.tolerance);
    QFile f(kPictures + "/" + c.name);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_EQ(q->encoded, std::vector<uint8_t>(bytes.begin(), bytes.end()));  // it can persist itself
  }
}

TEST(QtPictures, FailuresHaveThePlatformsNumbers) {
  auto platform = desk::MakeQtPlatform();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QFile text(dir.filePath("notes.png"));
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write("these are not the bytes of a picture");
  text.close();
  QFile cut(dir.filePath("cut.png"));
  ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
  QFile sun(kPictures + "/sun.png");
  ASSERT_TRUE(sun.open(QIODevice::ReadOnly));
  cut.write(sun.readAll().left(40));  // a PNG header and nothing after it
  cut.close();

  struct {
    std::u16string path;
    int32_t error;
  } const cases[] = {
      {Path(dir.path(), "missing.png"), 53},
      {Path(dir.path(), "no/such/folder/x.png"), 53},
      {dir.path().toStdU16String(), 75},
      {Path(dir.path(), "notes.png"), 481},
      {Path(dir.path(), "cut.png"), 481},
      {Path(kData, "huge.png"), 481},  // refused from their headers: too many pixels
      {Path(kData, "huge.gif"), 481},
      {Path(kData, "huge.bmp"), 481},
      {Path(kData, "huge.jpg"), 481},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ErrOf([&] { platform->LoadPicture(c.path); }), c.error) << QString::fromStdU16String(c.path).toStdString();
  Ref<desk::Picture> empty = platform->LoadPicture(u"");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->Empty());
  EXPECT_NE(platform->LoadPicture(u"").get(), empty.get());  // a new one each time
}

TEST(QtPictures, AnIconWithAPngImageDecodes) {
  auto platform = desk::MakeQtPlatform();
  Ref<desk::Picture> p = platform->LoadPicture(Path(kData, "pngentry.ico"));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->kind, desk::Picture::Kind::Icon);
  Ref<desk::Picture> h = desk::LoadPictureFile(Path(kData, "pngentry.ico"));
  EXPECT_EQ(p->width, h->width);
  EXPECT_EQ(p->pixels, h->pixels);
}

// The same damaged pictures fail with 481 here as on the headless platform.
TEST(QtPictures, CutAndLyingPicturesOfEveryFormatFail) {
  auto platform = desk::MakeQtPlatform();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  for (const char* name : {"sun.png", "cloud.gif", "board.bmp", "dot.ico", "leaf.jpg"}) {
    QFile f(kPictures + "/" + name);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray all = f.readAll();
    for (const testenv::Damaged& d : testenv::DamagedForms(all.toStdString())) {
      SCOPED_TRACE(std::string(name) + ": " + d.what);
      QFile out(dir.filePath("damaged"));
      ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
      out.write(d.bytes.data(), static_cast<qint64>(d.bytes.size()));
      out.close();
      EXPECT_EQ(ErrOf([&] { platform->LoadPicture(Path(dir.path(), "damaged")); }), 481);
    }
  }
}

class QtSurfaceTest : public QtHost {};

TEST_F(QtSurfaceTest, TheTreeFillsTheSurfaceAfterEveryResize) {
  QWidget* surface = desk::ControlWidget(*control_);
  for (QSize size : {QSize(300, 200), QSize(520, 410), QSize(64, 40)}) {
    window_->resize(size + QSize(0, edit_->sizeHint().height() + 30));
    QApplication::processEvents();
    EXPECT_EQ(Widget()->geometry(), surface->rect());
    desk::Surface* s = Control().GetSurface();
    EXPECT_FLOAT_EQ(s->ScaleWidth(), surface->width() * 15.0f);
    EXPECT_FLOAT_EQ(s->ScaleHeight(), surface->height() * 15.0f);
    EXPECT_FLOAT_EQ(Tree().Container().width, surface->width() * 15.0f);
  }
}

TEST_F(QtSurfaceTest, PropertyChangedReachesTheHostAsASignal) {
  QSignalSpy spy(desk::ControlWidget(*control_), &desk::QtSurfaceWidget::propertyChanged);
  Call(control_, u"Style", InvokeKind::Let, {Variant::Long(3)});
  Call(control_, u"Indentation", InvokeKind::Let, {Variant::Single(300)});
  ASSERT_EQ(spy.count(), 2);
  EXPECT_EQ(spy.at(0).at(0).toString(), "Style");
  EXPECT_EQ(spy.at(1).at(0).toString(), "Indentation");
  EXPECT_EQ(Widget()->indentation(), 20);  // 300 twips
}

TEST_F(QtSurfaceTest, TheAmbientFontIsTheHostWidgetsFont) {
  QFont font("DejaVu Serif");
  font.setPointSizeF(13.5);
  font.setBold(true);
  font.setItalic(true);
  window_->setFont(font);
  Ref<desk::Font> f = Control().GetSurface()->AmbientFont();
  ASSERT_TRUE(f);
  EXPECT_EQ(f->name, u"DejaVu Serif");
  EXPECT_FLOAT_EQ(f->size, 13.5f);
  EXPECT_EQ(f->weight, 700);
  EXPECT_TRUE(f->italic);
  EXPECT_FALSE(f->underline);
}

TEST_F(QtSurfaceTest, ContainerValuesActOnTheWidget) {
  Call(control_, u"ToolTipText", InvokeKind::Let, {Variant::String(u"Tip")});
  EXPECT_EQ(Widget()->toolTip(), "Tip");
  Call(control_, u"Enabled", InvokeKind::Let, {Variant::Bool(false)});
  EXPECT_FALSE(Widget()->isEnabled());
  Call(control_, u"Enabled", InvokeKind::Let, {Variant::Bool(true)});
  EXPECT_TRUE(Widget()->isEnabled());
}

TEST_F(QtSurfaceTest, NodePicturesComeFromTheImageListByKeyOrIndex) {
  auto list = desk::RefCast<desk::ImageList>(platform_->CreateImageList());
  ASSERT_TRUE(list);
  auto add = [&](const char* file, const char16_t* key) {
    list->Images().Add(Variant::Missing(), Variant::String(key), Variant::Object(platform_->LoadPicture(Path(kPictures, file))));
  };
  add("sun.png", u"sun");
  add("board.bmp", u"board");
  Call(control_, u"ImageList", InvokeKind::Set, {Variant::Object(list)});
  Add(u"", u"a", u"by key");
  Add(u"", u"b", u"by index");
  Add(u"", u"c", u"none");
  NodeOf(u"a")->SetImage(Variant::String(u"sun"));
  NodeOf(u"b")->SetImage(Variant::Long(2));
  NodeOf(u"c")->SetImage(Variant::String(u"missing"));
  auto pixmapOf = [&](const char* text) {
    const QIcon icon = qvariant_cast<QIcon>(DecorationOf(ItemOf(text)));
    return icon.pixmap(icon.availableSizes().value(0));
  };
  const Ref<desk::Picture> sun = list->Find(u"sun"), board = list->Find(u"board");
  QImage a = pixmapOf("by key").toImage().convertToFormat(QImage::Format_ARGB32);
  QImage b = pixmapOf("by index").toImage().convertToFormat(QImage::Format_ARGB32);
  ASSERT_EQ(a.size(), QSize(sun->width, sun->height));
  ASSERT_EQ(b.size(), QSize(board->width, board->height));
  EXPECT_EQ(a.pixel(sun->width / 2, sun->height / 2), sun->pixels[static_cast<size_t>(sun->height / 2 * sun->width + sun->width / 2)]);
  EXPECT_EQ(b.pixel(1, 1), board->pixels[static_cast<size_t>(board->width + 1)]);
  EXPECT_FALSE(DecorationOf(ItemOf("none")).isValid());

  // A picture added to the list after the fact shows without any call to the tree.
  add("cloud.gif", u"missing");
  EXPECT_TRUE(DecorationOf(ItemOf("none")).isValid());
  // Styles without pictures show none.
  Call(control_, u"Style", InvokeKind::Let, {Variant::Long(6)});
  EXPECT_FALSE(DecorationOf(ItemOf("by key")).isValid());
}

// The list has one image size, the first picture's: a 96x64 picture in a list of 32x32 is
// drawn at 32x32, and every row has one height.
TEST_F(QtSurfaceTest, EveryPictureIsDrawnAtTheListsSize) {
  auto list = desk::RefCast<desk::ImageList>(platform_->CreateImageList());
  ASSERT_TRUE(list);
  auto add = [&](const char* file, const char16_t* key) {
    list->Images().Add(Variant::Missing(), Variant::String(key), Variant::Object(platform_->LoadPicture(Path(kPictures, file))));
  };
  add("board.bmp", u"board");  // 32x32: the list's size
  add("leaf.jpg", u"leaf");    // 96x64
  add("cloud.gif", u"cloud");  // 64x64
  Call(control_, u"ImageList", InvokeKind::Set, {Variant::Object(list)});
  const char16_t* keys[] = {u"board", u"leaf", u"cloud"};
  const char* texts[] = {"board row", "leaf row", "cloud row"};
  for (int i = 0; i < 3; ++i) {
    Add(u"", keys[i], QString(texts[i]).toStdU16String());
    NodeOf(keys[i])->SetImage(Variant::String(keys[i]));
  }
  QApplication::processEvents();
  std::set<int> heights;
  for (const char* t : texts) {
    SCOPED_TRACE(t);
    const QIcon icon = qvariant_cast<QIcon>(DecorationOf(ItemOf(t)));
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.availableSizes().value(0), QSize(32, 32));
    heights.insert(Widget()->visualRect(ItemOf(t)).height());
  }
  EXPECT_EQ(heights.size(), 1u) << "rows of different heights";
  EXPECT_EQ(list->Images().Item(Variant::String(u"leaf"))->Original()->width, 96) << "the picture added stays whole";
}

// The view lays out uniform rows: a row without a picture is as tall as one with, and both
// hold the picture (the first row, which sets the height for all, has none here).
TEST_F(QtSurfaceTest, RowsWithAndWithoutPicturesHaveOneHeightThatHoldsThePicture) {
  auto list = desk::RefCast<desk::ImageList>(platform_->CreateImageList());
  ASSERT_TRUE(list);
  list->Images().Add(Variant::Missing(), Variant::String(u"board"),
                     Variant::Object(platform_->LoadPicture(Path(kPictures, "board.bmp"))));
  Call(control_, u"ImageList", InvokeKind::Set, {Variant::Object(list)});
  Add(u"", u"plain", u"plain");
  Add(u"", u"pic", u"picture");
  NodeOf(u"pic")->SetImage(Variant::String(u"board"));
  QApplication::processEvents();
  const int side = std::min(list->Find(u"board")->height, 64);
  const QRect plain = Widget()->visualRect(ItemOf("plain"));
  const QRect pic = Widget()->visualRect(ItemOf("picture"));
  EXPECT_EQ(plain.height(), pic.height());
  EXPECT_GE(pic.height(), side);
  EXPECT_EQ(pic.top(), plain.bottom() + 1);
}

// `image` as a picture loaded from PNG bytes.
Ref<desk::Picture> PictureOf(const QImage& image) {
  QBuffer png;
  png.open(QIODevice::WriteOnly);
  QImageWriter(&png, "png").write(image);
  return desk::OpenPicture(std::vector<uint8_t>(png.data().begin(), png.data().end()));
}

// A list larger than the icon box keeps its pictures' shape in it: 200x100 is drawn at 64x32.
TEST_F(QtSurfaceTest, PicturesLargerThanTheIconBoxKeepTheirShape) {
  QImage wide(200, 100, QImage::Format_RGB32);
  wide.fill(Qt::darkRed);
  auto list = desk::RefCast<desk::ImageList>(platform_->CreateImageList());
  ASSERT_TRUE(list);
  list->Images().Add(Variant::Missing(), Variant::String(u"wide"), Variant::Object(PictureOf(wide)));
  Call(control_, u"ImageList", InvokeKind::Set, {Variant::Object(list)});
  Add(u"", u"w", u"wide row");
  NodeOf(u"w")->SetImage(Variant::String(u"wide"));
  QApplication::processEvents();
  const QIcon icon = qvariant_cast<QIcon>(DecorationOf(ItemOf("wide row")));
  ASSERT_FALSE(icon.isNull());
  EXPECT_EQ(icon.availableSizes().value(0), QSize(64, 32));
}

// On a device of twice the density, a picture with the pixels for it is drawn from its own
// bytes decoded at the device's size (or from its own pixels, for one a host made); one
// without them, from the list's copy scaled up.
TEST_F(QtSurfaceTest, OnADenserDeviceAPictureIsDrawnFromItsOwnPixelsAtTheDevicesSize) {
  // 64x64 with detail a pixel wide, in a list of 32x32 (the size of its first picture).
  QImage fine(64, 64, QImage::Format_RGB32);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) fine.setPixel(x, y, qRgb(x * 4, y * 4, (x + y) % 2 * 255));
  const Ref<desk::Picture> dense = PictureOf(fine);
  auto list = desk::RefCast<desk::ImageList>(platform_->CreateImageList());
  ASSERT_TRUE(list);
  list->Images().Add(Variant::Missing(), Variant::String(u"board"),
                     Variant::Object(platform_->LoadPicture(Path(kPictures, "board.bmp"))));
  list->Images().Add(Variant::Missing(), Variant::String(u"fine"), Variant::Object(dense));
  const desk::Decoded own = desk::DecodePixels(dense->encoded, 64, 64);
  const Ref<desk::Picture> made = desk::MakeRef<desk::Picture>(64, 64, own.pixels, std::vector<uint8_t>{}, desk::Picture::Kind::Bitmap);
  list->Images().Add(Variant::Missing(), Variant::String(u"made"), Variant::Object(made));
  ASSERT_EQ(list->Images().ImageWidth(), 32);
  Call(control_, u"ImageList", InvokeKind::Set, {Variant::Object(list)});
  Add(u"", u"f", u"fine row");
  Add(u"", u"b", u"board row");
  Add(u"", u"m", u"made row");
  NodeOf(u"f")->SetImage(Variant::String(u"fine"));
  NodeOf(u"b")->SetImage(Variant::String(u"board"));
  NodeOf(u"m")->SetImage(Variant::String(u"made"));
  QApplication::processEvents();

  QImage shot(Viewport()->size() * 2, QImage::Format_RGB32);
  shot.setDevicePixelRatio(2);
  shot.fill(Qt::white);
  Viewport()->render(&shot);
  // Whether `picture` lies in a row's rectangle, in device pixels.
  auto foundIn = [&](const char* row, const QImage& picture) {
    const QRect r = Widget()->visualRect(ItemOf(row));
    return Contains(shot, picture, QRect(r.topLeft() * 2, r.size() * 2));
  };
  auto imageOf = [](const std::vector<uint32_t>& px, int w, int h) {
    return QImage(reinterpret_cast<const uchar*>(px.data()), w, h, w * 4, QImage::Format_ARGB32).convertToFormat(QImage::Format_RGB32);
  };
  EXPECT_TRUE(foundIn("fine row", imageOf(own.pixels, 64, 64))) << "not drawn from its own 64x64 pixels";
  EXPECT_TRUE(foundIn("made row", imageOf(own.pixels, 64, 64))) << "a host's picture not drawn from its own pixels";
  const Ref<desk::Picture> shown = list->Find(u"fine");
  EXPECT_FALSE(foundIn("fine row", imageOf(shown->pixels, 32, 32).scaled(64, 64)))  // which is what it was before
      << "drawn from the list's 32x32 copy";
  const Ref<desk::Picture> board = list->Find(u"board");
  EXPECT_TRUE(foundIn("board row", imageOf(board->pixels, 32, 32).scaled(64, 64))) << "a picture without more pixels";
}

#if defined(DESK_QT_GUI_PRIVATE)
// What a control's wait lets through (bytes on the way, a picture decoding): timers run and the
// window paints, while a user's click stays queued for the next DoEvents, a documented
// dispatch point.
TEST(QtPlatformWait, PaintsAndRunsTimersAndHoldsInputForDoEvents) {
  auto platform = desk::MakeQtPlatform();
  struct Window : QWidget {
    int paints = 0, presses = 0;
    void paintEvent(QPaintEvent*) override { ++paints; }
    void mousePressEvent(QMouseEvent*) override { ++presses; }
  } w;
  w.resize(60, 40);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  QApplication::processEvents();
  int ticks = 0;
  QTimer::singleShot(0, &w, [&] { ++ticks; });
  w.paints = 0;
  w.update();
  const QPointF at(5, 5);
  QWindowSystemInterface::handleMouseEvent<QWindowSystemInterface::AsynchronousDelivery>(
      w.windowHandle(), at, w.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, QEvent::MouseButtonPress);
  platform->ProcessPaintAndTimers(20);
  EXPECT_EQ(ticks, 1);
  EXPECT_GE(w.paints, 1);
  EXPECT_EQ(w.presses, 0) << "a click reached the window inside the wait";
  platform->DoEvents();
  EXPECT_EQ(w.presses, 1);
  QWindowSystemInterface::handleMouseEvent<QWindowSystemInterface::AsynchronousDelivery>(
      w.windowHandle(), at, w.mapToGlobal(at), Qt::NoButton, Qt::LeftButton, QEvent::MouseButtonRelease);
  platform->DoEvents();
}
#endif

}  // namespace
}  // namespace desk_qt_test
