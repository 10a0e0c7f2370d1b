#pragma once
// IStream over one property value of an object's row, so that the client can
// read values too large for a row (more than 8192 bytes) in pieces. Reads go
// to the database at the stream's position; writes change only a private
// copy held by the stream (the database is never changed, and every other
// reader still sees the stored value).
//
// Creating the stream selects the one property on the object's engine (its
// earlier column selection is replaced), so the engine's users select their
// columns again before reading rows.
#include "Platform.h"
#include "CUnknownImpl.h"
#include "objects/CEseTableImpl.h"

#include <vector>

namespace common {
template <>
struct InterfaceBase<IStream> {
    using Type = ISequentialStream;
};
} // namespace common

class CEseStream final : public common::CUnknownImpl<CEseStream, IStream> {
public:
    // A new stream over property `tag` of the engine's current row. A tag the
    // row does not hold (or holds null) throws CException code 2 "cannot find
    // column by tag=%x"; out of memory returns E_OUTOFMEMORY.
    static HRESULT Create(ULONG tag, const NJbFramework::CSharedRef<CEseTableImpl>& engine, IStream** ppStream);

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
    friend class common::CUnknownImpl<CEseStream, IStream>;
    CEseStream(ULONG tag, const NJbFramework::CSharedRef<CEseTableImpl>& engine) : m_tag(tag), m_engine(engine) {}
    ~CEseStream() override = default;

    // RetrieveColumn that reports every failure as false (stream methods
    // never throw to the client).
    bool ReadStored(ULONG offset, ULONG size, void* buffer, ULONG* actual);

    ULONG m_position = 0;
    ULONG m_size = 0;
    ULONG m_tag;
    NJbFramework::CSharedRef<CEseTableImpl> m_engine;
    // The value as changed by Write; its size is the written length.
    std::vector<BYTE> m_written;
};
