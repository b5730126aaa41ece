// Saved settings are files that users may edit. Loading any bytes either gives a bag that
// saves and loads back to the same text, or fails with 321 (or a file error) and leaves the
// bag as it was. A bag that loads is then read by a tree control as a host's form would.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "VarbelTreeviewControl.h"
#include "desk/error.h"
#include "desk/headless.h"
#include "desk/property_bag.h"
#include "fuzz_input.h"

namespace {

std::filesystem::path gFile;
std::shared_ptr<desk::HeadlessPlatform> gHost;

bool IsFileError(int32_t n) {
  using desk::Err;
  return n == static_cast<int32_t>(Err::InvalidFileFormat) || n == static_cast<int32_t>(Err::FileNotFound) ||
         n == static_cast<int32_t>(Err::PathFileAccess);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string tmpl = desk_fuzz::MakePrivateFolder("desk-fuzz-bag");
  gFile = std::filesystem::path(tmpl) / "settings.json";
  gHost = std::make_shared<desk::HeadlessPlatform>();
  desk::SetPlatform(gHost);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  // The buffer form.
  desk::Ref<desk::MemoryPropertyBag> bag;
  try {
    bag = desk::MemoryPropertyBag::FromText(text, u"fuzz.json");
  } catch (const desk::Error& e) {
    if (e.Number() != static_cast<int32_t>(desk::Err::InvalidFileFormat)) std::abort();
  }

  // The file form: a failed load leaves the bag as it was; a good one agrees with the buffer.
  {
    std::ofstream(gFile, std::ios::binary | std::ios::trunc).write(text.data(), static_cast<std::streamsize>(size));
    desk::Ref<desk::MemoryPropertyBag> fromFile = desk::MakeRef<desk::MemoryPropertyBag>();
    fromFile->WriteProperty(u"Sentinel", desk::Variant::Long(7), desk::Variant::Long(0));
    const std::string before = fromFile->ToText();
    try {
      fromFile->LoadFromFile(gFile);
      if (!bag) std::abort();  // the file loaded what the buffer refused
      if (fromFile->ToText() != bag->ToText()) std::abort();
    } catch (const desk::Error& e) {
      if (!IsFileError(e.Number())) std::abort();
      if (bag) std::abort();  // the buffer loaded what the file refused
      if (fromFile->ToText() != before) std::abort();  // all or nothing
    }
  }
  if (!bag) return 0;

  // Round trip: what was loaded saves, and the saved text loads back to itself.
  const std::string saved = bag->ToText();
  desk::Ref<desk::MemoryPropertyBag> again = desk::MemoryPropertyBag::FromText(saved);
  if (again->ToText() != saved || again->Count() != bag->Count()) std::abort();

  // A control reads the edited settings: a value of the wrong kind or out of range is an
  // error for the host, never a crash; whatever the control then holds saves again.
  gHost->messageBoxes.clear();
  desk::Ref<varbel::VarbelTreeviewControl> control = desk::MakeRef<varbel::VarbelTreeviewControl>();
  try {
    control->ReadProperties(*bag);
  } catch (const desk::Error&) {
  }
  desk::Ref<desk::MemoryPropertyBag> out = desk::MakeRef<desk::MemoryPropertyBag>();
  try {
    control->WriteProperties(*out);
    (void)out->ToText();
  } catch (const desk::Error&) {
  }
  return 0;
}
