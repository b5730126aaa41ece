// Pictures at the size they are shown: a list keeps each picture's bytes and one copy at its
// image size, made without holding the full-size pixels; those come back only on demand.
#include <gtest/gtest.h>

#include <cstdlib>

#include "desk/desk_c.h"
#include "desk/imagelist.h"
#include "desk/text.h"
#include "desk/picture_loader.h"
#include "support/encode.h"

namespace {

using desk::Ref;

std::span<const uint8_t> Bytes(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

// The largest difference of any channel between two pixel buffers of one size.
int WorstChannel(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  EXPECT_EQ(a.size(), b.size());
  int worst = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
    for (int shift : {0, 8, 16, 24})
      worst = std::max(worst, std::abs(static_cast<int>((a[i] >> shift) & 0xFF) - static_cast<int>((b[i] >> shift) & 0xFF)));
  return worst;
}

struct Large {
  const char* name;
  std::string bytes;
  int tolerance;  // JPEG's reduced DCT scale is not an exact average
};

std::vector<Large> LargePictures() {
  const auto rgb = testenv::PatternRgb(800, 600, 7);
  return {{"jpeg", testenv::EncodeJpeg(rgb, 800, 600), 8}, {"png", testenv::EncodePng(rgb, 800, 600), 1}};
}

TEST(ListSize, DecodeAtListSizeMatchesAFullDecodeScaledDown) {
  for (const Large& l : LargePictures()) {
    SCOPED_TRACE(l.name);
    Ref<desk::Picture> full = desk::DecodePicture(Bytes(l.bytes));
    ASSERT_TRUE(full->HoldsPixels());
    for (auto [w, h] : {std::pair{64, 48}, std::pair{100, 30}, std::pair{300, 225}}) {
      SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
      const desk::Decoded small = desk::DecodePixels(Bytes(l.bytes), w, h);
      EXPECT_EQ(small.width, 800);
      ASSERT_EQ(small.outWidth, w);
      ASSERT_EQ(small.outHeight, h);
      EXPECT_LE(WorstChannel(small.pixels, full->ScaledTo(w, h)->pixels), l.tolerance);
    }
  }
}

TEST(ListSize, FullSizePixelsComeOnDemandAndAreNotKept) {
  for (const Large& l : LargePictures()) {
    SCOPED_TRACE(l.name);
    Ref<desk::Picture> p = desk::OpenPicture(std::vector<uint8_t>(l.bytes.begin(), l.bytes.end()));
    EXPECT_EQ(p->width, 800);
    EXPECT_EQ(p->height, 600);
    EXPECT_FALSE(p->HoldsPixels());
    EXPECT_TRUE(p->pixels.empty());
    EXPECT_LE(p->previewWidth, desk::kPreviewSide);
    const std::vector<uint32_t> px = p->Pixels();
    EXPECT_EQ(px, desk::DecodePicture(Bytes(l.bytes))->pixels);
    EXPECT_TRUE(p->pixels.empty()) << "the full-size pixels stayed with the picture";

    // Into a list of 64x48: one copy at that size; the preview goes, the bytes stay.
    auto list = desk::MakeRef<desk::ImageList>();
    const auto first = testenv::EncodePng(testenv::PatternRgb(64, 48, 1), 64, 48);
    list->Images().Add(desk::Variant::Missing(), desk::Variant::String(u"first"),
                       desk::Variant::Object(desk::OpenPicture(std::vector<uint8_t>(first.begin(), first.end()))));
    list->Images().Add(desk::Variant::Missing(), desk::Variant::String(u"big"), desk::Variant::Object(p));
    Ref<desk::Picture> shown = list->Find(u"big");
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->width, 64);
    EXPECT_EQ(shown->height, 48);
    EXPECT_TRUE(shown->HoldsPixels());
    EXPECT_TRUE(p->preview.empty());
    EXPECT_EQ(p->previewWidth, 0);
    EXPECT_EQ(p->previewHeight, 0);
    EXPECT_EQ(p->encoded.size(), l.bytes.size());
    EXPECT_LE(WorstChannel(shown->pixels, desk::DecodePicture(Bytes(l.bytes))->ScaledTo(64, 48)->pixels), l.tolerance);
    // The host's Picture member is the picture it added, at full size.
    auto entry = desk::CallByName(list->ImagesRef(), u"Item", desk::InvokeKind::Get, {desk::Variant::String(u"big")}).ToObject();
    auto member = desk::CallByName(entry, u"Picture", desk::InvokeKind::Get).ToObject();
    EXPECT_EQ(member.get(), p.get());
  }
}

// Every picture of a list is shown at its one size, that of the first one, whatever their
// own sizes; emptied, the list takes the size of the next first picture.
TEST(ListSize, EveryPictureIsShownAtTheFirstPicturesSize) {
  auto list = desk::MakeRef<desk::ImageList>();
  auto add = [&](const std::u16string& key, int w, int h) {
    const auto png = testenv::EncodePng(testenv::PatternRgb(w, h, 3, 0), w, h);
    list->Images().Add(desk::Variant::Missing(), desk::Variant::String(key),
                       desk::Variant::Object(desk::OpenPicture(std::vector<uint8_t>(png.begin(), png.end()))));
  };
  add(u"a", 64, 48);
  add(u"wide", 48, 32);
  add(u"tall", 10, 300);
  add(u"large", 700, 500);
  EXPECT_EQ(list->Images().ImageWidth(), 64);
  EXPECT_EQ(list->Images().ImageHeight(), 48);
  for (const char16_t* k : {u"a", u"wide", u"tall", u"large"}) {
    Ref<desk::Picture> p = list->Find(k);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->width, 64);
    EXPECT_EQ(p->height, 48);
    EXPECT_EQ(p->pixels.size(), 64u * 48u);
  }
  // Emptied either way, the list has no size until its next first picture.
  list->Images().Clear();
  EXPECT_EQ(list->Images().ImageWidth(), 0);
  EXPECT_EQ(list->Images().ImageHeight(), 0);
  add(u"b", 16, 16);
  EXPECT_EQ(list->Images().ImageWidth(), 16);
  list->Images().Remove(desk::Variant::Long(1));
  EXPECT_EQ(list->Images().ImageWidth(), 0);
  EXPECT_EQ(list->Images().ImageHeight(), 0);
  add(u"c", 20, 10);
  EXPECT_EQ(list->Images().ImageHeight(), 10);
}

// Photos into a list sized by the first of them, no smaller picture first: the list keeps
// their bytes, and drawing all 200 at two sizes (the list's own, and a small one) keeps the
// decoded pixels within the cache's bound, set through the C interface. Pixels that fell out
// come back when drawn again; a size larger than the bound is made and not kept.
TEST(ListSize, DrawnPhotosStayWithinTheCacheBound) {
  const size_t before = desk::PictureCacheBytes();
  constexpr size_t kBound = 3 * 1024 * 1024;
  desk_error err{};
  ASSERT_EQ(desk_get_api(DESK_C_VERSION, &err)->set_picture_cache_bytes(kBound, &err), 0);
  EXPECT_EQ(desk::PictureCacheBytes(), kBound);
  std::vector<std::string> photos;
  for (unsigned i = 0; i < 8; ++i) photos.push_back(testenv::EncodeJpeg(testenv::PatternRgb(640, 480, i + 1), 640, 480));
  auto list = desk::MakeRef<desk::ImageList>();
  for (int i = 0; i < 200; ++i) {
    const std::string& b = photos[static_cast<size_t>(i) % photos.size()];
    list->Images().Add(desk::Variant::Missing(), desk::Variant::String(u"p" + desk::DecimalText(i)),
                       desk::Variant::Object(desk::OpenPicture(std::vector<uint8_t>(b.begin(), b.end()))));
  }
  EXPECT_EQ(list->Images().ImageWidth(), 640);
  EXPECT_LE(desk::PictureCacheUsedBytes(), kBound);
  const std::vector<uint32_t> firstIcon = list->Images().At(0)->PixelsAt(64, 48)->pixels;
  size_t most = 0;
  for (int i = 0; i < 200; ++i) {
    const desk::Ref<desk::ListImage>& e = list->Images().At(static_cast<size_t>(i));
    const Ref<desk::Picture> icon = e->PixelsAt(64, 48), shown = e->Image();
    ASSERT_EQ(icon->pixels.size(), 64u * 48u);
    ASSERT_EQ(shown->pixels.size(), 640u * 480u);
    most = std::max(most, desk::PictureCacheUsedBytes());
  }
  EXPECT_LE(most, kBound);
  EXPECT_GT(most, kBound / 2) << "the cache kept next to nothing";
  // The first icon fell out long ago: decoded again from the bytes, it is the same picture.
  const std::string& b0 = photos[0];
  EXPECT_LE(WorstChannel(list->Images().At(0)->PixelsAt(64, 48)->pixels, firstIcon), 8);
  EXPECT_LE(WorstChannel(list->Images().At(0)->Image()->pixels, desk::DecodePixels(Bytes(b0)).pixels), 0);
  // Lowered below one picture: it goes at once, and a picture of that size is made but not kept.
  ASSERT_EQ(desk_set_picture_cache_bytes(100 * 1024, &err), 0);
  EXPECT_LE(desk::PictureCacheUsedBytes(), 100u * 1024);
  EXPECT_EQ(list->Images().At(1)->Image()->pixels.size(), 640u * 480u);
  EXPECT_LE(desk::PictureCacheUsedBytes(), 100u * 1024);
  list.reset();
  EXPECT_EQ(desk::PictureCacheUsedBytes(), 0u) << "a list that went left its pixels behind";
  desk::SetPictureCacheBytes(before);
}

}  // namespace
