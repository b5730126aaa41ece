// VarbelTreeviewControl: a tree-view control that hosts the platform tree over its whole
// surface and presents it to the host under an interface of its own.
//
// Sections of the interface (all reachable by member id through Invoke, and as typed C++
// members below, which are one-liners over the same table):
//   - forwarded members: read, write or call the inner tree's member of the same name;
//   - stored members: keep a value of the control's own (m_ fields), touching nothing else;
//   - inert methods: accept their arguments and do nothing;
//   - Nodes, PopUpMenus, PopUpMenu, ShowPopupMenu and DoHitTest.
// Every write of a forwarded or stored member ends with PropertyChanged and the member's name.
// Nothing here traps failures: they come back to the caller as desk::Error.
#pragma once

#include <memory>
#include <string>

#include "desk/dispatch.h"
#include "desk/events.h"
#include "desk/platform.h"

namespace varbel {

class PopUpMenus;

inline constexpr const char* kLibId = "{00BE35B3-E98A-4C94-BB2D-396DD521FC59}";
inline constexpr const char* kControlClsid = "{D5CA163D-6878-4BD8-A144-A5E85A414594}";
inline constexpr const char* kControlIid = "{3AD5F6E0-0308-42E6-91F9-F1A9000FD006}";
inline constexpr const char* kEventsIid = "{F2E25746-9702-4B63-AD25-0A62AC8A246E}";
// The library's own title, shown by message boxes that pass no caption.
inline constexpr const char16_t* kAppTitle = u"VarbelTreeview";

// Member id of a member of the default interface, by name; computed from the interface order.
desk::DispId MemberId(std::string_view name);

// Typed members by value type. Booleans are the platform's 16-bit values (True = -1).
#define VARBEL_BOOL_PROPS(X)                                                                              \
  X(Enabled) X(Sorted) X(SingleSel) X(Scroll) X(RightToLeft) X(HotTracking) X(HideSelection) X(HasDC)    \
  X(FullRowSelect) X(FontUnderline) X(FontTransparent) X(FontStrikethru) X(FontItalic) X(FontBold)     \
  X(ClipControls) X(Checkboxes) X(CausesValidation) X(AutoRedraw)
#define VARBEL_INT_PROPS(X)                                                                              \
  X(BackStyle) X(ScaleMode) X(PaletteMode) X(HitBehavior) X(FillStyle) X(DrawWidth) X(DrawStyle)         \
  X(DrawMode) X(ClipBehavior)
#define VARBEL_LONG_PROPS(X)                                                                             \
  X(BackColor) X(ForeColor) X(BorderStyle) X(WhatsThisHelpID) X(Style) X(OLEDropMode) X(OLEDragMode)     \
  X(MousePointer) X(MaskColor) X(LineStyle) X(LabelEdit) X(hWnd) X(hDC) X(FillColor) X(ContainerHwnd)   \
  X(Appearance)
#define VARBEL_SINGLE_PROPS(X)                                                                           \
  X(ScaleWidth) X(ScaleTop) X(ScaleLeft) X(ScaleHeight) X(Indentation) X(FontSize) X(CurrentY) X(CurrentX)
#define VARBEL_STRING_PROPS(X) X(ToolTipText) X(PathSeparator) X(FontName)
#define VARBEL_OBJECT_PROPS(X)                                                                           \
  X(Font) X(Picture) X(Palette) X(MouseIcon) X(MaskPicture) X(ImageList) X(Image) X(HyperLink)          \
  X(DataMembers) X(Controls) X(ActiveControl)

class VarbelTreeviewControl : public desk::Dispatchable<VarbelTreeviewControl>,
                              public desk::Control,
                              private desk::SurfaceClient {
 public:
  static const desk::DispatchTable<VarbelTreeviewControl>& Table();
  static const desk::InterfaceInfo& Events();
  static const desk::TypeLibInfo& TypeLib();

  // Builds the surface (inner tree, mnuMain, mnuStam) on the current platform.
  VarbelTreeviewControl();
  ~VarbelTreeviewControl() override;

  // Generic access by member id; the typed members below go through these.
  desk::Variant Get(desk::DispId id);
  void Let(desk::DispId id, desk::Variant v);
  void Set(desk::DispId id, desk::Ref<desk::Object> o);

#define VARBEL_DECL16(N) int16_t Get##N(); void Let##N(int16_t v);
#define VARBEL_DECL32(N) int32_t Get##N(); void Let##N(int32_t v);
#define VARBEL_DECLF(N) float Get##N(); void Let##N(float v);
#define VARBEL_DECLS(N) std::u16string Get##N(); void Let##N(std::u16string v);
#define VARBEL_DECLO(N) desk::Ref<desk::Object> Get##N(); void Set##N(desk::Ref<desk::Object> v);
  VARBEL_BOOL_PROPS(VARBEL_DECL16)
  VARBEL_INT_PROPS(VARBEL_DECL16)
  VARBEL_LONG_PROPS(VARBEL_DECL32)
  VARBEL_SINGLE_PROPS(VARBEL_DECLF)
  VARBEL_STRING_PROPS(VARBEL_DECLS)
  VARBEL_OBJECT_PROPS(VARBEL_DECLO)
#undef VARBEL_DECL16
#undef VARBEL_DECL32
#undef VARBEL_DECLF
#undef VARBEL_DECLS
#undef VARBEL_DECLO

  // Forwarded methods.
  void Refresh();
  void StartLabelEdit();
  void OLEDrag();

  // Inert methods: accept their arguments, do nothing, return zero or False.
  void ValidateControls();
  float TextWidth(const std::u16string& str);
  float TextHeight(const std::u16string& str);
  void Size(float width, float height);
  float ScaleY(float height, const desk::Variant& fromScale = desk::Variant::Missing(),
               const desk::Variant& toScale = desk::Variant::Missing());
  float ScaleX(float width, const desk::Variant& fromScale = desk::Variant::Missing(),
               const desk::Variant& toScale = desk::Variant::Missing());
  void Cls();
  bool CanPropertyChange(const std::u16string& propertyName);
  void DataMemberChanged(const std::u16string& dataMember);

  // The inner tree's own live node collection.
  desk::Ref<desk::Object> Nodes();
  // The popup definitions; created and bound to mnuStam on the first read only.
  desk::Ref<PopUpMenus> GetPopUpMenus();
  // Shows `menu` on the surface (modal); omitted arguments stay Missing.
  void PopUpMenu(desk::Ref<desk::Object> menu, const desk::Variant& flags = desk::Variant::Missing(),
                 const desk::Variant& x = desk::Variant::Missing(), const desk::Variant& y = desk::Variant::Missing(),
                 const desk::Variant& defaultMenu = desk::Variant::Missing());
  // Shows mnuMain at the mouse when at least one definition exists; 91 before any read of
  // PopUpMenus. Returns an empty value.
  desk::Variant ShowPopupMenu();
  // The node at (x, y) in the coordinates of the mouse events, or Nothing.
  desk::Ref<desk::Object> DoHitTest(int16_t x, int16_t y);

  // desk::Control
  const desk::InterfaceInfo& EventInterface() const override { return Events(); }
  int Advise(desk::Ref<desk::Object> sink) override { return events_.Connect(std::move(sink)); }
  void Unadvise(int cookie) override { events_.Disconnect(cookie); }
  void InitProperties() override;
  void ReadProperties(desk::PropertyBag& bag) override;
  void WriteProperties(desk::PropertyBag& bag) override;
  desk::Surface* GetSurface() override { return surface_.get(); }

  bool HasPopUpMenus() const { return static_cast<bool>(m_PopUpMenus); }

 protected:
  // For the class that extends this one (VarbelTreeviewControlEx.h).
  desk::TreeView& InnerTreeView() { return surface_->Tree(); }
  void RaiseEvent(desk::DispId id, std::vector<desk::Variant>& args) { events_.Raise(id, args); }

 private:
  friend struct ControlMembers;

  void OnResize() override;
  desk::Ref<desk::Object> Tree();
  void ForwardTreeEvent(desk::DispId id, std::vector<desk::Variant>& args);
  void MenuClick(int16_t index);

  std::unique_ptr<desk::Surface> surface_;
  desk::EventSource events_;
  int treeCookie_ = 0;

  // The stored members' values, by type (members.h says which member keeps which).
  int16_t m_BackStyle = 0, m_ScaleMode = 0, m_RightToLeft = 0, m_PaletteMode = 0, m_HitBehavior = 0,
          m_HasDC = 0, m_FontUnderline = 0, m_FontTransparent = 0, m_FontStrikethru = 0, m_FontItalic = 0,
          m_FontBold = 0, m_FillStyle = 0, m_DrawWidth = 0, m_DrawStyle = 0, m_DrawMode = 0, m_ClipControls = 0,
          m_ClipBehavior = 0, m_AutoRedraw = 0;
  int32_t m_BackColor = 0, m_ForeColor = 0, m_MaskColor = 0, m_hWnd = 0, m_hDC = 0, m_FillColor = 0,
          m_ContainerHwnd = 0;
  float m_ScaleWidth = 0, m_ScaleTop = 0, m_ScaleLeft = 0, m_ScaleHeight = 0, m_FontSize = 0, m_CurrentY = 0,
        m_CurrentX = 0;
  std::u16string m_FontName;
  desk::Ref<desk::Object> m_Picture, m_Palette, m_MaskPicture, m_Image, m_HyperLink, m_DataMembers, m_Controls,
                          m_ActiveControl;

  desk::Ref<PopUpMenus> m_PopUpMenus;
};

}  // namespace varbel
