// The in-memory property bag and its durable form (the format is described in the header and
// in docs/property-bag-format.md).
//
// Sections:
//   1. the bag in memory
//   2. late-bound access
//   3. encoding values (texts, numbers, base64, fonts, pictures)
//   4. decoding: a strict parse (duplicate names, depth) into a new bag, then the checks
//   5. files: read whole, write atomically
#include "desk/property_bag.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <unordered_set>

#include "desk/picture_loader.h"
#include "desk/text.h"
#include "files/files.h"

namespace desk {

using Json = nlohmann::ordered_json;

// ---- 1. The bag in memory ----------------------------------------------------------------------

Variant MemoryPropertyBag::ReadProperty(const std::u16string& key, const Variant& defaultValue) {
  auto it = index_.find(FoldCase(key));
  if (it == index_.end()) return defaultValue.Value();
  return entries_[it->second].value;
}

void MemoryPropertyBag::WriteProperty(const std::u16string& key, const Variant& value, const Variant& defaultValue) {
  std::u16string folded = FoldCase(key);
  auto it = index_.find(folded);
  if (Variant::ValueEquals(value, defaultValue)) {
    // A value stored by an earlier write must not outlive this one: the key now reads as its
    // default.
    if (it == index_.end()) return;
    size_t pos = it->second;
    index_.erase(it);
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(pos));
    for (auto& [k, p] : index_)
      if (p > pos) --p;
    return;
  }
  Variant stored = value.Value();
  if (it != index_.end()) {
    Entry& e = entries_[it->second];
    e.key = key;
    e.value = std::move(stored);
    return;
  }
  entries_.push_back({key, std::move(stored)});
  index_.emplace(std::move(folded), entries_.size() - 1);
}

bool MemoryPropertyBag::Contains(std::u16string_view key) const { return index_.count(FoldCase(key)) != 0; }

void MemoryPropertyBag::Clear() {
  entries_.clear();
  index_.clear();
}

// ---- 2. Late-bound access --------------------------------------------------------------------

namespace {

const DispatchTable<MemoryPropertyBag>& BagTable() {
  using K = InvokeKind;
  using T = VarType;
  static const DispatchTable<MemoryPropertyBag> t(
      "PropertyBag", "{E6791B94-F054-43B5-B17E-D4582889840A}",
      {
          {{"ReadProperty", 1, K::Method, {{"Name", T::String}, {"DefaultValue", T::Any, false, true}}, T::Any},
           [](MemoryPropertyBag& b, Args& a) {
             Variant def = a.IsMissing(1) ? Variant() : a[1].Value();
             return b.ReadProperty(a.String(0), def);
           }},
          {{"WriteProperty",
            2,
            K::Method,
            {{"Name", T::String}, {"Value", T::Any}, {"DefaultValue", T::Any, false, true}}},
           [](MemoryPropertyBag& b, Args& a) {
             Variant def = a.IsMissing(2) ? Variant() : a[2].Value();
             b.WriteProperty(a.String(0), a[1].Value(), def);
             return Variant();
           }},
      });
  return t;
}

}  // namespace

const InterfaceInfo& MemoryPropertyBag::Interface() const { return BagTable().Info(); }

Variant MemoryPropertyBag::Invoke(DispId id, InvokeKind kind, std::vector<Variant>& args) {
  // No self-reference is taken here: a bag may live on the stack, and its handlers never
  // release it.
  return BagTable().Dispatch(*this, id, kind, args);
}

// ---- 3. Encoding values ----------------------------------------------------------------------

namespace {

constexpr int kMaxDepth = 4;  // document, properties, entry, the code units of a text

std::u16string Quoted(std::u16string_view s) {
  // Built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) on the operator+ chain.
  std::u16string q;
  q += u'"';
  q += s;
  q += u'"';
  return q;
}
std::u16string Quoted8(std::string_view s) { return Quoted(U16(s)); }

[[noreturn]] void NotPersistable(const std::u16string& key, std::u16string_view why) {
  Raise(Err::ObjectNotPersistable,
        std::u16string(ErrorText(Err::ObjectNotPersistable)) + u": key " + Quoted(key) + u" " + std::u16string(why));
}

bool WellFormed(std::u16string_view s) {
  for (size_t i = 0; i < s.size(); ++i) {
    char16_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

Json EncodeText(std::u16string_view s) {
  if (WellFormed(s)) return U8(s);
  Json units = Json::array();
  for (char16_t c : s) units.push_back(static_cast<unsigned>(c));
  return units;
}

template <class F, class Bits>
std::string HexBits(F v) {
  Bits b;
  std::memcpy(&b, &v, sizeof b);
  char buf[20];
  std::snprintf(buf, sizeof buf, "%0*llx", static_cast<int>(sizeof(Bits) * 2), static_cast<unsigned long long>(b));
  return buf;
}

template <class F, class Bits>
void EncodeFloat(Json& j, F v) {
  if (std::isfinite(v)) j["value"] = static_cast<double>(v);
  else j["bits"] = HexBits<F, Bits>(v);
}

constexpr char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// Each byte's value as a base64 digit; -1 for a byte that is none.
constexpr std::array<int8_t, 256> kB64Value = [] {
  std::array<int8_t, 256> value{};
  value.fill(-1);
  for (int i = 0; i < 64; ++i) value[static_cast<unsigned char>(kB64[i])] = static_cast<int8_t>(i);
  return value;
}();

std::string Base64(const std::vector<uint8_t>& in) {
  std::string out;
  size_t i = 0;
  for (; i + 3 <= in.size(); i += 3) {
    uint32_t n = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2];
    out += {kB64[n >> 18], kB64[(n >> 12) & 63], kB64[(n >> 6) & 63], kB64[n & 63]};
  }
  if (size_t rest = in.size() - i) {
    uint32_t n = uint32_t{in[i]} << 16;
    if (rest == 2) n |= uint32_t{in[i + 1]} << 8;
    out += kB64[n >> 18];
    out += kB64[(n >> 12) & 63];
    out += rest == 2 ? kB64[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

Json EncodeValue(const std::u16string& key, const Variant& v) {
  Json j = Json::object();
  auto type = [&](const char* t) { j["type"] = t; };
  switch (v.ValueType()) {
    case VarType::Empty: type("Empty"); break;
    case VarType::Missing: type("Missing"); break;
    case VarType::Integer: type("Integer"), j["value"] = v.RawInteger(); break;
    case VarType::Long: type("Long"), j["value"] = v.RawLong(); break;
    case VarType::Single: type("Single"), EncodeFloat<float, uint32_t>(j, v.RawSingle()); break;
    case VarType::Double: type("Double"), EncodeFloat<double, uint64_t>(j, v.RawDouble()); break;
    case VarType::Boolean: {
      type("Boolean");
      int16_t b = v.RawBoolean();
      if (b == kTrue || b == kFalse) j["value"] = b == kTrue;
      else j["value"] = b;
      break;
    }
    case VarType::String: type("String"), j["value"] = EncodeText(v.RawString()); break;
    case VarType::Object: {
      const Ref<Object>& o = v.RawObject();
      if (!o) {
        type("Nothing");
      } else if (auto f = RefCast<Font>(o)) {
        if (!std::isfinite(f->size)) NotPersistable(key, u"holds a font whose size is not a number");
        type("Font");
        j["name"] = EncodeText(f->name);
        j["size"] = static_cast<double>(f->size);
        j["weight"] = f->weight;
        j["italic"] = f->italic;
        j["underline"] = f->underline;
        j["strikethrough"] = f->strikethrough;
        j["charset"] = f->charset;
      } else if (auto p = RefCast<Picture>(o)) {
        if (!p->Empty() && p->encoded.empty())
          NotPersistable(key, u"holds a picture that keeps no encoded image to save");
        type("Picture");
        j["data"] = p->Empty() ? std::string() : Base64(p->encoded);
      } else {
        NotPersistable(key, u"holds an object of class " + Quoted8(o->Interface().name) +
                                u"; only fonts and pictures can be saved");
      }
      break;
    }
    case VarType::ByRef:
    case VarType::Any:
      NotPersistable(key, u"holds a value of no storable kind");
  }
  return j;
}

}  // namespace

std::string MemoryPropertyBag::ToText() const {
  // A key that is not well-formed text cannot name a member of the document without being
  // altered.
  for (const Entry& e : entries_)
    if (!WellFormed(e.key)) NotPersistable(e.key, u"is not well-formed text and cannot name a saved value");
  Json doc = Json::object();
  doc["format"] = std::string(kFormat);
  doc["version"] = kVersion;
  Json props = Json::object();
  for (const Entry& e : entries_) props[U8(e.key)] = EncodeValue(e.key, e.value);
  doc["properties"] = std::move(props);
  return doc.dump(2) + "\n";
}

// ---- 4. Decoding --------------------------------------------------------------------------------

namespace {

// A problem found in a document; becomes InvalidFileFormat with the origin in front.
struct FormatProblem {
  std::string what;
};

[[noreturn]] void Problem(std::string what) { throw FormatProblem{std::move(what)}; }

std::string KeyText(const std::string& key) { return "key \"" + key + "\""; }

// Checks names as the parser meets them: no name twice in one object (letter case ignored),
// no nesting deeper than the format uses.
class StrictCallback {
 public:
  bool operator()(int, nlohmann::detail::parse_event_t event, Json& parsed) {
    using E = nlohmann::detail::parse_event_t;
    switch (event) {
      case E::object_start:
      case E::array_start:
        if (++depth_ > kMaxDepth)
          Problem("values are nested deeper than " + std::to_string(kMaxDepth) + " levels");
        if (event == E::object_start) objects_.push_back({pendingName_, {}});
        pendingName_.clear();
        break;
      case E::object_end:
        objects_.pop_back();
        --depth_;
        break;
      case E::array_end:
        --depth_;
        break;
      case E::key: {
        const std::string& name = parsed.get_ref<const std::string&>();
        auto& open = objects_.back();
        if (!open.names.insert(FoldCase(U16(name))).second)
          Problem("the name \"" + name + "\" appears twice in " +
                  (objects_.size() == 1  ? std::string("the document")
                   : open.name.empty() ? std::string("one object")
                                       : "\"" + open.name + "\"") +
                  " (names are compared without regard to letter case)");
        pendingName_ = name;
        break;
      }
      case E::value:
        pendingName_.clear();
        break;
    }
    return true;
  }

 private:
  struct Open {
    std::string name;
    std::unordered_set<std::u16string> names;
  };
  std::vector<Open> objects_;
  std::string pendingName_;
  int depth_ = 0;
};

void OnlyMembers(const Json& j, std::initializer_list<const char*> allowed, const std::string& where) {
  for (const auto& [name, value] : j.items()) {
    bool ok = false;
    for (const char* a : allowed) ok = ok || name == a;
    if (!ok) Problem(where + ": unknown member \"" + name + "\"");
  }
}

const Json& Member(const Json& j, const char* name, const std::string& where) {
  auto it = j.find(name);
  if (it == j.end()) Problem(where + ": the member \"" + name + "\" is missing");
  return *it;
}

int64_t IntegerIn(const Json& j, int64_t lo, int64_t hi, const std::string& what) {
  int64_t v = 0;
  if (j.is_number_unsigned()) {
    uint64_t u = j.get<uint64_t>();
    if (u > static_cast<uint64_t>(hi)) Problem(what + " is outside " + std::to_string(lo) + ".." + std::to_string(hi));
    v = static_cast<int64_t>(u);
  } else if (j.is_number_integer()) {
    v = j.get<int64_t>();
  } else {
    Problem(what + " is not a whole number");
  }
  if (v < lo || v > hi) Problem(what + " is outside " + std::to_string(lo) + ".." + std::to_string(hi));
  return v;
}

bool BooleanOf(const Json& j, const std::string& what) {
  if (!j.is_boolean()) Problem(what + " is not true or false");
  return j.get<bool>();
}

double NumberOf(const Json& j, const std::string& what) {
  if (!j.is_number()) Problem(what + " is not a number");
  double d = j.get<double>();
  if (!std::isfinite(d)) Problem(what + " is not a finite number");
  return d;
}

float SingleOf(double d, const std::string& what) {
  if (std::fabs(d) > static_cast<double>(std::numeric_limits<float>::max()))
    Problem(what + " is outside the range of a Single");
  return static_cast<float>(d);
}

template <class F, class Bits>
F FromHexBits(const Json& j, const std::string& what) {
  if (!j.is_string()) Problem(what + " is not a text of hexadecimal digits");
  const std::string& s = j.get_ref<const std::string&>();
  if (s.size() != sizeof(Bits) * 2) Problem(what + " must have " + std::to_string(sizeof(Bits) * 2) + " hexadecimal digits");
  Bits b = 0;
  for (char c : s) {
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (d < 0) Problem(what + " is not a text of hexadecimal digits");
    b = static_cast<Bits>((b << 4) | static_cast<Bits>(d));
  }
  F v;
  std::memcpy(&v, &b, sizeof v);
  return v;
}

std::u16string TextOf(const Json& j, const std::string& what) {
  if (j.is_string()) return U16(j.get_ref<const std::string&>());  // the parser checked the UTF-8
  if (!j.is_array()) Problem(what + " is not a text");
  std::u16string s;
  for (const Json& u : j) s.push_back(static_cast<char16_t>(IntegerIn(u, 0, 0xFFFF, what + ": a code unit")));
  return s;
}

std::vector<uint8_t> FromBase64(const std::string& s, const std::string& what) {
  if (s.size() % 4 != 0) Problem(what + " is not base64 (its length is not a multiple of 4)");
  std::vector<uint8_t> out;
  for (size_t i = 0; i < s.size(); i += 4) {
    bool last = i + 4 == s.size();
    int pad = last ? (s[i + 3] == '=') + (s[i + 2] == '=' && s[i + 3] == '=') : 0;
    uint32_t n = 0;
    for (int k = 0; k < 4; ++k) {
      int v = k >= 4 - pad ? 0 : kB64Value[static_cast<unsigned char>(s[i + static_cast<size_t>(k)])];
      if (v < 0) Problem(what + " is not base64 (character " + std::to_string(i + static_cast<size_t>(k)) + ")");
      n = (n << 6) | static_cast<uint32_t>(v);
    }
    out.push_back(static_cast<uint8_t>(n >> 16));
    if (pad < 2) out.push_back(static_cast<uint8_t>(n >> 8));
    if (pad < 1) out.push_back(static_cast<uint8_t>(n));
  }
  return out;
}

Variant DecodeValue(const std::string& key, const Json& j) {
  const std::string where = KeyText(key);
  if (!j.is_object()) Problem(where + ": the entry is not an object");
  const Json& typeJ = Member(j, "type", where);
  if (!typeJ.is_string()) Problem(where + ": \"type\" is not a text");
  const std::string& type = typeJ.get_ref<const std::string&>();
  const std::string value = where + ": the value";

  if (type == "Empty" || type == "Missing" || type == "Nothing") {
    OnlyMembers(j, {"type"}, where);
    if (type == "Empty") return Variant();
    if (type == "Missing") return Variant::Missing();
    return Variant::Nothing();
  }
  if (type == "Integer" || type == "Long" || type == "Boolean" || type == "String") {
    OnlyMembers(j, {"type", "value"}, where);
    const Json& v = Member(j, "value", where);
    if (type == "Integer") return Variant::Integer(static_cast<int16_t>(IntegerIn(v, INT16_MIN, INT16_MAX, value)));
    if (type == "Long") return Variant::Long(static_cast<int32_t>(IntegerIn(v, INT32_MIN, INT32_MAX, value)));
    if (type == "String") return Variant::String(TextOf(v, value));
    if (v.is_boolean()) return Variant::Bool(v.get<bool>());
    return Variant::BoolRaw(static_cast<int16_t>(IntegerIn(v, INT16_MIN, INT16_MAX, value)));
  }
  if (type == "Single" || type == "Double") {
    OnlyMembers(j, {"type", "value", "bits"}, where);
    bool hasValue = j.contains("value"), hasBits = j.contains("bits");
    if (hasValue == hasBits) Problem(where + ": give exactly one of \"value\" and \"bits\"");
    if (type == "Single") {
      if (hasBits) return Variant::Single(FromHexBits<float, uint32_t>(j["bits"], where + ": \"bits\""));
      return Variant::Single(SingleOf(NumberOf(j["value"], value), value));
    }
    if (hasBits) return Variant::Double(FromHexBits<double, uint64_t>(j["bits"], where + ": \"bits\""));
    return Variant::Double(NumberOf(j["value"], value));
  }
  if (type == "Font") {
    OnlyMembers(j, {"type", "name", "size", "weight", "italic", "underline", "strikethrough", "charset"}, where);
    Ref<Font> f = MakeRef<Font>();
    f->name = TextOf(Member(j, "name", where), where + ": the font's name");
    f->size = SingleOf(NumberOf(Member(j, "size", where), where + ": the font's size"), where + ": the font's size");
    f->weight = static_cast<int16_t>(IntegerIn(Member(j, "weight", where), INT16_MIN, INT16_MAX, where + ": the font's weight"));
    f->italic = BooleanOf(Member(j, "italic", where), where + ": \"italic\"");
    f->underline = BooleanOf(Member(j, "underline", where), where + ": \"underline\"");
    f->strikethrough = BooleanOf(Member(j, "strikethrough", where), where + ": \"strikethrough\"");
    f->charset = static_cast<int16_t>(IntegerIn(Member(j, "charset", where), INT16_MIN, INT16_MAX, where + ": the font's charset"));
    return Variant::Object(f);
  }
  if (type == "Picture") {
    OnlyMembers(j, {"type", "data"}, where);
    const Json& d = Member(j, "data", where);
    if (!d.is_string()) Problem(where + ": the picture's data is not a text");
    const std::string& text = d.get_ref<const std::string&>();
    if (text.empty()) return Variant::Object(MakeRef<Picture>());
    std::vector<uint8_t> bytes = FromBase64(text, where + ": the picture's data");
    try {
      return Variant::Object(DecodePicture(bytes));
    } catch (const Error& e) {
      Problem(where + ": the picture's data does not decode (" + U8(e.Description()) + ")");
    }
  }
  Problem(where + ": unknown type \"" + type + "\"");
}

std::vector<MemoryPropertyBag::Entry> EntriesOf(const Json& doc) {
  if (!doc.is_object()) Problem("the document is not a JSON object");
  const Json& format = Member(doc, "format", "the document");
  if (!format.is_string() || format.get_ref<const std::string&>() != MemoryPropertyBag::kFormat)
    Problem("this is not a property bag (\"format\" is not \"" + std::string(MemoryPropertyBag::kFormat) + "\")");
  const Json& version = Member(doc, "version", "the document");
  if (!version.is_number_integer() || version.get<int64_t>() != MemoryPropertyBag::kVersion)
    Problem("version " + version.dump() + " is not supported (this build reads version " +
            std::to_string(MemoryPropertyBag::kVersion) + ")");
  OnlyMembers(doc, {"format", "version", "properties"}, "the document");
  const Json& props = Member(doc, "properties", "the document");
  if (!props.is_object()) Problem("\"properties\" is not an object");
  std::vector<MemoryPropertyBag::Entry> entries;
  for (const auto& [name, entry] : props.items()) entries.push_back({U16(name), DecodeValue(name, entry)});
  return entries;
}

// The parser's own message without its "[json.exception...] " prefix.
std::string ParserMessage(const nlohmann::json::exception& e) {
  std::string m = e.what();
  if (auto p = m.find("] "); m.rfind("[json.exception", 0) == 0 && p != std::string::npos) m.erase(0, p + 2);
  return m;
}

}  // namespace

Ref<MemoryPropertyBag> MemoryPropertyBag::FromText(std::string_view text, std::u16string_view origin) {
  auto fail = [&](const std::string& what) -> Ref<MemoryPropertyBag> {
    std::u16string d = std::u16string(ErrorText(Err::InvalidFileFormat)) + u": ";
    if (!origin.empty()) d += std::u16string(origin) + u": ";
    Raise(Err::InvalidFileFormat, d + U16(what));
  };
  if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) return fail("the file is empty");
  std::vector<Entry> entries;
  try {
    Json doc = Json::parse(text.begin(), text.end(), StrictCallback());
    entries = EntriesOf(doc);
  } catch (const FormatProblem& p) {
    return fail(p.what);
  } catch (const nlohmann::json::exception& e) {
    return fail(ParserMessage(e));
  }
  // Names were checked unique (letter case ignored) while parsing, and no default plays a part
  // in a load: every entry goes in as written.
  Ref<MemoryPropertyBag> bag = MakeRef<MemoryPropertyBag>();
  for (Entry& e : entries) {
    bag->index_.emplace(FoldCase(e.key), bag->entries_.size());
    bag->entries_.push_back(std::move(e));
  }
  return bag;
}

// ---- 5. Files -----------------------------------------------------------------------------------

namespace {

std::u16string PathText(const std::filesystem::path& p) { return p.u16string(); }

[[noreturn]] void FileError(Err e, const std::filesystem::path& p, std::string_view detail) {
  Raise(e, std::u16string(ErrorText(e)) + u": " + PathText(p) + u" (" + U16(detail) + u")");
}

void WriteAtomically(const std::filesystem::path& target, std::string_view data) {
  const std::span<const uint8_t> piece(reinterpret_cast<const uint8_t*>(data.data()), data.size());
  if (auto failed = files::ReplaceWhole(target.string(), std::span(&piece, 1), files::kSettingsFile))
    FileError(failed->number, failed->path, failed->cause);
}

// Followed through the user's own link; a missing folder is told apart from a missing file.
constexpr files::ReadPolicy kSettingsRead{.missingFolderApart = true,
                                          .maxBytes = MemoryPropertyBag::kMaxFileBytes,
                                          .tooLarge = "it is larger than a property bag may be"};

}  // namespace

void MemoryPropertyBag::SaveToFile(const std::filesystem::path& path) const {
  const std::string text = ToText();  // fails before any file is touched
  WriteAtomically(path, text);
}

void MemoryPropertyBag::LoadFromFile(const std::filesystem::path& path) {
  std::vector<uint8_t> bytes;
  if (auto failed = files::ReadWhole(path.string(), kSettingsRead, bytes))
    FileError(failed->number, failed->path, failed->cause);
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  Ref<MemoryPropertyBag> loaded = FromText(text, PathText(path));
  entries_.swap(loaded->entries_);
  index_.swap(loaded->index_);
}

}  // namespace desk
