#include "CInterfaceRegistrations.h"

#include "Vostrel2007.h"
#include "WineHost.h"

#include <new>

namespace server {

namespace {

// Every interface a client can reach on a server object.
const IID* const kServedInterfaces[] = {
    &IID_IUnknown,    &IID_IEseInstance, &IID_IEseStore,   &IID_IEseProperty, &IID_IEseFolder,         &IID_IEseMessage,
    &IID_IEseMailbox, &IID_IEseTable,    &IID_IStream,     &IID_ISequentialStream, &IID_ISupportErrorInfo,
};

// Answers each served interface with itself. Only the stubs look at it, and
// they only ask for the interface; its methods past IUnknown are never called
// (no client holds a reference), so one IUnknown table serves every interface.
class CHolder final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        for (const IID* iid : kServedInterfaces) {
            if (IsEqualIID(riid, *iid)) {
                *ppv = static_cast<IUnknown*>(this);
                AddRef();
                return S_OK;
            }
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0)
            delete this;
        return static_cast<ULONG>(refs);
    }

private:
    volatile LONG m_refs = 1;
};

static_assert(sizeof(kServedInterfaces) / sizeof(kServedInterfaces[0]) <= 16, "room for every marshal");

} // namespace

int CInterfaceRegistrations::Hold()
{
    if (m_holder || !common::IsRunningOnWine())
        return m_count;
    m_holder = new (std::nothrow) CHolder();
    if (!m_holder)
        return 0;
    for (const IID* iid : kServedInterfaces) {
        IStream* stream = nullptr;
        if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)))
            continue;
        if (SUCCEEDED(CoMarshalInterface(stream, *iid, m_holder, MSHCTX_LOCAL, nullptr, MSHLFLAGS_TABLESTRONG)))
            m_marshals[m_count++] = stream;
        else
            stream->Release();
    }
    return m_count;
}

void CInterfaceRegistrations::Release()
{
    if (!m_holder)
        return;
    // Disconnecting withdraws the registrations without waiting for calls.
    CoDisconnectObject(m_holder, 0);
    for (int i = 0; i < m_count; ++i) {
        m_marshals[i]->Release();
        m_marshals[i] = nullptr;
    }
    m_count = 0;
    m_holder->Release();
    m_holder = nullptr;
}

} // namespace server
