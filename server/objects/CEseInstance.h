#pragma once
// The object behind X2007EseInstance: one database engine instance of the
// client's, from which it opens stores.
#include "Platform.h"
#include "CSupportErrorInfoFor.h"
#include "CUnknownImpl.h"
#include "Vostrel2007.h"

class CEseInstance final
    : public common::CUnknownImpl<CEseInstance, IEseInstance, common::CSupportErrorInfoFor<IEseInstance>> {
public:
    static HRESULT CreateInstance(REFIID riid, void** ppv) { return CUnknownImpl::CreateInstance(riid, ppv); }

    STDMETHODIMP Init(ULONG pageSize, LPWSTR pLogPath, LPWSTR pSysPath) override;
    STDMETHODIMP PlayLogFiles(LPWSTR pLogPath, ULONG count, _SEseRstMap* pRstMap) override;
    STDMETHODIMP OpenStore(LPWSTR pEdbPath, LPWSTR pLogPath, IEseStore** ppStore) override;

private:
    friend class common::CUnknownImpl<CEseInstance, IEseInstance, common::CSupportErrorInfoFor<IEseInstance>>;
    CEseInstance() = default;
    ~CEseInstance() override = default;
};
