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
#include <unordered_map>
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
  int Find(DispId id, InvokeKind kind) const;
  // The id of a member by name, letter case ignored (ASCII names); kNoDispId when absent.
  DispId IdOfName(std::u16string_view name) const;
  void BuildIndex();

 private:
  std::unordered_map<int64_t, int> byIdKind_;
  std::unordered_map<std::string, DispId> byName_;
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
  Args(std::vector<Variant>& v, const MemberInfo& m) : v_(v), m_(m) {}
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

 private:
  std::vector<Variant>& v_;
  const MemberInfo& m_;
};

template <class T>
using Handler = std::function<Variant(T&, Args&)>;

template <class T>
struct DESK_API Row {
  MemberInfo info;
  Handler<T> fn;  // null for event rows and for members answered elsewhere
};

template <class T>
class DESK_API DispatchTable {
 public:
  DispatchTable(std::string name, std::string iid, std::vector<Row<T>> rows) {
    info_.name = std::move(name);
    info_.iid = std::move(iid);
    for (auto& r : rows) {
      info_.members.push_back(r.info);
      fns_.push_back(std::move(r.fn));
    }
    info_.BuildIndex();
  }
  const InterfaceInfo& Info() const { return info_; }
  const Handler<T>& Fn(int row) const { return fns_[row]; }

 private:
  InterfaceInfo info_;
  std::vector<Handler<T>> fns_;
};

// Checks the argument count against the row (450 when wrong) and pads omitted optional
// arguments with Missing.
DESK_API void CheckArgs(const MemberInfo& m, std::vector<Variant>& args);

// Converts a by-value argument to its declared type (13 or 6 when it does not convert); a
// by-reference argument stays a reference. Used by Invoke before the handler runs.
DESK_API void CoerceArgs(const MemberInfo& m, std::vector<Variant>& args);

// The dispatcher shared by every table-driven class.
template <class Self>
class DESK_API Dispatchable : public Object {
 public:
  const InterfaceInfo& Interface() const override { return Self::Table().Info(); }

  Variant Invoke(DispId id, InvokeKind kind, std::vector<Variant>& args) override {
    const auto& table = Self::Table();
    int row = table.Info().Find(id, kind);
    if (row < 0 || !table.Fn(row)) Raise(Err::NotSupported);
    const MemberInfo& m = table.Info().members[row];
    CheckArgs(m, args);
    CoerceArgs(m, args);
    Ref<Object> keepAlive(this);  // a handler may drop the caller's last reference
    Args a(args, m);
    return table.Fn(row)(static_cast<Self&>(*this), a);
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
