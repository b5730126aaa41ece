// The demo window, run as its own process on the offscreen platform: it writes a screenshot
// that shows the tree's texts and the pictures the web image list fetched, and keeps the
// tree control's settings between runs.
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <cmath>
#include <functional>
#include <map>

#include "desk/picture_loader.h"
#include "qt_fixture.h"

namespace desk_qt_test {
namespace {

#ifdef DESK_DEMO_WINDOW

struct DemoRun {
  int exitCode;
  QString out;
  QString err;
};

DemoRun RunDemo(const QStringList& args, const std::map<QString, QString>& extraEnv = {}) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  for (const auto& [name, value] : extraEnv) env.insert(name, value);
  p.setProcessEnvironment(env);
  p.start(QStringLiteral(DESK_DEMO_WINDOW), args);
  if (!p.waitForFinished(120000)) {
    p.kill();
    p.waitForFinished();
    return {-1, {}, "timed out"};
  }
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAllStandardOutput()),
          QString::fromLocal8Bit(p.readAllStandardError())};
}

// The colour most pixels of a picture have (fully opaque ones), and how many have it.
std::pair<QRgb, int> Dominant(const QImage& image) {
  std::map<QRgb, int> counts;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (qAlpha(image.pixel(x, y)) == 255) ++counts[image.pixel(x, y)];
  std::pair<QRgb, int> best{0, 0};
  for (const auto& [c, n] : counts)
    if (n > best.second) best = {c, n};
  return best;
}

int CountNear(const QImage& shot, QRgb colour, int tolerance) {
  int n = 0;
  for (int y = 0; y < shot.height(); ++y)
    for (int x = 0; x < shot.width(); ++x) {
      const QRgb p = shot.pixel(x, y);
      if (std::abs(qRed(p) - qRed(colour)) <= tolerance && std::abs(qGreen(p) - qGreen(colour)) <= tolerance &&
          std::abs(qBlue(p) - qBlue(colour)) <= tolerance)
        ++n;
    }
  return n;
}

TEST(DemoWindow, ScreenshotShowsTheNodesAndTheirPictures) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString shotPath = dir.filePath("shot.png"), settings = dir.filePath("tree.json");
  DemoRun run = RunDemo({"--screenshot", shotPath, "--settings", settings});
  ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
  EXPECT_TRUE(run.out.contains("screenshot written to " + shotPath)) << run.out.toStdString();
  EXPECT_TRUE(run.out.contains("(5 pictures)")) << run.out.toStdString();

  QImage shot(shotPath);
  ASSERT_FALSE(shot.isNull());
  shot = shot.convertToFormat(QImage::Format_RGB32);
  EXPECT_GE(shot.width(), 200);
  EXPECT_GE(shot.height(), 150);

  // Not blank: many colours.
  std::map<QRgb, int> colours;
  for (int y = 0; y < shot.height(); ++y)
    for (int x = 0; x < shot.width(); ++x) ++colours[shot.pixel(x, y)];
  EXPECT_GT(colours.size(), 60u);

  // Text: the node texts and the status line are drawn in dark pixels.
  EXPECT_GT(CountNear(shot, qRgb(0, 0, 0), 90), 400);

  // Each sample picture's main colour is on screen, over at least half as many pixels as in
  // the picture at the list's size, 32x32 (the first picture's): drawn at that size, or not
  // at all.
  const QDir pictures(QStringLiteral(DESK_SAMPLE_PICTURES));
  const QStringList files = pictures.entryList(QDir::Files);
  ASSERT_EQ(files.size(), 5);
  for (const QString& f : files) {
    SCOPED_TRACE(f.toStdString());
    QImage picture = QImageReader(pictures.filePath(f)).read().convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(picture.isNull());
    const auto [colour, count] = Dominant(picture);
    const int atListSize = static_cast<int>(int64_t{count} * 32 * 32 / (picture.width() * picture.height()));
    const int tolerance = f.endsWith(".jpg") ? 10 : 0;
    EXPECT_GE(CountNear(shot, colour, tolerance), atListSize / 2)
        << "colour " << std::hex << colour << " over " << std::dec << atListSize << " pixels";
  }

  // The settings were written on exit and are read by the next run.
  EXPECT_TRUE(QFileInfo::exists(settings));
  DemoRun again = RunDemo({"--screenshot", dir.filePath("again.png"), "--settings", settings});
  ASSERT_EQ(again.exitCode, 0) << again.err.toStdString();
  EXPECT_TRUE(again.out.contains("settings read from " + settings)) << again.out.toStdString();
}

// Served slowly, the pictures arrive one by one while the window is on screen, and the status
// line counts them.
TEST(DemoWindow, StatusLineCountsThePicturesAsTheyArrive) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  DemoRun run = RunDemo({"--slow", "--screenshot", dir.filePath("shot.png"), "--settings", dir.filePath("tree.json")});
  ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
  const qsizetype none = run.out.indexOf("status: 0 of 5 pictures"), all = run.out.indexOf("status: 5 of 5 pictures");
  ASSERT_GE(none, 0) << run.out.toStdString();
  ASSERT_GT(all, none) << run.out.toStdString();
  int between = 0;
  for (int n = 1; n < 5; ++n) between += run.out.indexOf(QStringLiteral("status: %1 of 5 pictures").arg(n)) > none;
  EXPECT_GE(between, 1) << "no picture was counted before the last: " << run.out.toStdString();
}

// At twice the density (QT_SCALE_FACTOR=2) the screenshot has twice the pixels, and each
// picture with the pixels for it is in it at the device's size, 64x64, pixel for pixel as
// its own bytes decode at that size.
TEST(DemoWindow, AtTwiceTheDensityPicturesShowAllTheirPixels) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  DemoRun run = RunDemo({"--screenshot", dir.filePath("shot.png"), "--settings", dir.filePath("tree.json")},
                        {{"QT_SCALE_FACTOR", "2"}});
  ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
  const QImage shot = QImage(dir.filePath("shot.png")).convertToFormat(QImage::Format_RGB32);
  ASSERT_GE(shot.width(), 1000);  // 600 wide at 1x
  const QDir pictures(QStringLiteral(DESK_SAMPLE_PICTURES));
  int dense = 0;
  for (const QString& f : pictures.entryList(QDir::Files)) {
    QFile file(pictures.filePath(f));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const desk::Decoded own = desk::DecodePixels(std::vector<uint8_t>(bytes.begin(), bytes.end()), 64, 64);
    if (own.width < 64 || own.height < 64) continue;  // the first, which sets the list's 32x32
    ++dense;
    SCOPED_TRACE(f.toStdString());
    const QImage at64(reinterpret_cast<const uchar*>(own.pixels.data()), 64, 64, 64 * 4, QImage::Format_ARGB32);
    EXPECT_TRUE(Contains(shot, at64));
  }
  EXPECT_EQ(dense, 4);
}

// The darkness of each column of a picture, summed over its rows.
std::vector<double> InkByColumn(const QImage& image) {
  std::vector<double> ink(static_cast<size_t>(image.width()), 0.0);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) ink[static_cast<size_t>(x)] += 255 - qGray(image.pixel(x, y));
  return ink;
}

double Correlation(const std::vector<double>& a, const std::vector<double>& b) {
  const double n = static_cast<double>(a.size());
  double ma = 0, mb = 0;
  for (size_t i = 0; i < a.size(); ++i) ma += a[i] / n, mb += b[i] / n;
  double cov = 0, va = 0, vb = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    cov += (a[i] - ma) * (b[i] - mb);
    va += (a[i] - ma) * (a[i] - ma);
    vb += (b[i] - mb) * (b[i] - mb);
  }
  return va > 0 && vb > 0 ? cov / std::sqrt(va * vb) : 0;
}

// Laid out right to left (Qt's -reverse), the window is its left-to-right twin mirrored:
// column by column, the ink of one correlates with the other's flipped.
TEST(DemoWindow, RightToLeftIsTheLeftToRightWindowMirrored) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QImage shots[2];
  for (int reverse = 0; reverse < 2; ++reverse) {
    QStringList args{"--screenshot", dir.filePath(QString("shot%1.png").arg(reverse)), "--settings",
                     dir.filePath(QString("tree%1.json").arg(reverse))};
    if (reverse) args.prepend("-reverse");
    DemoRun run = RunDemo(args);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    shots[reverse] = QImage(dir.filePath(QString("shot%1.png").arg(reverse)));
    ASSERT_FALSE(shots[reverse].isNull());
  }
  ASSERT_EQ(shots[0].size(), shots[1].size());
  const double r = Correlation(InkByColumn(shots[0]), InkByColumn(shots[1].mirrored(true, false)));
  ::testing::Test::RecordProperty("ink_correlation", QString::number(r, 'f', 3).toStdString());
  std::printf("column ink, left to right against right to left flipped: correlation %.3f\n", r);
  EXPECT_GE(r, 0.9);
}

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

void WriteAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes);
}

// A settings file the demo cannot use is never lost: a file that does not load is moved aside
// and said so, anything else at the path is left alone, and the demo runs in every case.
TEST(DemoWindow, SettingsItCannotUseAreKept) {
  struct Row {
    const char* name;
    std::function<void(const QDir&)> prepare;
    const char* settings;  // relative to the folder
    const char* said;      // in the output
    const char* keptAs;    // relative; empty when nothing is moved aside
    QByteArray original;   // the moved file's bytes
    std::function<void(const QDir&)> untouched;  // what must be as it was
  };
  const Row rows[] = {
      {"damaged file", [](const QDir& d) { WriteAll(d.filePath("tree.json"), "{ \"format\": "); }, "tree.json",
       "the file was kept as", "tree.json.bad", "{ \"format\": ", nullptr},
      {"empty file", [](const QDir& d) { WriteAll(d.filePath("tree.json"), ""); }, "tree.json", "the file was kept as",
       "tree.json.bad", "", nullptr},
      {"an earlier kept file is not replaced",
       [](const QDir& d) {
         WriteAll(d.filePath("tree.json"), "garbage");
         WriteAll(d.filePath("tree.json.bad"), "older garbage");
       },
       "tree.json", "the file was kept as", "tree.json.bad.2", "garbage",
       [](const QDir& d) { EXPECT_EQ(ReadAll(d.filePath("tree.json.bad")), "older garbage"); }},
      {"a folder at the path", [](const QDir& d) { d.mkpath("tree.json/inside"); }, "tree.json", "is not a file", "", "",
       [](const QDir& d) {
         EXPECT_TRUE(QFileInfo(d.filePath("tree.json/inside")).isDir());
         EXPECT_FALSE(QFileInfo::exists(d.filePath("tree.json.bad")));
       }},
      {"a folder that cannot be made", [](const QDir& d) { WriteAll(d.filePath("plain"), "a file, not a folder"); },
       "plain/tree.json", "settings not written: cannot create the folder", "", "",
       [](const QDir& d) { EXPECT_EQ(ReadAll(d.filePath("plain")), "a file, not a folder"); }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QDir dir(tmp.path());
    r.prepare(dir);
    const QString settings = dir.filePath(r.settings);
    DemoRun run = RunDemo({"--screenshot", dir.filePath("shot.png"), "--settings", settings});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(r.said)) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("screenshot written")) << run.out.toStdString();
    if (r.untouched) r.untouched(dir);
    if (*r.keptAs) {
      EXPECT_EQ(ReadAll(dir.filePath(r.keptAs)), r.original);
      EXPECT_TRUE(run.out.contains(dir.filePath(r.keptAs))) << run.out.toStdString();
      // The new file is whole: the next run reads it.
      DemoRun again = RunDemo({"--screenshot", dir.filePath("again.png"), "--settings", settings});
      EXPECT_TRUE(again.out.contains("settings read from " + settings)) << again.out.toStdString();
    }
  }
}

#else

TEST(DemoWindow, NotBuilt) { GTEST_SKIP() << "the demo window is built with the examples only"; }

#endif

}  // namespace
}  // namespace desk_qt_test
