#include "desk/error.h"

#include "desk/text.h"

namespace desk {

const char16_t* ErrorText(Err e) noexcept {
  switch (e) {
    case Err::InvalidProcedureCall: return u"Invalid procedure call or argument";
    case Err::Overflow: return u"Overflow";
    case Err::OutOfMemory: return u"Out of memory";
    case Err::SubscriptOutOfRange: return u"Subscript out of range";
    case Err::TypeMismatch: return u"Type mismatch";
    case Err::FileNotFound: return u"File not found";
    case Err::PermissionDenied: return u"Permission denied";
    case Err::PathFileAccess: return u"Path/File access error";
    case Err::PathNotFound: return u"Path not found";
    case Err::ObjectNotSet: return u"Object variable or With block variable not set";
    case Err::InvalidFileFormat: return u"Invalid file format";
    case Err::ObjectNotPersistable: return u"Can't save an object that does not support persistence";
    case Err::ControlArrayElementMissing: return u"Control array element doesn't exist";
    case Err::ObjectAlreadyLoaded: return u"Object already loaded";
    case Err::CantUnloadDesignTime: return u"Can't unload controls created at design time";
    case Err::CantUnloadInContext: return u"Unable to unload within this context";
    case Err::InvalidPropertyValue: return u"Invalid property value";
    case Err::ObjectRequired: return u"Object required";
    case Err::CantCreateObject: return u"Can't create object";
    case Err::NotSupported: return u"Object doesn't support this property or method";
    case Err::WrongArgumentCount: return u"Wrong number of arguments or invalid property assignment";
    case Err::KeyAlreadyAssociated: return u"This key is already associated with an element of this collection";
    case Err::InvalidPicture: return u"Invalid picture";
    case Err::IndexOutOfBounds: return u"Index out of bounds";
    case Err::ElementNotFound: return u"Element not found";
    case Err::KeyNotUnique: return u"Key is not unique in collection";
    case Err::InvalidKey: return u"Invalid key";
    case Err::WrongThread: return u"The object was called from a thread other than the one that created it";
  }
  return u"";  // unreachable for a valid enumerator
}

Error::Error(Err e) : Error(static_cast<int32_t>(e), ErrorText(e)) {}

Error::Error(int32_t number, std::u16string description)
    : number_(number), description_(std::move(description)) {
  what_ = std::to_string(number_) + ": " + U8(description_);
}

void Raise(Err e) { throw Error(e); }
void Raise(Err e, std::u16string description) { throw Error(static_cast<int32_t>(e), std::move(description)); }

}  // namespace desk
