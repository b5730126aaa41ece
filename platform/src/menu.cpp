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
}  // namespace

const DispatchTable<MenuElement>& MenuElement::Table() {
  using K = InvokeKind;
  using T = VarType;
  static const DispatchTable<MenuElement> t(
      "Menu", "{33AD4EE2-6699-11CF-B70C-00AA0060D393}",
      {
          {{"Caption", 1, K::Get, {}, T::String}, [](MenuElement& e, Args&) { return Variant::String(e.caption_); }},
          {{"Caption", 1, K::Let, {}, T::String},
           [](MenuElement& e, Args& a) {
             e.SetCaption(a.NewValue().RawString());
             return Variant();
           }},
          {{"Tag", 2, K::Get, {}, T::String}, [](MenuElement& e, Args&) { return Variant::String(e.tag_); }},
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

void MenuElement::SetCaption(std::u16string c) {
  caption_ = std::move(c);
  if (owner_ && owner_->changed) owner_->changed();
}

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
  e0->caption_ = std::move(caption0);
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
  e->caption_ = e0.caption_;
  e->tag_ = e0.tag_;
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
