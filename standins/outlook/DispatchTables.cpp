// The dispatch tables of the host's dual interfaces: for each member a caller
// may reach by name or dispatch identifier, the documented identifier and a
// handler that calls the member through the vtable.
#include "Platform.h"
#include "CDispatchImpl.h"

#include <iterator>

namespace olhost {

namespace {

namespace od = outlook::dispid;
namespace fd = office::dispid;

constexpr WORD kGet = DISPATCH_PROPERTYGET;
constexpr WORD kPut = DISPATCH_PROPERTYPUT;
constexpr WORD kPutObject = DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF;
constexpr WORD kCall = DISPATCH_METHOD;

#define OLHOST_GET(I, id, name, member) \
    { id, L##name, kGet, [](I* s, CDispArgs& a) { return a.Get(s, &member); } }
#define OLHOST_PUT(I, id, name, member) \
    { id, L##name, kPut, [](I* s, CDispArgs& a) { return a.Put(s, &member); } }
#define OLHOST_COMMON(I)                                                          \
    OLHOST_GET(I, od::Application, "Application", I::get_Application),          \
        OLHOST_GET(I, od::Class, "Class", I::get_Class),                        \
        OLHOST_GET(I, od::Session, "Session", I::get_Session),                  \
        OLHOST_GET(I, od::Parent, "Parent", I::get_Parent)

template <typename I, size_t N>
DispTable<I> TableOf(const DispMember<I> (&members)[N])
{
    return DispTable<I>{members, N};
}

using outlook::_Application;
using outlook::_Explorer;
using outlook::_Folders;
using outlook::_NameSpace;
using outlook::MAPIFolder;
using outlook::PropertyPages;
using outlook::PropertyPageSite;
using office::_CommandBarButton;
using office::_CommandBars;
using office::CommandBar;
using office::CommandBarControl;
using office::CommandBarControls;

const DispMember<_Application> kApplication[] = {
    OLHOST_COMMON(_Application),
    OLHOST_GET(_Application, od::ApplicationName, "Name", _Application::get_Name),
    OLHOST_GET(_Application, od::Version, "Version", _Application::get_Version),
    {od::ActiveExplorer, L"ActiveExplorer", kCall,
     [](_Application* s, CDispArgs& a) {
         _Explorer* explorer = nullptr;
         return a.Return(s->ActiveExplorer(&explorer), explorer);
     }},
    {od::GetNamespace, L"GetNamespace", kCall,
     [](_Application* s, CDispArgs& a) {
         VARIANT type;
         VariantInit(&type);
         HRESULT hr = a.Required(0, VT_BSTR, &type);
         _NameSpace* ns = nullptr;
         if (SUCCEEDED(hr))
             hr = a.Return(s->GetNamespace(type.bstrVal, &ns), ns);
         VariantClear(&type);
         return hr;
     }},
    {od::Quit, L"Quit", kCall, [](_Application* s, CDispArgs&) { return s->Quit(); }},
};

const DispMember<_NameSpace> kNameSpace[] = {
    OLHOST_COMMON(_NameSpace),
    OLHOST_GET(_NameSpace, od::NameSpaceFolders, "Folders", _NameSpace::get_Folders),
    OLHOST_GET(_NameSpace, od::NameSpaceType, "Type", _NameSpace::get_Type),
    OLHOST_GET(_NameSpace, od::MAPIOBJECT, "MAPIOBJECT", _NameSpace::get_MAPIOBJECT),
    {od::GetFolderFromID, L"GetFolderFromID", kCall,
     [](_NameSpace* s, CDispArgs& a) {
         VARIANT id;
         VariantInit(&id);
         HRESULT hr = a.Required(0, VT_BSTR, &id);
         MAPIFolder* folder = nullptr;
         if (SUCCEEDED(hr))
             hr = a.Return(s->GetFolderFromID(id.bstrVal, a.Optional(1), &folder), folder);
         VariantClear(&id);
         return hr;
     }},
};

template <typename I>
HRESULT FolderAt(I* s, CDispArgs& a, HRESULT (STDMETHODCALLTYPE I::*step)(MAPIFolder**))
{
    MAPIFolder* folder = nullptr;
    return a.Return((s->*step)(&folder), folder);
}

const DispMember<_Folders> kFolders[] = {
    OLHOST_COMMON(_Folders),
    OLHOST_GET(_Folders, od::Count, "Count", _Folders::get_Count),
    {od::Item, L"Item", kCall | kGet,
     [](_Folders* s, CDispArgs& a) {
         MAPIFolder* folder = nullptr;
         return a.Return(s->Item(a.Optional(0), &folder), folder);
     }},
    {od::GetFirst, L"GetFirst", kCall, [](_Folders* s, CDispArgs& a) { return FolderAt(s, a, &_Folders::GetFirst); }},
    {od::GetNext, L"GetNext", kCall, [](_Folders* s, CDispArgs& a) { return FolderAt(s, a, &_Folders::GetNext); }},
    {od::GetLast, L"GetLast", kCall, [](_Folders* s, CDispArgs& a) { return FolderAt(s, a, &_Folders::GetLast); }},
    {od::GetPrevious, L"GetPrevious", kCall,
     [](_Folders* s, CDispArgs& a) { return FolderAt(s, a, &_Folders::GetPrevious); }},
};

const DispMember<MAPIFolder> kFolder[] = {
    OLHOST_COMMON(MAPIFolder),
    OLHOST_GET(MAPIFolder, od::EntryID, "EntryID", MAPIFolder::get_EntryID),
    OLHOST_GET(MAPIFolder, od::FolderFolders, "Folders", MAPIFolder::get_Folders),
    OLHOST_GET(MAPIFolder, od::FolderName, "Name", MAPIFolder::get_Name),
    OLHOST_GET(MAPIFolder, od::StoreID, "StoreID", MAPIFolder::get_StoreID),
};

const DispMember<_Explorer> kExplorer[] = {
    OLHOST_COMMON(_Explorer),
    OLHOST_GET(_Explorer, od::CommandBars, "CommandBars", _Explorer::get_CommandBars),
    {od::ExplorerClose, L"Close", kCall, [](_Explorer* s, CDispArgs&) { return s->Close(); }},
};

const DispMember<PropertyPages> kPages[] = {
    OLHOST_COMMON(PropertyPages),
    OLHOST_GET(PropertyPages, od::Count, "Count", PropertyPages::get_Count),
    {od::Item, L"Item", kCall | kGet,
     [](PropertyPages* s, CDispArgs& a) {
         IDispatch* page = nullptr;
         return a.Return(s->Item(a.Optional(0), &page), page);
     }},
    {od::PagesAdd, L"Add", kCall,
     [](PropertyPages* s, CDispArgs& a) {
         VARIANT title;
         VariantInit(&title);
         VARIANT given = a.Optional(1);
         HRESULT hr = (given.vt == VT_ERROR) ? S_OK : a.Required(1, VT_BSTR, &title);
         if (SUCCEEDED(hr))
             hr = s->Add(a.Optional(0), title.vt == VT_BSTR ? title.bstrVal : nullptr);
         VariantClear(&title);
         return hr;
     }},
    {od::PagesRemove, L"Remove", kCall, [](PropertyPages* s, CDispArgs& a) { return s->Remove(a.Optional(0)); }},
};

const DispMember<PropertyPageSite> kPageSite[] = {
    OLHOST_COMMON(PropertyPageSite),
    {od::OnStatusChange, L"OnStatusChange", kCall, [](PropertyPageSite* s, CDispArgs&) { return s->OnStatusChange(); }},
};

const DispMember<_CommandBars> kBars[] = {
    OLHOST_GET(_CommandBars, fd::MsoApplication, "Application", _CommandBars::get_Application),
    OLHOST_GET(_CommandBars, fd::MsoApplication + 1, "Creator", _CommandBars::get_Creator),
    {fd::BarsAdd, L"Add", kCall,
     [](_CommandBars* s, CDispArgs& a) {
         CommandBar* bar = nullptr;
         return a.Return(s->Add(a.Optional(0), a.Optional(1), a.Optional(2), a.Optional(3), &bar), bar);
     }},
    OLHOST_GET(_CommandBars, fd::BarsCount, "Count", _CommandBars::get_Count),
    {fd::BarsFindControl, L"FindControl", kCall,
     [](_CommandBars* s, CDispArgs& a) {
         CommandBarControl* control = nullptr;
         return a.Return(s->FindControl(a.Optional(0), a.Optional(1), a.Optional(2), a.Optional(3), &control),
                         control);
     }},
    {fd::Item, L"Item", kCall | kGet,
     [](_CommandBars* s, CDispArgs& a) {
         CommandBar* bar = nullptr;
         return a.Return(s->get_Item(a.Optional(0), &bar), bar);
     }},
};

const DispMember<CommandBar> kBar[] = {
    OLHOST_GET(CommandBar, fd::MsoAccApplication, "Application", CommandBar::get_Application),
    OLHOST_GET(CommandBar, fd::MsoAccApplication + 1, "Creator", CommandBar::get_Creator),
    OLHOST_GET(CommandBar, fd::BarControls, "Controls", CommandBar::get_Controls),
    {fd::BarDelete, L"Delete", kCall, [](CommandBar* s, CDispArgs&) { return s->Delete(); }},
    OLHOST_GET(CommandBar, fd::BarEnabled, "Enabled", CommandBar::get_Enabled),
    OLHOST_PUT(CommandBar, fd::BarEnabled, "Enabled", CommandBar::put_Enabled),
    {fd::BarFindControl, L"FindControl", kCall,
     [](CommandBar* s, CDispArgs& a) {
         CommandBarControl* control = nullptr;
         return a.Return(s->FindControl(a.Optional(0), a.Optional(1), a.Optional(2), a.Optional(3), a.Optional(4),
                                        &control),
                         control);
     }},
    OLHOST_GET(CommandBar, fd::BarIndex, "Index", CommandBar::get_Index),
    OLHOST_GET(CommandBar, fd::BarLeft, "Left", CommandBar::get_Left),
    OLHOST_PUT(CommandBar, fd::BarLeft, "Left", CommandBar::put_Left),
    OLHOST_GET(CommandBar, fd::BarName, "Name", CommandBar::get_Name),
    OLHOST_PUT(CommandBar, fd::BarName, "Name", CommandBar::put_Name),
    OLHOST_GET(CommandBar, fd::BarPosition, "Position", CommandBar::get_Position),
    OLHOST_PUT(CommandBar, fd::BarPosition, "Position", CommandBar::put_Position),
    OLHOST_GET(CommandBar, fd::BarRowIndex, "RowIndex", CommandBar::get_RowIndex),
    OLHOST_PUT(CommandBar, fd::BarRowIndex, "RowIndex", CommandBar::put_RowIndex),
    OLHOST_GET(CommandBar, fd::BarTop, "Top", CommandBar::get_Top),
    OLHOST_PUT(CommandBar, fd::BarTop, "Top", CommandBar::put_Top),
    OLHOST_GET(CommandBar, fd::BarType, "Type", CommandBar::get_Type),
    OLHOST_GET(CommandBar, fd::BarVisible, "Visible", CommandBar::get_Visible),
    OLHOST_PUT(CommandBar, fd::BarVisible, "Visible", CommandBar::put_Visible),
};

const DispMember<CommandBarControls> kControls[] = {
    OLHOST_GET(CommandBarControls, fd::MsoApplication, "Application", CommandBarControls::get_Application),
    OLHOST_GET(CommandBarControls, fd::MsoApplication + 1, "Creator", CommandBarControls::get_Creator),
    {fd::ControlsAdd, L"Add", kCall,
     [](CommandBarControls* s, CDispArgs& a) {
         CommandBarControl* control = nullptr;
         return a.Return(s->Add(a.Optional(0), a.Optional(1), a.Optional(2), a.Optional(3), a.Optional(4), &control),
                         control);
     }},
    OLHOST_GET(CommandBarControls, fd::ControlsCount, "Count", CommandBarControls::get_Count),
    {fd::Item, L"Item", kCall | kGet,
     [](CommandBarControls* s, CDispArgs& a) {
         CommandBarControl* control = nullptr;
         return a.Return(s->get_Item(a.Optional(0), &control), control);
     }},
    OLHOST_GET(CommandBarControls, fd::ControlsAdd + 4, "Parent", CommandBarControls::get_Parent),
};

using B = _CommandBarButton;
const DispMember<B> kButton[] = {
    OLHOST_GET(B, fd::MsoAccApplication, "Application", CommandBarControl::get_Application),
    OLHOST_GET(B, fd::MsoAccApplication + 1, "Creator", CommandBarControl::get_Creator),
    OLHOST_GET(B, fd::ControlBeginGroup, "BeginGroup", CommandBarControl::get_BeginGroup),
    OLHOST_PUT(B, fd::ControlBeginGroup, "BeginGroup", CommandBarControl::put_BeginGroup),
    OLHOST_GET(B, fd::ControlCaption, "Caption", CommandBarControl::get_Caption),
    OLHOST_PUT(B, fd::ControlCaption, "Caption", CommandBarControl::put_Caption),
    {fd::ControlDelete, L"Delete", kCall, [](B* s, CDispArgs& a) { return s->Delete(a.Optional(0)); }},
    OLHOST_GET(B, fd::ControlEnabled, "Enabled", CommandBarControl::get_Enabled),
    OLHOST_PUT(B, fd::ControlEnabled, "Enabled", CommandBarControl::put_Enabled),
    {fd::ControlExecute, L"Execute", kCall, [](B* s, CDispArgs&) { return s->Execute(); }},
    OLHOST_GET(B, fd::ControlId, "Id", CommandBarControl::get_Id),
    OLHOST_GET(B, fd::ControlIndex, "Index", CommandBarControl::get_Index),
    OLHOST_GET(B, fd::ControlOnAction, "OnAction", CommandBarControl::get_OnAction),
    OLHOST_PUT(B, fd::ControlOnAction, "OnAction", CommandBarControl::put_OnAction),
    OLHOST_GET(B, fd::ControlParameter, "Parameter", CommandBarControl::get_Parameter),
    OLHOST_PUT(B, fd::ControlParameter, "Parameter", CommandBarControl::put_Parameter),
    OLHOST_GET(B, fd::ControlPriority, "Priority", CommandBarControl::get_Priority),
    OLHOST_PUT(B, fd::ControlPriority, "Priority", CommandBarControl::put_Priority),
    OLHOST_GET(B, fd::ControlTag, "Tag", CommandBarControl::get_Tag),
    OLHOST_PUT(B, fd::ControlTag, "Tag", CommandBarControl::put_Tag),
    OLHOST_GET(B, fd::ControlTooltipText, "TooltipText", CommandBarControl::get_TooltipText),
    OLHOST_PUT(B, fd::ControlTooltipText, "TooltipText", CommandBarControl::put_TooltipText),
    OLHOST_GET(B, fd::ControlType, "Type", CommandBarControl::get_Type),
    OLHOST_GET(B, fd::ControlVisible, "Visible", CommandBarControl::get_Visible),
    OLHOST_PUT(B, fd::ControlVisible, "Visible", CommandBarControl::put_Visible),
    OLHOST_GET(B, fd::ButtonFaceId, "FaceId", B::get_FaceId),
    OLHOST_PUT(B, fd::ButtonFaceId, "FaceId", B::put_FaceId),
    {fd::ButtonPasteFace, L"PasteFace", kCall, [](B* s, CDispArgs&) { return s->PasteFace(); }},
    OLHOST_GET(B, fd::ButtonState, "State", B::get_State),
    OLHOST_PUT(B, fd::ButtonState, "State", B::put_State),
    OLHOST_GET(B, fd::ButtonStyle, "Style", B::get_Style),
    OLHOST_PUT(B, fd::ButtonStyle, "Style", B::put_Style),
    OLHOST_GET(B, fd::ButtonPicture, "Picture", B::get_Picture),
    {fd::ButtonPicture, L"Picture", kPutObject, [](B* s, CDispArgs& a) { return a.Put(s, &B::put_Picture); }},
    OLHOST_GET(B, fd::ButtonMask, "Mask", B::get_Mask),
    {fd::ButtonMask, L"Mask", kPutObject, [](B* s, CDispArgs& a) { return a.Put(s, &B::put_Mask); }},
};

} // namespace

DispTable<_Application> DispatchTableOf(_Application*) { return TableOf(kApplication); }
DispTable<_NameSpace> DispatchTableOf(_NameSpace*) { return TableOf(kNameSpace); }
DispTable<_Folders> DispatchTableOf(_Folders*) { return TableOf(kFolders); }
DispTable<MAPIFolder> DispatchTableOf(MAPIFolder*) { return TableOf(kFolder); }
DispTable<_Explorer> DispatchTableOf(_Explorer*) { return TableOf(kExplorer); }
DispTable<PropertyPages> DispatchTableOf(PropertyPages*) { return TableOf(kPages); }
DispTable<PropertyPageSite> DispatchTableOf(PropertyPageSite*) { return TableOf(kPageSite); }
DispTable<_CommandBars> DispatchTableOf(_CommandBars*) { return TableOf(kBars); }
DispTable<CommandBar> DispatchTableOf(CommandBar*) { return TableOf(kBar); }
DispTable<CommandBarControls> DispatchTableOf(CommandBarControls*) { return TableOf(kControls); }
DispTable<_CommandBarButton> DispatchTableOf(_CommandBarButton*) { return TableOf(kButton); }
DispTable<IDispatch> DispatchTableOf(IDispatch*) { return DispTable<IDispatch>{nullptr, 0}; }

} // namespace olhost
