#include "desk/dispatch.h"

#include <algorithm>
#include <string>
#include <string_view>


namespace desk {

namespace {
char16_t LowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + (u'a' - u'A')) : c; }

// FNV-1a over the lower-case name; member names are ASCII.
uint64_t NameHash(std::u16string_view name) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (char16_t c : name) h = (h ^ LowerAscii(c)) * 0x100000001b3ull;
  return h;
}

bool SameName(const char* member, std::u16string_view name) {
  return std::ranges::equal(std::string_view(member), name, [](char m, char16_t c) {
    return LowerAscii(static_cast<char16_t>(static_cast<unsigned char>(m))) == LowerAscii(c);
  });
}
bool IsPut(InvokeKind k) { return k == InvokeKind::Let || k == InvokeKind::Set; }
}  // namespace

void InterfaceInfo::BuildIndex() {
  size_t size = 8;
  unsigned bits = 3;
  while (size < members.size() * 2) {
    size *= 2;
    ++bits;
  }
  slots_.assign(size, Slot{0, -1});
  shift_ = 64 - bits;
  for (size_t i = 0; i < members.size(); ++i) {
    uint64_t key = Key(members[i].id, members[i].kind);
    if (Lookup(key) < 0) {  // the first row of an (id, kind) wins
      size_t j = (key * 0x9E3779B97F4A7C15ull) >> shift_;
      while (slots_[j].row >= 0) j = (j + 1) & (size - 1);
      slots_[j] = Slot{key, static_cast<int32_t>(i)};
    }
  }
  names_.assign(size, Slot{0, -1});
  for (size_t i = 0; i < members.size(); ++i) {
    std::u16string wide(members[i].name, members[i].name + std::char_traits<char>::length(members[i].name));
    if (IdOfName(wide) != kNoDispId) continue;  // the first member of a name wins
    uint64_t h = NameHash(wide);
    size_t j = (h * 0x9E3779B97F4A7C15ull) >> shift_;
    while (names_[j].row >= 0) j = (j + 1) & (size - 1);
    names_[j] = Slot{h, static_cast<int32_t>(i)};
  }
}

DispId InterfaceInfo::IdOfName(std::u16string_view name) const {
  if (names_.empty()) return kNoDispId;
  const uint64_t h = NameHash(name);
  for (size_t j = (h * 0x9E3779B97F4A7C15ull) >> shift_;; j = (j + 1) & (names_.size() - 1)) {
    const Slot& s = names_[j];
    if (s.row < 0) return kNoDispId;
    const MemberInfo& m = members[static_cast<size_t>(s.row)];
    if (s.key == h && SameName(m.name, name)) return m.id;
  }
}

DispId Object::GetIdOfName(std::u16string_view name) const {
  DispId id = Interface().IdOfName(name);
  if (id == kNoDispId) Raise(Err::NotSupported);
  return id;
}

void CheckArgs(const MemberInfo& m, std::vector<Variant>& args) {
  size_t required = 0;
  for (const auto& p : m.params)
    if (!p.optional) ++required;
  size_t extra = IsPut(m.kind) ? 1 : 0;
  size_t max = m.params.size() + extra;
  if (args.size() < required + extra || args.size() > max) Raise(Err::WrongArgumentCount);
  if (!extra) {
    while (args.size() < m.params.size()) args.push_back(Variant::Missing());
  }
}

void CoerceArgs(const MemberInfo& m, std::vector<Variant>& args) {
  for (size_t i = 0; i < m.params.size() && i < args.size(); ++i) {
    const ParamInfo& p = m.params[i];
    Variant& a = args[i];
    if (a.IsMissing()) {
      if (!p.optional) Raise(Err::WrongArgumentCount);
      continue;
    }
    if (p.byRef && a.IsByRef()) continue;  // the callee writes the caller's storage
    if (p.type == VarType::Any) {
      if (a.IsByRef() && !p.byRef) a = a.Value();
      continue;
    }
    if (a.Type() == p.type) continue;  // already of its type: nothing to copy
    Variant converted = a.ConvertTo(p.type);
    a = std::move(converted);
  }
  if (IsPut(m.kind) && !args.empty()) {
    Variant& v = args.back();
    if (m.kind == InvokeKind::Set) {
      if (m.result != VarType::Any) {
        Variant o = Variant::Object(v.ToObject());
        v = std::move(o);
      } else if (v.IsByRef()) {
        v = v.Value();
      }
    } else if (m.result != VarType::Any && m.result != VarType::Empty) {
      if (v.Type() == m.result) return;  // already of its type: nothing to copy
      Variant converted = v.ConvertTo(m.result);
      v = std::move(converted);
    } else if (v.IsByRef()) {
      v = v.Value();
    }
  }
}

Variant CallByName(Object& o, std::u16string_view name, InvokeKind kind, std::vector<Variant> args) {
  DispId id = o.GetIdOfName(name);
  return o.Invoke(id, kind, args);
}

}  // namespace desk
