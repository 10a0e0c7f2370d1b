#pragma once
// The stream WrapCompressedRTFStream hands out for writing: the caller writes
// plain RTF, which is kept in memory and, on Commit (or on the last Release
// when uncommitted text remains), encoded and written over the whole of the
// underlying PR_RTF_COMPRESSED stream.
#include "MapiStandin.h"
#include "CUnknownImpl.h"

class CRtfWriteStream final : public common::CUnknownImpl<CRtfWriteStream, IStream> {
public:
    static HRESULT Create(IStream* target, bool uncompressed, IStream** out);

    STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override;
    STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) override;
    STDMETHODIMP Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) override;
    STDMETHODIMP SetSize(ULARGE_INTEGER libNewSize) override;
    STDMETHODIMP CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) override;
    STDMETHODIMP Commit(DWORD grfCommitFlags) override;
    STDMETHODIMP Revert() override;
    STDMETHODIMP LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) override;
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) override;
    STDMETHODIMP Stat(STATSTG* pstatstg, DWORD grfStatFlag) override;
    STDMETHODIMP Clone(IStream** ppstm) override;

private:
    friend class common::CUnknownImpl<CRtfWriteStream, IStream>;
    CRtfWriteStream(IStream* target, IStream* buffer, bool uncompressed);
    ~CRtfWriteStream() override;

    ComPtr<IStream> m_target;
    ComPtr<IStream> m_buffer; // the plain text written so far
    bool m_uncompressed;
    bool m_dirty = false;
};
