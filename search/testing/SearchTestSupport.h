#pragma once
// Helpers for the search library's tests: memory streams in and out, COM on
// the test thread, and a stream whose writes fail.
#include "SearchPlatform.h"
#include "CUnknownImpl.h"

#include <string>

namespace searchtest {

// COM's multithreaded apartment on the test thread for the test's life.
class CComScope {
public:
    CComScope() : m_hr(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~CComScope()
    {
        if (SUCCEEDED(m_hr))
            CoUninitialize();
    }
    CComScope(const CComScope&) = delete;
    CComScope& operator=(const CComScope&) = delete;

private:
    HRESULT m_hr;
};

// A memory stream holding bytes, positioned at its start.
inline ComPtr<IStream> StreamOf(const void* data, size_t size)
{
    ComPtr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)))
        return nullptr;
    ULONG written = 0;
    if (size)
        stream->Write(data, static_cast<ULONG>(size), &written);
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return stream;
}

inline ComPtr<IStream> StreamOf(const std::string& bytes)
{
    return StreamOf(bytes.data(), bytes.size());
}

inline ComPtr<IStream> EmptyStream()
{
    return StreamOf(nullptr, 0);
}

// The whole content of a memory stream as bytes.
inline std::string BytesOf(IStream* stream)
{
    HGLOBAL memory = nullptr;
    STATSTG stat{};
    if (FAILED(GetHGlobalFromStream(stream, &memory)) || FAILED(stream->Stat(&stat, STATFLAG_NONAME)))
        return {};
    const char* p = static_cast<const char*>(GlobalLock(memory));
    std::string bytes(p ? p : "", p ? static_cast<size_t>(stat.cbSize.QuadPart) : 0);
    GlobalUnlock(memory);
    return bytes;
}

// The content of a memory stream read as UTF-16LE.
inline std::wstring TextOf(IStream* stream)
{
    const std::string bytes = BytesOf(stream);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

// Runs of blanks, tabs and line ends as one blank, none at either end: for
// comparing text whose line and cell breaks a control lays out its own way.
inline std::wstring Squeezed(const std::wstring& text)
{
    std::wstring out;
    bool blank = false;
    for (wchar_t c : text) {
        if (c == L' ' || c == L'\t' || c == L'\r' || c == L'\n') {
            blank = !out.empty();
            continue;
        }
        if (blank)
            out += L' ';
        blank = false;
        out += c;
    }
    return out;
}

// A stream that accepts reads of nothing and refuses every write.
class CFailingStream : public common::CUnknownImpl<CFailingStream, IStream> {
public:
    static ComPtr<IStream> Make(HRESULT writeResult)
    {
        ComPtr<IStream> stream;
        CreateInstance(IID_IStream, reinterpret_cast<void**>(stream.GetAddressOf()), writeResult);
        return stream;
    }
    explicit CFailingStream(HRESULT writeResult) : m_writeResult(writeResult) {}

    STDMETHODIMP Read(void*, ULONG, ULONG* read) override
    {
        if (read)
            *read = 0;
        return S_OK;
    }
    STDMETHODIMP Write(const void*, ULONG, ULONG* written) override
    {
        if (written)
            *written = 0;
        return m_writeResult;
    }
    STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER* position) override
    {
        if (position)
            position->QuadPart = 0;
        return S_OK;
    }
    STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHODIMP Commit(DWORD) override { return S_OK; }
    STDMETHODIMP Revert() override { return E_NOTIMPL; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Stat(STATSTG* stat, DWORD) override
    {
        if (stat)
            *stat = STATSTG{};
        return S_OK;
    }
    STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

private:
    HRESULT m_writeResult;
};

} // namespace searchtest
