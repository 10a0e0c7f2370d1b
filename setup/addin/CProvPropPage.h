#pragma once
// The "Mailboxes" page (coclass ProvPropPage) that the add-in offers on the
// properties of the IPM subtree folder of a store of this provider. It is an
// ActiveX control whose window is dialog 109, hosted by Outlook's folder
// Properties dialog, and it implements Outlook's PropertyPage. It never opens
// the database: it lists the mailboxes kept in the store's settings file,
// lets the user tick which ones Outlook shows, writes the choice back on
// Apply and, when it goes away after an Apply, signals the store's
// mailbox-changed event so that an open store rebuilds its folder list.
//
// The store is the one the add-in named (PageStoreUid) when the page was
// created; the page keeps its own copy, so a later page for another store
// changes nothing of this one. It can be aggregated. Outlook's UI thread only.
#include "ProviderPlatform.h"

#include "CActiveXControl.h"
#include "CDialog.h"
#include "CListView.h"
#include "CSupportErrorInfoFor.h"
#include "CTypeLibDispatch.h"
#include "IProvPropPage.h"
#include "OfficeInterfaces.h"

#include <memory>
#include <string>
#include <vector>

namespace setup {

class CProvPropPage final
    : public common::CAggregatableUnknownImpl<CProvPropPage, CActiveXControl<CProvPropPage>,
                                              CTypeLibDispatch<SModuleTypeLibrary, IProvPropPage, outlook::PropertyPage>,
                                              common::CSupportErrorInfoFor<IProvPropPage>>,
      public ui::CDialogImpl<CProvPropPage> {
public:
    // The registered MiscStatus: recompose on resize, no linking inside,
    // inside-out, active when visible, client site before InitNew.
    static constexpr DWORD kMiscStatus = 131473;
    static const CLSID& ControlClsid();

    static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
    {
        return CAggregatableUnknownImpl::CreateInstance(outer, riid, ppv);
    }

    // PropertyPage
    STDMETHODIMP GetPageInfo(BSTR* HelpFile, long* HelpContext) override;
    STDMETHODIMP get_Dirty(VARIANT_BOOL* Dirty) override;
    STDMETHODIMP Apply() override;

    // The control's window (CActiveXControl).
    HWND CreateControlWindow(HWND parent);
    void DestroyControlWindow();

    static const ui::SMessageEntry<CProvPropPage> kMessages[];

private:
    friend class common::CAggregatableUnknownImpl<
        CProvPropPage, CActiveXControl<CProvPropPage>,
        CTypeLibDispatch<SModuleTypeLibrary, IProvPropPage, outlook::PropertyPage>,
        common::CSupportErrorInfoFor<IProvPropPage>>;

    // What a list item stands for: the mailbox and whether it was checked
    // when the selection was last read or applied.
    struct SMailboxRecord {
        LONGLONG id = 0;
        INT32 checked = 0;
    };

    explicit CProvPropPage(IUnknown* outer);
    ~CProvPropPage() override;

    INT_PTR OnInitDialog(WPARAM, LPARAM);
    INT_PTR OnItemChanged(WPARAM, LPARAM);
    INT_PTR OnHeaderStateIconClick(WPARAM, LPARAM);
    INT_PTR OnDestroy(WPARAM, LPARAM);

    void FillMailboxList();
    void AddItem(const std::wstring& text, LONGLONG id, bool checked);
    SMailboxRecord* RecordOf(int item) const;
    bool ComputeDirty() const;
    void NotifySite();

    std::wstring m_storeUid; // hexadecimal, as the add-in named it
    bool m_dirty = false;
    bool m_applied = false;
    LONG m_publicFoldersOnly = 0;
    // The list shows a selection read from the settings file, so Apply may
    // write one back.
    bool m_selectionShown = false;
    ComPtr<outlook::PropertyPageSite> m_pageSite;
    ui::CListView m_list;
    bool m_initialised = false;
    bool m_propagating = false;
    std::vector<std::unique_ptr<SMailboxRecord>> m_records;
};

} // namespace setup
