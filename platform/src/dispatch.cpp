#include "desk/dispatch.h"

#include <cctype>


namespace desk {

namespace {
int64_t IdKindKey(DispId id, InvokeKind k) {
  return (static_cast<int64_t>(static_cast<uint32_t>(id)) << 8) | static_cast<int64_t>(k);
}
std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}
bool IsPut(InvokeKind k) { return k == InvokeKind::Let || k == InvokeKind::Set; }
}  // namespace

void InterfaceInfo::BuildIndex() {
  byIdKind_.clear();
  byName_.clear();
  for (size_t i = 0; i < members.size(); ++i) {
    byIdKind_.emplace(IdKindKey(members[i].id, members[i].kind), static_cast<int>(i));
    byName_.emplace(LowerAscii(members[i].name), members[i].id);
  }
}

int InterfaceInfo::Find(DispId id, InvokeKind kind) const {
  auto it = byIdKind_.find(IdKindKey(id, kind));
  if (it != byIdKind_.end()) return it->second;
  InvokeKind alt = kind == InvokeKind::Method ? InvokeKind::Get : kind == InvokeKind::Get ? InvokeKind::Method : kind;
  if (alt != kind) {
    it = byIdKind_.find(IdKindKey(id, alt));
    if (it != byIdKind_.end()) return it->second;
  }
  return -1;
}

DispId InterfaceInfo::IdOfName(std::u16string_view name) const {
  std::string n;
  n.reserve(name.size());
  for (char16_t c : name) {
    if (c > 0x7F) return kNoDispId;  // member names are ASCII
    n.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  auto it = byName_.find(n);
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
