# The classes of the two libraries, generated from their type libraries by docs/gen/typelib_gen.cpp:
# do not edit. Objects are late-bound at run time (desk.Object); these classes tell a type checker
# the members that a control created by its class identifier has. A module for annotations only:
#     if TYPE_CHECKING:
#         from desk.typelib import VarbelTreeviewControl
from typing import Any, Iterator, Literal, overload

from . import ByRef, Object


class VarbelTreeviewControl(Object):
    """VarbelTreeview.VarbelTreeviewControl ({D5CA163D-6878-4BD8-A144-A5E85A414594}): interface _VarbelTreeviewControl."""
    BackColor: int
    ForeColor: int
    Enabled: bool
    Font: Any
    BackStyle: int
    BorderStyle: int
    def Refresh(self) -> None: ...
    WhatsThisHelpID: int
    def ValidateControls(self) -> None: ...
    ToolTipText: str
    def TextWidth(self, Str: str) -> float: ...
    def TextHeight(self, Str: str) -> float: ...
    Style: int
    def StartLabelEdit(self) -> None: ...
    Sorted: bool
    def Size(self, Width: float, Height: float) -> None: ...
    SingleSel: bool
    Scroll: bool
    def ScaleY(self, Height: float, FromScale: Any = ..., ToScale: Any = ...) -> float: ...
    def ScaleX(self, Width: float, FromScale: Any = ..., ToScale: Any = ...) -> float: ...
    ScaleWidth: float
    ScaleTop: float
    ScaleMode: int
    ScaleLeft: float
    ScaleHeight: float
    def Scale_(self, X1: Any = ..., Y1: Any = ..., X2: Any = ..., Y2: Any = ...) -> None: ...
    RightToLeft: bool
    def PSet_(self, x: float | ByRef, y: float | ByRef, Color: int | ByRef) -> None: ...
    def PopUpMenu(self, Menu: Any, Flags: Any = ..., x: Any = ..., y: Any = ..., DefaultMenu: Any = ...) -> None: ...
    def Point(self, x: float | ByRef, y: float | ByRef) -> int: ...
    Picture: Any
    PathSeparator: str
    PaletteMode: int
    Palette: Any
    def PaintPicture(self, Picture: Any, X1: float, Y1: float, Width1: Any = ..., Height1: Any = ..., X2: Any = ..., Y2: Any = ..., Width2: Any = ..., Height2: Any = ..., Opcode: Any = ...) -> None: ...
    OLEDropMode: int
    OLEDragMode: int
    def OLEDrag(self) -> None: ...
    MousePointer: int
    MouseIcon: Any
    MaskPicture: Any
    MaskColor: int
    LineStyle: int
    def Line(self, Flags: int, X1: float, Y1: float, X2: float, Y2: float, Color: int) -> None: ...
    LabelEdit: int
    Indentation: float
    ImageList: Any
    Image: Any
    HyperLink: Any
    hWnd: int
    HotTracking: bool
    HitBehavior: int
    HideSelection: bool
    hDC: int
    HasDC: bool
    FullRowSelect: bool
    FontUnderline: bool
    FontTransparent: bool
    FontStrikethru: bool
    FontSize: float
    FontName: str
    FontItalic: bool
    FontBold: bool
    FillStyle: int
    FillColor: int
    DrawWidth: int
    DrawStyle: int
    DrawMode: int
    DataMembers: Any
    def DataMemberChanged(self, DataMember: str) -> None: ...
    CurrentY: float
    CurrentX: float
    Controls: Any
    ContainerHwnd: int
    def Cls(self) -> None: ...
    ClipControls: bool
    ClipBehavior: int
    def Circle_(self, x: float | ByRef, y: float | ByRef, Radius: float | ByRef, Color: int | ByRef, StartPos: float | ByRef, EndPos: float | ByRef, Aspect: float | ByRef) -> None: ...
    Checkboxes: bool
    CausesValidation: bool
    def CanPropertyChange(self, PropertyName: str) -> bool: ...
    def CancelAsyncRead(self, Property: Any = ...) -> None: ...
    AutoRedraw: bool
    def AsyncRead(self, Target: str, AsyncType: int, PropertyName: Any = ..., AsyncReadOptions: Any = ...) -> None: ...
    Appearance: int
    ActiveControl: Any
    @property
    def Nodes(self) -> Any: ...
    @property
    def PopUpMenus(self) -> PopUpMenus: ...
    def ShowPopupMenu(self) -> Any: ...
    def DoHitTest(self, x: int | ByRef, y: int | ByRef) -> Any: ...


class PopUpMenus(Object):
    """VarbelTreeview.PopUpMenus ({1E481904-0FCA-4490-81FF-D2CE80F04389}): interface _PopUpMenus."""
    mvarMainMNU: Any
    def Add(self, Name: str | ByRef, Caption: str | ByRef) -> Any: ...
    def Item(self, Name: str | ByRef) -> Any: ...
    @property
    def Count(self) -> int: ...
    def Remove(self, Name: str | ByRef) -> None: ...
    @property
    def NewEnum(self) -> Any: ...
    def Clear(self) -> None: ...
    def __iter__(self) -> Iterator[Any]: ...
    def __call__(self, Name: str | ByRef) -> Any: ...
    def __getitem__(self, index: str) -> Any: ...


class PopUpMenu(Object):
    """VarbelTreeview.PopUpMenu ({8E7EFBC4-BA2F-4365-95B5-DF891750A598}): interface _PopUpMenu."""
    Key: str
    Name: str
    Caption: str


class httpImage(Object):
    """Quorvane.httpImage ({746F33EE-F315-4D41-AA5C-546821BD8CFA}): interface _httpImage."""
    Key: str
    httpImageURL: str
    TempFilePath: str
    Name: str
    @property
    def FileName(self) -> str: ...
    def DownloadFile(self, ForceDownload: bool | ByRef) -> bool: ...


class httpImages(Object):
    """Quorvane.httpImages ({BD2837DA-1906-47C4-9F3C-B7CD2E2D7D48}): interface _httpImages."""
    def Add(self, Name: str | ByRef, httpImageURL: str | ByRef) -> Any: ...
    def Item(self, httpImageURL: str | ByRef) -> Any: ...
    @property
    def Count(self) -> int: ...
    def Remove(self, httpImageURL: Any) -> None: ...
    @property
    def NewEnum(self) -> Any: ...
    def Clear(self) -> None: ...
    def __iter__(self) -> Iterator[Any]: ...
    def __call__(self, httpImageURL: str | ByRef) -> Any: ...
    def __getitem__(self, index: str) -> Any: ...


class ucMain(Object):
    """Quorvane.ucMain ({54DB11E5-373F-4255-8B48-D0C961FAE634}): interface _ucMain."""
    def Fill(self) -> Any: ...
    @property
    def ImageListControl(self) -> Any: ...
    ListImages: Any
    ForceDownload: bool
    def IsReady(self) -> bool: ...


# CreateObject by a class identifier written as in the type library, or by Library.Class, gives the
# typed class.
@overload
def CreateObject(clsid: Literal["{D5CA163D-6878-4BD8-A144-A5E85A414594}"]) -> VarbelTreeviewControl: ...
@overload
def CreateObject(clsid: Literal["VarbelTreeview.VarbelTreeviewControl"]) -> VarbelTreeviewControl: ...
@overload
def CreateObject(clsid: Literal["{54DB11E5-373F-4255-8B48-D0C961FAE634}"]) -> ucMain: ...
@overload
def CreateObject(clsid: Literal["Quorvane.ucMain"]) -> ucMain: ...
@overload
def CreateObject(clsid: str) -> Any: ...
