#include "desk/collection.h"

#include <algorithm>
#include <cmath>

#include "desk/text.h"

namespace desk {

const DispatchTable<Collection>& Collection::Table() {
  static const DispatchTable<Collection> t(
      "_Collection", "{A4C46780-499F-101B-BB78-00AA00383CBB}",
      {
          {{"Item", kDispIdValue, InvokeKind::Method, {{"Index", VarType::Any}}, VarType::Any},
           [](Collection& c, Args& a) { return c.Item(a[0].Value()); }},
          {{"Add",
            1,
            InvokeKind::Method,
            {{"Item", VarType::Any}, {"Key", VarType::Any, false, true}, {"Before", VarType::Any, false, true},
             {"After", VarType::Any, false, true}}},
           [](Collection& c, Args& a) {
             std::optional<std::u16string> key;
             if (!a.IsMissing(1)) key = a.String(1);
             c.Add(a[0].Value(), key, a[2].Value(), a[3].Value());
             return Variant();
           }},
          {{"Count", 2, InvokeKind::Method, {}, VarType::Long},
           [](Collection& c, Args&) { return Variant::Long(c.Count()); }},
          {{"Remove", 3, InvokeKind::Method, {{"Index", VarType::Any}}},
           [](Collection& c, Args& a) {
             c.Remove(a[0].Value());
             return Variant();
           }},
          {{"_NewEnum", kDispIdNewEnum, InvokeKind::Method, {}, VarType::Object, nullptr, true},
           [](Collection& c, Args&) { return Variant::Object(c.NewEnum()); }},
      });
  return t;
}

Collection::Collection() = default;
Collection::~Collection() = default;

size_t Collection::PositionOf(const Variant& index) const {
  const Variant& v = index.Deref();
  if (v.Type() == VarType::String) {
    auto it = keys_.find(FoldCase(v.RawString()));
    if (it == keys_.end()) Raise(Err::InvalidProcedureCall);
    // The map and the list agree: the entry is in the list.
    auto at = std::find_if(items_.begin(), items_.end(), [&](const auto& e) { return e.get() == it->second; });
    return static_cast<size_t>(at - items_.begin());
  }
  int32_t pos = v.ToLong();  // 13 for an object or a missing argument
  if (pos < 1 || pos > Count()) Raise(Err::SubscriptOutOfRange);
  return static_cast<size_t>(pos - 1);
}

void Collection::Insert(size_t pos, std::unique_ptr<Entry> e) {
  // In the list first: a key is never left naming an entry that memory running out dropped.
  Entry* added = e.get();
  const auto at = items_.insert(items_.begin() + static_cast<ptrdiff_t>(pos), std::move(e));
  if (added->hasKey) {
    try {
      keys_.emplace(added->folded, added);
    } catch (...) {
      items_.erase(at);
      throw;
    }
  }
  for (CollectionEnum* en : enums_)
    if (en->pos_ > pos) ++en->pos_;
}

void Collection::Erase(size_t pos) {
  std::unique_ptr<Entry> e = std::move(items_[pos]);
  items_.erase(items_.begin() + static_cast<ptrdiff_t>(pos));
  if (e->hasKey) keys_.erase(e->folded);
  for (CollectionEnum* en : enums_)
    if (en->pos_ > pos) --en->pos_;
  // `e` (and the item's reference) goes last, after the collection is consistent again: the
  // item's destructor may call back into this collection.
}

void Collection::Add(const Variant& item, const std::optional<std::u16string>& key, const Variant& before,
                     const Variant& after) {
  auto e = std::make_unique<Entry>();
  e->item = item.Value();
  if (key) {
    e->folded = FoldCase(*key);
    e->hasKey = true;
    if (keys_.count(e->folded)) Raise(Err::KeyAlreadyAssociated);
  }
  bool hasBefore = !before.IsMissing() && !before.IsEmpty();
  bool hasAfter = !after.IsMissing() && !after.IsEmpty();
  if (hasBefore && hasAfter) Raise(Err::InvalidProcedureCall);
  size_t pos = items_.size();
  if (hasBefore) pos = PositionOf(before);
  if (hasAfter) pos = PositionOf(after) + 1;
  Insert(pos, std::move(e));
}

Variant Collection::Item(const Variant& index) const {
  const Variant& v = index.Deref();
  if (v.Type() == VarType::String) {
    const Variant* found = Find(v.RawString());
    if (!found) Raise(Err::InvalidProcedureCall);
    return *found;
  }
  return items_[PositionOf(index)]->item;
}

const Variant* Collection::Find(std::u16string_view key) const {
  auto it = keys_.find(FoldCase(key));
  return it == keys_.end() ? nullptr : &it->second->item;
}

void Collection::Remove(const Variant& index) { Erase(PositionOf(index)); }

void Collection::Clear() {
  std::vector<std::unique_ptr<Entry>> old = std::move(items_);  // leaves items_ empty
  keys_.clear();
  for (CollectionEnum* en : enums_) en->pos_ = 0;
  old.clear();  // items released once the collection is empty and consistent
}

Ref<CollectionEnum> Collection::NewEnum() { return MakeRef<CollectionEnum>(Ref<Collection>(this)); }

const DispatchTable<CollectionEnum>& CollectionEnum::Table() {
  static const DispatchTable<CollectionEnum> t("IEnumVARIANT", "{00020404-0000-0000-C000-000000000046}",
                                               {
                                                   {{"Next", 1, InvokeKind::Method, {{"Item", VarType::Any, true}},
                                                     VarType::Boolean},
                                                    [](CollectionEnum& e, Args& a) {
                                                      Variant out;
                                                      bool ok = e.Next(out);
                                                      a[0].Assign(out);
                                                      return Variant::Bool(ok);
                                                    }},
                                                   {{"Reset", 2, InvokeKind::Method, {}},
                                                    [](CollectionEnum& e, Args&) {
                                                      e.Reset();
                                                      return Variant();
                                                    }},
                                               });
  return t;
}

CollectionEnum::CollectionEnum(Ref<Collection> c) : col_(std::move(c)) { col_->enums_.push_back(this); }

CollectionEnum::~CollectionEnum() { std::erase(col_->enums_, this); }

bool CollectionEnum::Next(Variant& out) {
  if (pos_ >= col_->items_.size()) return false;
  out = col_->items_[pos_++]->item;
  return true;
}

}  // namespace desk
