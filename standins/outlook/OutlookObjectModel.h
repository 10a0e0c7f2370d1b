#pragma once
// The parts of Outlook's object model, Office's command bars and the add-in
// extensibility interface that the stand-in Outlook host serves and calls.
// The toolchain ships none of them, so they are declared here from their
// documented identifiers, dispatch identifiers and member order. Every
// interface is dual: its vtable lists the members in type-library order, so
// each one is declared up to the last member the host serves; members that
// come later are absent (a caller that reaches for them is not served).
//
// Enumerated arguments (MsoBarPosition, MsoButtonStyle, ...) travel as 32-bit
// integers, as they do in the type libraries.
#include "Platform.h"

#include <oaidl.h>
#include <ocidl.h>
#include <oleacc.h>
#include <olectl.h>

namespace outlook {

struct _Application;
struct _NameSpace;
struct _Explorer;
struct _Folders;
struct MAPIFolder;

// OlObjectClass values of the objects the host serves.
enum OlObjectClass : long {
    olApplication = 0,
    olNamespace = 1,
    olFolder = 2,
    olFolders = 15,
    olExplorer = 34,
    olPropertyPageSite = 70,
    olPropertyPages = 71,
};

// Members every Outlook object starts with (Application, Class, Session, Parent).
#define OUTLOOK_COMMON_MEMBERS(Self)                                                     \
    STDMETHOD(get_Application)(outlook::_Application** Application) = 0;                 \
    STDMETHOD(get_Class)(long* Class) = 0;                                               \
    STDMETHOD(get_Session)(outlook::_NameSpace** Session) = 0;                           \
    STDMETHOD(get_Parent)(IDispatch** Parent) = 0

struct _Application : public IDispatch {
    OUTLOOK_COMMON_MEMBERS(_Application);
    STDMETHOD(get_Assistant)(IDispatch** Assistant) = 0;
    STDMETHOD(get_Name)(BSTR* Name) = 0;
    STDMETHOD(get_Version)(BSTR* Version) = 0;
    STDMETHOD(ActiveExplorer)(_Explorer** ActiveExplorer) = 0;
    STDMETHOD(ActiveInspector)(IDispatch** ActiveInspector) = 0;
    STDMETHOD(CreateItem)(long ItemType, IDispatch** Item) = 0;
    STDMETHOD(CreateItemFromTemplate)(BSTR TemplatePath, VARIANT InFolder, IDispatch** Item) = 0;
    STDMETHOD(CreateObject)(BSTR ObjectName, IDispatch** Object) = 0;
    STDMETHOD(GetNamespace)(BSTR Type, _NameSpace** NameSpace) = 0;
    STDMETHOD(Quit)() = 0;
};

struct _NameSpace : public IDispatch {
    OUTLOOK_COMMON_MEMBERS(_NameSpace);
    STDMETHOD(get_CurrentUser)(IDispatch** CurrentUser) = 0;
    STDMETHOD(get_Folders)(_Folders** Folders) = 0;
    STDMETHOD(get_Type)(BSTR* Type) = 0;
    STDMETHOD(get_AddressLists)(IDispatch** AddressLists) = 0;
    STDMETHOD(CreateRecipient)(BSTR RecipientName, IDispatch** Recipient) = 0;
    STDMETHOD(GetDefaultFolder)(long FolderType, MAPIFolder** Folder) = 0;
    STDMETHOD(GetFolderFromID)(BSTR EntryIDFolder, VARIANT EntryIDStore, MAPIFolder** Folder) = 0;
    STDMETHOD(GetItemFromID)(BSTR EntryIDItem, VARIANT EntryIDStore, IDispatch** Item) = 0;
    STDMETHOD(GetRecipientFromID)(BSTR EntryID, IDispatch** Recipient) = 0;
    STDMETHOD(GetSharedDefaultFolder)(IDispatch* Recipient, long FolderType, MAPIFolder** Folder) = 0;
    STDMETHOD(Logoff)() = 0;
    STDMETHOD(Logon)(VARIANT Profile, VARIANT Password, VARIANT ShowDialog, VARIANT NewSession) = 0;
    STDMETHOD(PickFolder)(MAPIFolder** Folder) = 0;
    STDMETHOD(RefreshRemoteHeaders)() = 0;
    STDMETHOD(get_SyncObjects)(IDispatch** SyncObjects) = 0;
    STDMETHOD(AddStore)(VARIANT Store) = 0;
    STDMETHOD(RemoveStore)(MAPIFolder* Folder) = 0;
    STDMETHOD(get_Offline)(VARIANT_BOOL* Offline) = 0;
    STDMETHOD(Dial)(VARIANT ContactItem) = 0;
    STDMETHOD(get_MAPIOBJECT)(IUnknown** MAPIOBJECT) = 0;
};

struct _Folders : public IDispatch {
    OUTLOOK_COMMON_MEMBERS(_Folders);
    STDMETHOD(get_Count)(long* Count) = 0;
    STDMETHOD(Item)(VARIANT Index, MAPIFolder** Item) = 0;
    STDMETHOD(get_RawTable)(IUnknown** RawTable) = 0;
    STDMETHOD(Add)(BSTR Name, VARIANT Type, MAPIFolder** Folder) = 0;
    STDMETHOD(GetFirst)(MAPIFolder** Folder) = 0;
    STDMETHOD(GetLast)(MAPIFolder** Folder) = 0;
    STDMETHOD(GetNext)(MAPIFolder** Folder) = 0;
    STDMETHOD(GetPrevious)(MAPIFolder** Folder) = 0;
    STDMETHOD(Remove)(long Index) = 0;
};

struct MAPIFolder : public IDispatch {
    OUTLOOK_COMMON_MEMBERS(MAPIFolder);
    STDMETHOD(get_DefaultItemType)(long* DefaultItemType) = 0;
    STDMETHOD(get_DefaultMessageClass)(BSTR* DefaultMessageClass) = 0;
    STDMETHOD(get_Description)(BSTR* Description) = 0;
    STDMETHOD(put_Description)(BSTR Description) = 0;
    STDMETHOD(get_EntryID)(BSTR* EntryID) = 0;
    STDMETHOD(get_Folders)(_Folders** Folders) = 0;
    STDMETHOD(get_Items)(IDispatch** Items) = 0;
    STDMETHOD(get_Name)(BSTR* Name) = 0;
    STDMETHOD(put_Name)(BSTR Name) = 0;
    STDMETHOD(get_StoreID)(BSTR* StoreID) = 0;
};

} // namespace outlook

namespace office {

struct CommandBar;
struct CommandBarControl;
struct CommandBarControls;

enum MsoBarPosition : long {
    msoBarLeft = 0,
    msoBarTop = 1,
    msoBarRight = 2,
    msoBarBottom = 3,
    msoBarFloating = 4,
    msoBarPopup = 5,
    msoBarMenuBar = 6,
};
enum MsoBarType : long { msoBarTypeNormal = 0, msoBarTypeMenuBar = 1, msoBarTypePopup = 2 };
enum MsoControlType : long { msoControlButton = 1, msoControlPopup = 10 };
enum MsoButtonStyle : long {
    msoButtonAutomatic = 0,
    msoButtonIcon = 1,
    msoButtonCaption = 2,
    msoButtonIconAndCaption = 3,
    msoButtonIconAndWrapCaption = 7,
    msoButtonIconAndCaptionBelow = 11,
    msoButtonWrapCaption = 14,
    msoButtonIconAndWrapCaptionBelow = 15,
};
enum MsoButtonState : long { msoButtonUp = 0, msoButtonDown = -1, msoButtonMixed = 2 };
enum MsoBarRow : long { msoBarRowFirst = 0, msoBarRowLast = -1 };

struct _IMsoDispObj : public IDispatch {
    STDMETHOD(get_Application)(IDispatch** Application) = 0;
    STDMETHOD(get_Creator)(long* Creator) = 0;
};

struct _IMsoOleAccDispObj : public IAccessible {
    STDMETHOD(get_Application)(IDispatch** Application) = 0;
    STDMETHOD(get_Creator)(long* Creator) = 0;
};

struct _CommandBars : public _IMsoDispObj {
    STDMETHOD(get_ActionControl)(CommandBarControl** Control) = 0;
    STDMETHOD(get_ActiveMenuBar)(CommandBar** Bar) = 0;
    STDMETHOD(Add)(VARIANT Name, VARIANT Position, VARIANT MenuBar, VARIANT Temporary, CommandBar** Bar) = 0;
    STDMETHOD(get_Count)(int* Count) = 0;
    STDMETHOD(get_DisplayTooltips)(VARIANT_BOOL* Display) = 0;
    STDMETHOD(put_DisplayTooltips)(VARIANT_BOOL Display) = 0;
    STDMETHOD(get_DisplayKeysInTooltips)(VARIANT_BOOL* Display) = 0;
    STDMETHOD(put_DisplayKeysInTooltips)(VARIANT_BOOL Display) = 0;
    STDMETHOD(FindControl)(VARIANT Type, VARIANT Id, VARIANT Tag, VARIANT Visible, CommandBarControl** Control) = 0;
    STDMETHOD(get_Item)(VARIANT Index, CommandBar** Bar) = 0;
};

struct CommandBar : public _IMsoOleAccDispObj {
    STDMETHOD(get_BuiltIn)(VARIANT_BOOL* BuiltIn) = 0;
    STDMETHOD(get_Context)(BSTR* Context) = 0;
    STDMETHOD(put_Context)(BSTR Context) = 0;
    STDMETHOD(get_Controls)(CommandBarControls** Controls) = 0;
    STDMETHOD(Delete)() = 0;
    STDMETHOD(get_Enabled)(VARIANT_BOOL* Enabled) = 0;
    STDMETHOD(put_Enabled)(VARIANT_BOOL Enabled) = 0;
    STDMETHOD(FindControl)(VARIANT Type, VARIANT Id, VARIANT Tag, VARIANT Visible, VARIANT Recursive,
                           CommandBarControl** Control) = 0;
    STDMETHOD(get_Height)(int* Height) = 0;
    STDMETHOD(put_Height)(int Height) = 0;
    STDMETHOD(get_Index)(int* Index) = 0;
    STDMETHOD(get_InstanceId)(long* InstanceId) = 0;
    STDMETHOD(get_Left)(int* Left) = 0;
    STDMETHOD(put_Left)(int Left) = 0;
    STDMETHOD(get_Name)(BSTR* Name) = 0;
    STDMETHOD(put_Name)(BSTR Name) = 0;
    STDMETHOD(get_NameLocal)(BSTR* Name) = 0;
    STDMETHOD(put_NameLocal)(BSTR Name) = 0;
    STDMETHOD(get_Parent)(IDispatch** Parent) = 0;
    STDMETHOD(get_Position)(long* Position) = 0;
    STDMETHOD(put_Position)(long Position) = 0;
    STDMETHOD(get_RowIndex)(int* RowIndex) = 0;
    STDMETHOD(put_RowIndex)(int RowIndex) = 0;
    STDMETHOD(get_Protection)(long* Protection) = 0;
    STDMETHOD(put_Protection)(long Protection) = 0;
    STDMETHOD(Reset)() = 0;
    STDMETHOD(ShowPopup)(VARIANT x, VARIANT y) = 0;
    STDMETHOD(get_Top)(int* Top) = 0;
    STDMETHOD(put_Top)(int Top) = 0;
    STDMETHOD(get_Type)(long* Type) = 0;
    STDMETHOD(get_Visible)(VARIANT_BOOL* Visible) = 0;
    STDMETHOD(put_Visible)(VARIANT_BOOL Visible) = 0;
    STDMETHOD(get_Width)(int* Width) = 0;
    STDMETHOD(put_Width)(int Width) = 0;
};

struct CommandBarControls : public _IMsoDispObj {
    STDMETHOD(Add)(VARIANT Type, VARIANT Id, VARIANT Parameter, VARIANT Before, VARIANT Temporary,
                   CommandBarControl** Control) = 0;
    STDMETHOD(get_Count)(int* Count) = 0;
    STDMETHOD(get_Item)(VARIANT Index, CommandBarControl** Control) = 0;
    STDMETHOD(get__NewEnum)(IUnknown** Enum) = 0;
    STDMETHOD(get_Parent)(CommandBar** Parent) = 0;
};

struct CommandBarControl : public _IMsoOleAccDispObj {
    STDMETHOD(get_BeginGroup)(VARIANT_BOOL* BeginGroup) = 0;
    STDMETHOD(put_BeginGroup)(VARIANT_BOOL BeginGroup) = 0;
    STDMETHOD(get_BuiltIn)(VARIANT_BOOL* BuiltIn) = 0;
    STDMETHOD(get_Caption)(BSTR* Caption) = 0;
    STDMETHOD(put_Caption)(BSTR Caption) = 0;
    STDMETHOD(get_Control)(IDispatch** Control) = 0;
    STDMETHOD(Copy)(VARIANT Bar, VARIANT Before, CommandBarControl** Copy) = 0;
    STDMETHOD(Delete)(VARIANT Temporary) = 0;
    STDMETHOD(get_DescriptionText)(BSTR* Text) = 0;
    STDMETHOD(put_DescriptionText)(BSTR Text) = 0;
    STDMETHOD(get_Enabled)(VARIANT_BOOL* Enabled) = 0;
    STDMETHOD(put_Enabled)(VARIANT_BOOL Enabled) = 0;
    STDMETHOD(Execute)() = 0;
    STDMETHOD(get_Height)(int* Height) = 0;
    STDMETHOD(put_Height)(int Height) = 0;
    STDMETHOD(get_HelpContextId)(int* Id) = 0;
    STDMETHOD(put_HelpContextId)(int Id) = 0;
    STDMETHOD(get_HelpFile)(BSTR* File) = 0;
    STDMETHOD(put_HelpFile)(BSTR File) = 0;
    STDMETHOD(get_Id)(int* Id) = 0;
    STDMETHOD(get_Index)(int* Index) = 0;
    STDMETHOD(get_InstanceId)(long* InstanceId) = 0;
    STDMETHOD(Move)(VARIANT Bar, VARIANT Before, CommandBarControl** Moved) = 0;
    STDMETHOD(get_Left)(int* Left) = 0;
    STDMETHOD(get_OLEUsage)(long* Usage) = 0;
    STDMETHOD(put_OLEUsage)(long Usage) = 0;
    STDMETHOD(get_OnAction)(BSTR* OnAction) = 0;
    STDMETHOD(put_OnAction)(BSTR OnAction) = 0;
    STDMETHOD(get_Parent)(CommandBar** Parent) = 0;
    STDMETHOD(get_Parameter)(BSTR* Parameter) = 0;
    STDMETHOD(put_Parameter)(BSTR Parameter) = 0;
    STDMETHOD(get_Priority)(int* Priority) = 0;
    STDMETHOD(put_Priority)(int Priority) = 0;
    STDMETHOD(Reset)() = 0;
    STDMETHOD(SetFocus)() = 0;
    STDMETHOD(get_Tag)(BSTR* Tag) = 0;
    STDMETHOD(put_Tag)(BSTR Tag) = 0;
    STDMETHOD(get_TooltipText)(BSTR* Text) = 0;
    STDMETHOD(put_TooltipText)(BSTR Text) = 0;
    STDMETHOD(get_Top)(int* Top) = 0;
    STDMETHOD(get_Type)(long* Type) = 0;
    STDMETHOD(get_Visible)(VARIANT_BOOL* Visible) = 0;
    STDMETHOD(put_Visible)(VARIANT_BOOL Visible) = 0;
    STDMETHOD(get_Width)(int* Width) = 0;
    STDMETHOD(put_Width)(int Width) = 0;
    STDMETHOD(get_IsPriorityDropped)(VARIANT_BOOL* Dropped) = 0;
    STDMETHOD(Reserved1)() = 0;
    STDMETHOD(Reserved2)() = 0;
    STDMETHOD(Reserved3)() = 0;
    STDMETHOD(Reserved4)() = 0;
    STDMETHOD(Reserved5)() = 0;
    STDMETHOD(Reserved6)() = 0;
    STDMETHOD(Reserved7)() = 0;
};

struct _CommandBarButton : public CommandBarControl {
    STDMETHOD(get_BuiltInFace)(VARIANT_BOOL* BuiltInFace) = 0;
    STDMETHOD(put_BuiltInFace)(VARIANT_BOOL BuiltInFace) = 0;
    STDMETHOD(CopyFace)() = 0;
    STDMETHOD(get_FaceId)(int* FaceId) = 0;
    STDMETHOD(put_FaceId)(int FaceId) = 0;
    STDMETHOD(PasteFace)() = 0;
    STDMETHOD(get_ShortcutText)(BSTR* Text) = 0;
    STDMETHOD(put_ShortcutText)(BSTR Text) = 0;
    STDMETHOD(get_State)(long* State) = 0;
    STDMETHOD(put_State)(long State) = 0;
    STDMETHOD(get_Style)(long* Style) = 0;
    STDMETHOD(put_Style)(long Style) = 0;
    STDMETHOD(get_HyperlinkType)(long* Type) = 0;
    STDMETHOD(put_HyperlinkType)(long Type) = 0;
    STDMETHOD(get_Picture)(IPictureDisp** Picture) = 0;
    STDMETHOD(put_Picture)(IPictureDisp* Picture) = 0;
    STDMETHOD(get_Mask)(IPictureDisp** Mask) = 0;
    STDMETHOD(put_Mask)(IPictureDisp* Mask) = 0;
};

} // namespace office

namespace outlook {

struct PropertyPages : public IDispatch {
    OUTLOOK_COMMON_MEMBERS(PropertyPages);
    STDMETHOD(get_Count)(long* Count) = 0;
    STDMETHOD(Item)(VARIANT Index, IDispatch** Item) = 0;
    STDMETHOD(Add)(VARIANT Page, BSTR Title) = 0;
    STDMETHOD(Remove)(VARIANT Index) = 0;
};

// Implemented by the page control; Outlook calls it through the vtable.
struct PropertyPage : public IDispatch {
    STDMETHOD(GetPageInfo)(BSTR* HelpFile, long* HelpContext) = 0;
    STDMETHOD(get_Dirty)(VARIANT_BOOL* Dirty) = 0;
    STDMETHOD(Apply)() = 0;
};

struct PropertyPageSite : public IDispatch {
    OUTLOOK_COMMON_MEMBERS(PropertyPageSite);
    STDMETHOD(OnStatusChange)() = 0;
};

// Explorer.CommandBars is Office's collection.
struct _Explorer : public IDispatch {
    OUTLOOK_COMMON_MEMBERS(_Explorer);
    STDMETHOD(get_CommandBars)(office::_CommandBars** CommandBars) = 0;
    STDMETHOD(get_CurrentFolder)(MAPIFolder** Folder) = 0;
    STDMETHOD(putref_CurrentFolder)(MAPIFolder* Folder) = 0;
    STDMETHOD(Close)() = 0;
};

// Dispatch identifiers of the members the host serves and of the events it fires.
namespace dispid {
constexpr DISPID Application = 61440;
constexpr DISPID Parent = 61441;
constexpr DISPID Class = 61450;
constexpr DISPID Session = 61451;
constexpr DISPID ApplicationName = 12289;
constexpr DISPID Version = 278;
constexpr DISPID ActiveExplorer = 273;
constexpr DISPID GetNamespace = 272;
constexpr DISPID Quit = 275;
constexpr DISPID NameSpaceFolders = 8451;
constexpr DISPID NameSpaceType = 8452;
constexpr DISPID GetFolderFromID = 8456;
constexpr DISPID MAPIOBJECT = 61696;
constexpr DISPID Count = 80;
constexpr DISPID Item = 81;
constexpr DISPID GetFirst = 86;
constexpr DISPID GetNext = 87;
constexpr DISPID GetLast = 88;
constexpr DISPID GetPrevious = 89;
constexpr DISPID EntryID = 61470;
constexpr DISPID FolderFolders = 8451;
constexpr DISPID FolderName = 12289;
constexpr DISPID StoreID = 12552;
constexpr DISPID CommandBars = 8448;
constexpr DISPID ExplorerClose = 8451;
constexpr DISPID PagesAdd = 95;
constexpr DISPID PagesRemove = 84;
constexpr DISPID OnStatusChange = 8448;
// Events.
constexpr DISPID ExplorerEventClose = 0xF008;
constexpr DISPID NameSpaceEventOptionsPagesAdd = 0xF005;
} // namespace dispid

} // namespace outlook

namespace office {
namespace dispid {
// Members of dual interfaces without explicit identifiers get 0x60000000 +
// (depth << 16) + their slot in the interface: _IMsoDispObj and
// _IMsoOleAccDispObj 0x6001/0x6002, the bars and controls 0x6002/0x6003,
// the button 0x6004.
constexpr DISPID MsoApplication = 0x60010000;
constexpr DISPID MsoAccApplication = 0x60020000;
constexpr DISPID BarsAdd = 0x60020002;
constexpr DISPID BarsCount = 0x60020003;
constexpr DISPID BarsFindControl = 0x60020008;
constexpr DISPID Item = 0; // CommandBars.Item and CommandBarControls.Item
constexpr DISPID BarControls = 0x60030003;
constexpr DISPID BarDelete = 0x60030004;
constexpr DISPID BarEnabled = 0x60030005;
constexpr DISPID BarFindControl = 0x60030007;
constexpr DISPID BarIndex = 0x6003000A;
constexpr DISPID BarLeft = 0x6003000C;
constexpr DISPID BarName = 0x6003000E;
constexpr DISPID BarPosition = 0x60030013;
constexpr DISPID BarRowIndex = 0x60030015;
constexpr DISPID BarTop = 0x6003001B;
constexpr DISPID BarType = 0x6003001D;
constexpr DISPID BarVisible = 0x6003001E;
constexpr DISPID ControlsAdd = 0x60020000;
constexpr DISPID ControlsCount = 0x60020001;
constexpr DISPID ControlBeginGroup = 0x60030000;
constexpr DISPID ControlCaption = 0x60030003;
constexpr DISPID ControlDelete = 0x60030007;
constexpr DISPID ControlEnabled = 0x6003000A;
constexpr DISPID ControlExecute = 0x6003000C;
constexpr DISPID ControlId = 0x60030013;
constexpr DISPID ControlIndex = 0x60030014;
constexpr DISPID ControlOnAction = 0x6003001A;
constexpr DISPID ControlParameter = 0x6003001D;
constexpr DISPID ControlPriority = 0x6003001F;
constexpr DISPID ControlTag = 0x60030023;
constexpr DISPID ControlTooltipText = 0x60030025;
constexpr DISPID ControlType = 0x60030028;
constexpr DISPID ControlVisible = 0x60030029;
constexpr DISPID ButtonFaceId = 0x60040003;
constexpr DISPID ButtonPasteFace = 0x60040005;
constexpr DISPID ButtonState = 0x60040008;
constexpr DISPID ButtonStyle = 0x6004000A;
constexpr DISPID ButtonPicture = 0x6004000E;
constexpr DISPID ButtonMask = 0x60040010;
// Event.
constexpr DISPID ButtonEventClick = 1;
} // namespace dispid
} // namespace office

namespace extensibility {

enum ext_ConnectMode : long {
    ext_cm_AfterStartup = 0,
    ext_cm_Startup = 1,
    ext_cm_External = 2,
    ext_cm_CommandLine = 3,
};
enum ext_DisconnectMode : long {
    ext_dm_HostShutdown = 0,
    ext_dm_UserClosed = 1,
};

struct _IDTExtensibility2 : public IDispatch {
    STDMETHOD(OnConnection)(IDispatch* Application, ext_ConnectMode ConnectMode, IDispatch* AddInInst,
                            SAFEARRAY** custom) = 0;
    STDMETHOD(OnDisconnection)(ext_DisconnectMode RemoveMode, SAFEARRAY** custom) = 0;
    STDMETHOD(OnAddInsUpdate)(SAFEARRAY** custom) = 0;
    STDMETHOD(OnStartupComplete)(SAFEARRAY** custom) = 0;
    STDMETHOD(OnBeginShutdown)(SAFEARRAY** custom) = 0;
};

} // namespace extensibility

// Event interfaces are dispinterfaces: only their identifiers are needed.
namespace outlook {
struct ExplorerEvents : public IDispatch {};
struct NameSpaceEvents : public IDispatch {};
} // namespace outlook
namespace office {
struct _CommandBarButtonEvents : public IDispatch {};
} // namespace office

__CRT_UUID_DECL(outlook::_Application, 0x00063001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(outlook::_NameSpace, 0x00063002, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(outlook::_Explorer, 0x00063003, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(outlook::MAPIFolder, 0x00063006, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(outlook::_Folders, 0x00063040, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(outlook::ExplorerEvents, 0x0006304F, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(outlook::PropertyPage, 0x0006307E, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(outlook::PropertyPageSite, 0x0006307F, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(outlook::PropertyPages, 0x00063080, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(outlook::NameSpaceEvents, 0x0006308C, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(office::_IMsoDispObj, 0x000C0300, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(office::_IMsoOleAccDispObj, 0x000C0301, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(office::_CommandBars, 0x000C0302, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(office::CommandBar, 0x000C0304, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(office::CommandBarControls, 0x000C0306, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(office::CommandBarControl, 0x000C0308, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(office::_CommandBarButton, 0x000C030E, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(office::_CommandBarButtonEvents, 0x000C0351, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(extensibility::_IDTExtensibility2, 0xB65AD801, 0xABAF, 0x11D0, 0xBB, 0x8B, 0x00, 0xA0, 0xC9, 0x0F, 0x27, 0x44)
