// Menus of a user-control surface: a top-level popup menu and a menu item array under it.
//
// The array follows the run-time's rules: element 0 exists from design time; Load creates the
// element with a given index (360 when it exists), Unload removes one (362 for element 0, 340
// when it is not loaded, 365 while its own click is being handled); elements keep their index
// and appear in index order; at least one element stays visible (hiding the last visible one
// fails with 380). Hosts reach the array by member name at run time; the tree control calls
// it directly.
#pragma once

#include "desk/export.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "desk/dispatch.h"

namespace desk {

class MenuArray;

// Made by its array only; final, so that its allocator serves one size.
class DESK_API MenuElement final : public Dispatchable<MenuElement> {
 public:
  static const DispatchTable<MenuElement>& Table();
  MenuElement(MenuArray* owner, int16_t index) : owner_(owner), index_(index) {}

  // Copies: callers keep them beyond the element's next change.
  std::u16string Caption() const { return std::u16string(CaptionView()); }
  std::u16string Tag() const { return std::u16string(TagView()); }
  std::u16string_view CaptionView() const { return Text().substr(0, captionSize_); }
  std::u16string_view TagView() const { return Text().substr(captionSize_); }
  bool Visible() const { return visible_; }
  int16_t Index() const { return index_; }
  void SetCaption(std::u16string_view c);
  void SetTag(std::u16string_view t);
  void SetVisible(bool v);

  // Elements come and go by the thousand when a long popup menu is filled and cleared: they
  // are kept in blocks and reused rather than each allocated on its own.
  static void* operator new(size_t size);
  static void operator delete(void* p, size_t size) noexcept;

 private:
  friend class MenuArray;
  std::u16string_view Text() const { return {heap_ ? heap_.get() : inline_, size_}; }
  void SetText(std::u16string_view caption, std::u16string_view tag);

  MenuArray* owner_;  // null once unloaded
  int16_t index_;
  bool visible_ = true;
  // The caption, then the tag, in one buffer: inside the element when they are short (a
  // typical item's caption and key), else on the heap.
  static constexpr size_t kInline = 24;
  uint32_t size_ = 0;
  uint32_t captionSize_ = 0;
  std::unique_ptr<char16_t[]> heap_;
  char16_t inline_[kInline];
};

class DESK_API MenuArray : public Dispatchable<MenuArray> {
 public:
  static const DispatchTable<MenuArray>& Table();
  // Element 0 is made here, with the design-time caption.
  MenuArray(std::u16string name, std::u16string caption0);
  ~MenuArray() override;

  const std::u16string& Name() const { return name_; }
  int32_t Count() const { return count_; }
  void Load(int16_t index);
  void Unload(int16_t index);
  // The element with this index; 340 when none.
  MenuElement& Element(int16_t index);
  // The element with this index, or null when none is loaded.
  MenuElement* Find(int16_t index) const {
    return index >= 0 && static_cast<size_t>(index) < byIndex_.size() ? byIndex_[static_cast<size_t>(index)].get()
                                                                       : nullptr;
  }
  // The loaded elements in index order, as (index, element) pairs:
  //   for (const auto& [index, element] : items.Elements()) ...
  class ElementList {
   public:
    class iterator {
     public:
      iterator(const Ref<MenuElement>* p, const Ref<MenuElement>* end) : p_(p), end_(end) { Skip(); }
      std::pair<int16_t, const Ref<MenuElement>&> operator*() const { return {(*p_)->Index(), *p_}; }
      iterator& operator++() {
        ++p_;
        Skip();
        return *this;
      }
      bool operator==(const iterator& o) const { return p_ == o.p_; }

     private:
      void Skip() {
        while (p_ != end_ && !*p_) ++p_;
      }
      const Ref<MenuElement>* p_;
      const Ref<MenuElement>* end_;
    };
    explicit ElementList(const std::vector<Ref<MenuElement>>& v) : v_(v) {}
    iterator begin() const { return {v_.data(), v_.data() + v_.size()}; }
    iterator end() const { return {v_.data() + v_.size(), v_.data() + v_.size()}; }

   private:
    const std::vector<Ref<MenuElement>>& v_;
  };
  ElementList Elements() const { return ElementList(byIndex_); }
  // Kept as a running count, so that hiding or unloading is O(1) however long the menu is.
  int VisibleCount() const { return visibleCount_; }

  // The click notification: delivers the element index to the handler while guarding the
  // element against Unload (365).
  using ClickHandler = std::function<void(int16_t index)>;
  void SetClickHandler(ClickHandler h) { onClick_ = std::move(h); }
  void Click(int16_t index);

  // Observers for a backend that shows the menu (called after each change).
  std::function<void()> changed;

 private:
  friend class MenuElement;
  std::u16string name_;
  // The elements by index (null where none is loaded), never ending in a null: the array's
  // members look an element up at every step, and a popup menu can hold thousands.
  std::vector<Ref<MenuElement>> byIndex_;
  int32_t count_ = 0;
  int visibleCount_ = 0;
  ClickHandler onClick_;
  std::vector<int16_t> inClick_;
};

// A top-level menu holding one item array.
class DESK_API Menu : public Dispatchable<Menu> {
 public:
  static const DispatchTable<Menu>& Table();
  Menu(std::u16string name, std::u16string caption, Ref<MenuArray> items)
      : name_(std::move(name)), caption_(std::move(caption)), items_(std::move(items)) {}
  const std::u16string& Name() const { return name_; }
  const std::u16string& Caption() const { return caption_; }
  MenuArray& Items() { return *items_; }
  const Ref<MenuArray>& ItemsRef() const { return items_; }

 private:
  std::u16string name_;
  std::u16string caption_;
  Ref<MenuArray> items_;
};

}  // namespace desk
