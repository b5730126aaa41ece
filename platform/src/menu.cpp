#include "desk/menu.h"

#include <algorithm>

#include "desk/text.h"

namespace desk {

namespace {
[[noreturn]] void NoElement(int16_t index) {
  Raise(Err::ControlArrayElementMissing, u"Control array element '" + DecimalText(index) + u"' doesn't exist");
}
// Keeps the element marked as "its click is being handled" for the duration of a handler.
class ClickGuard {
 public:
  ClickGuard(std::vector<int16_t>& v, int16_t i) : v_(v) { v_.push_back(i); }
  ~ClickGuard() { v_.pop_back(); }
  ClickGuard(const ClickGuard&) = delete;
  ClickGuard& operator=(const ClickGuard&) = delete;

 private:
  std::vector<int16_t>& v_;
};

#if defined(__SANITIZE_ADDRESS__)
#define DESK_MENU_POOL 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DESK_MENU_POOL 0
#endif
#endif
#ifndef DESK_MENU_POOL
#define DESK_MENU_POOL 1
#endif

// Free element slots, taken from blocks of kBlock that live as long as the process: an element
// may be released by a host at any time, also during static destruction. Under
// AddressSanitizer every element is allocated on its own, so that a use after release is caught.
class ElementPool {
 public:
  void* Take() {
    if (!free_) Grow();
    Slot* s = free_;
    free_ = s->next;
    return s;
  }
  void Give(void* p) noexcept {
    auto* s = static_cast<Slot*>(p);
    s->next = free_;
    free_ = s;
  }

 private:
  union Slot {
    Slot* next;
    alignas(MenuElement) unsigned char bytes[sizeof(MenuElement)];
  };
  static constexpr size_t kBlock = 256;
  void Grow() {
    auto* block = static_cast<Slot*>(::operator new(kBlock * sizeof(Slot)));
    for (size_t i = kBlock; i-- > 0;) Give(&block[i]);
  }
  Slot* free_ = nullptr;
};

ElementPool& Pool() {
  static ElementPool* const pool = new ElementPool;  // never destroyed, see above
  return *pool;
}
}  // namespace

void* MenuElement::operator new(size_t size) {
  if (!DESK_MENU_POOL) return ::operator new(size);
  return Pool().Take();
}

void MenuElement::operator delete(void* p, size_t) noexcept {
  if (!p) return;
  if (!DESK_MENU_POOL) return ::operator delete(p);
  Pool().Give(p);
}

const DispatchTable<MenuElement>& MenuElement::Table() {
  using K = InvokeKind;
  using T = VarType;
  static const DispatchTable<MenuElement> t(
      "Menu", "{33AD4EE2-6699-11CF-B70C-00AA0060D393}",
      {
          {{"Caption", 1, K::Get, {}, T::String}, [](MenuElement& e, Args&) { return Variant::String(e.Caption()); }},
          {{"Caption", 1, K::Let, {}, T::String},
           [](MenuElement& e, Args& a) {
             e.SetCaption(a.NewValue().RawString());
             return Variant();
           }},
          {{"Tag", 2, K::Get, {}, T::String}, [](MenuElement& e, Args&) { return Variant::String(e.Tag()); }},
          {{"Tag", 2, K::Let, {}, T::String},
           [](MenuElement& e, Args& a) {
             e.SetTag(a.NewValue().RawString());
             return Variant();
           }},
          {{"Visible", 3, K::Get, {}, T::Boolean}, [](MenuElement& e, Args&) { return Variant::Bool(e.visible_); }},
          {{"Visible", 3, K::Let, {}, T::Boolean},
           [](MenuElement& e, Args& a) {
             e.SetVisible(a.NewValue().RawBoolean() != 0);
             return Variant();
           }},
          {{"Index", 4, K::Get, {}, T::Integer}, [](MenuElement& e, Args&) { return Variant::Integer(e.index_); }},
      });
  return t;
}

void MenuElement::SetText(std::u16string_view caption, std::u16string_view tag) {
  const size_t size = caption.size() + tag.size();
  if (size > UINT32_MAX) Raise(Err::OutOfMemory);
  // Made apart first: either part may be a view of the current text.
  char16_t local[kInline];
  std::unique_ptr<char16_t[]> grown;
  char16_t* out = local;
  if (size > kInline) {
    grown.reset(new char16_t[size]);
    out = grown.get();
  }
  std::copy(caption.begin(), caption.end(), out);
  std::copy(tag.begin(), tag.end(), out + caption.size());
  if (grown) {
    heap_ = std::move(grown);
  } else {
    std::copy(local, local + size, inline_);
    heap_.reset();
  }
  size_ = static_cast<uint32_t>(size);
  captionSize_ = static_cast<uint32_t>(caption.size());
}

void MenuElement::SetCaption(std::u16string_view c) {
  SetText(c, TagView());
  if (owner_ && owner_->changed) owner_->changed();
}

void MenuElement::SetTag(std::u16string_view t) { SetText(CaptionView(), t); }

void MenuElement::SetVisible(bool v) {
  if (!v && visible_ && owner_ && owner_->VisibleCount() == 1) Raise(Err::InvalidPropertyValue);
  if (owner_ && v != visible_) owner_->visibleCount_ += v ? 1 : -1;
  visible_ = v;
  if (owner_ && owner_->changed) owner_->changed();
}

const DispatchTable<MenuArray>& MenuArray::Table() {
  using K = InvokeKind;
  using T = VarType;
  static const DispatchTable<MenuArray> t(
      "MenuArray", "{33AD4EE0-6699-11CF-B70C-00AA0060D393}",
      {
          {{"Item", kDispIdValue, K::Get, {{"Index", T::Integer}}, T::Object},
           [](MenuArray& m, Args& a) { return Variant::Object(Ref<Object>(&m.Element(a.Integer(0)))); }},
          {{"Count", 1, K::Get, {}, T::Long}, [](MenuArray& m, Args&) { return Variant::Long(m.Count()); }},
          {{"Load", 2, K::Method, {{"Index", T::Integer}}},
           [](MenuArray& m, Args& a) {
             m.Load(a.Integer(0));
             return Variant();
           }},
          {{"Unload", 3, K::Method, {{"Index", T::Integer}}},
           [](MenuArray& m, Args& a) {
             m.Unload(a.Integer(0));
             return Variant();
           }},
          {{"UBound", 4, K::Get, {}, T::Integer},
           [](MenuArray& m, Args&) { return Variant::Integer(static_cast<int16_t>(m.byIndex_.size() - 1)); }},
      });
  return t;
}

MenuArray::MenuArray(std::u16string name, std::u16string caption0) : name_(std::move(name)) {
  Ref<MenuElement> e0 = MakeRef<MenuElement>(this, 0);
  e0->SetText(caption0, {});
  byIndex_.push_back(std::move(e0));
  count_ = 1;
  visibleCount_ = 1;
}

MenuArray::~MenuArray() {
  for (auto& e : byIndex_)
    if (e) e->owner_ = nullptr;
}

void MenuArray::Load(int16_t index) {
  if (index < 0) NoElement(index);
  if (Find(index)) Raise(Err::ObjectAlreadyLoaded);
  // A loaded element starts as a copy of element 0.
  const MenuElement& e0 = *byIndex_.at(0);
  Ref<MenuElement> e = MakeRef<MenuElement>(this, index);
  e->SetText(e0.CaptionView(), e0.TagView());
  e->visible_ = e0.visible_;
  if (e->visible_) ++visibleCount_;
  if (byIndex_.size() <= static_cast<size_t>(index)) byIndex_.resize(static_cast<size_t>(index) + 1);
  byIndex_[static_cast<size_t>(index)] = std::move(e);
  ++count_;
  if (changed) changed();
}

void MenuArray::Unload(int16_t index) {
  if (index == 0) Raise(Err::CantUnloadDesignTime);
  MenuElement* found = Find(index);
  if (!found) NoElement(index);
  if (std::find(inClick_.begin(), inClick_.end(), index) != inClick_.end()) Raise(Err::CantUnloadInContext);
  if (found->visible_ && VisibleCount() == 1) Raise(Err::InvalidPropertyValue);
  Ref<MenuElement> gone = std::move(byIndex_[static_cast<size_t>(index)]);
  while (!byIndex_.back()) byIndex_.pop_back();  // element 0 stays
  --count_;
  if (gone->visible_) --visibleCount_;
  gone->owner_ = nullptr;
  if (changed) changed();
}

MenuElement& MenuArray::Element(int16_t index) {
  MenuElement* e = Find(index);
  if (!e) NoElement(index);
  return *e;
}

void MenuArray::Click(int16_t index) {
  Ref<Object> keep(this);
  Element(index);  // 340 for an element that is not loaded
  ClickGuard guard(inClick_, index);
  if (onClick_) {
    ClickHandler h = onClick_;  // the handler may replace itself
    h(index);
  }
}

const DispatchTable<Menu>& Menu::Table() {
  using K = InvokeKind;
  using T = VarType;
  static const DispatchTable<Menu> t("Menu", "{33AD4EE2-6699-11CF-B70C-00AA0060D393}",
                                     {
                                         {{"Caption", 1, K::Get, {}, T::String},
                                          [](Menu& m, Args&) { return Variant::String(m.caption_); }},
                                         {{"Name", 5, K::Get, {}, T::String},
                                          [](Menu& m, Args&) { return Variant::String(m.name_); }},
                                     });
  return t;
}

}  // namespace desk
