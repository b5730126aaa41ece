// The run-time's keyed collection.
//
// Insertion order kept, positions 1-based, text keys unique regardless of letter case across
// all of Unicode (full case folding), hashed key look-up. An enumeration in progress survives
// removals, insertions and Clear: each live enumerator is told of every change and moves its
// position so that it neither skips nor repeats an element and never reads freed memory.
#pragma once

#include "desk/export.h"

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "desk/dispatch.h"

namespace desk {

class CollectionEnum;

class DESK_API Collection : public Dispatchable<Collection> {
 public:
  static const DispatchTable<Collection>& Table();
  Collection();
  ~Collection() override;

  // Add(item, key, before, after): appends when neither position is given. A present key
  // fails with 457; a bad before/after with 5 (missing key) or 9 (position).
  void Add(const Variant& item, const std::optional<std::u16string>& key = std::nullopt,
           const Variant& before = Variant::Missing(), const Variant& after = Variant::Missing());
  // Item by 1-based position (number) or key (text).
  Variant Item(const Variant& index) const;
  // Look-up by key only; null when absent. Costs one hash of the folded key.
  const Variant* Find(std::u16string_view key) const;
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  void Remove(const Variant& index);
  void Clear();
  // A new enumerator positioned before the first element.
  Ref<CollectionEnum> NewEnum();

  // The element at 0-based position i (no checks).
  const Variant& At(size_t i) const { return items_[i]->item; }

 private:
  friend class CollectionEnum;
  struct Entry {
    Variant item;
    std::u16string folded;  // empty when the element has no key
    bool hasKey = false;
  };
  size_t PositionOf(const Variant& index) const;  // 0-based, or raises
  void Insert(size_t pos, std::unique_ptr<Entry> e);
  void Erase(size_t pos);

  std::vector<std::unique_ptr<Entry>> items_;
  std::unordered_map<std::u16string, Entry*> keys_;
  std::vector<CollectionEnum*> enums_;  // live enumerators, told of every change
};

// The enumerator object (a host's For Each): Next returns false at the end.
class DESK_API CollectionEnum : public Dispatchable<CollectionEnum> {
 public:
  static const DispatchTable<CollectionEnum>& Table();
  explicit CollectionEnum(Ref<Collection> c);
  ~CollectionEnum() override;
  bool Next(Variant& out);
  void Reset() { pos_ = 0; }

 private:
  friend class Collection;
  Ref<Collection> col_;
  size_t pos_ = 0;  // 0-based position of the next element
};

}  // namespace desk
