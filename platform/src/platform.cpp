#include "desk/platform.h"

#include "desk/headless.h"
#include "desk/picture_loader.h"
#include "desk/surface_base.h"

namespace desk {

Control::~Control() = default;

Ref<Picture> Platform::LoadPicture(const std::u16string& path) {
  if (path.empty()) return MakeRef<Picture>();
  return LoadPictureFile(path);
}

namespace {
std::shared_ptr<Platform>& Slot() {
  static std::shared_ptr<Platform> p;
  return p;
}
}  // namespace

std::shared_ptr<Platform> SharedPlatform() {
  auto& p = Slot();
  if (!p) p = std::make_shared<HeadlessPlatform>();
  return p;
}

Platform& CurrentPlatform() { return *SharedPlatform(); }

void SetPlatform(std::shared_ptr<Platform> p) { Slot() = std::move(p); }

HeadlessPlatform* Headless() { return dynamic_cast<HeadlessPlatform*>(&CurrentPlatform()); }

void SurfaceBase::MakeChildren(const SurfaceDesign& design, Ref<TreeView> tree) {
  tree_ = std::move(tree);
  treeExt_ = MakeExtendedControl(tree_, design.treeName);
  items_ = MakeRef<MenuArray>(design.arrayName, design.arrayCaption0);
  mainMenu_ = MakeRef<Menu>(design.mainMenuName, design.mainMenuCaption, items_);
}

Ref<MenuArray> SurfaceBase::PopupItems(const Ref<Object>& menu) {
  if (!menu) Raise(Err::ObjectNotSet);
  Ref<MenuArray> items;
  if (auto m = RefCast<Menu>(menu)) items = m->ItemsRef();
  else items = RefCast<MenuArray>(menu);
  if (!items) Raise(Err::TypeMismatch);
  return items;
}

}  // namespace desk
