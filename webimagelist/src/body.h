// A downloaded body, held in blocks, and the spare large blocks each thread keeps for its next
// bodies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Quorvane::mdlInternet {

// The most a download reads at once, and the most a caller may Reserve.
inline constexpr size_t kReadPiece = 2048;

// A body as it arrived, kept in blocks that are never copied or moved once filled: memory
// stays close to the body's size, and appending is linear.
class Body {
 public:
  Body() = default;
  // A body that arrived whole in one buffer, shared with whoever else reads it.
  explicit Body(std::shared_ptr<const std::vector<uint8_t>> whole) : whole_(std::move(whole)), size_(whole_->size()) {}
  size_t size() const { return size_; }
  // Room for at least `n` more bytes at the end (n <= kReadPiece); fill then Commit.
  uint8_t* Reserve(size_t n);
  // The same, with `room` set to all the room there is at the end.
  uint8_t* Reserve(size_t n, size_t& room);
  void Commit(size_t n) { blocks_.back().used += n, size_ += n; }
  void Append(std::string_view bytes);
  void Clear();
  // The body as a sequence of pieces, in order.
  std::vector<std::span<const uint8_t>> Pieces() const;
  // The whole body in one string (tests, small bodies).
  std::string ToString() const;
  // The bytes of large blocks this thread keeps for its next bodies (tests).
  static size_t SpareBytes();

 private:
  struct Block {
    Block() = default;
    Block(Block&& o) noexcept;
    Block& operator=(Block&&) = delete;
    ~Block();
    uint8_t* data = nullptr;
    size_t capacity = 0;
    size_t used = 0;
    bool mapped = false;  // a whole mapping of its own rather than heap memory
  };
  std::vector<Block> blocks_;
  std::shared_ptr<const std::vector<uint8_t>> whole_;  // instead of blocks
  size_t size_ = 0;
};

}  // namespace Quorvane::mdlInternet
