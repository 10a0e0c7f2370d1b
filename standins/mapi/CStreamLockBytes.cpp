#include "MapiStandin.h"
#include "CStreamLockBytes.h"

HRESULT CStreamLockBytes::Create(IStream* stream, ULONGLONG base, ILockBytes** out)
{
    return CreateInstance(IID_ILockBytes, reinterpret_cast<void**>(out), stream, base);
}

HRESULT CStreamLockBytes::SeekTo(ULARGE_INTEGER offset)
{
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(m_base + offset.QuadPart);
    return m_stream->Seek(position, STREAM_SEEK_SET, nullptr);
}

STDMETHODIMP CStreamLockBytes::ReadAt(ULARGE_INTEGER ulOffset, void* pv, ULONG cb, ULONG* pcbRead)
{
    if (pcbRead)
        *pcbRead = 0;
    HRESULT hr = SeekTo(ulOffset);
    if (FAILED(hr))
        return hr;
    ULONG read = 0;
    hr = m_stream->Read(pv, cb, &read);
    if (read > cb) // remote streams may report more than asked
        read = cb;
    if (pcbRead)
        *pcbRead = read;
    return FAILED(hr) ? hr : S_OK;
}

STDMETHODIMP CStreamLockBytes::WriteAt(ULARGE_INTEGER ulOffset, const void* pv, ULONG cb, ULONG* pcbWritten)
{
    if (pcbWritten)
        *pcbWritten = 0;
    HRESULT hr = SeekTo(ulOffset);
    if (FAILED(hr))
        return hr;
    return m_stream->Write(pv, cb, pcbWritten);
}

STDMETHODIMP CStreamLockBytes::Flush()
{
    HRESULT hr = m_stream->Commit(STGC_DEFAULT);
    return hr == E_NOTIMPL ? S_OK : hr;
}

STDMETHODIMP CStreamLockBytes::SetSize(ULARGE_INTEGER cb)
{
    ULARGE_INTEGER size{};
    size.QuadPart = m_base + cb.QuadPart;
    return m_stream->SetSize(size);
}

STDMETHODIMP CStreamLockBytes::LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType)
{
    return STG_E_INVALIDFUNCTION;
}

STDMETHODIMP CStreamLockBytes::UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType)
{
    return STG_E_INVALIDFUNCTION;
}

STDMETHODIMP CStreamLockBytes::Stat(STATSTG* pstatstg, DWORD grfStatFlag)
{
    if (!pstatstg)
        return STG_E_INVALIDPOINTER;
    HRESULT hr = m_stream->Stat(pstatstg, grfStatFlag);
    if (FAILED(hr))
        return hr;
    pstatstg->type = STGTY_LOCKBYTES;
    pstatstg->cbSize.QuadPart = pstatstg->cbSize.QuadPart > m_base ? pstatstg->cbSize.QuadPart - m_base : 0;
    return S_OK;
}
