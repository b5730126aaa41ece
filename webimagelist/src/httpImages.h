// The web images to fill from: a keyed collection of httpImage entries.
//
// Keys are the names given to Add, unique regardless of letter case. Every member but Clear
// traps its failures and reports them under "httpImages, Class Module"; Clear passes its
// failure to the caller.
#pragma once

#include <string>
#include <vector>

#include "httpImage.h"
#include "desk/collection.h"
#include "desk/dispatch.h"

namespace Quorvane {

namespace httpImagesId {
inline constexpr desk::DispId kAdd = 0x60030001, kItem = 0, kCount = 0x68030000, kRemove = 0x60030002,
                              kNewEnum = -4, kClear = 0x60030005;
}  // namespace httpImagesId

class httpImages : public desk::Dispatchable<httpImages> {
 public:
  static const desk::DispatchTable<httpImages>& Table();
  static constexpr const char* kClassId = "{BD2837DA-1906-47C4-9F3C-B7CD2E2D7D48}";
  static constexpr const char* kInterfaceId = "{FB8C3AD9-48C3-4658-86DC-F0E79DFAC585}";

  httpImages();   // Class_Initialize
  ~httpImages() override;  // Class_Terminate

  // A new entry with Key and Name `name` and the URL (which derives TempFilePath), appended
  // under the key `name`. A present key: report, no object, collection unchanged.
  desk::Ref<httpImage> Add(const std::u16string& name, const std::u16string& httpImageURL);
  // The entry under a key (a name given to Add; never a position): no object when absent.
  desk::Ref<httpImage> Item(const std::u16string& key);
  int32_t Count();
  // Removes by 1-based position (a number) or key (a text).
  void Remove(const desk::Variant& index);
  // An enumerator over the entries in order (desk::CollectionEnum); it survives changes.
  desk::Ref<desk::Object> NewEnum();
  // Replaces the entries with none; entries held elsewhere stay usable. Traps nothing.
  void Clear();
  // The entries in order, as an enumeration started now walks them. Traps nothing.
  std::vector<desk::Ref<httpImage>> Entries() const;

 private:
  desk::Ref<desk::Collection> mCol_;
};

}  // namespace Quorvane
