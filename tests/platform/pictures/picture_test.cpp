// The picture loader on real files of each format, and the image list that holds pictures.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>

#include "desk/error.h"
#include "desk/imagelist.h"
#include "desk/picture_loader.h"
#include "desk/text.h"
#include "pictures/decoders.h"
#include "support/bmp.h"
#include "support/damaged_pictures.h"
#include "support/encode.h"
#include "support/failing_new.h"
#include "support/gif.h"
#include "support/web_test.h"

namespace {

using desk::Err;

std::u16string Data(const std::string& name) { return desk::U16(std::string(DESK_TEST_DATA) + "/" + name); }

std::span<const uint8_t> Bytes(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

int ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const desk::Error& e) {
    return e.Number();
  }
  return 0;
}

long MaxRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

struct FormatRow {
  const char* name;
  const char* file;
  desk::Picture::Kind kind;
  int tolerance;  // JPEG is lossy
};

class PictureFormats : public ::testing::TestWithParam<FormatRow> {};

// The 4x3 samples: first row red, green, blue, white; second row starts black, yellow.
TEST_P(PictureFormats, DecodesPixelsAndKeepsTheEncodedBytes) {
  const FormatRow& row = GetParam();
  desk::Ref<desk::Picture> p = desk::LoadPictureFile(Data(row.file));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->width, 4);
  EXPECT_EQ(p->height, 3);
  EXPECT_EQ(p->kind, row.kind);
  ASSERT_EQ(p->pixels.size(), 12u);
  auto near = [&](uint32_t got, uint32_t want) {
    for (int shift : {0, 8, 16, 24}) {
      int g = static_cast<int>((got >> shift) & 0xFF), w = static_cast<int>((want >> shift) & 0xFF);
      if (std::abs(g - w) > row.tolerance) return false;
    }
    return true;
  };
  EXPECT_PRED2(near, p->pixels[0], 0xFFFF0000u);
  EXPECT_PRED2(near, p->pixels[1], 0xFF00FF00u);
  EXPECT_PRED2(near, p->pixels[2], 0xFF0000FFu);
  EXPECT_PRED2(near, p->pixels[3], 0xFFFFFFFFu);
  EXPECT_PRED2(near, p->pixels[5], 0xFFFFFF00u);
  const std::string original = testenv::DataFile(row.file);
  EXPECT_EQ(std::string(p->encoded.begin(), p->encoded.end()), original);
}

INSTANTIATE_TEST_SUITE_P(EachFormat, PictureFormats,
                         ::testing::Values(FormatRow{"png", "px.png", desk::Picture::Kind::Bitmap, 0},
                                           FormatRow{"gif", "px.gif", desk::Picture::Kind::Bitmap, 0},
                                           FormatRow{"jpeg", "px.jpg", desk::Picture::Kind::Bitmap, 60},
                                           FormatRow{"bmp", "px.bmp", desk::Picture::Kind::Bitmap, 0},
                                           FormatRow{"ico", "px.ico", desk::Picture::Kind::Icon, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PictureLoader, IconWithPngImageDecodesWithAlpha) {
  desk::Ref<desk::Picture> p = desk::LoadPictureFile(Data("pngentry.ico"));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->kind, desk::Picture::Kind::Icon);
  ASSERT_EQ(p->width, 2);
  EXPECT_EQ(p->pixels[0], 0xFFFF0000u);
  EXPECT_EQ(p->pixels[1], 0x8000FF00u);
  EXPECT_EQ(p->pixels[3] >> 24, 0u);
}

// The icon's one entry is a PNG that ends exactly at the end of the file; an entry that
// claims bytes past the end is skipped, not read.
TEST(PictureLoader, IconEntriesReachingPastTheFileAreSkipped) {
  const std::string ico = testenv::DataFile("pngentry.ico");
  ASSERT_EQ(ico.size(), 100u);
  auto withEntry = [&](uint32_t size, uint32_t offset) {
    std::vector<uint8_t> b(ico.begin(), ico.end());
    for (int i = 0; i < 4; ++i) {
      b[14 + i] = static_cast<uint8_t>(size >> (8 * i));
      b[18 + i] = static_cast<uint8_t>(offset >> (8 * i));
    }
    return b;
  };
  EXPECT_EQ(desk::DecodePicture(withEntry(78, 22))->width, 2) << "as it is";
  struct Row {
    const char* what;
    uint32_t size, offset;
  } rows[] = {{"one byte too long", 79, 22},
              {"starting one byte late", 78, 23},
              {"starting at the end", 0, 100},
              {"starting past the end", 78, 0xFFFFFF00u},
              {"longer than any file", 0xFFFFFFFFu, 22}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(ErrorOf([&] { desk::DecodePicture(withEntry(r.size, r.offset)); }), 481);
  }
  // Only the entries the directory counts are looked at, and of those the largest is taken.
  const std::string small = ico.substr(22), large = testenv::DataFile("px.png");  // 2x2, 4x3
  auto icon = [&](uint8_t count) {
    std::vector<uint8_t> b{0, 0, 1, 0, count, 0};
    auto entry = [&](uint8_t w, uint8_t h, size_t size, size_t offset) {
      for (uint8_t v : {w, h, uint8_t{0}, uint8_t{0}, uint8_t{1}, uint8_t{0}, uint8_t{32}, uint8_t{0}}) b.push_back(v);
      for (size_t v : {size, offset})
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    entry(2, 2, small.size(), 38);
    entry(4, 3, large.size(), 38 + small.size());
    b.insert(b.end(), small.begin(), small.end());
    b.insert(b.end(), large.begin(), large.end());
    return b;
  };
  EXPECT_EQ(desk::DecodePicture(icon(1))->width, 2);
  EXPECT_EQ(desk::DecodePicture(icon(2))->width, 4);
}

TEST(PictureLoader, FailuresCarryThePlatformNumbers) {
  const auto dir = std::filesystem::temp_directory_path() / ("pic-fail-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  testenv::WriteFile(dir / "text.png", "this is not a picture at all");
  std::string truncated = testenv::DataFile("px.png").substr(0, 60);
  testenv::WriteFile(dir / "cut.png", truncated);
  testenv::WriteFile(dir / "svg.png", "<svg xmlns='http://www.w3.org/2000/svg' width='4' height='4'/>");
  testenv::WriteFile(dir / "empty.gif", "");
  auto path = [&](const char* n) { return desk::U16((dir / n).string()); };

  EXPECT_EQ(ErrorOf([&] { desk::LoadPictureFile(path("missing.png")); }), 53);
  EXPECT_EQ(ErrorOf([&] { desk::LoadPictureFile(u""); }), 53) << "no path";
  testenv::WriteFile(dir / "px.png", testenv::DataFile("px.png"));
  EXPECT_EQ(ErrorOf([&] { desk::LoadPictureFile(path("px.png") + std::u16string(1, u'\0') + u"x"); }), 53)
      << "a NUL would name the picture before it";
  EXPECT_EQ(ErrorOf([&] { desk::LoadPictureFile(path("text.png")); }), 481);
  EXPECT_EQ(ErrorOf([&] { desk::LoadPictureFile(path("cut.png")); }), 481);
  EXPECT_EQ(ErrorOf([&] { desk::LoadPictureFile(path("svg.png")); }), 481) << "only the five formats are decoded";
  EXPECT_EQ(ErrorOf([&] { desk::LoadPictureFile(path("empty.gif")); }), 481);
  EXPECT_EQ(ErrorOf([&] { desk::LoadPictureFile(desk::U16(dir.string())); }), 75) << "a folder";
  EXPECT_EQ(ErrorOf([&] { desk::LoadPictureFile(path("text.png/x.png")); }), 53) << "a file for a folder";
  EXPECT_EQ(ErrorOf([&] { desk::LoadPictureFile(desk::U16((dir / std::string(300, 'n')).string())); }), 75)
      << "a name too long";
  std::filesystem::create_symlink("loop.png", dir / "loop.png");
  EXPECT_EQ(ErrorOf([&] { desk::LoadPictureFile(path("loop.png")); }), 75) << "a link to itself";
  ASSERT_EQ(::mkfifo((dir / "fifo.png").c_str(), 0600), 0);
  EXPECT_EQ(ErrorOf([&] { desk::LoadPictureFile(path("fifo.png")); }), 481) << "a FIFO, without waiting for a writer";
  EXPECT_EQ(ErrorOf([&] { desk::LoadPictureFile(u"/proc/self/mem"); }), 75) << "a regular file whose read fails";
  std::filesystem::remove_all(dir);
}

// Every format, cut short or with a header that promises more than the bytes hold: 481,
// never a partly drawn picture.
TEST(PictureLoader, RefusesCutAndLyingPicturesOfEveryFormat) {
  const auto dir = std::filesystem::temp_directory_path() / ("pic-cut-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  for (const char* name : {"px.png", "px.gif", "px.jpg", "px.bmp", "px.ico", "pngentry.ico"}) {
    const std::string good = testenv::DataFile(name);
    ASSERT_NO_THROW(desk::DecodePicture(std::span(reinterpret_cast<const uint8_t*>(good.data()), good.size())));
    for (const testenv::Damaged& d : testenv::DamagedForms(good)) {
      SCOPED_TRACE(std::string(name) + ": " + d.what);
      testenv::WriteFile(dir / "damaged", d.bytes);
      EXPECT_EQ(ErrorOf([&] { desk::LoadPictureFile(desk::U16((dir / "damaged").string())); }), 481);
      EXPECT_EQ(ErrorOf([&] { desk::DecodePixels(std::span(reinterpret_cast<const uint8_t*>(d.bytes.data()), d.bytes.size()), 2, 2); }), 481);
    }
  }
  std::filesystem::remove_all(dir);
}

// Each file declares an image far over the pixel limit (30000x30000 or 65000x65000): it must
// fail with 481 without the gigabytes of pixels ever being allocated.
TEST(PictureLoader, RefusesHugeImagesBeforeAllocating) {
  for (const char* name : {"huge.png", "huge.gif", "huge.jpg", "huge.bmp"}) {
    SCOPED_TRACE(name);
    const long before = MaxRssKb();
    EXPECT_EQ(ErrorOf([&] { desk::LoadPictureFile(Data(name)); }), 481);
    EXPECT_LT(MaxRssKb() - before, 64 * 1024) << "peak memory grew by more than 64 MiB";
  }
  // gdk-pixbuf's own limit, without the header checks in front of it: a whole 1-bit bitmap of
  // 8193x8192, one row over the limit (8 MiB of file, 200 MiB as gdk-pixbuf's pixels).
  const int32_t w = 8193, h = 8192;
  const uint32_t rowBytes = (w + 31) / 32 * 4, pixelsAt = 14 + 40 + 8;
  std::string huge(pixelsAt + size_t{rowBytes} * h, '\x55');
  auto put = [&](size_t at, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) huge[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  huge[0] = 'B', huge[1] = 'M';
  put(2, static_cast<uint32_t>(huge.size()), 4), put(6, 0, 4), put(10, pixelsAt, 4);
  put(14, 40, 4), put(18, w, 4), put(22, h, 4), put(26, 1, 2), put(28, 1, 2), put(30, 0, 4), put(34, 0, 4);
  put(38, 2835, 4), put(42, 2835, 4), put(46, 2, 4), put(50, 0, 4), put(54, 0, 4), put(58, 0xFFFFFF, 4);
  const long before = MaxRssKb();
  EXPECT_EQ(ErrorOf([&] { desk::DecodePixels(Bytes(huge)); }), 481);
  EXPECT_EQ(ErrorOf([&] { desk::detail::DecodeWithPixbufOnly("bmp", Bytes(huge)); }), 481);
  EXPECT_LT(MaxRssKb() - before, 64 * 1024) << "peak memory grew by more than 64 MiB";
  // A whole picture one row over the limit is refused whatever size is asked for, though a
  // small size would need neither its pixels nor (for a JPEG) its full scale.
  for (const char* format : {"jpeg", "png"}) {
    SCOPED_TRACE(format);
    const std::string over = testenv::EncodeBlank(format, 8193, 8192);
    EXPECT_EQ(ErrorOf([&] { desk::DecodePixels(Bytes(over), 64, 48); }), 481);
    EXPECT_EQ(desk::DecodePixels(Bytes(testenv::EncodeBlank(format, 8192, 8192)), 64, 48).outWidth, 64);
  }
  // A panorama is within the limit however wide, as long as its area is: past libpng's own
  // default width limit of one million.
  const desk::Decoded wide = desk::DecodePixels(Bytes(testenv::EncodeBlank("png", 1040000, 1)), 16, 1);
  EXPECT_EQ(wide.outWidth, 16);
  EXPECT_EQ(wide.pixels.at(15), 0xFF000000u);
  // A size asked for beyond the limit fails once the decoder has started: every decoder is
  // given back on that way out too, and after a decode that succeeds (counted on the heap
  // over many rounds).
  for (const char* name : {"px.jpg", "px.png", "px.gif", "px.bmp"}) {
    SCOPED_TRACE(name);
    const std::string bytes = testenv::DataFile(name);
    EXPECT_EQ(ErrorOf([&] { desk::DecodePixels(Bytes(bytes), 8193, 8192); }), 481);
    // The same on the way out of a decode that succeeds.
    const size_t heap = mallinfo2().uordblks;
    for (int i = 0; i < 300; ++i) ErrorOf([&] { desk::DecodePixels(Bytes(bytes), 8193, 8192); });
    for (int i = 0; i < 1000; ++i) EXPECT_EQ(desk::DecodePixels(Bytes(bytes), 2, 2).outWidth, 2);
    EXPECT_LT(mallinfo2().uordblks, heap + 1024 * 1024) << "a decoder stayed allocated";
  }
  const std::string small = testenv::DataFile("px.bmp");
  // gdk-pixbuf alone refuses a bitmap cut in half (one cut by a byte it draws in part, which is
  // why the header checks stand in front of it).
  EXPECT_EQ(ErrorOf([&] { desk::detail::DecodeWithPixbufOnly("bmp", Bytes(small.substr(0, small.size() / 2))); }), 481);
  const desk::Decoded d = desk::detail::DecodeWithPixbufOnly("bmp", Bytes(small));
  EXPECT_EQ(d.width, 4);
  EXPECT_EQ(d.height, 3);
  EXPECT_EQ(d.pixels.at(1), 0xFF00FF00u);
}

// --- pixels exactly as the format says ----------------------------------------------------

struct GifRow {
  const char* what;
  std::string bytes;
  int width, height;              // of the picture
  std::vector<uint32_t> pixels;   // row by row; none: refused with 481
};

// The encoder insists on a colour table: the frame's own one is cut out of the file.
std::string NoColourTable() {
  std::string gif = testenv::EncodeGif(2, 1, {}, {testenv::Frame(0, 0, 2, 1, {0, 0}, {0xFF0000, 0x00FF00})});
  const size_t descriptor = 6 + 7;  // after the signature and the screen (no table)
  EXPECT_EQ(gif[descriptor], ',');
  EXPECT_EQ(static_cast<uint8_t>(gif[descriptor + 9]) & 0x87, 0x80) << "a table of two colours";
  gif[descriptor + 9] = 0;
  gif.erase(descriptor + 10, 2 * 3);
  return gif;
}

// A frame whose LZW codes reach index 2 while its table, cut from four colours to two, ends
// at index 1: the encoder itself would mask such an index away.
std::string IndexPastTheTable() {
  std::string gif = testenv::EncodeGif(2, 1, {}, {testenv::Frame(0, 0, 2, 1, {0, 2}, {0xFF0000, 0x00FF00, 0x0000FF})});
  const size_t descriptor = 6 + 7;
  EXPECT_EQ(gif[descriptor], ',');
  EXPECT_EQ(static_cast<uint8_t>(gif[descriptor + 9]) & 0x87, 0x81) << "a table of four colours";
  gif[descriptor + 9] = static_cast<char>(0x80);
  gif.erase(descriptor + 10 + 2 * 3, 2 * 3);
  return gif;
}

std::vector<GifRow> GifRows() {
  const std::vector<uint32_t> rgbw = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
  // Nine rows reach every pass of an interlaced image (rows 0 and 8, 4, 2 and 6, the odd ones).
  std::vector<uint32_t> shades, nineRows;
  testenv::GifFrame interlaced = testenv::Frame(0, 0, 2, 9, {}, {}, true);
  for (int y = 0; y < 9; ++y) {
    shades.push_back(0x1C0000u * static_cast<uint32_t>(y) + 0x0000F0u - 0x10u * static_cast<uint32_t>(y));
    interlaced.indexes.insert(interlaced.indexes.end(), 2, static_cast<uint8_t>(y));
    nineRows.insert(nineRows.end(), 2, 0xFF000000u | shades.back());
  }
  constexpr uint32_t R = 0xFFFF0000u, G = 0xFF00FF00u, B = 0xFF0000FFu, W = 0xFFFFFFFFu;
  return {
      {"nine interlaced rows", testenv::EncodeGif(2, 9, shades, {interlaced}), 2, 9, nineRows},
      {"the same rows not interlaced", testenv::EncodeGif(2, 9, shades, {testenv::Frame(0, 0, 2, 9, interlaced.indexes)}), 2, 9,
       nineRows},
      {"a frame inside its screen, clear around it",
       testenv::EncodeGif(4, 3, rgbw, {testenv::Frame(1, 1, 2, 2, {0, 1, 2, 3})}), 4, 3, {0, 0, 0, 0, 0, R, G, 0, 0, B, W, 0}},
      {"the transparent index leaves its pixels clear",
       testenv::EncodeGif(3, 1, rgbw, {testenv::Frame(0, 0, 3, 1, {1, 2, 1}, {}, false, 1)}), 3, 1, {0, B, 0}},
      {"a frame's own colours before the screen's",
       testenv::EncodeGif(2, 1, rgbw, {testenv::Frame(0, 0, 2, 1, {1, 0}, {0x123456, 0x654321})}), 2, 1, {0xFF654321u, 0xFF123456u}},
      {"a frame past its screen widens the picture", testenv::EncodeGif(2, 1, rgbw, {testenv::Frame(1, 1, 2, 1, {2, 3})}), 3, 2,
       {0, 0, 0, 0, B, W}},
      {"only the first frame of an animation is drawn",
       testenv::EncodeGif(2, 1, rgbw, {testenv::Frame(0, 0, 2, 1, {0, 1}), testenv::Frame(0, 0, 2, 1, {3, 3}, {}, false, 0)}), 2, 1, {R, G}},
      {"no colour table anywhere", NoColourTable(), 0, 0, {}},
      {"an index one past the colour table", IndexPastTheTable(), 0, 0, {}},
      {"a frame of no rows", testenv::EncodeGif(2, 1, rgbw, {testenv::Frame(0, 0, 2, 0, {})}), 0, 0, {}},
      {"a frame of no columns", testenv::EncodeGif(2, 1, rgbw, {testenv::Frame(0, 0, 0, 1, {})}), 0, 0, {}},
  };
}

TEST(PictureLoader, GifFramesLandWhereTheirHeadersSay) {
  for (const GifRow& r : GifRows()) {
    SCOPED_TRACE(r.what);
    if (r.pixels.empty()) {
      EXPECT_EQ(ErrorOf([&] { desk::DecodePixels(Bytes(r.bytes)); }), 481);
      continue;
    }
    const desk::Decoded d = desk::DecodePixels(Bytes(r.bytes));
    EXPECT_EQ(d.width, r.width);
    EXPECT_EQ(d.height, r.height);
    EXPECT_EQ(d.pixels, r.pixels);
  }
}

std::vector<uint8_t> Png(const std::vector<uint8_t>& rgba, int w, int h) {
  const std::string s = testenv::EncodePng(rgba, w, h, true);
  return {s.begin(), s.end()};
}

struct ScaleRow {
  const char* what;
  std::vector<uint8_t> bytes;
  int32_t width, height;  // asked for
  std::vector<uint32_t> pixels;
};

// Each target pixel is the area average of what it covers, the colours weighted by alpha.
TEST(PictureLoader, ASizeAskedForIsTheAreaAverage) {
  const ScaleRow rows[] = {
      {"2x2 blocks into a pixel each",
       desk_test::MakeBmp(4, 2, [](int32_t x, int32_t y) { return uint32_t((x * 40 + y * 80) << 16 | (y * 100) << 8 | x * 30); }),
       2, 1, {0xFF3C320Fu, 0xFF8C324Bu}},
      {"three pixels into two: the middle one shared",
       desk_test::MakeBmp(3, 1, [](int32_t x, int32_t) { return uint32_t(x * 90) << 16; }), 2, 1,
       {0xFF1E0000u, 0xFF960000u}},
      {"one pixel grown to 3x2", desk_test::MakeBmp(1, 1, [](int32_t, int32_t) { return 0x336699u; }), 3, 2,
       std::vector<uint32_t>(6, 0xFF336699u)},
      {"each pixel doubled across",
       desk_test::MakeBmp(2, 1, [](int32_t x, int32_t) { return x ? 0x405060u : 0x102030u; }), 4, 1,
       {0xFF102030u, 0xFF102030u, 0xFF405060u, 0xFF405060u}},
      {"a clear pixel lends no colour", Png({0, 0, 255, 255, 255, 0, 0, 0}, 2, 1), 1, 1, {0x800000FFu}},
      {"clear pixels stay clear", Png({255, 0, 0, 0, 0, 255, 0, 0}, 2, 1), 1, 1, {0u}},
      {"at the picture's own size every pixel as stored, a clear one's colour too",
       Png({10, 20, 30, 128, 40, 50, 60, 255, 70, 80, 90, 0}, 3, 1), 0, 0, {0x800A141Eu, 0xFF28323Cu, 0x0046505Au}},
  };
  for (const ScaleRow& r : rows) {
    SCOPED_TRACE(r.what);
    const desk::Decoded d = desk::DecodePixels(r.bytes, r.width, r.height);
    EXPECT_EQ(d.outWidth * d.outHeight, static_cast<int32_t>(r.pixels.size()));
    EXPECT_EQ(d.pixels, r.pixels);
  }
  // A size of which one side is zero or below is no size.
  const auto one = desk_test::MakeBmp(1, 1, [](int32_t, int32_t) { return 0u; });
  for (const auto& size : {std::pair{0, 3}, std::pair{3, 0}, std::pair{-1, -1}, std::pair{-2, 2}}) {
    SCOPED_TRACE(std::to_string(size.first) + "x" + std::to_string(size.second));
    EXPECT_EQ(ErrorOf([&] { desk::DecodePixels(one, size.first, size.second); }), 5);
  }
}

// Adam7 rows are final only after the last pass; 9x9 reaches all seven passes and a row and
// column past the first 8x8 block. Pixels exactly as stored, and the same average as the
// plain file when a size is asked for.
TEST(PictureLoader, AnInterlacedPngIsItsPlainTwin) {
  const int w = 9, h = 9;
  const std::vector<uint8_t> rgb = testenv::PatternRgb(w, h, 3);
  std::vector<uint32_t> want;
  for (size_t i = 0; i < rgb.size(); i += 3)
    want.push_back(0xFF000000u | uint32_t{rgb[i]} << 16 | uint32_t{rgb[i + 1]} << 8 | rgb[i + 2]);
  const std::string interlaced = testenv::EncodePngInterlaced(rgb, w, h), plain = testenv::EncodePng(rgb, w, h);
  ASSERT_NE(interlaced, plain);
  const desk::Decoded own = desk::DecodePixels(Bytes(interlaced));
  EXPECT_EQ(own.width, w);
  EXPECT_EQ(own.height, h);
  EXPECT_EQ(own.pixels, want);
  EXPECT_EQ(desk::DecodePixels(Bytes(interlaced), 4, 5).pixels, desk::DecodePixels(Bytes(plain), 4, 5).pixels);
  for (const testenv::Damaged& d : testenv::DamagedForms(interlaced)) {
    SCOPED_TRACE(d.what);
    EXPECT_EQ(ErrorOf([&] { desk::DecodePixels(Bytes(d.bytes)); }), 481);
  }
}

// Every colour layout a PNG may have comes out as the same 32-bit pixels: palettes (with
// transparent entries), grey of one to sixteen bits, grey with alpha, and 16-bit channels.
TEST(PictureLoader, EveryPngColourLayoutGivesTheSamePixels) {
  struct Layout {
    const char* what;
    std::string bytes;
    std::vector<uint32_t> pixels;  // two pixels, one row
  };
  auto write = [](int depth, int colour, std::vector<uint8_t> row, std::function<void(png_structp, png_infop)> extra = {}) {
    return testenv::WritePng(2, 1, depth, colour, PNG_INTERLACE_NONE, [&](int) { return row.data(); }, extra);
  };
  auto palette = [](png_structp p, png_infop i) {
    png_color colours[2] = {{255, 0, 0}, {0, 0, 255}};
    png_set_PLTE(p, i, colours, 2);
    png_byte alpha[1] = {0};  // the first entry clear
    png_set_tRNS(p, i, alpha, 1, nullptr);
  };
  const Layout rows[] = {
      {"a palette of 8 bits, one entry clear", write(8, PNG_COLOR_TYPE_PALETTE, {0, 1}, palette), {0x00FF0000u, 0xFF0000FFu}},
      {"a palette of 1 bit", write(1, PNG_COLOR_TYPE_PALETTE, {0x40}, palette), {0x00FF0000u, 0xFF0000FFu}},
      {"grey of 1 bit", write(1, PNG_COLOR_TYPE_GRAY, {0x40}), {0xFF000000u, 0xFFFFFFFFu}},
      {"grey of 2 bits", write(2, PNG_COLOR_TYPE_GRAY, {0x60}), {0xFF555555u, 0xFFAAAAAAu}},
      {"grey of 8 bits with alpha", write(8, PNG_COLOR_TYPE_GRAY_ALPHA, {0x33, 0xFF, 0x66, 0x80}), {0xFF333333u, 0x80666666u}},
      {"grey of 16 bits", write(16, PNG_COLOR_TYPE_GRAY, {0x12, 0x34, 0xAB, 0xCD}), {0xFF121212u, 0xFFABABABu}},
      {"RGB of 16 bits", write(16, PNG_COLOR_TYPE_RGB, {1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0}), {0xFF010203u, 0xFF040506u}},
  };
  for (const Layout& r : rows) {
    SCOPED_TRACE(r.what);
    const desk::Decoded d = desk::DecodePixels(Bytes(r.bytes));
    EXPECT_EQ(d.width, 2);
    EXPECT_EQ(d.height, 1);
    EXPECT_EQ(d.pixels, r.pixels);
  }
}

// A camera-size photo wanted at thumbnail size is decoded a row at a time: nothing the size
// of its pixels is ever allocated, whatever the format.
TEST(PictureLoader, APhotoWantedSmallIsNeverHeldWhole) {
  if (!desktest::FailAllocation::Available()) GTEST_SKIP() << "the sanitizers' allocator stands in front";
  const int w = 1200, h = 900;
  const std::vector<uint8_t> rgb = testenv::PatternRgb(w, h, 7);
  const std::string png = testenv::EncodePng(rgb, w, h), jpeg = testenv::EncodeJpeg(rgb, w, h);
  for (const std::string* file : {&png, &jpeg}) {
    const std::string& bytes = *file;
    SCOPED_TRACE(file == &png ? "png" : "jpeg");
    desktest::LargestAllocation watch;
    const desk::Decoded d = desk::DecodePixels(Bytes(bytes), 64, 48);
    EXPECT_EQ(d.outWidth * d.outHeight, 64 * 48);
    EXPECT_LT(watch.Bytes(), size_t{w} * h) << "a quarter of the pixels' own size, at most";
  }
}

// ScaledTo: held pixels as they are at their own size, else their area average, whichever
// side changes; a picture that keeps only a preview (600x3: 256x1) scales that when it is
// large enough and decodes its bytes again when it is not.
TEST(PictureLoader, ScaledToAveragesWhatThePictureHolds) {
  const auto bmp = desk_test::MakeBmp(4, 2, [](int32_t x, int32_t y) { return uint32_t((x * 40 + y * 80) << 16 | (y * 100) << 8 | x * 30); });
  const desk::Ref<desk::Picture> held = desk::DecodePicture(bmp);
  ASSERT_TRUE(held->HoldsPixels());
  for (const auto& [w, h] : {std::pair{4, 2}, std::pair{4, 1}, std::pair{2, 2}, std::pair{4, 3}, std::pair{8, 2}, std::pair{1, 1}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    const desk::Ref<desk::Picture> s = held->ScaledTo(w, h);
    EXPECT_EQ(s->width, w);
    EXPECT_EQ(s->height, h);
    EXPECT_EQ(s->pixels, desk::DecodePixels(bmp, w, h).pixels);
  }
  EXPECT_EQ(held->ScaledTo(4, 2)->pixels, held->pixels);
  const std::string png = testenv::EncodePng(testenv::PatternRgb(600, 3, 5, 0), 600, 3);
  const desk::Ref<desk::Picture> large = desk::OpenPicture({png.begin(), png.end()});
  ASSERT_EQ(large->previewWidth, 256);
  ASSERT_EQ(large->previewHeight, 1);
  EXPECT_EQ(large->ScaledTo(256, 1)->pixels, large->preview);
  EXPECT_EQ(large->ScaledTo(300, 1)->pixels, desk::DecodePixels(Bytes(png), 300, 1).pixels);
  EXPECT_EQ(large->ScaledTo(100, 2)->pixels, desk::DecodePixels(Bytes(png), 100, 2).pixels);
  EXPECT_EQ(ErrorOf([&] { held->ScaledTo(0, 2); }), 380);
  EXPECT_EQ(ErrorOf([&] { held->ScaledTo(8193, 8192); }), 380);
  EXPECT_EQ(ErrorOf([&] { desk::MakeRef<desk::Picture>()->ScaledTo(2, 2); }), 481);
}

// Rows kept as they come are written in place, rows to average through a row of their own:
// for every format, a size asked for (just under the picture's, so that JPEG decodes at full
// scale) is the average of the picture's own pixels, and a picture with a frame or a cut
// lands the same either way.
TEST(PictureLoader, EveryFormatAveragesTheRowsItDecodesAtItsOwnSize) {
  std::vector<uint8_t> cmyk;
  for (int i = 0; i < 24 * 10; ++i)
    cmyk.insert(cmyk.end(), {static_cast<uint8_t>(i * 7), static_cast<uint8_t>(i * 3), 90, static_cast<uint8_t>(255 - i % 64)});
  const std::vector<uint32_t> rgbw{0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
  const struct {
    const char* what;
    std::string bytes;
  } rows[] = {
      {"JPEG", testenv::EncodeJpeg(testenv::PatternRgb(24, 10, 3), 24, 10, 90)},
      {"JPEG in CMYK", testenv::EncodeJpeg(cmyk, 24, 10, 90, true)},
      {"PNG", testenv::EncodePng(testenv::PatternRgb(24, 10, 4), 24, 10)},
      {"interlaced PNG", testenv::EncodePngInterlaced(testenv::PatternRgb(24, 10, 5), 24, 10)},
      {"GIF with a frame inside its screen, interlaced",
       testenv::EncodeGif(6, 5, rgbw, {testenv::Frame(1, 1, 4, 3, {0, 1, 2, 3, 3, 2, 1, 0, 1, 1, 2, 2}, {}, true)})},
      {"GIF with a frame past its screen", testenv::EncodeGif(3, 2, rgbw, {testenv::Frame(2, 1, 3, 3, {0, 1, 2, 3, 0, 1, 2, 3, 0})})},
      {"BMP", [] {
         const auto b = desk_test::MakeBmp(9, 7, [](int32_t x, int32_t y) { return uint32_t(x * 25) << 16 | uint32_t(y * 30) << 8 | 77u; });
         return std::string(b.begin(), b.end());
       }()},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    const desk::Decoded own = desk::DecodePixels(Bytes(r.bytes));
    ASSERT_EQ(own.pixels.size(), static_cast<size_t>(own.width) * static_cast<size_t>(own.height));
    const desk::Ref<desk::Picture> held = desk::MakeRef<desk::Picture>(own.width, own.height, own.pixels, std::vector<uint8_t>{}, own.kind);
    for (const auto& [w, h] : {std::pair{own.width - 1, own.height - 1}, std::pair{own.width, own.height - 1}}) {
      SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
      EXPECT_EQ(desk::DecodePixels(Bytes(r.bytes), w, h).pixels, held->ScaledTo(w, h)->pixels);
    }
    // The check made while loading keeps the same pixels as a plain decode.
    EXPECT_EQ(desk::OpenPicture({r.bytes.begin(), r.bytes.end()})->pixels, own.pixels);
  }
}

// A picture of up to 256x256 keeps its pixels; a larger one keeps a preview of at most 256 a
// side, of its shape; a JPEG's preview is its coarsest scaled decode when that is not far
// below the fitted size (a full-HD photo: 240x135, not 256x144).
TEST(PictureLoader, OpenKeepsPixelsUpToItsLimitAndAPreviewOfTheShapeBeyond) {
  struct Row {
    bool jpeg;
    int w, h;
    bool held;
    int previewW, previewH;
  };
  for (const Row& r : {Row{false, 256, 256, true, 0, 0}, Row{false, 257, 256, false, 256, 255}, Row{false, 256, 257, false, 255, 256},
                       Row{false, 100, 600, false, 43, 256}, Row{false, 600, 3, false, 256, 1}, Row{true, 256, 200, true, 0, 0},
                       Row{true, 1920, 1080, false, 240, 135}, Row{true, 1200, 900, false, 256, 192}}) {
    SCOPED_TRACE((r.jpeg ? "jpeg " : "png ") + std::to_string(r.w) + "x" + std::to_string(r.h));
    const std::vector<uint8_t> rgb = testenv::PatternRgb(r.w, r.h, 5, 0);
    const std::string bytes = r.jpeg ? testenv::EncodeJpeg(rgb, r.w, r.h) : testenv::EncodePng(rgb, r.w, r.h);
    desk::Ref<desk::Picture> p = desk::OpenPicture({bytes.begin(), bytes.end()});
    EXPECT_EQ(p->width, r.w);
    EXPECT_EQ(p->height, r.h);
    EXPECT_EQ(p->HoldsPixels(), r.held);
    EXPECT_EQ(p->previewWidth, r.previewW);
    EXPECT_EQ(p->previewHeight, r.previewH);
    EXPECT_EQ(p->preview.size(), static_cast<size_t>(r.previewW) * static_cast<size_t>(r.previewH));
  }
}

// JPEG in CMYK as Adobe writes it: the values are already 255 - ink.
TEST(PictureLoader, JpegInCmykBecomesRgb) {
  std::vector<uint8_t> cmyk;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) cmyk.insert(cmyk.end(), {200, 100, 50, static_cast<uint8_t>(x < 8 ? 255 : 128)});
  const desk::Decoded d = desk::DecodePixels(Bytes(testenv::EncodeJpeg(cmyk, 16, 8, 95, true)));
  ASSERT_EQ(d.pixels.size(), 128u);
  auto near = [](uint32_t got, uint32_t want) {
    for (int shift : {0, 8, 16, 24})
      if (std::abs(static_cast<int>((got >> shift) & 0xFF) - static_cast<int>((want >> shift) & 0xFF)) > 3) return false;
    return true;
  };
  EXPECT_PRED2(near, d.pixels[3 * 16 + 2], 0xFFC86432u);
  EXPECT_PRED2(near, d.pixels[5 * 16 + 12], 0xFF643219u);
}

// Warnings about metadata the pixels do not depend on are not refused (every warning about
// the image data is, see RefusesCutAndLyingPicturesOfEveryFormat).
TEST(PictureLoader, JpegMetadataWarningsAreNotRefused) {
  auto patched = [](std::string jpeg, const std::string& marker, size_t offset, char value) {
    const size_t at = jpeg.find(marker);
    EXPECT_NE(at, std::string::npos) << marker;
    if (at != std::string::npos) jpeg[at + offset] = value;
    return jpeg;
  };
  const std::string rgb = testenv::EncodeJpeg(testenv::PatternRgb(16, 8, 2), 16, 8);
  const std::string cmyk = testenv::EncodeJpeg(std::vector<uint8_t>(16 * 8 * 4, 128), 16, 8, 90, true);
  struct Row {
    const char* what;
    std::string bytes;
  } rows[] = {
      {"JFIF major version 2", patched(rgb, std::string("JFIF\0", 5), 5, 2)},
      {"an Adobe colour transform of 3 (taken as YCCK)", patched(cmyk, "Adobe", 11, 3)},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    ASSERT_NE(r.bytes, r.what[0] == 'J' ? rgb : cmyk);
    EXPECT_EQ(desk::DecodePixels(Bytes(r.bytes)).pixels.size(), 128u);
  }
}

// At its own size a JPEG is exactly what libjpeg makes of it with its defaults (smooth chroma
// upsampling, the exact DCT): no shortcut of the reduced sizes leaks into the full one.
// libjpeg's own decode of `jpeg` at `eighths`/8 of its size: its defaults at full size; the
// plain chroma upsampling below it, as the loader averages such a picture again anyway.
std::vector<uint32_t> LibjpegDecode(const std::string& jpeg, unsigned eighths, int* w = nullptr) {
  jpeg_decompress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_decompress(&c);
  jpeg_mem_src(&c, reinterpret_cast<const unsigned char*>(jpeg.data()), static_cast<unsigned long>(jpeg.size()));
  EXPECT_EQ(jpeg_read_header(&c, TRUE), JPEG_HEADER_OK);
  c.out_color_space = JCS_RGB;
  c.scale_num = eighths;
  c.scale_denom = 8;
  c.dct_method = JDCT_ISLOW;
  if (eighths < 8) c.do_fancy_upsampling = FALSE;
  jpeg_start_decompress(&c);
  const auto ow = static_cast<size_t>(c.output_width);
  if (w) *w = static_cast<int>(ow);
  std::vector<uint32_t> want;
  std::vector<uint8_t> line(ow * 3);
  while (c.output_scanline < c.output_height) {
    JSAMPROW row = line.data();
    jpeg_read_scanlines(&c, &row, 1);
    for (size_t x = 0; x < ow; ++x)
      want.push_back(0xFF000000u | uint32_t{line[x * 3]} << 16 | uint32_t{line[x * 3 + 1]} << 8 | line[x * 3 + 2]);
  }
  jpeg_finish_decompress(&c);
  jpeg_destroy_decompress(&c);
  return want;
}

TEST(PictureLoader, AJpegAtItsOwnSizeIsLibjpegsDefaultDecode) {
  const int w = 37, h = 29;  // partial blocks at both edges
  const std::string jpeg = testenv::EncodeJpeg(testenv::PatternRgb(w, h, 9, 40), w, h, 80);
  const desk::Decoded d = desk::DecodePixels(Bytes(jpeg));
  EXPECT_EQ(d.outWidth, w);
  EXPECT_EQ(d.pixels, LibjpegDecode(jpeg, 8));
}

// A smaller size is decoded at the smallest DCT scale that still covers it: at exactly that
// scale's size, the pixels are libjpeg's own at that scale.
TEST(PictureLoader, AJpegAskedSmallerDecodesAtTheSmallestScaleThatCoversIt) {
  const int w = 64, h = 48;
  const std::string jpeg = testenv::EncodeJpeg(testenv::PatternRgb(w, h, 4, 40), w, h, 85);
  for (unsigned eighths = 1; eighths < 8; ++eighths) {
    SCOPED_TRACE(std::to_string(eighths) + "/8");
    int sw = 0;
    const std::vector<uint32_t> want = LibjpegDecode(jpeg, eighths, &sw);
    ASSERT_EQ(sw, w * static_cast<int>(eighths) / 8);
    const int sh = h * static_cast<int>(eighths) / 8;
    const desk::Decoded d = desk::DecodePixels(Bytes(jpeg), sw, sh);
    EXPECT_EQ(d.pixels, want);
    // Stretched, only one side asks for that scale; the other is averaged down from it.
    const desk::Picture atScale(sw, sh, want, {}, desk::Picture::Kind::Bitmap);
    EXPECT_EQ(desk::DecodePixels(Bytes(jpeg), w / 8, sh).pixels, atScale.ScaledTo(w / 8, sh)->pixels) << "tall";
    EXPECT_EQ(desk::DecodePixels(Bytes(jpeg), sw, h / 8).pixels, atScale.ScaledTo(sw, h / 8)->pixels) << "wide";
  }
}

// Bitmaps with the old 12-byte header and with palettes that use every entry their depth allows.
TEST(PictureLoader, BitmapsWithCoreHeadersAndFullPalettes) {
  const auto colour = [](int32_t x, int32_t y) { return 0x103050u * static_cast<uint32_t>(x + 1) + 0x070000u * static_cast<uint32_t>(y); };
  const std::vector<uint8_t> info = desk_test::MakeBmp(3, 2, colour);
  std::vector<uint8_t> core(info.begin(), info.begin() + 14);
  const uint8_t header[] = {12, 0, 0, 0, 3, 0, 2, 0, 1, 0, 24, 0};
  core.insert(core.end(), std::begin(header), std::end(header));
  core.insert(core.end(), info.begin() + 54, info.end());
  core[2] = static_cast<uint8_t>(core.size()), core[10] = 14 + 12;
  EXPECT_EQ(desk::DecodePicture(core)->pixels, desk::DecodePicture(info)->pixels);
  // A core header's palette has three bytes an entry: 2x2 at one bit, entries 0 and 1 in turn.
  const std::vector<uint8_t> corePalette = {'B', 'M', 40, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0, 0,  // file header
                                            12, 0, 0, 0, 2, 0, 2, 0, 1, 0, 1, 0,            // core header
                                            0x40, 0, 0, 0, 0x80, 0xFF,                      // palette
                                            0x40, 0, 0, 0, 0x40, 0, 0, 0};                  // rows
  EXPECT_EQ(desk::DecodePicture(corePalette)->pixels,
            (std::vector<uint32_t>{0xFF000040u, 0xFFFF8000u, 0xFF000040u, 0xFFFF8000u}));

  // 2x2 at `bpp` bits, the header naming `colours`, every palette entry present; the pixels
  // use the first and the last entry.
  auto paletted = [](uint16_t bpp, uint32_t colours) {
    std::vector<uint8_t> b;
    auto u16 = [&](uint32_t v) { b.push_back(v & 0xFF), b.push_back((v >> 8) & 0xFF); };
    auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
    const uint32_t entries = colours ? colours : 1u << bpp, pixelsAt = 14 + 40 + entries * 4, pixelBytes = 2 * 4;
    b.push_back('B'), b.push_back('M');
    u32(pixelsAt + pixelBytes), u32(0), u32(pixelsAt);
    u32(40), u32(2), u32(2), u16(1), u16(bpp), u32(0), u32(pixelBytes), u32(2835), u32(2835), u32(colours), u32(0);
    for (uint32_t i = 0; i < entries; ++i) u32(i + 1 == entries ? 0x00FF8000u : 0x00000040u + i);
    const uint8_t last = static_cast<uint8_t>(entries - 1);
    const uint8_t firstThenLast = static_cast<uint8_t>(bpp == 8 ? 0 : last << (8 - bpp) >> bpp);
    for (int row = 0; row < 2; ++row) {
      if (bpp == 8) b.push_back(0), b.push_back(last);
      else b.push_back(firstThenLast), b.push_back(0);
      b.push_back(0), b.push_back(0);
    }
    return b;
  };
  for (auto [bpp, colours] : {std::pair<uint16_t, uint32_t>{1, 2}, {4, 16}, {8, 256}, {1, 0}, {4, 0}}) {
    SCOPED_TRACE(std::to_string(bpp) + " bits, " + std::to_string(colours) + " colours");
    desk::Ref<desk::Picture> p;
    ASSERT_NO_THROW(p = desk::DecodePicture(paletted(bpp, colours)));
    EXPECT_EQ(p->pixels, (std::vector<uint32_t>{0xFF000040u, 0xFFFF8000u, 0xFF000040u, 0xFFFF8000u}));
  }
}

// A picture file whose name is not ASCII.
TEST(PictureLoader, LoadsFromAPathBeyondAscii) {
  const auto dir = std::filesystem::temp_directory_path() / ("pic-\xC3\xA4-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  // The first character past ASCII (U+0080) and the last one in it (U+007F), alone in a path
  // that is ASCII up to them.
  const auto ascii = std::filesystem::temp_directory_path() / ("pic-ascii-" + std::to_string(::getpid()));
  std::filesystem::create_directories(ascii);
  for (const auto& path : {dir / "gr\xC3\xBC\xC3\x9F-\xE2\x82\xAC.png", ascii / "\xC2\x80.png", ascii / "\x7F.png"}) {
    SCOPED_TRACE(path.string());
    testenv::WriteFile(path, testenv::DataFile("px.png"));
    desk::Ref<desk::Picture> p = desk::LoadPictureFile(desk::U16(path.string()));
    EXPECT_EQ(p->width, 4);
  }
  std::filesystem::remove_all(ascii);
  std::filesystem::remove_all(dir);
}

// Icons of bitmaps: the mask clears pixels, and of the largest entries the last is taken
// (icon writers put the richest last); a bitmap with the old 12-byte header is refused.
TEST(PictureLoader, BitmapIconsTakeTheirMaskAndTheLastOfTheLargestEntries) {
  // A 2x2 bitmap at 24 bits, rows bottom up, each pixel `shade` in every channel but the
  // top right one, which the mask clears.
  auto dib = [](uint8_t shade, bool core = false) {
    std::vector<uint8_t> d;
    auto u16 = [&](uint32_t v) { d.push_back(v & 0xFF), d.push_back((v >> 8) & 0xFF); };
    auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
    if (core) {
      u32(12), u16(2), u16(4), u16(1), u16(24);
    } else {
      u32(40), u32(2), u32(4), u16(1), u16(24), u32(0), u32(0), u32(0), u32(0), u32(0), u32(0);
    }
    for (int row = 0; row < 2; ++row)
      for (int i = 0; i < 8; ++i) d.push_back(i < 6 ? static_cast<uint8_t>(shade + row) : 0);
    u32(0), u32(0x40);  // the mask, bottom row first
    return d;
  };
  auto icon = [](const std::vector<std::pair<uint8_t, std::vector<uint8_t>>>& entries) {
    std::vector<uint8_t> b{0, 0, 1, 0, static_cast<uint8_t>(entries.size()), 0};
    size_t at = 6 + 16 * entries.size();
    for (const auto& [side, d] : entries) {
      for (uint8_t v : {side, side, uint8_t{0}, uint8_t{0}, uint8_t{1}, uint8_t{0}, uint8_t{24}, uint8_t{0}}) b.push_back(v);
      for (size_t v : {d.size(), at})
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
      at += d.size();
    }
    for (const auto& e : entries) b.insert(b.end(), e.second.begin(), e.second.end());
    return b;
  };
  auto grey = [](uint8_t v) { return 0xFF000000u | 0x010101u * v; };
  desk::Ref<desk::Picture> one = desk::DecodePicture(icon({{2, dib(0x40)}}));
  EXPECT_EQ(one->kind, desk::Picture::Kind::Icon);
  ASSERT_EQ(one->pixels.size(), 4u);
  EXPECT_EQ(one->pixels[0], grey(0x41));
  EXPECT_EQ(one->pixels[1] >> 24, 0u) << "cleared by the mask";
  EXPECT_EQ(one->pixels[2], grey(0x40));
  EXPECT_EQ(one->pixels[3], grey(0x40));
  desk::Ref<desk::Picture> last = desk::DecodePicture(icon({{2, dib(0x10)}, {2, dib(0x80)}, {1, dib(0x20)}}));
  EXPECT_EQ(last->pixels[0], grey(0x81));
  EXPECT_EQ(ErrorOf([&] { desk::DecodePicture(icon({{2, dib(0x40, true)}})); }), 481);
}

// --- the image list ---------------------------------------------------------------------

desk::Ref<desk::Picture> Pic(int w = 1) {
  return desk::MakeRef<desk::Picture>(w, 1, std::vector<uint32_t>(static_cast<size_t>(w), 0xFF000000u),
                                      std::vector<uint8_t>{}, desk::Picture::Kind::Bitmap);
}

TEST(ImageList, AddFindAndPositionsThroughDispatch) {
  desk::Ref<desk::Object> list = desk::MakeImageList();
  desk::Ref<desk::Object> images = desk::CallByName(list, u"ListImages", desk::InvokeKind::Get).ToObject();
  auto add = [&](desk::Variant index, desk::Variant key, desk::Ref<desk::Picture> p) {
    return desk::CallByName(images, u"Add", desk::InvokeKind::Method, {index, key, desk::Variant::Object(p)});
  };
  auto a = Pic(1), b = Pic(2), c = Pic(3);
  add(desk::Variant::Missing(), desk::Variant::String(u"a"), a);
  add(desk::Variant::Missing(), desk::Variant::String(u"c"), c);
  add(desk::Variant::Long(2), desk::Variant::String(u"b"), b);  // inserted between
  EXPECT_EQ(desk::CallByName(images, u"Count", desk::InvokeKind::Get), desk::Variant::Integer(3));

  auto& typed = *desk::RefCast<desk::ImageList>(list);
  // a (1x1) came first: the list shows every picture at 1x1, b through a copy of that size.
  ASSERT_TRUE(typed.Find(u"b"));
  EXPECT_EQ(typed.Find(u"b")->width, 1);
  EXPECT_EQ(typed.Find(u"a"), a) << "a picture already at the list's size is shown as it is";
  EXPECT_EQ(typed.Find(u"B"), nullptr) << "keys compare exactly";
  EXPECT_EQ(typed.Images().At(1)->Original(), b);
  EXPECT_EQ(typed.Images().At(1)->Image(), typed.Find(u"b"));
  EXPECT_EQ(typed.Images().At(2)->Index(), 3);

  auto item = desk::CallByName(images, u"Item", desk::InvokeKind::Get, {desk::Variant::String(u"c")}).ToObject();
  EXPECT_EQ(desk::CallByName(item, u"Index", desk::InvokeKind::Get), desk::Variant::Integer(3));

  auto first = desk::CallByName(images, u"Item", desk::InvokeKind::Get, {desk::Variant::Long(1)}).ToObject();
  desk::CallByName(images, u"Remove", desk::InvokeKind::Method, {desk::Variant::Long(1)});
  EXPECT_EQ(typed.Find(u"a"), nullptr);
  EXPECT_EQ(desk::CallByName(first, u"Index", desk::InvokeKind::Get), desk::Variant::Integer(0)) << "held, but removed";
  EXPECT_EQ(desk::CallByName(item, u"Index", desk::InvokeKind::Get), desk::Variant::Integer(2));
  // The removed key is free again and names only the new entry.
  auto again = Pic(4);
  add(desk::Variant::Missing(), desk::Variant::String(u"a"), again);
  EXPECT_EQ(typed.Images().At(2)->Original(), again);
  EXPECT_EQ(typed.Find(u"a"), typed.Images().At(2)->Image());
  auto front = Pic(5);
  add(desk::Variant::Long(1), desk::Variant::String(u"front"), front);  // before the first
  EXPECT_EQ(typed.Images().At(0)->Original(), front);
  auto back = Pic(6);
  add(desk::Variant::Long(typed.Images().Count() + 1), desk::Variant::String(u"back"), back);  // just past the last
  EXPECT_EQ(typed.Images().At(static_cast<size_t>(typed.Images().Count()) - 1)->Original(), back);
  desk::CallByName(images, u"Clear", desk::InvokeKind::Method);
  EXPECT_EQ(typed.Images().Count(), 0);
  EXPECT_EQ(typed.Find(u"c"), nullptr);
  EXPECT_EQ(desk::CallByName(item, u"Index", desk::InvokeKind::Get), desk::Variant::Integer(0)) << "held, but cleared";
}

TEST(ImageList, RefusalsLeaveTheListUnchanged) {
  desk::Ref<desk::ImageList> list = desk::MakeRef<desk::ImageList>();
  desk::ListImages& images = list->Images();
  images.Add(desk::Variant::Missing(), desk::Variant::String(u"key"), desk::Variant::Object(Pic()));
  struct Row {
    const char* what;
    desk::Variant index, key, picture;
    int number;
  } rows[] = {
      {"key already present", desk::Variant::Missing(), desk::Variant::String(u"key"), desk::Variant::Object(Pic()),
       35602},
      {"key of digits only", desk::Variant::Missing(), desk::Variant::String(u"42"), desk::Variant::Object(Pic()),
       35603},
      {"key 0", desk::Variant::Missing(), desk::Variant::String(u"0"), desk::Variant::Object(Pic()), 35603},
      {"key 9", desk::Variant::Missing(), desk::Variant::String(u"9"), desk::Variant::Object(Pic()), 35603},
      {"key of every digit", desk::Variant::Missing(), desk::Variant::String(u"0123456789"),
       desk::Variant::Object(Pic()), 35603},
      {"position past the end", desk::Variant::Long(3), desk::Variant::String(u"x"), desk::Variant::Object(Pic()),
       35600},
      {"empty picture", desk::Variant::Missing(), desk::Variant::String(u"y"),
       desk::Variant::Object(desk::MakeRef<desk::Picture>()), 481},
      {"not a picture", desk::Variant::Missing(), desk::Variant::String(u"z"),
       desk::Variant::Object(desk::MakeRef<desk::Font>()), 13},
      {"no object", desk::Variant::Missing(), desk::Variant::String(u"w"), desk::Variant::Nothing(), 91},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(ErrorOf([&] { images.Add(r.index, r.key, r.picture); }), r.number);
    EXPECT_EQ(images.Count(), 1);
  }
  // Memory running out in an Add leaves no entry and no key behind; the key is free after.
  if (desktest::FailAllocation::Available()) {
    const desk::Variant key = desk::Variant::String(u"a key long enough to need memory of its own");
    desk::Variant picture;
    desktest::EachAllocationFailing(
        [&] {
          if (images.Count() == 2) images.Remove(key);
          picture = desk::Variant::Object(Pic());
        },
        [&] { images.Add(desk::Variant::Missing(), key, picture); },
        [&](bool failed) {
          EXPECT_EQ(images.Count(), failed ? 1 : 2);
          EXPECT_EQ(list->Find(key.ToString()) == nullptr, failed);
        });
    EXPECT_EQ(images.Count(), 2);
    EXPECT_EQ(images.Item(key)->Index(), 2);
    images.Remove(key);
  }
  EXPECT_EQ(ErrorOf([&] { images.Item(desk::Variant::String(u"nope")); }), 35601);
  EXPECT_EQ(ErrorOf([&] { images.Remove(desk::Variant::Long(0)); }), 35600);
  EXPECT_EQ(ErrorOf([&] { images.Item(desk::Variant::Long(2)); }), 35600);
  EXPECT_EQ(ErrorOf([&] { images.Item(desk::Variant()); }), 13);
  EXPECT_EQ(ErrorOf([&] { images.Item(desk::Variant::Object(Pic())); }), 13);
  EXPECT_EQ(ErrorOf([&] { images.Remove(desk::Variant::Missing()); }), 13);
  EXPECT_EQ(images.Item(desk::Variant::Long(1))->Key(), u"key");
  // An entry without a key is allowed, and more than one; digits beside a letter are a key.
  images.Add(desk::Variant::Missing(), desk::Variant::String(u""), desk::Variant::Object(Pic()));
  images.Add(desk::Variant::Missing(), desk::Variant::Missing(), desk::Variant::Object(Pic()));
  images.Add(desk::Variant::Missing(), desk::Variant::String(u"0a"), desk::Variant::Object(Pic()));
  images.Add(desk::Variant::Missing(), desk::Variant::String(u"a9"), desk::Variant::Object(Pic()));
  EXPECT_EQ(images.Count(), 5);
}

// The colour count of a bitmap's header must fit its depth: a larger one, or one that reads as
// negative, is a damaged header (one such made the bitmap reader ask for 4 GiB).
TEST(PictureLoader, ABitmapsColourCountMustFitItsDepth) {
  // A 2x2 picture of 8 bits a pixel with a palette of two colours.
  auto eightBit = [](uint32_t colours) {
    std::vector<uint8_t> b;
    auto u16 = [&](uint32_t v) { b.push_back(v & 0xFF), b.push_back((v >> 8) & 0xFF); };
    auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
    const uint32_t pixelsAt = 14 + 40 + 2 * 4, pixelBytes = 2 * 4;
    b.push_back('B'), b.push_back('M');
    u32(pixelsAt + pixelBytes), u32(0), u32(pixelsAt);
    u32(40), u32(2), u32(2), u16(1), u16(8), u32(0), u32(pixelBytes), u32(2835), u32(2835), u32(colours), u32(0);
    u32(0x000000FF), u32(0x0000FF00);  // blue, green
    for (int row = 0; row < 2; ++row) b.push_back(0), b.push_back(1), b.push_back(0), b.push_back(0);
    return b;
  };
  auto twentyFourBit = [](uint32_t colours) {
    std::vector<uint8_t> b = desk_test::MakeBmp(2, 2, [](int32_t, int32_t) { return 0x336699u; });
    for (int i = 0; i < 4; ++i) b[46 + static_cast<size_t>(i)] = static_cast<uint8_t>(colours >> (8 * i));
    return b;
  };
  // The same in an icon: its palette comes before the colour rows and the mask (all clear).
  auto eightBitIcon = [&](uint32_t colours) {
    std::vector<uint8_t> bmp = eightBit(colours);
    std::vector<uint8_t> b{0, 0, 1, 0, 1, 0, 2, 2, 0, 0, 1, 0, 8, 0};
    const size_t dibSize = bmp.size() - 14 + 2 * 4;
    for (size_t v : {dibSize, size_t{22}})
      for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    b.insert(b.end(), bmp.begin() + 14, bmp.end());
    b[22 + 8] = 4;  // the height counts the mask rows too
    b.insert(b.end(), 8, 0);
    return b;
  };
  EXPECT_EQ(desk::DecodePicture(eightBit(2))->width, 2);
  EXPECT_EQ(desk::DecodePicture(twentyFourBit(5))->width, 2) << "a count beside true colour is ignored";
  const desk::Ref<desk::Picture> icon = desk::DecodePicture(eightBitIcon(2));
  EXPECT_EQ(icon->pixels, (std::vector<uint32_t>{0xFF0000FFu, 0xFF00FF00u, 0xFF0000FFu, 0xFF00FF00u}));
  struct Row {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  const Row rows[] = {
      {"257 colours at 8 bits", eightBit(257)},
      {"257 colours at 8 bits in an icon", eightBitIcon(257)},
      {"an icon at 8 bits without its last mask row",
       [&] {
         std::vector<uint8_t> b = eightBitIcon(0);
         b.erase(b.end() - 4, b.end());
         b[14] = static_cast<uint8_t>(b.size() - 22);
         b[15] = static_cast<uint8_t>((b.size() - 22) >> 8);
         return b;
       }()},
      {"a count with the top bit set at 8 bits", eightBit(0xFFFFFFF8u)},
      {"a count with the top bit set at 24 bits", twentyFourBit(0x80000000u)},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(ErrorOf([&] { desk::DecodePicture(r.bytes); }), 481);
  }
}

// A bitmap cut anywhere in its headers (file header, then the 40-byte information header) is
// no picture: every length short of the first pixel is refused before anything is decoded.
// The header checks alone, without gdk-pixbuf's own checks behind them: each bound at the
// byte where it starts to refuse.
struct DibSpec {
  uint32_t infoSize = 40;
  int32_t w = 3, h = 2;
  uint16_t bpp = 24;
  uint32_t compression = 0, sizeImage = 0, colours = 0;
  size_t palette = 0, pixels = 0;  // bytes present
};

std::vector<uint8_t> Dib(const DibSpec& d) {
  std::vector<uint8_t> b;
  auto u16 = [&](uint32_t v) { b.push_back(v & 0xFF), b.push_back((v >> 8) & 0xFF); };
  auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
  if (d.infoSize == 12) {
    u32(12), u16(static_cast<uint32_t>(d.w)), u16(static_cast<uint32_t>(d.h)), u16(1), u16(d.bpp);
  } else {
    u32(d.infoSize), u32(static_cast<uint32_t>(d.w)), u32(static_cast<uint32_t>(d.h)), u16(1), u16(d.bpp);
    u32(d.compression), u32(d.sizeImage), u32(2835), u32(2835), u32(d.colours), u32(0);
    b.resize(std::max<size_t>(b.size(), d.infoSize));
  }
  b.resize(b.size() + d.palette + d.pixels, 0x11);
  return b;
}

std::vector<uint8_t> BmpFile(const DibSpec& d, int64_t pixelsAtShift = 0, int64_t fileSizeShift = 0) {
  const std::vector<uint8_t> dib = Dib(d);
  std::vector<uint8_t> b{'B', 'M'};
  auto u32 = [&](uint64_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  u32(static_cast<uint64_t>(static_cast<int64_t>(14 + dib.size()) + fileSizeShift)), u32(0);
  u32(static_cast<uint64_t>(static_cast<int64_t>(14 + d.infoSize + d.palette) + pixelsAtShift));
  b.insert(b.end(), dib.begin(), dib.end());
  return b;
}

TEST(PictureLoader, TheHeaderChecksHoldWithoutGdkPixbuf) {
  using D = DibSpec;
  struct Row {
    const char* what;
    std::vector<uint8_t> bytes;
    bool whole;
  };
  const std::vector<uint8_t> good = BmpFile(D{.pixels = 24});
  const Row files[] = {
      {"24 bits, every row", good, true},
      {"24 bits, a byte short", BmpFile(D{.pixels = 23}), false},
      {"rows top down", BmpFile(D{.h = -2, .pixels = 24}), true},
      {"no rows", BmpFile(D{.h = 0, .pixels = 24}), false},
      {"no columns", BmpFile(D{.w = 0, .pixels = 24}), false},
      {"the file size one byte past the end", BmpFile(D{.pixels = 24}, 0, 1), false},
      {"pixels starting one byte late", BmpFile(D{.pixels = 24}, 1), false},
      {"pixels starting inside the info header", BmpFile(D{.pixels = 30}, -7), false},
      {"25 bytes", std::vector<uint8_t>(good.begin(), good.begin() + 25), false},
      {"a core header", BmpFile(D{.infoSize = 12, .pixels = 24}), true},
      {"an info header of 39 bytes", BmpFile(D{.infoSize = 39, .pixels = 24}), false},
      {"an info header of 124 bytes", BmpFile(D{.infoSize = 124, .pixels = 24}), true},
      {"1 bit, 2 colours", BmpFile(D{.bpp = 1, .colours = 2, .palette = 8, .pixels = 8}), true},
      {"1 bit, 3 colours", BmpFile(D{.bpp = 1, .colours = 3, .palette = 12, .pixels = 8}), false},
      {"4 bits, 16 colours", BmpFile(D{.bpp = 4, .colours = 16, .palette = 64, .pixels = 8}), true},
      {"4 bits, 17 colours", BmpFile(D{.bpp = 4, .colours = 17, .palette = 68, .pixels = 8}), false},
      {"8 bits, 256 colours", BmpFile(D{.bpp = 8, .colours = 256, .palette = 1024, .pixels = 8}), true},
      {"8 bits, 257 colours", BmpFile(D{.bpp = 8, .colours = 257, .palette = 1028, .pixels = 8}), false},
      {"8 bits, a row short", BmpFile(D{.bpp = 8, .palette = 1024, .pixels = 7}), false},
      {"0 bits", BmpFile(D{.bpp = 0, .pixels = 24}), false},
      {"24 bits, the largest count, ignored", BmpFile(D{.colours = 0x7FFFFFFFu, .pixels = 24}), true},
      {"24 bits, a count with the top bit set", BmpFile(D{.colours = 0x80000000u, .pixels = 24}), false},
      {"RLE8 with its byte count", BmpFile(D{.bpp = 8, .compression = 1, .sizeImage = 10, .palette = 1024, .pixels = 10}), true},
      {"RLE8 one byte short of its count", BmpFile(D{.bpp = 8, .compression = 1, .sizeImage = 11, .palette = 1024, .pixels = 10}), false},
      {"RLE8 without a byte count", BmpFile(D{.bpp = 8, .compression = 1, .palette = 1024, .pixels = 10}), false},
      {"RLE4 with its byte count", BmpFile(D{.bpp = 4, .compression = 2, .sizeImage = 6, .palette = 64, .pixels = 6}), true},
      {"bit fields", BmpFile(D{.bpp = 32, .compression = 3, .pixels = 24}), true},
      {"alpha bit fields", BmpFile(D{.bpp = 32, .compression = 6, .pixels = 24}), true},
      {"JPEG inside", BmpFile(D{.compression = 4, .pixels = 24}), false},
      {"PNG inside", BmpFile(D{.compression = 5, .pixels = 24}), false},
      {"one row over the pixel limit", BmpFile(D{.w = 8193, .h = 8192, .bpp = 1, .palette = 8, .pixels = size_t{1028} * 8192}), false},
  };
  for (const Row& r : files) {
    SCOPED_TRACE(std::string("file: ") + r.what);
    EXPECT_EQ(desk::detail::BmpHeadersHold(r.bytes), r.whole);
  }
  // An icon's bitmap: the header's height counts the colour rows and the mask rows.
  const Row icons[] = {
      {"24 bits, rows and mask", Dib(D{.w = 2, .h = 4, .pixels = 16 + 8}), true},
      {"24 bits, a byte short", Dib(D{.w = 2, .h = 4, .pixels = 16 + 7}), false},
      {"8 bits, the whole palette", Dib(D{.w = 2, .h = 4, .bpp = 8, .palette = 1024, .pixels = 16}), true},
      {"8 bits, a byte short", Dib(D{.w = 2, .h = 4, .bpp = 8, .palette = 1024, .pixels = 15}), false},
      {"8 bits, 2 colours", Dib(D{.w = 2, .h = 4, .bpp = 8, .colours = 2, .palette = 8, .pixels = 16}), true},
      {"8 bits, 2 colours, a byte short", Dib(D{.w = 2, .h = 4, .bpp = 8, .colours = 2, .palette = 8, .pixels = 15}), false},
      {"4 bits, the whole palette", Dib(D{.w = 2, .h = 4, .bpp = 4, .palette = 64, .pixels = 16}), true},
      {"4 bits, a byte short", Dib(D{.w = 2, .h = 4, .bpp = 4, .palette = 64, .pixels = 15}), false},
      {"a header alone, for no rows", Dib(D{.w = 1, .h = 1}), true},
      {"39 bytes", [] { auto d = Dib(D{.w = 1, .h = 1}); d.pop_back(); return d; }(), false},
      {"a core header", Dib(D{.infoSize = 12, .w = 2, .h = 4, .pixels = 24}), false},
      {"a core header, with the bytes of an info header", Dib(D{.infoSize = 12, .w = 2, .h = 4, .pixels = 40}), false},
      {"RLE8", Dib(D{.w = 2, .h = 4, .bpp = 8, .compression = 1, .sizeImage = 4, .palette = 1024, .pixels = 16}), false},
  };
  for (const Row& r : icons) {
    SCOPED_TRACE(std::string("icon: ") + r.what);
    EXPECT_EQ(desk::detail::IconBitmapHeadersHold(r.bytes), r.whole);
  }
}

TEST(PictureLoader, ABitmapCutInsideItsHeadersIsRefused) {
  const std::vector<uint8_t> whole = desk_test::MakeBmp(2, 2, [](int32_t x, int32_t y) { return 0x102030u * (x + y + 1); });
  ASSERT_EQ(desk::DecodePicture(whole)->width, 2);
  for (size_t n = 0; n < 54; ++n) {
    SCOPED_TRACE("first " + std::to_string(n) + " bytes");
    const std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_EQ(ErrorOf([&] { desk::DecodePicture(cut); }), 481);
  }
}

}  // namespace
