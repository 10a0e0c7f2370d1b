#pragma once
// A property opened as a stream (OpenProperty with IID_IStream) on a message
// or attachment on storage: the value's bytes in memory (string values
// without their terminator); when opened for writing, Commit (or the last
// Release of a changed stream) stores the bytes back as the property's value.
// The stream holds a reference to its object, whose bag outlives it.
#include "MapiStandin.h"
#include "CUnknownImpl.h"

#include <string>

class CPropBag;

class CPropertyStream final : public common::CUnknownImpl<CPropertyStream, IStream> {
public:
    // value: the current bytes; writable: MAPI_MODIFY given.
    static HRESULT Create(IUnknown* owner, CPropBag* bag, ULONG tag, const std::string& value, bool writable,
                          IStream** out);

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

    // The bytes of a value as a stream shows them, or false for types that
    // cannot be opened as streams.
    static bool BytesOf(const SPropValue& value, std::string& bytes);
    static bool IsStreamType(ULONG type) { return type == PT_BINARY || type == PT_STRING8 || type == PT_UNICODE; }

private:
    friend class common::CUnknownImpl<CPropertyStream, IStream>;
    CPropertyStream(IUnknown* owner, CPropBag* bag, ULONG tag, IStream* buffer, bool writable);
    ~CPropertyStream() override;

    ComPtr<IUnknown> m_owner;
    CPropBag* m_bag;
    ULONG m_tag;
    ComPtr<IStream> m_buffer;
    bool m_writable;
    bool m_dirty = false;
};
