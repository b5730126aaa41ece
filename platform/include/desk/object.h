// Reference-counted automation objects.
//
// Every object that a host can hold is an Object: counted by intrusive references (Ref<T>),
// reachable through its dispatch interface (Invoke by member id and kind, GetIdOfName), and
// describing itself through its InterfaceInfo. Everything runs on one thread; the counts are
// plain integers.
#pragma once

#include "desk/export.h"

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace desk {

using DispId = int32_t;
class Variant;
struct InterfaceInfo;

// How a member is invoked. A property's read is Get, a value write Let, an object write Set.
enum class InvokeKind : uint8_t { Get = 1, Let = 2, Set = 4, Method = 8 };

// The enumerator member of a collection.
inline constexpr DispId kDispIdNewEnum = -4;
// The default member (Item of a collection).
inline constexpr DispId kDispIdValue = 0;

class DESK_API Object {
 public:
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  void AddRef() noexcept { ++refs_; }
  void Release() noexcept {
    if (--refs_ == 0) delete this;
  }
  int RefCount() const noexcept { return refs_; }

  // The dispatch interface this object answers.
  virtual const InterfaceInfo& Interface() const = 0;

  // Calls a member by id. `args` are the member's arguments in declared order (a property
  // write passes the new value last); a by-reference argument is a Variant::ByRef pointing at
  // the caller's storage. Failures are thrown as desk::Error.
  virtual Variant Invoke(DispId id, InvokeKind kind, std::vector<Variant>& args) = 0;

  // The member id for a name, letter case ignored; fails with 438 when there is none.
  DispId GetIdOfName(std::u16string_view name) const;

 protected:
  Object() = default;
  virtual ~Object() = default;

 private:
  int refs_ = 0;
};

// An intrusive counted reference. A null Ref is the platform's Nothing.
template <class T>
class DESK_API Ref {
 public:
  Ref() noexcept = default;
  Ref(std::nullptr_t) noexcept {}
  Ref(T* p) noexcept : p_(p) {
    if (p_) p_->AddRef();
  }
  Ref(const Ref& o) noexcept : Ref(o.p_) {}
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  template <class U>
  Ref(const Ref<U>& o) noexcept : Ref(static_cast<T*>(o.get())) {}
  ~Ref() { reset(); }

  // Takes over a reference the caller already owns, such as the one an entry point hands out
  // (VarbelTreeview_CreateObject and the like), without adding another:
  //   desk::Object* raw = nullptr;
  //   if (VarbelTreeview_CreateObject(clsid, &raw, msg, sizeof msg) == 0) {
  //     auto tree = desk::Ref<desk::Object>::Adopt(raw);  // released when `tree` goes
  static Ref Adopt(T* p) noexcept {
    Ref r;
    r.p_ = p;
    return r;
  }
  // Gives up the reference without releasing it; the caller now owns it.
  [[nodiscard]] T* Detach() noexcept { return std::exchange(p_, nullptr); }

  Ref& operator=(Ref o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  void reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  friend bool operator==(const Ref& a, const Ref& b) noexcept { return a.p_ == b.p_; }

 private:
  T* p_ = nullptr;
};

template <class T, class... A>
Ref<T> MakeRef(A&&... a) {
  return Ref<T>(new T(std::forward<A>(a)...));
}

// A Ref that takes over the caller's reference: desk::AdoptRef(raw).
template <class T>
Ref<T> AdoptRef(T* p) noexcept {
  return Ref<T>::Adopt(p);
}

// Dynamic downcast of an object reference; null when the object is not a T.
template <class T, class U>
Ref<T> RefCast(const Ref<U>& r) {
  return Ref<T>(dynamic_cast<T*>(r.get()));
}

}  // namespace desk
