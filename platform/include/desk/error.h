// Errors of the component run-time: a 32-bit number and a text, as hosts see them.
#pragma once

#include "desk/export.h"

#include <cstdint>
#include <exception>
#include <string>

namespace desk {

// The run-time's and the common controls' own error numbers.
enum class Err : int32_t {
  InvalidProcedureCall = 5,
  Overflow = 6,
  OutOfMemory = 7,
  SubscriptOutOfRange = 9,
  TypeMismatch = 13,
  FileNotFound = 53,
  PermissionDenied = 70,
  PathFileAccess = 75,
  PathNotFound = 76,
  ObjectNotSet = 91,
  InvalidFileFormat = 321,
  ObjectNotPersistable = 330,
  ControlArrayElementMissing = 340,
  ObjectAlreadyLoaded = 360,
  CantUnloadDesignTime = 362,
  CantUnloadInContext = 365,
  InvalidPropertyValue = 380,
  ObjectRequired = 424,
  CantCreateObject = 429,
  NotSupported = 438,
  WrongArgumentCount = 450,
  KeyAlreadyAssociated = 457,
  InvalidPicture = 481,
  IndexOutOfBounds = 35600,
  ElementNotFound = 35601,
  KeyNotUnique = 35602,
  InvalidKey = 35603,
  // A call from a thread other than the one the objects live on (0x8001010E).
  WrongThread = -2147417842,
};

// The platform's text for a number. The switch behind it has no default, so a new
// number without a text does not build.
DESK_API const char16_t* ErrorText(Err e) noexcept;

class DESK_API Error : public std::exception {
 public:
  explicit Error(Err e);
  Error(int32_t number, std::u16string description);

  int32_t Number() const noexcept { return number_; }
  const std::u16string& Description() const noexcept { return description_; }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  int32_t number_;
  std::u16string description_;
  std::string what_;
};

[[noreturn]] DESK_API void Raise(Err e);
[[noreturn]] DESK_API void Raise(Err e, std::u16string description);

}  // namespace desk
