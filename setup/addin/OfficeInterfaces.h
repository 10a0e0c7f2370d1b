#pragma once
// The interfaces of Outlook's object model, Office's command bars and the
// add-in extensibility interface that the add-in and its property page call
// or implement. The toolchain ships none of their type libraries, so they are
// declared here from their documented identifiers and member order. Every
// interface is dual and is called through its vtable: each one lists its
// members in type-library order up to the last member the library uses (an
// interface that another derives from is listed whole).
//
// Enumerated arguments (MsoBarPosition, MsoButtonStyle, ...) travel as 32-bit
// integers, as they do in the type libraries.
#include "Platform.h"

#include <oaidl.h>
#include <ocidl.h>
#include <oleacc.h>
#include <olectl.h>

namespace setup {

namespace outlook {

struct _Application;
struct _NameSpace;
struct _Explorer;
struct _Folders;
struct MAPIFolder;

struct _Application : public IDispatch {
    STDMETHOD(get_Application)(_Application** Application) = 0;
    STDMETHOD(get_Class)(long* Class) = 0;
    STDMETHOD(get_Session)(_NameSpace** Session) = 0;
    STDMETHOD(get_Parent)(IDispatch** Parent) = 0;
    STDMETHOD(get_Assistant)(IDispatch** Assistant) = 0;
    STDMETHOD(get_Name)(BSTR* Name) = 0;
    STDMETHOD(get_Version)(BSTR* Version) = 0;
    STDMETHOD(ActiveExplorer)(_Explorer** ActiveExplorer) = 0;
    STDMETHOD(ActiveInspector)(IDispatch** ActiveInspector) = 0;
    STDMETHOD(CreateItem)(long ItemType, IDispatch** Item) = 0;
    STDMETHOD(CreateItemFromTemplate)(BSTR TemplatePath, VARIANT InFolder, IDispatch** Item) = 0;
    STDMETHOD(CreateObject)(BSTR ObjectName, IDispatch** Object) = 0;
    STDMETHOD(GetNamespace)(BSTR Type, _NameSpace** NameSpace) = 0;
};

struct _NameSpace : public IDispatch {
    STDMETHOD(get_Application)(_Application** Application) = 0;
    STDMETHOD(get_Class)(long* Class) = 0;
    STDMETHOD(get_Session)(_NameSpace** Session) = 0;
    STDMETHOD(get_Parent)(IDispatch** Parent) = 0;
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
    STDMETHOD(get_Application)(_Application** Application) = 0;
    STDMETHOD(get_Class)(long* Class) = 0;
    STDMETHOD(get_Session)(_NameSpace** Session) = 0;
    STDMETHOD(get_Parent)(IDispatch** Parent) = 0;
    STDMETHOD(get_Count)(long* Count) = 0;
    STDMETHOD(Item)(VARIANT Index, MAPIFolder** Item) = 0;
};

struct MAPIFolder : public IDispatch {
    STDMETHOD(get_Application)(_Application** Application) = 0;
    STDMETHOD(get_Class)(long* Class) = 0;
    STDMETHOD(get_Session)(_NameSpace** Session) = 0;
    STDMETHOD(get_Parent)(IDispatch** Parent) = 0;
    STDMETHOD(get_DefaultItemType)(long* DefaultItemType) = 0;
    STDMETHOD(get_DefaultMessageClass)(BSTR* DefaultMessageClass) = 0;
    STDMETHOD(get_Description)(BSTR* Description) = 0;
    STDMETHOD(put_Description)(BSTR Description) = 0;
    STDMETHOD(get_EntryID)(BSTR* EntryID) = 0;
};

struct PropertyPages : public IDispatch {
    STDMETHOD(get_Application)(_Application** Application) = 0;
    STDMETHOD(get_Class)(long* Class) = 0;
    STDMETHOD(get_Session)(_NameSpace** Session) = 0;
    STDMETHOD(get_Parent)(IDispatch** Parent) = 0;
    STDMETHOD(get_Count)(long* Count) = 0;
    STDMETHOD(Item)(VARIANT Index, IDispatch** Item) = 0;
    STDMETHOD(Add)(VARIANT Page, BSTR Title) = 0;
};

// Implemented by a page control; Outlook calls it through the vtable.
struct PropertyPage : public IDispatch {
    STDMETHOD(GetPageInfo)(BSTR* HelpFile, long* HelpContext) = 0;
    STDMETHOD(get_Dirty)(VARIANT_BOOL* Dirty) = 0;
    STDMETHOD(Apply)() = 0;
};

struct PropertyPageSite : public IDispatch {
    STDMETHOD(get_Application)(_Application** Application) = 0;
    STDMETHOD(get_Class)(long* Class) = 0;
    STDMETHOD(get_Session)(_NameSpace** Session) = 0;
    STDMETHOD(get_Parent)(IDispatch** Parent) = 0;
    STDMETHOD(OnStatusChange)() = 0;
};

} // namespace outlook

namespace office {
struct _CommandBars;
}

namespace outlook {

// Explorer.CommandBars is Office's collection.
struct _Explorer : public IDispatch {
    STDMETHOD(get_Application)(_Application** Application) = 0;
    STDMETHOD(get_Class)(long* Class) = 0;
    STDMETHOD(get_Session)(_NameSpace** Session) = 0;
    STDMETHOD(get_Parent)(IDispatch** Parent) = 0;
    STDMETHOD(get_CommandBars)(office::_CommandBars** CommandBars) = 0;
};

} // namespace outlook

namespace office {

struct CommandBar;
struct CommandBarControl;
struct CommandBarControls;

enum MsoBarPosition : long { msoBarTop = 1 };
enum MsoControlType : long { msoControlButton = 1 };
enum MsoButtonStyle : long { msoButtonIconAndCaption = 3 };

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
};

struct CommandBarControls : public _IMsoDispObj {
    STDMETHOD(Add)(VARIANT Type, VARIANT Id, VARIANT Parameter, VARIANT Before, VARIANT Temporary,
                   CommandBarControl** Control) = 0;
    STDMETHOD(get_Count)(int* Count) = 0;
    STDMETHOD(get_Item)(VARIANT Index, CommandBarControl** Control) = 0;
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

// The type library that describes _IDTExtensibility2 (Microsoft Add-In
// Designer), registered where Office is installed.
// {AC0714F2-3D04-11D1-AE7D-00A0C90F26F4}
inline constexpr GUID kLibidAddInDesigner = {0xAC0714F2, 0x3D04, 0x11D1, {0xAE, 0x7D, 0x00, 0xA0, 0xC9, 0x0F, 0x26, 0xF4}};

} // namespace extensibility

// Event interfaces are dispinterfaces: only their identifiers are needed.
namespace outlook {
struct ExplorerEvents : public IDispatch {};
struct NameSpaceEvents : public IDispatch {};
namespace dispid {
constexpr DISPID ExplorerEventClose = 0xF008;
constexpr DISPID NameSpaceEventOptionsPagesAdd = 0xF005;
} // namespace dispid
} // namespace outlook
namespace office {
struct _CommandBarButtonEvents : public IDispatch {};
namespace dispid {
constexpr DISPID ButtonEventClick = 1;
} // namespace dispid
} // namespace office

} // namespace setup

__CRT_UUID_DECL(setup::outlook::_Application, 0x00063001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(setup::outlook::_NameSpace, 0x00063002, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(setup::outlook::_Explorer, 0x00063003, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(setup::outlook::MAPIFolder, 0x00063006, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(setup::outlook::_Folders, 0x00063040, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(setup::outlook::ExplorerEvents, 0x0006304F, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(setup::outlook::PropertyPage, 0x0006307E, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(setup::outlook::PropertyPageSite, 0x0006307F, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(setup::outlook::PropertyPages, 0x00063080, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(setup::outlook::NameSpaceEvents, 0x0006308C, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(setup::office::_CommandBars, 0x000C0302, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(setup::office::CommandBar, 0x000C0304, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(setup::office::CommandBarControls, 0x000C0306, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(setup::office::CommandBarControl, 0x000C0308, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(setup::office::_CommandBarButton, 0x000C030E, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(setup::office::_CommandBarButtonEvents, 0x000C0351, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(setup::extensibility::_IDTExtensibility2, 0xB65AD801, 0xABAF, 0x11D0, 0xBB, 0x8B, 0x00, 0xA0, 0xC9, 0x0F, 0x27, 0x44)
