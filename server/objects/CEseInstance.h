#pragma once
// The object behind X2007EseInstance: one database engine instance of the
// client's, from which it opens stores. Opened databases are shared: one
// store context per path serves every store of that path, whichever
// instance opened it; the transaction logs are replayed on the first open of
// a path in the process.
#include "Platform.h"
#include "CSupportErrorInfoFor.h"
#include "CUnknownImpl.h"
#include "Vostrel2007.h"
#include "esedb/CInstance.h"

#include <string>

class CEseInstance final
    : public common::CUnknownImpl<CEseInstance, IEseInstance, common::CSupportErrorInfoFor<IEseInstance>> {
public:
    static HRESULT CreateInstance(REFIID riid, void** ppv) { return CUnknownImpl::CreateInstance(riid, ppv); }

    STDMETHODIMP Init(ULONG pageSize, LPWSTR pLogPath, LPWSTR pSysPath) override;
    STDMETHODIMP PlayLogFiles(LPWSTR pLogPath, ULONG count, _SEseRstMap* pRstMap) override;
    STDMETHODIMP OpenStore(LPWSTR pEdbPath, LPWSTR pLogPath, IEseStore** ppStore) override;

private:
    friend class common::CUnknownImpl<CEseInstance, IEseInstance, common::CSupportErrorInfoFor<IEseInstance>>;
    CEseInstance();
    ~CEseInstance() override;

    // Where replayed copies go: the system path given to Init, else the
    // temporary folder.
    std::wstring WorkRoot() const;

    CRITICAL_SECTION m_lock;
    NJbFramework::CSharedRef<NJbFramework::CInstance> m_instance;
    std::wstring m_systemPath;
};
