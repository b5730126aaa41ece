// The C interface's error records (desk_error): how a failure, or whatever was thrown inside,
// is handed to the host. Nothing thrown may cross desk_c.h.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "desk/desk_c.h"
#include "desk/error.h"
#include "desk/object.h"
#include "desk/text.h"

namespace desk::capi {

// The source of a failure that no member of an interface raised.
inline constexpr std::string_view kSource = "desk";

// `text` in UTF-8 or UTF-16, copied either way with no memory of its own: memory may have run
// out.
template <class Text>
int32_t Fail(desk_error* err, int32_t number, const Text& text, std::string_view source) noexcept {
  if (err) {
    err->number = number;
    CopyUtf8(text, err->text, sizeof err->text);
    CopyUtf8(source, err->source, sizeof err->source);
  }
  return number;
}

int32_t Fail(desk_error* err, Err e, std::string_view source = kSource);

// A record that is already clear (the common case: a host reuses one for a run of calls that
// succeed) is left untouched, sparing a write to each of its cache lines.
inline int32_t Ok(desk_error* err) {
  // The number and the text's first byte are adjacent: one load tests both.
  static_assert(offsetof(desk_error, text) == sizeof(int32_t));
  constexpr uint64_t kNumberAndText0 =
      std::endian::native == std::endian::little ? 0xFF'FFFF'FFFFull : 0xFFFF'FFFF'FF00'0000ull;
  uint64_t head = 0;
  if (err) std::memcpy(&head, err, sizeof head);
  if (err && ((head & kNumberAndText0) != 0 || err->source[0] != '\0')) {
    err->number = 0;
    err->text[0] = '\0';
    err->source[0] = '\0';
  }
  return 0;
}

// The answer for whatever was thrown inside; `source` names the interface that failed.
int32_t Translate(desk_error* err, std::string_view source) noexcept;

// The name of the object's interface, for the record's source ("desk" when there is none).
std::string SourceOf(Object* o) noexcept;

}  // namespace desk::capi
