// One web image: a key, a display name, the URL of a picture and its cache path.
//
// Every member traps its failures and reports them under "httpImage, Class Module": the
// caller gets the default result (empty text, False) and never an error.
#pragma once

#include <string>

#include "desk/dispatch.h"

namespace Quorvane {

namespace httpImageId {
inline constexpr desk::DispId kKey = 0x40030000, khttpImageURL = 0x68030003, kTempFilePath = 0x68030002,
                              kName = 0x68030001, kFileName = 0x68030000, kDownloadFile = 0x60030004;
}  // namespace httpImageId

class httpImage : public desk::Dispatchable<httpImage> {
 public:
  static const desk::DispatchTable<httpImage>& Table();
  static constexpr const char* kClassId = "{746F33EE-F315-4D41-AA5C-546821BD8CFA}";
  static constexpr const char* kInterfaceId = "{3555ADDF-AD5B-467D-8844-7947E14C413C}";

  // The key under which Fill adds the picture to the image list; a plain field.
  std::u16string Key;

  std::u16string httpImageURL() const;
  // Stores the URL, then derives TempFilePath: the cache folder, "/", FileName. Without a
  // shared file-system object (no image list control alive in this thread) the URL is kept
  // and TempFilePath stays as it was, after one report.
  void httpImageURL(const std::u16string& url);
  std::u16string TempFilePath() const;
  void TempFilePath(const std::u16string& path);
  std::u16string Name() const;
  void Name(const std::u16string& name);
  // The last "/" piece of the URL: "" for a URL ending in "/", the whole URL when it has no
  // "/". An empty URL has no pieces: that reports 9 and gives "".
  std::u16string FileName() const;
  // Downloads (or, unless forced, reuses) the cached picture: True when the cache file is
  // there afterwards.
  bool DownloadFile(bool forceDownload);

  // The fields as they are, for work a Fill does ahead of its walk: no trap, no report.
  const std::u16string& UrlField() const { return mvarhttpImageURL_; }
  const std::u16string& TempFilePathField() const { return mvarTempFilePath_; }

 private:
  std::u16string mvarhttpImageURL_;
  std::u16string mvarTempFilePath_;
  std::u16string mvarName_;
};

}  // namespace Quorvane
