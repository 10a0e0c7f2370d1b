#include "MapiStandin.h"
#include "CRtfWriteStream.h"
#include "CCompressedRtf.h"

#include <string>

HRESULT CRtfWriteStream::Create(IStream* target, bool uncompressed, IStream** out)
{
    *out = nullptr;
    ComPtr<IStream> buffer;
    HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &buffer);
    if (FAILED(hr))
        return hr;
    return CreateInstance(IID_IStream, reinterpret_cast<void**>(out), target, buffer.Get(), uncompressed);
}

CRtfWriteStream::CRtfWriteStream(IStream* target, IStream* buffer, bool uncompressed)
    : m_target(target), m_buffer(buffer), m_uncompressed(uncompressed)
{
}

CRtfWriteStream::~CRtfWriteStream()
{
    if (m_dirty)
        Commit(STGC_DEFAULT);
}

STDMETHODIMP CRtfWriteStream::Read(void* pv, ULONG cb, ULONG* pcbRead)
{
    return m_buffer->Read(pv, cb, pcbRead);
}

STDMETHODIMP CRtfWriteStream::Write(const void* pv, ULONG cb, ULONG* pcbWritten)
{
    HRESULT hr = m_buffer->Write(pv, cb, pcbWritten);
    if (SUCCEEDED(hr))
        m_dirty = true;
    return hr;
}

STDMETHODIMP CRtfWriteStream::Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition)
{
    return m_buffer->Seek(dlibMove, dwOrigin, plibNewPosition);
}

STDMETHODIMP CRtfWriteStream::SetSize(ULARGE_INTEGER libNewSize)
{
    HRESULT hr = m_buffer->SetSize(libNewSize);
    if (SUCCEEDED(hr))
        m_dirty = true;
    return hr;
}

STDMETHODIMP CRtfWriteStream::CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                                     ULARGE_INTEGER* pcbWritten)
{
    return m_buffer->CopyTo(pstm, cb, pcbRead, pcbWritten);
}

STDMETHODIMP CRtfWriteStream::Commit(DWORD grfCommitFlags)
{
    return mapistub::Guarded([&]() -> HRESULT {
        STATSTG stat{};
        HRESULT hr = m_buffer->Stat(&stat, STATFLAG_NONAME);
        if (FAILED(hr))
            return hr;
        if (stat.cbSize.QuadPart > 0x7FFFFFF0ull)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        std::string text(static_cast<size_t>(stat.cbSize.QuadPart), '\0');
        LARGE_INTEGER zero{};
        ULARGE_INTEGER position{};
        m_buffer->Seek(zero, STREAM_SEEK_CUR, &position);
        m_buffer->Seek(zero, STREAM_SEEK_SET, nullptr);
        ULONG read = 0;
        hr = text.empty() ? S_OK : m_buffer->Read(&text[0], static_cast<ULONG>(text.size()), &read);
        LARGE_INTEGER back{};
        back.QuadPart = static_cast<LONGLONG>(position.QuadPart);
        m_buffer->Seek(back, STREAM_SEEK_SET, nullptr);
        if (FAILED(hr))
            return hr;
        std::string encoded = CCompressedRtf::Compress(text, m_uncompressed);
        hr = m_target->Seek(zero, STREAM_SEEK_SET, nullptr);
        if (FAILED(hr))
            return hr;
        ULARGE_INTEGER size{};
        size.QuadPart = encoded.size();
        m_target->SetSize(size);
        ULONG written = 0;
        hr = m_target->Write(encoded.data(), static_cast<ULONG>(encoded.size()), &written);
        if (FAILED(hr))
            return hr;
        if (written != encoded.size())
            return STG_E_MEDIUMFULL;
        hr = m_target->Commit(grfCommitFlags);
        if (FAILED(hr) && hr != E_NOTIMPL)
            return hr;
        m_dirty = false;
        return S_OK;
    });
}

STDMETHODIMP CRtfWriteStream::Revert()
{
    return S_OK;
}

STDMETHODIMP CRtfWriteStream::LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType)
{
    return STG_E_INVALIDFUNCTION;
}

STDMETHODIMP CRtfWriteStream::UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType)
{
    return STG_E_INVALIDFUNCTION;
}

STDMETHODIMP CRtfWriteStream::Stat(STATSTG* pstatstg, DWORD grfStatFlag)
{
    return m_buffer->Stat(pstatstg, grfStatFlag);
}

STDMETHODIMP CRtfWriteStream::Clone(IStream** ppstm)
{
    if (ppstm)
        *ppstm = nullptr;
    return E_NOTIMPL;
}
