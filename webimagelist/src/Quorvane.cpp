#include "Quorvane/Quorvane.h"

#include <iterator>

#include "httpImage.h"
#include "httpImages.h"
#include "ucMain.h"
#include "desk/component.h"

namespace Quorvane {
namespace {

desk::Ref<desk::Object> CreateucMain() { return desk::MakeRef<ucMain>(); }

const desk::ClassFactory kFactories[] = {
    {ucMain::kClassId, &CreateucMain},
    {httpImages::kClassId, nullptr},  // obtained from ucMain.ListImages
    {httpImage::kClassId, nullptr},   // obtained from httpImages.Add
};

const desk::TypeLibInfo& Library() {
  static const desk::TypeLibInfo lib = [] {
    desk::TypeLibInfo l;
    l.name = "Quorvane";
    l.libid = kLibraryId;
    l.classes = {
        {"httpImage", httpImage::kClassId, false, &httpImage::Table().Info(), nullptr},
        {"httpImages", httpImages::kClassId, false, &httpImages::Table().Info(), nullptr},
        {"ucMain", ucMain::kClassId, true, &ucMain::Table().Info(), &ucMain::EventInterface()},
    };
    l.interfaces = {&httpImage::Table().Info(), &httpImages::Table().Info(), &ucMain::Table().Info(),
                    &ucMain::EventInterface()};
    return l;
  }();
  return lib;
}

}  // namespace
}  // namespace Quorvane

extern "C" int32_t Quorvane_CreateObject(const char* clsid, desk::Object** out, char* message, size_t size) {
  return desk::CreateByClassId(Quorvane::Library(), Quorvane::kFactories, clsid, out, message, size);
}

extern "C" const desk::TypeLibInfo* Quorvane_TypeLib() { return &Quorvane::Library(); }
