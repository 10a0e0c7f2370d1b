#pragma once
// Helpers for the search library's tests: memory streams in and out, COM on
// the test thread, and a stream whose writes fail.
#include "SearchPlatform.h"
#include "CUnknownImpl.h"

#include <string>
#include <vector>

namespace searchtest {

// The columns of a search, written out tag by tag rather than taken from the
// engine's tables: what the server is asked for each message row, the
// row keys the engine makes, and what a search folder's rows show.
inline std::vector<ULONG> WrittenMessageColumns()
{
    return {0x674A0014, 0x67B00102, 0x67480014, 0x0E070003, 0x0E04001F, 0x0E03001F, 0x0E02001F, 0x0E1B000B,
            0x30080040, 0x001A001F, 0x3001001F, 0x0E080003, 0x0E170003, 0x00390040, 0x00710102, 0x00170003,
            0x0E060040, 0x0E180003, 0x0E1D001F, 0x00260003, 0x0C1A001F, 0x0042001F, 0x0C1F001F, 0x0065001F,
            0x00360003, 0x0037001F, 0x003D001F, 0x0070001F, 0x10F4000B, 0x10F5000B, 0x0FF50003, 0x30050003,
            0x10800003, 0x10950003, 0x10900003, 0x300B0102, 0x1035001F, 0x36030003, 0x00300040, 0x00150040,
            0x0E2B0003, 0x10970003, 0x65C60003, 0x6E010003, 0x0EA20003, 0x1000001F, 0x10130102, 0x10090102};
}

inline std::vector<ULONG> WrittenRowKeyColumns()
{
    return {0x0FF60102, 0x0FFF0102, 0x0FFE0003, 0x0FF80102, 0x0E090102, 0x0FF90102,
            0x66700102, 0x0FFB0102, 0x0FFA0102, 0x0FF40003, 0x0FF70003, 0x0E05001F};
}

inline std::vector<ULONG> WrittenResultColumns()
{
    return {0x0E070003, 0x0E04001F, 0x0E03001F, 0x0E02001F, 0x0E1B000B, 0x30080040, 0x001A001F, 0x3001001F,
            0x0E080003, 0x0E170003, 0x00390040, 0x00710102, 0x00170003, 0x0E060040, 0x0E180003, 0x0E1D001F,
            0x00260003, 0x0C1A001F, 0x0042001F, 0x0C1F001F, 0x0065001F, 0x00360003, 0x0037001F, 0x003D001F,
            0x0070001F, 0x10F4000B, 0x10F5000B, 0x0FF50003, 0x30050003, 0x10800003, 0x10950003, 0x10900003,
            0x300B0102, 0x1035001F, 0x36030003, 0x00300040, 0x00150040, 0x0E2B0003, 0x10970003, 0x65C60003,
            0x6E010003, 0x0EA20003, 0x0FF60102, 0x0FFF0102, 0x0FFE0003, 0x0FF80102, 0x0E090102, 0x0FF90102,
            0x66700102, 0x0FFB0102, 0x0FFA0102, 0x0FF40003, 0x0FF70003, 0x0E05001F};
}

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
