#pragma once
// For tests that convert MIME text: COM for the test's thread, the MIME
// converter registered (the prefix's session registers it; a test run by hand
// in a fresh prefix registers the one in the build folder), and the MAPI
// memory functions a message on storage is made with.
#include "ProviderPlatform.h"
#include "ConverterSession.h"
#include "MimeMessage.h"

#include <gtest/gtest.h>

#include <string>

namespace providertest {

class CComScope {
public:
    CComScope() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    ~CComScope() { CoUninitialize(); }
    CComScope(const CComScope&) = delete;
    CComScope& operator=(const CComScope&) = delete;
};

inline void EnsureConverterRegistered()
{
    CComScope com;
    ComPtr<IConverterSession> converter;
    if (SUCCEEDED(CoCreateInstance(CLSID_IConverterSession, nullptr, CLSCTX_INPROC_SERVER, IID_IConverterSession,
                                   reinterpret_cast<void**>(converter.GetAddressOf()))))
        return;
    HMODULE module = LoadLibraryW(L"mimeconv.dll");
    ASSERT_NE(nullptr, module);
    auto registerServer = reinterpret_cast<HRESULT(WINAPI*)()>(GetProcAddress(module, "DllRegisterServer"));
    ASSERT_NE(nullptr, registerServer);
    EXPECT_EQ(S_OK, registerServer());
    FreeLibrary(module);
}

// MAPI's own memory functions and default allocator, released with the object.
class CTestAllocators {
public:
    CTestAllocators()
    {
        m_allocators.allocateBuffer = MAPIAllocateBuffer;
        m_allocators.allocateMore = MAPIAllocateMore;
        m_allocators.freeBuffer = MAPIFreeBuffer;
        m_allocators.malloc = MAPIGetDefaultMalloc();
    }
    ~CTestAllocators()
    {
        if (m_allocators.malloc)
            m_allocators.malloc->Release();
    }
    CTestAllocators(const CTestAllocators&) = delete;
    CTestAllocators& operator=(const CTestAllocators&) = delete;

    const SMessageAllocators& Get() const { return m_allocators; }

private:
    SMessageAllocators m_allocators;
};

inline ComPtr<IStream> StreamOf(const std::string& bytes)
{
    ComPtr<IStream> stream;
    CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    ULONG written = 0;
    stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return stream;
}

inline std::wstring TextProp(IMAPIProp* object, ULONG tag)
{
    LPSPropValue value = nullptr;
    std::wstring text = L"<none>";
    if (SUCCEEDED(HrGetOneProp(object, tag, &value)) && PROP_TYPE(value->ulPropTag) == PT_UNICODE)
        text = value->Value.lpszW;
    MAPIFreeBuffer(value);
    return text;
}

inline std::string StreamBytes(IMAPIProp* object, ULONG tag)
{
    // Filled in place: ComPtr::Attach of this toolchain adds a reference,
    // and a stream left open keeps its object alive.
    ComPtr<IStream> stream;
    std::string bytes;
    if (FAILED(object->OpenProperty(tag, &IID_IStream, 0, 0, reinterpret_cast<LPUNKNOWN*>(stream.GetAddressOf()))))
        return "<none>";
    char chunk[4096];
    ULONG read = 0;
    while (SUCCEEDED(stream->Read(chunk, sizeof(chunk), &read)) && read > 0)
        bytes.append(chunk, read);
    return bytes;
}

} // namespace providertest
