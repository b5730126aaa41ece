#include "desk/imagelist.h"

#include <algorithm>
#include <atomic>

#include "desk/collection.h"
#include "pictures/pixel_cache.h"

namespace desk {

namespace {

// A key the list refuses: only digits, which a caller's Item(key) would read as a position.
bool RefusedKey(std::u16string_view key) {
  return !key.empty() && std::all_of(key.begin(), key.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

}  // namespace

const DispatchTable<ListImage>& ListImage::Table() {
  using K = InvokeKind;
  using T = VarType;
  static const DispatchTable<ListImage> t(
      "IImage", "{F1B9D267-4D8B-4AD5-9472-4EC8B4CDC355}",
      {
          {{"Index", 1, K::Get, {}, T::Integer},
           [](ListImage& e, Args&) { return Variant::Integer(RoundToInteger(e.Index())); }},
          {{"Key", 2, K::Get, {}, T::String}, [](ListImage& e, Args&) { return Variant::String(e.key_); }},
          {{"Picture", 3, K::Get, {}, T::Object},
           [](ListImage& e, Args&) { return Variant::Object(e.picture_); }},
      });
  return t;
}

namespace {
uint64_t NextSerial() {
  static std::atomic<uint64_t> next{1};
  return next++;
}
}  // namespace

ListImage::ListImage(std::u16string key, Ref<Picture> picture, int32_t width, int32_t height)
    : key_(std::move(key)), picture_(std::move(picture)), width_(width), height_(height), serial_(NextSerial()) {}

ListImage::~ListImage() {
  if (detail::PixelCache* cache = detail::PixelCache::OfThisThread()) cache->Forget(serial_);
}

Ref<Picture> ListImage::PixelsAt(int32_t width, int32_t height, KeepMade keep) const {
  if (width <= 0 || height <= 0 || int64_t{width} * height > kMaxPicturePixels) Raise(Err::InvalidPropertyValue);
  const Picture& p = *picture_;
  if (p.HoldsPixels() && p.width == width && p.height == height) return picture_;
  if (kept_ && kept_->width == width && kept_->height == height) return kept_;
  detail::PixelCache* cache = detail::PixelCache::OfThisThread();
  if (cache)
    if (Ref<Picture> hit = cache->Find(serial_, width, height)) return hit;
  // From what is held already when that is cheap (the pixels of a small picture, the
  // preview, a copy at another size); else decoded from the bytes at this size.
  Ref<Picture> from = p.HoldsPixels() ? picture_ : nullptr;
  if (!from && cache) from = cache->FindLarger(serial_, width, height);
  if (from && int64_t{from->width} * from->height > kHeldPixels * 4) from = nullptr;
  if (!from && kept_) from = kept_;
  Ref<Picture> made = (from ? *from : p).ScaledTo(width, height);
  if (cache && keep == KeepMade::Yes) cache->Put(serial_, made);
  return made;
}

const DispatchTable<ListImages>& ListImages::Table() {
  using K = InvokeKind;
  using T = VarType;
  static const DispatchTable<ListImages> t(
      "IImages", "{37FF81CE-E1F4-45DC-9FC4-B82485D607DA}",
      {
          {{"Item", kDispIdValue, K::Get, {{"Index", T::Any}}, T::Object},
           [](ListImages& l, Args& a) { return Variant::Object(l.Item(a[0].Value())); }},
          {{"Count", 1, K::Get, {}, T::Integer},
           [](ListImages& l, Args&) { return Variant::Integer(RoundToInteger(l.Count())); }},
          {{"Add",
            2,
            K::Method,
            {{"Index", T::Any, false, true}, {"Key", T::Any, false, true}, {"Picture", T::Any, false, false, "Picture"}},
            T::Object},
           [](ListImages& l, Args& a) {
             return Variant::Object(l.Add(a[0].Value(), a[1].Value(), a[2].Value()));
           }},
          {{"Clear", 3, K::Method, {}},
           [](ListImages& l, Args&) {
             l.Clear();
             return Variant();
           }},
          {{"Remove", 4, K::Method, {{"Index", T::Any}}},
           [](ListImages& l, Args& a) {
             l.Remove(a[0].Value());
             return Variant();
           }},
          {{"_NewEnum", kDispIdNewEnum, K::Get, {}, T::Object, nullptr, true},
           [](ListImages& l, Args&) {
             // An enumeration walks the pictures as they were when it started.
             Ref<Collection> snapshot = MakeRef<Collection>();
             for (const auto& e : l.items_) snapshot->Add(Variant::Object(e));
             return Variant::Object(snapshot->NewEnum());
           }},
      });
  return t;
}

ListImages::ListImages() = default;

ListImages::~ListImages() {
  for (auto& e : items_) e->index_ = 0;
}

void ListImages::Reindex(size_t from) {
  for (size_t i = from; i < items_.size(); ++i) items_[i]->index_ = static_cast<int32_t>(i + 1);
}

size_t ListImages::PositionOf(const Variant& index) const {
  const Variant& v = index.Deref();
  if (v.Type() == VarType::String) {
    auto it = keys_.find(v.RawString());
    if (it == keys_.end()) Raise(Err::ElementNotFound);
    return static_cast<size_t>(it->second->index_ - 1);
  }
  // Empty would read as 0; objects and a missing index fail to read as a number below (13).
  if (v.Type() == VarType::Empty) Raise(Err::TypeMismatch);
  const int32_t pos = v.ToLong();
  if (pos < 1 || pos > Count()) Raise(Err::IndexOutOfBounds);
  return static_cast<size_t>(pos - 1);
}

Ref<ListImage> ListImages::Add(const Variant& index, const Variant& key, const Variant& picture) {
  // Everything is checked before the list changes: a failed Add leaves it as it was.
  Ref<Object> obj = picture.ToObject();
  if (!obj) Raise(Err::ObjectNotSet);
  Ref<Picture> pic = RefCast<Picture>(obj);
  if (!pic) Raise(Err::TypeMismatch);
  if (pic->Empty()) Raise(Err::InvalidPicture);
  std::u16string k;
  if (!key.IsMissing() && !key.IsEmpty()) k = key.ToString();
  if (RefusedKey(k)) Raise(Err::InvalidKey);
  if (!k.empty() && keys_.count(k)) Raise(Err::KeyNotUnique);
  size_t pos = items_.size();
  if (!index.IsMissing() && !index.IsEmpty()) {
    const int32_t i = index.ToLong();
    if (i < 1 || i > Count() + 1) Raise(Err::IndexOutOfBounds);
    pos = static_cast<size_t>(i - 1);
  }
  // The first picture sets the list's size; every picture is shown at it.
  const bool first = items_.empty();
  const int32_t w = first ? pic->width : imageWidth_, h = first ? pic->height : imageHeight_;
  Ref<ListImage> e = MakeRef<ListImage>(std::move(k), pic, w, h);
  if (!pic->HoldsPixels() && pic->encoded.empty()) {
    // Nothing to decode again: the copy at the list's size is made now (481 when it cannot
    // be) and kept.
    e->kept_ = pic->ScaledTo(w, h);
  } else if (!pic->preview.empty()) {
    // The preview made while the bytes were checked moves to the cache: small sizes start
    // from it.
    if (detail::PixelCache* cache = detail::PixelCache::OfThisThread())
      cache->Put(e->serial_, MakeRef<Picture>(pic->previewWidth, pic->previewHeight, std::move(pic->preview),
                                              std::vector<uint8_t>{}, pic->kind));
  }
  pic->DropPreview();
  const auto at = items_.insert(items_.begin() + static_cast<ptrdiff_t>(pos), e);
  if (!e->key_.empty()) {
    try {
      keys_.emplace(e->key_, e.get());
    } catch (...) {
      items_.erase(at);  // memory ran out: no entry without its key
      throw;
    }
  }
  imageWidth_ = w, imageHeight_ = h;
  Reindex(pos);
  return e;
}

Ref<ListImage> ListImages::Item(const Variant& index) const { return items_[PositionOf(index)]; }

void ListImages::Remove(const Variant& index) {
  const size_t pos = PositionOf(index);
  Ref<ListImage> gone = items_[pos];
  items_.erase(items_.begin() + static_cast<ptrdiff_t>(pos));
  if (!gone->key_.empty()) keys_.erase(gone->key_);
  gone->index_ = 0;
  Reindex(pos);
  if (items_.empty()) imageWidth_ = imageHeight_ = 0;  // the next first picture sets the size again
}

void ListImages::Clear() {
  std::vector<Ref<ListImage>> old = std::move(items_);  // leaves items_ empty
  keys_.clear();
  imageWidth_ = imageHeight_ = 0;
  for (auto& e : old) e->index_ = 0;
}

Ref<Picture> ListImages::Find(std::u16string_view key) const {
  auto it = keys_.find(std::u16string(key));
  return it == keys_.end() ? nullptr : it->second->Image();
}

Ref<ListImage> ListImages::FindEntry(std::u16string_view key) const {
  auto it = keys_.find(std::u16string(key));
  return it == keys_.end() ? nullptr : Ref<ListImage>(it->second);
}

const DispatchTable<ImageList>& ImageList::Table() {
  static const DispatchTable<ImageList> t(
      "IImageList", "{7E1C9022-2C3A-44E0-9AAE-219FED830852}",
      {
          {{"ListImages", 1, InvokeKind::Get, {}, VarType::Object},
           [](ImageList& l, Args&) { return Variant::Object(l.images_); }},
      });
  return t;
}

ImageList::ImageList() : images_(MakeRef<ListImages>()) {}

Ref<Object> MakeImageList() { return MakeRef<ImageList>(); }

}  // namespace desk
