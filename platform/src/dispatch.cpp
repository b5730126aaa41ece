#include "desk/dispatch.h"

#include <cctype>


namespace desk {

namespace {
std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}
bool IsPut(InvokeKind k) { return k == InvokeKind::Let || k == InvokeKind::Set; }
}  // namespace

void InterfaceInfo::BuildIndex() {
  byName_.clear();
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
    byName_.emplace(LowerAscii(members[i].name), members[i].id);
  }
}

DispId InterfaceInfo::IdOfName(std::u16string_view name) const {
  // Member names are short; a longer one cannot be a member and needs no allocation either.
  char buf[64];
  if (name.size() > sizeof buf) return kNoDispId;
  for (size_t i = 0; i < name.size(); ++i) {
    char16_t c = name[i];
    if (c > 0x7F) return kNoDispId;  // member names are ASCII
    buf[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  auto it = byName_.find(std::string_view(buf, name.size()));
  return it == byName_.end() ? kNoDispId : it->second;
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
