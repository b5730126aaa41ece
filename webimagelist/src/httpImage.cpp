#include "httpImage.h"

#include "cache_file.h"
#include "mdlError.h"
#include "mdlInternet.h"
#include "desk/error.h"
#include "shared.h"

namespace Quorvane {

namespace {
constexpr std::u16string_view kModule = u"httpImage, Class Module";
using mdlError::Trap;
desk::Variant Done() { return desk::Variant(); }
}  // namespace

const desk::DispatchTable<httpImage>& httpImage::Table() {
  using K = desk::InvokeKind;
  using T = desk::VarType;
  using desk::Args;
  using desk::Variant;
  static const desk::DispatchTable<httpImage> t(
      "_httpImage", kInterfaceId,
      {
          {{"Key", httpImageId::kKey, K::Get, {}, T::String},
           [](httpImage& e, Args&) { return Variant::String(e.Key); }},
          {{"Key", httpImageId::kKey, K::Let, {}, T::String},
           [](httpImage& e, Args& a) { return e.Key = a.NewValue().RawString(), Done(); }},
          {{"httpImageURL", httpImageId::khttpImageURL, K::Get, {}, T::String},
           [](httpImage& e, Args&) { return Variant::String(e.httpImageURL()); }},
          {{"httpImageURL", httpImageId::khttpImageURL, K::Let, {}, T::String},
           [](httpImage& e, Args& a) { return e.httpImageURL(a.NewValue().RawString()), Done(); }},
          {{"TempFilePath", httpImageId::kTempFilePath, K::Get, {}, T::String},
           [](httpImage& e, Args&) { return Variant::String(e.TempFilePath()); }},
          {{"TempFilePath", httpImageId::kTempFilePath, K::Let, {}, T::String},
           [](httpImage& e, Args& a) { return e.TempFilePath(a.NewValue().RawString()), Done(); }},
          {{"Name", httpImageId::kName, K::Get, {}, T::String},
           [](httpImage& e, Args&) { return Variant::String(e.Name()); }},
          {{"Name", httpImageId::kName, K::Let, {}, T::String},
           [](httpImage& e, Args& a) { return e.Name(a.NewValue().RawString()), Done(); }},
          {{"FileName", httpImageId::kFileName, K::Get, {}, T::String},
           [](httpImage& e, Args&) { return Variant::String(e.FileName()); }},
          {{"DownloadFile", httpImageId::kDownloadFile, K::Method, {{"ForceDownload", T::Boolean, true}}, T::Boolean},
           [](httpImage& e, Args& a) { return Variant::Bool(e.DownloadFile(a.Boolean(0) != 0)); }},
      });
  return t;
}

std::u16string httpImage::httpImageURL() const {
  return Trap(kModule, u"httpImageURL", [&] { return mvarhttpImageURL_; });
}

void httpImage::httpImageURL(const std::u16string& url) {
  desk::Ref<httpImage> keep(this);  // a host may drop the entry while a report is shown
  Trap(kModule, u"httpImageURL", [&] {
    mvarhttpImageURL_ = url;
    std::shared_ptr<desk::FileSystem> fs = detail::SharedFileSystem();
    if (!fs) desk::Raise(desk::Err::ObjectNotSet);
    TempFilePath(cacheFile::Join(*fs, FileName()));
  });
}

std::u16string httpImage::TempFilePath() const {
  return Trap(kModule, u"TempFilePath", [&] { return mvarTempFilePath_; });
}

void httpImage::TempFilePath(const std::u16string& path) {
  Trap(kModule, u"TempFilePath", [&] { mvarTempFilePath_ = path; });
}

std::u16string httpImage::Name() const {
  return Trap(kModule, u"Name", [&] { return mvarName_; });
}

void httpImage::Name(const std::u16string& name) {
  Trap(kModule, u"Name", [&] { mvarName_ = name; });
}

std::u16string httpImage::FileName() const {
  return Trap(kModule, u"FileName", [&] {
    // Splitting an empty text gives no pieces at all, so there is no last one.
    if (mvarhttpImageURL_.empty()) desk::Raise(desk::Err::SubscriptOutOfRange);
    return cacheFile::NameOf(mvarhttpImageURL_);
  });
}

bool httpImage::DownloadFile(bool forceDownload) {
  desk::Ref<httpImage> keep(this);  // the host may release the entry at a dispatch point
  return Trap(kModule, u"DownloadFile", [&] {
    const std::u16string url = httpImageURL();
    // An empty URL has no file name: FileName has reported that, and the download module
    // would only report the same entry again for the empty name.
    if (url.empty()) return FileName(), false;
    const std::u16string fileName = FileName();
    return !mdlInternet::DownloadFile(url, fileName, forceDownload).empty();
  });
}

}  // namespace Quorvane
