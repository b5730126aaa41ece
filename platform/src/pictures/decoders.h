// The decoders behind the picture loader, one per format, and where their rows go.
//
// Pictures come from untrusted servers, and every platform decodes them here, so the rules
// are the same everywhere:
//  - the format is chosen by its magic bytes; only the five formats are ever decoded;
//  - strict: data that ends early, a decoder warning about corrupt data, or a header that
//    promises more bytes than the file holds all fail with 481 (no half-grey or half-black
//    pictures);
//  - a picture over kMaxPicturePixels fails with 481 before its pixels are allocated;
//  - decoding streams rows into the requested size: a small copy of a large picture never
//    holds the large one (JPEG uses the decoder's scaled DCT decoding on top).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <tuple>
#include <utility>
#include <vector>

#include "autotest_export.h"
#include "desk/error.h"
#include "desk/picture_loader.h"

namespace desk::detail {

enum class Format { Png, Gif, Jpeg, Bmp, Ico };

// The format by its magic bytes; nullopt for anything else.
std::optional<Format> Sniff(std::span<const uint8_t> b);

[[noreturn]] void Invalid();

inline bool TooLarge(int64_t w, int64_t h) { return w <= 0 || h <= 0 || w * h > kMaxPicturePixels; }

// Where decoded rows go: straight into a buffer at the picture's size, or through an area
// average (premultiplied, so transparent pixels lend no colour) into the requested size.
class Output {
 public:
  // w x h exactly; both 0: the picture's own size; fit: at most w x h, keeping the shape.
  Output(int32_t w, int32_t h, bool fit = false) : wantW_(w), wantH_(h), fit_(fit) {}

  // The size the caller wants for a picture of picW x picH.
  std::pair<int32_t, int32_t> Target(int32_t picW, int32_t picH) const {
    if (wantW_ <= 0) return {picW, picH};
    if (!fit_) return {wantW_, wantH_};
    if (picW <= wantW_ && picH <= wantH_) return {picW, picH};
    const double k = std::min(static_cast<double>(wantW_) / picW, static_cast<double>(wantH_) / picH);
    return {std::max(1, static_cast<int32_t>(picW * k + 0.5)), std::max(1, static_cast<int32_t>(picH * k + 0.5))};
  }

  // Whether rows of rowW x rowH for a picture of picW x picH are kept as they come: a fitted
  // copy (a preview) needs no exact size, so rows a scaled decode gives inside the box, and
  // not far below the fitted size, spare the decoder a finer scale and the averaging.
  bool TakesRows(int32_t picW, int32_t picH, int32_t rowW, int32_t rowH) const {
    if (!fit_ || wantW_ <= 0 || rowW > wantW_ || rowH > wantH_) return false;
    const auto [tw, th] = Target(picW, picH);
    if (tw == picW && th == picH) return false;  // a picture that fits is kept whole, as decoded in full
    return int64_t{rowW} * 4 >= int64_t{tw} * 3 && int64_t{rowH} * 4 >= int64_t{th} * 3;
  }

  // The picture is picW x picH; its rows arrive at rowW x rowH (smaller for scaled JPEG).
  void Start(int32_t picW, int32_t picH, int32_t rowW, int32_t rowH) {
    if (TooLarge(picW, picH)) Invalid();  // rows are never larger than their picture
    picW_ = picW, picH_ = picH, rowW_ = rowW, rowH_ = rowH;
    std::tie(outW_, outH_) = TakesRows(picW, picH, rowW, rowH) ? std::pair{rowW, rowH} : Target(picW, picH);
    if (TooLarge(outW_, outH_)) Invalid();
    direct_ = outW_ == rowW && outH_ == rowH;
    if (direct_) {
      pixels_.resize(static_cast<size_t>(outW_) * static_cast<size_t>(outH_));
      return;
    }
    acc_.assign(static_cast<size_t>(outW_) * static_cast<size_t>(outH_) * 4, 0.0f);
    line_.assign(static_cast<size_t>(outW_) * 4, 0.0f);
    cols_ = Spans(rowW, outW_);
    rowSpans_ = Spans(rowH, outH_);
  }

  // Where a decoder may write the next row: in place when rows are kept as they come, so that
  // Row then copies nothing; else `spare`, which holds a row.
  uint32_t* RowTarget(uint32_t* spare) {
    return direct_ && y_ < rowH_ ? pixels_.data() + static_cast<size_t>(y_) * static_cast<size_t>(outW_) : spare;
  }
  // All of the kept pixels, cleared, for a decoder that writes rows out of order (before Row is
  // called); nullptr when the rows are averaged.
  uint32_t* Whole() { return direct_ && y_ == 0 ? pixels_.data() : nullptr; }

  void Row(const uint32_t* argb) {
    if (y_ >= rowH_) Invalid();
    if (direct_) {
      uint32_t* to = pixels_.data() + static_cast<size_t>(y_) * static_cast<size_t>(outW_);
      if (to != argb) std::memcpy(to, argb, static_cast<size_t>(outW_) * 4);
    } else {
      // Across first, into one row of sums at the target's width, then that row into each
      // target row the source row overlaps: the weights of a pixel are those of its column
      // times those of its row, so the two passes cost far less than every pair of them.
      std::fill(line_.begin(), line_.end(), 0.0f);
      for (int32_t x = 0; x < rowW_; ++x) {
        const uint32_t p = argb[x];
        const float a = static_cast<float>(p >> 24) * (1.0f / 255.0f);
        const float rr = static_cast<float>((p >> 16) & 0xFF) * a, g = static_cast<float>((p >> 8) & 0xFF) * a,
                    b = static_cast<float>(p & 0xFF) * a;
        for (const Span& c : cols_.Of(x)) {
          float* o = &line_[static_cast<size_t>(c.to) * 4];
          o[0] += rr * c.weight, o[1] += g * c.weight, o[2] += b * c.weight, o[3] += a * c.weight;
        }
      }
      const size_t n = line_.size();
      for (const Span& r : rowSpans_.Of(y_)) {
        float* out = &acc_[static_cast<size_t>(r.to) * n];
        const float w = r.weight;
        for (size_t i = 0; i < n; ++i) out[i] += line_[i] * w;
      }
    }
    ++y_;
  }

  bool Complete() const { return picW_ > 0 && y_ == rowH_; }
  int32_t PicW() const { return picW_; }
  int32_t PicH() const { return picH_; }

  Decoded Finish(Picture::Kind kind) {
    if (!Complete()) Invalid();
    Decoded d;
    d.width = picW_, d.height = picH_, d.outWidth = outW_, d.outHeight = outH_, d.kind = kind;
    if (direct_) {
      d.pixels = std::move(pixels_);
      return d;
    }
    d.pixels.resize(static_cast<size_t>(outW_) * static_cast<size_t>(outH_));
    for (size_t i = 0; i < d.pixels.size(); ++i) {
      const float* a = &acc_[i * 4];
      const float alpha = a[3];
      if (alpha <= 0.5f / 255.0f) continue;  // clear, as resize made it
      auto ch = [&](float v) { return static_cast<uint32_t>(std::clamp(v / alpha + 0.5f, 0.0f, 255.0f)); };
      const auto A = static_cast<uint32_t>(std::clamp(alpha * 255.0f + 0.5f, 0.0f, 255.0f));
      d.pixels[i] = (A << 24) | (ch(a[0]) << 16) | (ch(a[1]) << 8) | ch(a[2]);
    }
    return d;  // the sums go with this Output, which every caller drops at once
  }

 private:
  struct Span {
    int32_t to;
    float weight;  // the share of the target pixel this source pixel covers
  };
  // For each of n source pixels, the target pixels (of m) it overlaps and by how much; in one
  // block, since the averaging walks them for every pixel.
  class Spans {
   public:
    Spans() = default;
    Spans(int32_t n, int32_t m) {
      // In units of 1/n of a target pixel, source pixel i spans [i*m, (i+1)*m) and target pixel
      // t spans [t*n, (t+1)*n): whole numbers, so the overlaps are exact and none is empty.
      const int64_t N = n, M = m;
      first_.reserve(static_cast<size_t>(n) + 1);
      for (int64_t i = 0; i < N; ++i) {
        first_.push_back(all_.size());
        const int64_t a = i * M, b = a + M;
        for (int64_t t = a / N; t * N < b; ++t) {
          const int64_t overlap = std::min(b, (t + 1) * N) - std::max(a, t * N);
          all_.push_back({static_cast<int32_t>(t), static_cast<float>(overlap) / static_cast<float>(N)});
        }
      }
      first_.push_back(all_.size());
    }
    std::span<const Span> Of(int32_t i) const {
      const auto k = static_cast<size_t>(i);
      return {all_.data() + first_[k], first_[k + 1] - first_[k]};
    }

   private:
    std::vector<size_t> first_;
    std::vector<Span> all_;
  };

  int32_t wantW_, wantH_;
  bool fit_;
  int32_t picW_ = 0, picH_ = 0, rowW_ = 0, rowH_ = 0, outW_ = 0, outH_ = 0, y_ = 0;
  bool direct_ = false;
  std::vector<uint32_t> pixels_;
  std::vector<float> acc_, line_;
  Spans cols_, rowSpans_;
};

// The picture in `bytes`, its rows into `out`; 481 for anything that is not a whole picture.
Decoded DecodeInto(std::span<const uint8_t> bytes, Output& out);

// The layers of the bitmap and icon decoding, each alone, for the tests (see
// autotest_export.h). Bitmaps and icons are checked twice: against their headers before
// gdk-pixbuf sees them, and by gdk-pixbuf itself (its own checks, and the size limit when the
// loader reports the size it is about to allocate). Each layer hides the loss of the other.
// `type` is gdk-pixbuf's name of the format ("bmp", "ico").
DESK_AUTOTEST_API Decoded DecodeWithPixbufOnly(const char* type, std::span<const uint8_t> bytes);
// Whether a BMP file, or the bitmap of an icon entry (from its info header on), holds
// everything its headers promise, in a layout gdk-pixbuf draws.
DESK_AUTOTEST_API bool BmpHeadersHold(std::span<const uint8_t> file);
DESK_AUTOTEST_API bool IconBitmapHeadersHold(std::span<const uint8_t> dib);

}  // namespace desk::detail
