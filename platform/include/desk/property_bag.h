// A property bag held in memory that can be saved to a file and loaded back.
//
// In memory: ReadProperty answers the value stored under a key, or the default unchanged when
// there is none. WriteProperty stores the value, except that a value equal to its default
// (Variant::ValueEquals: by value across numeric kinds, exactly, so a Single 566.9290771484375
// is not the Double 566.9291; objects by identity) is not stored, and any value stored earlier
// under the key is dropped, so that the key then reads as its default. Keys are matched
// without regard to letter case (full Unicode folding) and keep the spelling of their latest
// write. A by-reference value is stored as the value it points at; texts are copied; objects
// are held by counted reference, so the bag sees later changes to them until it is saved.
//
// Durable form: a UTF-8 JSON document, version 1, written in the order the keys were first
// stored:
//
//   {
//     "format": "desk-property-bag",
//     "version": 1,
//     "properties": {
//       "BackColor":   {"type": "Long", "value": 255},
//       "BackStyle":   {"type": "Integer", "value": 1},
//       "Indentation": {"type": "Single", "value": 566.9290771484375},
//       "Ratio":       {"type": "Double", "value": 0.1},
//       "Huge":        {"type": "Double", "bits": "7ff0000000000000"},
//       "Enabled":     {"type": "Boolean", "value": false},
//       "OddBool":     {"type": "Boolean", "value": 1},
//       "ToolTipText": {"type": "String", "value": "Hello"},
//       "Broken":      {"type": "String", "value": [55296, 97]},
//       "Font":        {"type": "Font", "name": "Arial", "size": 9.75, "weight": 700, "italic": false,
//                       "underline": false, "strikethrough": false, "charset": 0},
//       "Picture":     {"type": "Picture", "data": "iVBORw0KGgo..."},
//       "Palette":     {"type": "Picture", "data": ""},
//       "HyperLink":   {"type": "Nothing"},
//       "Blank":       {"type": "Empty"}
//     }
//   }
//
//  - Every value names its kind, and comes back in that kind: an Integer as an Integer, a
//    Single bit for bit. Integer, Long, Boolean and the font's weight and charset are JSON
//    integers in their 16- or 32-bit range; a Boolean that is not -1 or 0 keeps its 16 bits
//    as an integer. Single and Double are JSON numbers when finite, printed so that they read
//    back exactly, and otherwise "bits": the IEEE bits in hexadecimal (8 or 16 digits).
//  - A text is a JSON string, or, when it is not well-formed UTF-16 (an unpaired surrogate),
//    an array of its UTF-16 code units, so that no text is altered on the way.
//  - A picture is the base64 (standard alphabet, padded) of the bytes it was decoded from; ""
//    is the empty picture (not Nothing). A font keeps name, size, weight, italic, underline,
//    strikethrough and character set. No other object can be saved.
//  - Missing (an omitted argument) is {"type": "Missing"}.
//  - A reader refuses, naming the problem: text that is not JSON, a document cut short, a
//    name given twice in one object (keys that differ only in letter case included), nesting
//    deeper than the format uses, another format or version, an unknown member, and a value
//    outside its kind's range. A version-1 reader never guesses at a newer file.
//
// Costs: saving and loading are linear in the size of the bag; a picture is decoded on load.
#pragma once

#include "desk/export.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "desk/platform.h"

namespace desk {

class DESK_API MemoryPropertyBag final : public PropertyBag {
 public:
  // The format's name and the version this build writes and reads.
  static constexpr std::string_view kFormat = "desk-property-bag";
  static constexpr int kVersion = 1;
  // Files larger than this are refused before they are read.
  static constexpr std::uintmax_t kMaxFileBytes = std::uintmax_t{256} * 1024 * 1024;

  struct Entry {
    std::u16string key;
    Variant value;
  };

  MemoryPropertyBag() = default;

  // PropertyBag.
  Variant ReadProperty(const std::u16string& key, const Variant& defaultValue) override;
  void WriteProperty(const std::u16string& key, const Variant& value, const Variant& defaultValue) override;

  // Late-bound access: ReadProperty(Name, [DefaultValue]) and WriteProperty(Name, Value,
  // [DefaultValue]), as a host that knows no C++ would call them.
  const InterfaceInfo& Interface() const override;
  Variant Invoke(DispId id, InvokeKind kind, std::vector<Variant>& args) override;

  bool Contains(std::u16string_view key) const;
  size_t Count() const { return entries_.size(); }
  // The stored entries in the order their keys were first stored.
  const std::vector<Entry>& Entries() const { return entries_; }
  void Clear();

  // The durable form. ToText fails with ObjectNotPersistable naming the key of the first value
  // that cannot be saved (an object that is neither a font nor a picture, a picture without
  // its encoded bytes). FromText fails with InvalidFileFormat naming the problem; `origin`
  // (a file name) starts the message when given.
  std::string ToText() const;
  static Ref<MemoryPropertyBag> FromText(std::string_view text, std::u16string_view origin = {});

  // Saves atomically: the document is made first, then written to a new file beside `path`,
  // flushed to the disk and renamed over `path`, so that a failure at any point leaves an
  // earlier file whole (and no temporary file behind). A file that exists keeps its
  // permissions. Fails with ObjectNotPersistable (above), PathNotFound, PermissionDenied or
  // PathFileAccess, naming the path.
  void SaveToFile(const std::filesystem::path& path) const;
  // Replaces the contents with the file's, all or nothing: on any failure the bag is left as
  // it was. Fails with FileNotFound, PathFileAccess (a folder, an unreadable or too large
  // file) or InvalidFileFormat (above), naming the path and the problem.
  void LoadFromFile(const std::filesystem::path& path);

 private:
  std::vector<Entry> entries_;
  std::unordered_map<std::u16string, size_t> index_;  // folded key -> position in entries_
};

}  // namespace desk
