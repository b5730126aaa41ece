// Hosts hand the image list any URL. Whatever the text, the derived file name is the URL's
// last "/" piece, the cache path is the cache folder, "/" and that name, a name that could
// leave the cache folder is refused before any request is made, and nothing but a complete
// body ever appears in the cache folder. No network: the HTTP client installed here answers
// every request with a failure and counts them.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "httpImage.h"
#include "httpImages.h"
#include "cache_file.h"
#include "mdlInternet.h"
#include "ucMain.h"
#include "desk/error.h"
#include "desk/headless.h"
#include "desk/http.h"
#include "desk/text.h"
#include "fuzz_input.h"

namespace {

// A client that never touches the network: every request fails at once.
class RefusingClient : public desk::http::Client {
 public:
  class Req : public desk::http::Request {
   public:
    size_t Read(uint8_t*, size_t) override { return 0; }
    bool Succeeded() const override { return false; }
  };
  class Sess : public desk::http::Session {
   public:
    explicit Sess(RefusingClient& c) : c_(c) {}
    std::unique_ptr<desk::http::Request> OpenUrl(std::string_view) override {
      ++c_.requests;
      return std::make_unique<Req>();
    }
    RefusingClient& c_;
  };
  std::unique_ptr<desk::http::Session> OpenSession(std::string_view) override { return std::make_unique<Sess>(*this); }
  int requests = 0;
};

std::shared_ptr<RefusingClient> gClient;
std::shared_ptr<desk::HeadlessPlatform> gHost;
// Holds the shared file-system object. Kept in a static on purpose, as some hosts do: it is
// released at exit after the thread's own objects, which once touched a destroyed slot.
desk::Ref<Quorvane::ucMain> gControl;
std::u16string gFolder;
std::filesystem::path gFolderPath;
constexpr char kCachedName[] = "cached.png";

size_t CacheEntries() {
  size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator(gFolderPath)) (void)e, ++n;
  return n;
}

void CheckEncodeUrl(const std::string& url) {
  const std::string once = desk::http::EncodeUrl(url);
  if (once.find('\0') != std::string::npos) std::abort();
  if (desk::http::EncodeUrl(once) != once) std::abort();  // encoding an encoded URL changes nothing
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string tmpl = desk_fuzz::MakePrivateFolder("desk-fuzz-url");
  ::setenv("TMPDIR", tmpl.c_str(), 1);
  gFolderPath = tmpl;
  std::ofstream(gFolderPath / kCachedName, std::ios::binary) << "cached";
  gHost = std::make_shared<desk::HeadlessPlatform>();
  desk::SetPlatform(gHost);
  gClient = std::make_shared<RefusingClient>();
  desk::http::SetClient(gClient);
  gControl = desk::MakeRef<Quorvane::ucMain>();
  gFolder = desk::U16(tmpl);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  desk_fuzz::Input in(data, size);
  const uint8_t mode = in.Byte();
  const std::u16string name = in.Text(40);
  const std::u16string url = in.RestAsUtf16();
  gHost->messageBoxes.clear();

  // The entry's derivation, as Add performs it.
  desk::Ref<Quorvane::httpImages> list = gControl->ListImages();
  list->Clear();
  desk::Ref<Quorvane::httpImage> e = list->Add(name, url);
  if (!e) std::abort();  // the list is empty: any name is new
  if (e->Key != name || e->Name() != name || e->httpImageURL() != url) std::abort();
  const std::u16string file = e->FileName();
  if (url.empty()) {
    if (!file.empty()) std::abort();
  } else {
    const size_t slash = url.rfind(u'/');
    if (file != (slash == std::u16string::npos ? url : url.substr(slash + 1))) std::abort();
  }
  if (e->TempFilePath() != gFolder + u"/" + file) std::abort();

  // The name check: a name that passes names a file directly inside the cache folder.
  const bool ok = Quorvane::cacheFile::IsName(file);
  if (ok) {
    if (file == u"." || file == u".." || file.find(u'/') != std::u16string::npos ||
        file.find(u'\0') != std::u16string::npos)
      std::abort();
    const std::filesystem::path p = gFolderPath / desk::U8(file);
    if (p.parent_path() != gFolderPath || p.filename().string() != desk::U8(file)) std::abort();
  }

  CheckEncodeUrl(desk::U8(url));

  // The download module with that name: no request for a refused name, "True" for the cached
  // file unless forced, nothing written when the request fails.
  const size_t entriesBefore = CacheEntries();
  const int requestsBefore = gClient->requests;
  const bool force = mode & 1;
  const std::u16string result = (mode & 2) ? (e->DownloadFile(force) ? u"x" : u"")
                                           : Quorvane::mdlInternet::DownloadFile(url, file, force);
  const bool cached = ok && desk::U8(file) == kCachedName;
  if (!ok && gClient->requests != requestsBefore) std::abort();
  if (cached && !force) {
    if (result.empty() || gClient->requests != requestsBefore) std::abort();
  } else if (!result.empty()) {
    std::abort();  // every request fails here
  }
  if (CacheEntries() != entriesBefore) std::abort();

  // A host may set the path itself afterwards; the next URL assignment derives it again.
  e->TempFilePath(name);
  e->httpImageURL(url);
  if (e->TempFilePath() != gFolder + u"/" + file) std::abort();
  return 0;
}
