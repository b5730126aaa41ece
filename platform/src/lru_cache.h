// Values kept for their next use, bounded in bytes, the least recently used let go first. The
// keys are ordered, so that the values of one owner (a range of keys) can be walked or dropped
// together. The bound is the caller's at each call: it may change between calls.
#pragma once

#include <cstddef>
#include <list>
#include <map>
#include <utility>

namespace desk::detail {

template <class Key, class Value>
class LruCache {
 public:
  // The value at `key`, now the most recently used; null when absent.
  Value* Find(const Key& key) {
    const auto it = index_.find(key);
    if (it == index_.end()) return nullptr;
    used_.splice(used_.begin(), used_, it->second);
    return &it->second->value;
  }

  // f(key, value) for each value kept with a key in [from, to), in key order; none becomes
  // more recently used.
  template <class F>
  void ForEachIn(const Key& from, const Key& to, F&& f) const {
    for (auto it = index_.lower_bound(from); it != index_.end() && it->first < to; ++it) f(it->first, it->second->value);
  }

  // Keeps `value`, counted as `bytes`, as the most recently used, in place of any at `key`;
  // then lets the least recently used go until the cache holds at most `bound` bytes. A value
  // larger than the bound is not kept. On failure (memory) nothing changed.
  void Put(const Key& key, Value value, size_t bytes, size_t bound) {
    if (bytes > bound) return;
    Erase(key);
    const auto node = used_.insert(used_.begin(), Node{key, std::move(value), bytes});
    try {
      index_.emplace(key, node);
    } catch (...) {
      used_.erase(node);
      throw;
    }
    bytes_ += bytes;
    Trim(bound);
  }

  void Erase(const Key& key) {
    if (const auto it = index_.find(key); it != index_.end()) Drop(it);
  }
  // Lets every value with a key in [from, to) go.
  void EraseIn(const Key& from, const Key& to) {
    for (auto it = index_.lower_bound(from); it != index_.end() && it->first < to;) it = Drop(it);
  }
  // Lets values go, least recently used first, until the cache holds at most `bound` bytes.
  void Trim(size_t bound) {
    while (bytes_ > bound && !used_.empty()) Drop(index_.find(used_.back().key));
  }
  void Clear() {
    index_.clear();
    used_.clear();
    bytes_ = 0;
  }
  size_t Bytes() const { return bytes_; }
  size_t Count() const { return index_.size(); }

 private:
  struct Node {
    Key key;
    Value value;
    size_t bytes;
  };
  using Index = std::map<Key, typename std::list<Node>::iterator>;

  typename Index::iterator Drop(typename Index::iterator it) {
    bytes_ -= it->second->bytes;
    used_.erase(it->second);
    return index_.erase(it);
  }

  std::list<Node> used_;  // most recently used first
  Index index_;
  size_t bytes_ = 0;
};

}  // namespace desk::detail
