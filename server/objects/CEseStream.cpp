#include "Platform.h"
#include "objects/CEseStream.h"
#include "CException.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr ULONG kCopyChunk = 0x100000;

} // namespace

HRESULT CEseStream::Create(ULONG tag, const NJbFramework::CSharedRef<CEseTableImpl>& engine, IStream** ppStream)
{
    if (!ppStream)
        return E_POINTER;
    *ppStream = nullptr;
    if (!engine)
        return E_INVALIDARG;
    ComPtr<IStream> stream;
    HRESULT hr = CreateInstance(IID_IStream, reinterpret_cast<void**>(stream.GetAddressOf()), tag, engine);
    if (FAILED(hr))
        return hr;
    auto* self = static_cast<CEseStream*>(stream.Get());
    ULONG size = 0;
    engine->SetColumns(1, &tag);
    if (!engine->RetrieveColumn(tag, 0, 0, nullptr, &size))
        ThrowServerError(kErrColumnMissing, L"cannot find column by tag=%lx", tag);
    self->m_size = size;
    *ppStream = stream.Detach();
    return S_OK;
}

bool CEseStream::ReadStored(ULONG offset, ULONG size, void* buffer, ULONG* actual)
{
    try {
        return m_engine->RetrieveColumn(m_tag, offset, size, buffer, actual);
    } catch (const CException&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

STDMETHODIMP CEseStream::Read(void* pv, ULONG cb, ULONG* pcbRead)
{
    if (pcbRead)
        *pcbRead = 0;
    if (m_position >= m_size)
        return S_FALSE;
    if (!pv && cb)
        return STG_E_INVALIDPOINTER;
    ULONG actual = 0;
    if (!ReadStored(m_position, cb, pv, &actual))
        return E_FAIL;
    ULONG count = std::min(cb, m_size - m_position);
    if (m_position < m_written.size()) {
        ULONG changed = std::min<ULONG>(count, static_cast<ULONG>(m_written.size()) - m_position);
        memcpy(pv, m_written.data() + m_position, changed);
    }
    m_position += count;
    if (pcbRead)
        *pcbRead = count;
    return S_OK;
}

STDMETHODIMP CEseStream::Write(const void* pv, ULONG cb, ULONG* pcbWritten)
{
    if (pcbWritten)
        *pcbWritten = 0;
    if (!pv && cb)
        return STG_E_INVALIDPOINTER;
    // The end of the write, in 64 bits: a position near 4 GiB must not wrap.
    unsigned long long end = static_cast<unsigned long long>(m_position) + cb;
    if (end > 0xFFFFFFFFull)
        return STG_E_MEDIUMFULL;
    try {
        if (end > m_written.size()) {
            std::vector<BYTE> grown(static_cast<size_t>(end), 0);
            ULONG actual = 0;
            if (!ReadStored(0, static_cast<ULONG>(end), grown.data(), &actual))
                return E_FAIL;
            std::copy(m_written.begin(), m_written.end(), grown.begin());
            m_written.swap(grown);
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (cb)
        memcpy(m_written.data() + m_position, pv, cb);
    m_position += cb;
    if (pcbWritten)
        *pcbWritten = cb;
    return S_OK;
}

STDMETHODIMP CEseStream::Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition)
{
    if (dlibMove.HighPart != 0)
        return STG_E_INVALIDFUNCTION;
    ULONG move = dlibMove.LowPart;
    // STREAM_SEEK_CUR counts from the start as STREAM_SEEK_SET does: the
    // client seeks only to offsets it already knows from the start.
    unsigned long long position;
    switch (dwOrigin) {
    case STREAM_SEEK_SET:
    case STREAM_SEEK_CUR:
        position = move;
        break;
    case STREAM_SEEK_END:
        // Counted back from the last byte; a move beyond it fails below.
        position = static_cast<unsigned long long>(m_size) - move - 1;
        if (static_cast<unsigned long long>(move) + 1 > m_size)
            return STG_E_INVALIDFUNCTION;
        break;
    default:
        position = 0;
        break;
    }
    if (position >= m_size)
        return STG_E_INVALIDFUNCTION;
    m_position = static_cast<ULONG>(position);
    if (plibNewPosition)
        plibNewPosition->QuadPart = m_position;
    return S_OK;
}

STDMETHODIMP CEseStream::SetSize(ULARGE_INTEGER libNewSize)
{
    LARGE_INTEGER move;
    move.QuadPart = static_cast<LONGLONG>(libNewSize.QuadPart);
    return Seek(move, STREAM_SEEK_SET, nullptr);
}

STDMETHODIMP CEseStream::CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten)
{
    if (!pstm)
        return STG_E_INVALIDPOINTER;
    BYTE* buffer = new (std::nothrow) BYTE[kCopyChunk];
    if (!buffer)
        return E_OUTOFMEMORY;
    unsigned long long copied = 0;
    unsigned long long written = 0;
    while (copied < cb.QuadPart) {
        ULONG chunk = static_cast<ULONG>(std::min<unsigned long long>(cb.QuadPart - copied, kCopyChunk));
        ULONG read = 0;
        if (FAILED(Read(buffer, chunk, &read)) || read == 0)
            break;
        ULONG wrote = 0;
        if (FAILED(pstm->Write(buffer, read, &wrote)) || wrote == 0)
            break;
        copied += read;
        written += wrote;
    }
    delete[] buffer;
    if (pcbRead)
        pcbRead->QuadPart = copied;
    if (pcbWritten)
        pcbWritten->QuadPart = written;
    return S_OK;
}

STDMETHODIMP CEseStream::Commit(DWORD)
{
    return S_OK;
}

STDMETHODIMP CEseStream::Revert()
{
    return E_NOTIMPL;
}

STDMETHODIMP CEseStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD)
{
    return E_NOTIMPL;
}

STDMETHODIMP CEseStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD)
{
    return E_NOTIMPL;
}

STDMETHODIMP CEseStream::Stat(STATSTG* pstatstg, DWORD)
{
    if (!pstatstg)
        return STG_E_INVALIDPOINTER;
    memset(pstatstg, 0, sizeof(*pstatstg));
    pstatstg->cbSize.QuadPart = m_size;
    return S_OK;
}

STDMETHODIMP CEseStream::Clone(IStream**)
{
    return E_NOTIMPL;
}
