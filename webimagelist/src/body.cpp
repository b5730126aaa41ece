#include "body.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace Quorvane::mdlInternet {

namespace {
constexpr size_t kFirstBlock = 16 * 1024;
constexpr size_t kLargestBlock = 4 * 1024 * 1024;
constexpr size_t kMappedBlock = 1024 * 1024;
constexpr size_t kSpareBytes = 128 * 1024 * 1024;
// Every block holds whole pieces, so that a piece never needs a block larger than the next.
static_assert(kFirstBlock >= kReadPiece && kFirstBlock % kReadPiece == 0 && kLargestBlock % kReadPiece == 0);

// Large blocks of finished bodies, kept for the next download of this thread. They are
// handed back to the kernel with MADV_FREE: it may take the pages whenever it needs memory,
// and until it does, the next body reuses them without a page fault. Bounded in total size.
class SparePool {
 public:
  ~SparePool() {
    for (auto& [p, cap] : spare_) ::munmap(p, cap);
  }
  uint8_t* Take(size_t cap) {
    for (size_t i = 0; i < spare_.size(); ++i) {
      if (spare_[i].second != cap) continue;
      uint8_t* p = spare_[i].first;
      spare_.erase(spare_.begin() + static_cast<ptrdiff_t>(i));
      bytes_ -= cap;
      return p;
    }
    return nullptr;
  }
  size_t Bytes() const { return bytes_; }
  void Give(uint8_t* p, size_t cap) {
    if (bytes_ + cap > kSpareBytes) {
      ::munmap(p, cap);
      return;
    }
    ::madvise(p, cap, MADV_FREE);
    spare_.emplace_back(p, cap);
    bytes_ += cap;
  }

 private:
  std::vector<std::pair<uint8_t*, size_t>> spare_;
  size_t bytes_ = 0;
};

SparePool& Spares() {
  thread_local SparePool pool;
  return pool;
}

}  // namespace

Body::Block::Block(Block&& o) noexcept
    : data(std::exchange(o.data, nullptr)), capacity(o.capacity), used(o.used), mapped(o.mapped) {}

size_t Body::SpareBytes() { return Spares().Bytes(); }

Body::Block::~Block() {
  if (!data) return;
  if (mapped) Spares().Give(data, capacity);
  else ::operator delete[](data);
}

uint8_t* Body::Reserve(size_t n) {
  if (blocks_.empty() || blocks_.back().capacity - blocks_.back().used < n) {
    const size_t cap = blocks_.empty() ? kFirstBlock : std::min(blocks_.back().capacity * 2, kLargestBlock);
    blocks_.reserve(blocks_.size() + 1);  // nothing below may leak the new memory
    Block b;
    b.capacity = cap;
    if (cap >= kMappedBlock) {
      // Large blocks are filled at once: the pages are made in one call instead of one fault
      // each, which is most of the cost of holding a large body.
      b.data = Spares().Take(cap);
      if (!b.data) {
        void* p = ::mmap(nullptr, cap, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        b.data = static_cast<uint8_t*>(p);
      }
      b.mapped = true;
    } else {
      b.data = static_cast<uint8_t*>(::operator new[](cap));
    }
    blocks_.push_back(std::move(b));
  }
  return blocks_.back().data + blocks_.back().used;
}

uint8_t* Body::Reserve(size_t n, size_t& room) {
  uint8_t* at = Reserve(n);
  room = blocks_.back().capacity - blocks_.back().used;
  return at;
}

void Body::Append(std::string_view bytes) {
  while (!bytes.empty()) {
    const size_t n = std::min(bytes.size(), kReadPiece);
    std::memcpy(Reserve(n), bytes.data(), n);
    Commit(n);
    bytes.remove_prefix(n);
  }
}

void Body::Clear() {
  blocks_.clear();
  whole_.reset();
  size_ = 0;
}

std::vector<std::span<const uint8_t>> Body::Pieces() const {
  std::vector<std::span<const uint8_t>> out;
  if (whole_ && !whole_->empty()) out.emplace_back(whole_->data(), whole_->size());
  for (const auto& b : blocks_)
    if (b.used) out.emplace_back(b.data, b.used);
  return out;
}

std::string Body::ToString() const {
  std::string s;
  if (whole_) s.assign(whole_->begin(), whole_->end());
  for (const auto& b : blocks_) s.append(reinterpret_cast<const char*>(b.data), b.used);
  return s;
}

}  // namespace Quorvane::mdlInternet
