#pragma once
// ILockBytes over an IStream, from a base offset on, so that the OLE
// storage functions can open a compound file held in a stream
// (HrIStorageFromStream).
#include "MapiStandin.h"
#include "CUnknownImpl.h"

class CStreamLockBytes final : public common::CUnknownImpl<CStreamLockBytes, ILockBytes> {
public:
    static HRESULT Create(IStream* stream, ULONGLONG base, ILockBytes** out);

    STDMETHODIMP ReadAt(ULARGE_INTEGER ulOffset, void* pv, ULONG cb, ULONG* pcbRead) override;
    STDMETHODIMP WriteAt(ULARGE_INTEGER ulOffset, const void* pv, ULONG cb, ULONG* pcbWritten) override;
    STDMETHODIMP Flush() override;
    STDMETHODIMP SetSize(ULARGE_INTEGER cb) override;
    STDMETHODIMP LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) override;
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) override;
    STDMETHODIMP Stat(STATSTG* pstatstg, DWORD grfStatFlag) override;

private:
    friend class common::CUnknownImpl<CStreamLockBytes, ILockBytes>;
    CStreamLockBytes(IStream* stream, ULONGLONG base) : m_stream(stream), m_base(base) {}
    ~CStreamLockBytes() override = default;

    HRESULT SeekTo(ULARGE_INTEGER offset);

    ComPtr<IStream> m_stream;
    ULONGLONG m_base;
};
