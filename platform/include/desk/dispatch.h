// Dispatch tables and type information.
//
// Each interface is one table of rows {name, id, kind, parameters, result, handler}. The table
// is both the type information a host reads and the dispatcher Invoke uses, so a member's id,
// kind and typed C++ body cannot drift apart. A class derives from Dispatchable<Self> and
// declares `static const DispatchTable<Self>& Table();`.
#pragma once

#include "desk/export.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "desk/error.h"
#include "desk/object.h"
#include "desk/variant.h"

namespace desk {

inline constexpr DispId kNoDispId = INT32_MIN;

struct DESK_API ParamInfo {
  const char* name;
  VarType type;  // declared type; Any for a Variant parameter
  bool byRef = false;
  bool optional = false;
  // An object parameter of a particular class, for the type library only ("Picture").
  const char* objectType = nullptr;
};

struct DESK_API MemberInfo {
  const char* name;
  DispId id;
  InvokeKind kind;
  std::vector<ParamInfo> params;  // for Let/Set: the value is not listed here
  VarType result = VarType::Empty;  // Empty: no result
  const char* help = nullptr;       // event help texts
  bool hidden = false;
  // The class of an object result (or of the object a Set takes), for the type library only
  // ("Font", "Picture"); null for any object.
  const char* objectType = nullptr;
};

// One dispatch (or event) interface: its members in the interface's published order.
struct DESK_API InterfaceInfo {
  std::string name;
  std::string iid;  // braces form
  std::vector<MemberInfo> members;

  // Index of the row for (id, kind), or -1. A Method call also finds a Get row and a Get call
  // a method row, as late-binding callers use either for a parameterised read.
  int Find(DispId id, InvokeKind kind) const {
    int row = Lookup(Key(id, kind));
    if (row >= 0 || (kind != InvokeKind::Method && kind != InvokeKind::Get)) return row;
    return Lookup(Key(id, kind == InvokeKind::Method ? InvokeKind::Get : InvokeKind::Method));
  }
  // The id of a member by name, letter case ignored (ASCII names); kNoDispId when absent.
  DispId IdOfName(std::u16string_view name) const;
  void BuildIndex();

 private:
  // Open addressing over (id, kind): a call by id costs one multiply and, nearly always, one
  // probe, with no allocation.
  struct Slot {
    uint64_t key;
    int32_t row;  // -1: empty
  };
  static uint64_t Key(DispId id, InvokeKind k) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(id)) << 8) | static_cast<uint64_t>(k);
  }
  int Lookup(uint64_t key) const {
    if (slots_.empty()) return -1;
    for (size_t i = (key * 0x9E3779B97F4A7C15ull) >> shift_;; i = (i + 1) & (slots_.size() - 1)) {
      const Slot& s = slots_[i];
      if (s.row < 0) return -1;
      if (s.key == key) return s.row;
    }
  }
  std::vector<Slot> slots_;  // a power of two, at most half full
  unsigned shift_ = 64;
  // Names the same way: key is the hash of the lower-case name, row the first member of it.
  std::vector<Slot> names_;
};

struct DESK_API ClassInfo {
  std::string name;
  std::string clsid;
  bool creatable;
  const InterfaceInfo* dispatch;
  const InterfaceInfo* events;  // null when the class has none
};

struct DESK_API TypeLibInfo {
  std::string name;
  std::string libid;
  std::vector<ClassInfo> classes;
  std::vector<const InterfaceInfo*> interfaces;  // in the library's order
};

// Checked access to the arguments of one call, as the table's row declared them.
class DESK_API Args {
 public:
  Args(std::vector<Variant>& v, const MemberInfo& m, uint32_t data = 0) : v_(v), m_(m), data_(data) {}
  size_t size() const { return v_.size(); }
  Variant& operator[](size_t i) { return v_[i]; }
  bool IsMissing(size_t i) const { return i >= v_.size() || v_[i].IsMissing(); }
  int16_t Integer(size_t i) const { return v_[i].ToInteger(); }
  int32_t Long(size_t i) const { return v_[i].ToLong(); }
  float Single(size_t i) const { return v_[i].ToSingle(); }
  double Double(size_t i) const { return v_[i].ToDouble(); }
  int16_t Boolean(size_t i) const { return v_[i].ToBoolean(); }
  std::u16string String(size_t i) const { return v_[i].ToString(); }
  Ref<Object> Obj(size_t i) const { return v_[i].ToObject(); }
  // The value of a Let or Set: the last argument.
  Variant& NewValue() { return v_.back(); }
  const MemberInfo& Member() const { return m_; }
  // The row's data word (Row::data): lets one handler serve many rows without capturing.
  uint32_t Data() const { return data_; }

 private:
  std::vector<Variant>& v_;
  const MemberInfo& m_;
  uint32_t data_;
};

// A plain function: the call reaches the member's body in one indirect call. What differs
// between rows that share a handler travels in the row's data word, not in a capture.
template <class T>
using Handler = Variant (*)(T&, Args&);

template <class T>
struct DESK_API Row {
  MemberInfo info;
  Handler<T> fn = nullptr;  // null for event rows and for members answered elsewhere
  uint32_t data = 0;        // handed to the handler as Args::Data()
};

template <class T>
class DESK_API DispatchTable {
 public:
  DispatchTable(std::string name, std::string iid, std::vector<Row<T>> rows) {
    info_.name = std::move(name);
    info_.iid = std::move(iid);
    for (auto& r : rows) {
      info_.members.push_back(r.info);
      calls_.push_back({r.fn, r.data});
    }
    info_.BuildIndex();
  }
  const InterfaceInfo& Info() const { return info_; }
  Handler<T> Fn(int row) const { return calls_[static_cast<size_t>(row)].fn; }
  uint32_t Data(int row) const { return calls_[static_cast<size_t>(row)].data; }

  // Calls member (id, kind) of `self`: 438 when the table has no handler for it, then the
  // arguments are checked and converted, and the handler runs with `keepAlive` (if any) held.
  Variant Dispatch(T& self, DispId id, InvokeKind kind, std::vector<Variant>& args, Object* keepAlive = nullptr) const;

 private:
  struct Call {
    Handler<T> fn;
    uint32_t data;
  };
  InterfaceInfo info_;
  std::vector<Call> calls_;
};

// Checks the argument count against the row (450 when wrong) and pads omitted optional
// arguments with Missing.
DESK_API void CheckArgs(const MemberInfo& m, std::vector<Variant>& args);

// Converts a by-value argument to its declared type (13 or 6 when it does not convert); a
// by-reference argument stays a reference. Used by Invoke before the handler runs.
DESK_API void CoerceArgs(const MemberInfo& m, std::vector<Variant>& args);

// Both, with the common cases of a member without parameters (a property read, a plain
// method, a property write with a value already of its type) answered inline.
inline void PrepareArgs(const MemberInfo& m, std::vector<Variant>& args) {
  if (m.params.empty()) {
    if (m.kind == InvokeKind::Get || m.kind == InvokeKind::Method) {
      if (!args.empty()) Raise(Err::WrongArgumentCount);
      return;
    }
    if (m.kind == InvokeKind::Let && args.size() == 1 && args[0].Type() == m.result) return;
  }
  CheckArgs(m, args);
  CoerceArgs(m, args);
}

template <class T>
inline Variant DispatchTable<T>::Dispatch(T& self, DispId id, InvokeKind kind, std::vector<Variant>& args,
                                          Object* keepAlive) const {
  int row = info_.Find(id, kind);
  Handler<T> fn = row < 0 ? nullptr : Fn(row);
  if (!fn) Raise(Err::NotSupported);
  const MemberInfo& m = info_.members[static_cast<size_t>(row)];
  PrepareArgs(m, args);
  Ref<Object> keep(keepAlive);
  Args a(args, m, Data(row));
  return fn(self, a);
}

// The dispatcher shared by every table-driven class.
template <class Self>
class DESK_API Dispatchable : public Object {
 public:
  const InterfaceInfo& Interface() const override { return Self::Table().Info(); }

  Variant Invoke(DispId id, InvokeKind kind, std::vector<Variant>& args) override {
    // Kept alive: a handler may drop the caller's last reference.
    return Self::Table().Dispatch(static_cast<Self&>(*this), id, kind, args, this);
  }
};

// Calls a member of any object by name (late binding), as a host that knows no ids would.
DESK_API Variant CallByName(Object& o, std::u16string_view name, InvokeKind kind, std::vector<Variant> args = {});
inline Variant CallByName(const Ref<Object>& o, std::u16string_view name, InvokeKind kind,
                          std::vector<Variant> args = {}) {
  if (!o) Raise(Err::ObjectNotSet);
  return CallByName(*o, name, kind, std::move(args));
}

}  // namespace desk
