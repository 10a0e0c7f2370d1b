#include "MapiStandin.h"
#include "CPropertyStream.h"
#include "CPropBag.h"

#include <cstring>

HRESULT CPropertyStream::Create(IUnknown* owner, CPropBag* bag, ULONG tag, const std::string& value, bool writable,
                                IStream** out)
{
    *out = nullptr;
    ComPtr<IStream> buffer;
    HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &buffer);
    if (FAILED(hr))
        return hr;
    if (!value.empty()) {
        ULONG written = 0;
        hr = buffer->Write(value.data(), static_cast<ULONG>(value.size()), &written);
        if (FAILED(hr))
            return hr;
        LARGE_INTEGER zero{};
        buffer->Seek(zero, STREAM_SEEK_SET, nullptr);
    }
    return CreateInstance(IID_IStream, reinterpret_cast<void**>(out), owner, bag, tag, buffer.Get(), writable);
}

bool CPropertyStream::BytesOf(const SPropValue& value, std::string& bytes)
{
    switch (PROP_TYPE(value.ulPropTag)) {
    case PT_BINARY:
        bytes.assign(reinterpret_cast<const char*>(value.Value.bin.lpb), value.Value.bin.cb);
        return true;
    case PT_STRING8:
        bytes.assign(value.Value.lpszA);
        return true;
    case PT_UNICODE:
        bytes.assign(reinterpret_cast<const char*>(value.Value.lpszW), wcslen(value.Value.lpszW) * sizeof(WCHAR));
        return true;
    default:
        return false;
    }
}

CPropertyStream::CPropertyStream(IUnknown* owner, CPropBag* bag, ULONG tag, IStream* buffer, bool writable)
    : m_owner(owner), m_bag(bag), m_tag(tag), m_buffer(buffer), m_writable(writable)
{
}

CPropertyStream::~CPropertyStream()
{
    if (m_dirty)
        Commit(STGC_DEFAULT);
}

STDMETHODIMP CPropertyStream::Read(void* pv, ULONG cb, ULONG* pcbRead)
{
    return m_buffer->Read(pv, cb, pcbRead);
}

STDMETHODIMP CPropertyStream::Write(const void* pv, ULONG cb, ULONG* pcbWritten)
{
    if (!m_writable)
        return STG_E_ACCESSDENIED;
    HRESULT hr = m_buffer->Write(pv, cb, pcbWritten);
    if (SUCCEEDED(hr))
        m_dirty = true;
    return hr;
}

STDMETHODIMP CPropertyStream::Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition)
{
    return m_buffer->Seek(dlibMove, dwOrigin, plibNewPosition);
}

STDMETHODIMP CPropertyStream::SetSize(ULARGE_INTEGER libNewSize)
{
    if (!m_writable)
        return STG_E_ACCESSDENIED;
    HRESULT hr = m_buffer->SetSize(libNewSize);
    if (SUCCEEDED(hr))
        m_dirty = true;
    return hr;
}

STDMETHODIMP CPropertyStream::CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                                     ULARGE_INTEGER* pcbWritten)
{
    return m_buffer->CopyTo(pstm, cb, pcbRead, pcbWritten);
}

STDMETHODIMP CPropertyStream::Commit(DWORD grfCommitFlags)
{
    if (!m_writable)
        return S_OK;
    return mapistub::Guarded([&]() -> HRESULT {
        STATSTG stat{};
        HRESULT hr = m_buffer->Stat(&stat, STATFLAG_NONAME);
        if (FAILED(hr))
            return hr;
        if (stat.cbSize.QuadPart > 0x7FFFFFF0ull)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        std::string bytes(static_cast<size_t>(stat.cbSize.QuadPart), '\0');
        HGLOBAL memory = nullptr;
        hr = GetHGlobalFromStream(m_buffer.Get(), &memory);
        if (FAILED(hr))
            return hr;
        if (!bytes.empty()) {
            void* p = GlobalLock(memory);
            std::memcpy(&bytes[0], p, bytes.size());
            GlobalUnlock(memory);
        }
        SPropValue value{};
        value.ulPropTag = m_tag;
        std::wstring wide;
        switch (PROP_TYPE(m_tag)) {
        case PT_BINARY:
            value.Value.bin.cb = static_cast<ULONG>(bytes.size());
            bytes.push_back('\0');
            value.Value.bin.lpb = reinterpret_cast<LPBYTE>(&bytes[0]);
            break;
        case PT_STRING8:
            bytes.resize(strnlen(bytes.c_str(), bytes.size()));
            bytes.push_back('\0');
            value.Value.lpszA = &bytes[0];
            break;
        case PT_UNICODE:
            wide.assign(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(WCHAR));
            wide.resize(wcsnlen(wide.c_str(), wide.size()));
            value.Value.lpszW = &wide[0];
            break;
        default:
            return MAPI_E_INVALID_TYPE;
        }
        hr = m_bag->Set(value);
        if (SUCCEEDED(hr))
            m_dirty = false;
        return hr;
    });
}

STDMETHODIMP CPropertyStream::Revert()
{
    return S_OK;
}

STDMETHODIMP CPropertyStream::LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType)
{
    return STG_E_INVALIDFUNCTION;
}

STDMETHODIMP CPropertyStream::UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType)
{
    return STG_E_INVALIDFUNCTION;
}

STDMETHODIMP CPropertyStream::Stat(STATSTG* pstatstg, DWORD grfStatFlag)
{
    return m_buffer->Stat(pstatstg, grfStatFlag);
}

STDMETHODIMP CPropertyStream::Clone(IStream** ppstm)
{
    if (ppstm)
        *ppstm = nullptr;
    return E_NOTIMPL;
}
