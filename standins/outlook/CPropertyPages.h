#pragma once
// The PropertyPages collection handed to OptionsPagesAdd. A page is a ProgID
// of an ActiveX control (Outlook creates the control when the page is shown)
// or a control object. Once the event is over the collection is closed:
// pages added later are refused.
#include "Platform.h"
#include "CDispatchImpl.h"
#include "COutlookState.h"

#include <string>
#include <vector>

namespace olhost {

struct PageEntry {
    std::wstring progId;     // empty for a page given as an object
    ComPtr<IUnknown> object; // null for a page given by ProgID
    std::wstring title;
};

class CPropertyPages final
    : public common::CUnknownImpl<CPropertyPages, CDispatchImpl<CPropertyPages, outlook::PropertyPages>> {
public:
    static HRESULT Create(StatePtr state, IDispatch* parent, CPropertyPages** out);

    STDMETHODIMP get_Application(outlook::_Application** Application) override
    {
        return m_state->GetApplication(Application);
    }
    STDMETHODIMP get_Class(long* Class) override;
    STDMETHODIMP get_Session(outlook::_NameSpace** Session) override { return m_state->GetNameSpace(Session); }
    STDMETHODIMP get_Parent(IDispatch** Parent) override;
    STDMETHODIMP get_Count(long* Count) override;
    STDMETHODIMP Item(VARIANT Index, IDispatch** Item) override;
    STDMETHODIMP Add(VARIANT Page, BSTR Title) override;
    STDMETHODIMP Remove(VARIANT Index) override;

    void CloseCollection() { m_closed = true; }
    const std::vector<PageEntry>& Pages() const { return m_pages; }

private:
    friend class common::CUnknownImpl<CPropertyPages, CDispatchImpl<CPropertyPages, outlook::PropertyPages>>;
    CPropertyPages(StatePtr state, IDispatch* parent) : m_state(std::move(state)), m_parent(parent) {}
    HRESULT IndexOf(const VARIANT& index, size_t* position) const;

    StatePtr m_state;
    ComPtr<IDispatch> m_parent;
    std::vector<PageEntry> m_pages;
    bool m_closed = false;
};

} // namespace olhost
