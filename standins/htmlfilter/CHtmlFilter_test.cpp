#include "Platform.h"
#include "CHtmlFilter.h"

#include <ntquery.h>

#include <gtest/gtest.h>

#include <string>

namespace {

const GUID kStorageProperties = {0xb725f130, 0x47ef, 0x101a, {0xa5, 0xf1, 0x02, 0x60, 0x8c, 0x9e, 0xeb, 0xac}};
const GUID kSummaryProperties = {0xf29f85e0, 0x4ff9, 0x1068, {0xab, 0x91, 0x08, 0x00, 0x2b, 0x27, 0xb3, 0xd9}};

class CComScope {
public:
    CComScope() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    ~CComScope() { CoUninitialize(); }
};

ComPtr<IStream> StreamOf(const std::string& bytes)
{
    ComPtr<IStream> stream;
    CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    ULONG written = 0;
    stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return stream;
}

ComPtr<IFilter> LoadedFilter(const std::string& html)
{
    ComPtr<IFilter> filter;
    EXPECT_EQ(S_OK, CHtmlFilter::CreateInstance(IID_IFilter, reinterpret_cast<void**>(filter.GetAddressOf())));
    ComPtr<IPersistStream> persist;
    EXPECT_EQ(S_OK, filter.As(&persist));
    EXPECT_EQ(S_OK, persist->Load(StreamOf(html).Get()));
    return filter;
}

// The pieces GetText hands out with a buffer of size units, and the result
// after the last one.
std::vector<std::wstring> Pieces(IFilter* filter, ULONG size, HRESULT* end)
{
    std::vector<std::wstring> pieces;
    for (;;) {
        std::wstring buffer(size, L'\0');
        ULONG count = size;
        HRESULT hr = filter->GetText(&count, &buffer[0]);
        if (FAILED(hr)) {
            *end = hr;
            return pieces;
        }
        EXPECT_LE(count, size);
        pieces.push_back(buffer.substr(0, count));
        if (hr == FILTER_S_LAST_TEXT) {
            ULONG more = size;
            *end = filter->GetText(&more, &buffer[0]);
            return pieces;
        }
        EXPECT_EQ(S_OK, hr);
    }
}

TEST(CHtmlFilter, ChunksAndTheirTextFollowTheFilterProtocol)
{
    ComPtr<IFilter> filter = LoadedFilter("<p>first paragraph</p><p>second</p>");
    ULONG flags = 99;
    ASSERT_EQ(S_OK, filter->Init(0x5D, 0, nullptr, &flags));
    EXPECT_EQ(0u, flags);

    STAT_CHUNK chunk{};
    ASSERT_EQ(S_OK, filter->GetChunk(&chunk));
    EXPECT_EQ(1u, chunk.idChunk);
    EXPECT_EQ(CHUNK_NO_BREAK, chunk.breakType);
    EXPECT_EQ(CHUNK_TEXT, chunk.flags);
    EXPECT_TRUE(IsEqualGUID(kStorageProperties, chunk.attribute.guidPropSet));
    EXPECT_EQ(static_cast<ULONG>(PRSPEC_PROPID), chunk.attribute.psProperty.ulKind);
    EXPECT_EQ(static_cast<PROPID>(PID_STG_CONTENTS), chunk.attribute.psProperty.propid);
    HRESULT end = S_OK;
    EXPECT_EQ((std::vector<std::wstring>{L"first", L" para", L"graph"}), Pieces(filter.Get(), 5, &end));
    EXPECT_EQ(FILTER_E_NO_MORE_TEXT, end);
    PROPVARIANT* value = reinterpret_cast<PROPVARIANT*>(1);
    EXPECT_EQ(FILTER_E_NO_VALUES, filter->GetValue(&value));
    EXPECT_EQ(nullptr, value);

    ASSERT_EQ(S_OK, filter->GetChunk(&chunk));
    EXPECT_EQ(2u, chunk.idChunk);
    EXPECT_EQ(CHUNK_EOP, chunk.breakType);
    EXPECT_EQ((std::vector<std::wstring>{L"second"}), Pieces(filter.Get(), 4096, &end));
    EXPECT_EQ(FILTER_E_END_OF_CHUNKS, filter->GetChunk(&chunk));
    EXPECT_EQ(FILTER_E_END_OF_CHUNKS, filter->GetChunk(&chunk));

    // Init again starts over.
    ASSERT_EQ(S_OK, filter->Init(0x5D, 0, nullptr, &flags));
    ASSERT_EQ(S_OK, filter->GetChunk(&chunk));
    EXPECT_EQ(1u, chunk.idChunk);
}

TEST(CHtmlFilter, ASurrogatePairIsNeverSplitBetweenPieces)
{
    ComPtr<IFilter> filter = LoadedFilter("a\xF0\x9F\x98\x80" "b");
    ULONG flags = 0;
    ASSERT_EQ(S_OK, filter->Init(0, 0, nullptr, &flags));
    STAT_CHUNK chunk{};
    ASSERT_EQ(S_OK, filter->GetChunk(&chunk));
    HRESULT end = S_OK;
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"\xD83D\xDE00", L"b"}), Pieces(filter.Get(), 2, &end));
}

TEST(CHtmlFilter, OnlyTheContentsPropertyHasText)
{
    FULLPROPSPEC title{};
    title.guidPropSet = kSummaryProperties;
    title.psProperty.ulKind = PRSPEC_PROPID;
    title.psProperty.propid = 2;
    FULLPROPSPEC contents{};
    contents.guidPropSet = kStorageProperties;
    contents.psProperty.ulKind = PRSPEC_PROPID;
    contents.psProperty.propid = PID_STG_CONTENTS;
    ComPtr<IFilter> filter = LoadedFilter("<title>T</title>body");
    ULONG flags = 0;
    STAT_CHUNK chunk{};
    ASSERT_EQ(S_OK, filter->Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, 1, &title, &flags));
    EXPECT_EQ(FILTER_E_END_OF_CHUNKS, filter->GetChunk(&chunk));
    FULLPROPSPEC both[] = {title, contents};
    ASSERT_EQ(S_OK, filter->Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, 2, both, &flags));
    EXPECT_EQ(S_OK, filter->GetChunk(&chunk));
}

TEST(CHtmlFilter, CallsOutOfOrderOrWithoutArgumentsAreRefused)
{
    ComPtr<IFilter> filter;
    ASSERT_EQ(S_OK, CHtmlFilter::CreateInstance(IID_IFilter, reinterpret_cast<void**>(filter.GetAddressOf())));
    ULONG flags = 0;
    STAT_CHUNK chunk{};
    WCHAR buffer[8];
    ULONG count = 8;
    EXPECT_EQ(FILTER_E_ACCESS, filter->Init(0, 0, nullptr, &flags)) << "nothing loaded";
    EXPECT_EQ(FILTER_E_ACCESS, filter->GetChunk(&chunk)) << "not initialised";
    ComPtr<IPersistStream> persist;
    ASSERT_EQ(S_OK, filter.As(&persist));
    EXPECT_EQ(E_POINTER, persist->Load(nullptr));
    ASSERT_EQ(S_OK, persist->Load(StreamOf("text").Get()));
    EXPECT_EQ(E_INVALIDARG, filter->Init(0, 0, nullptr, nullptr));
    EXPECT_EQ(E_INVALIDARG, filter->Init(0, 1, nullptr, &flags));
    ASSERT_EQ(S_OK, filter->Init(0, 0, nullptr, &flags));
    EXPECT_EQ(FILTER_E_NO_MORE_TEXT, filter->GetText(&count, buffer)) << "no chunk yet";
    EXPECT_EQ(E_INVALIDARG, filter->GetChunk(nullptr));
    ASSERT_EQ(S_OK, filter->GetChunk(&chunk));
    count = 0;
    EXPECT_EQ(E_INVALIDARG, filter->GetText(&count, buffer));
    EXPECT_EQ(E_INVALIDARG, filter->GetText(nullptr, buffer));
    CLSID clsid{};
    EXPECT_EQ(S_OK, persist->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(CLSID_VostrelHtmlFilter, clsid));
    ComPtr<IPersist> plain;
    EXPECT_EQ(S_OK, filter.As(&plain));
}

std::wstring ClassesValue(const std::wstring& key)
{
    wchar_t value[MAX_PATH] = {};
    LONG size = sizeof(value) - sizeof(wchar_t);
    if (RegQueryValueW(HKEY_CLASSES_ROOT, key.c_str(), value, &size) != ERROR_SUCCESS)
        return L"(missing)";
    return value;
}

// The module as a system would use it: registered with its own exports,
// found through the ".html" handler and created by COM.
TEST(CHtmlFilter, TheModuleRegistersTheFilterAsTheHtmlPersistentHandler)
{
    CComScope com;
    HMODULE module = LoadLibraryW(L"htmlfilter.dll");
    ASSERT_NE(nullptr, module);
    auto entry = [&](const char* name) { return reinterpret_cast<HRESULT(WINAPI*)()>(GetProcAddress(module, name)); };
    auto registerServer = entry("DllRegisterServer");
    auto unregisterServer = entry("DllUnregisterServer");
    auto canUnload = entry("DllCanUnloadNow");
    ASSERT_TRUE(registerServer && unregisterServer && canUnload);

    const std::wstring filterText = L"{9D703A5E-5E92-4537-AA64-9AB0E4C73045}";
    const std::wstring handlerText = L"{CC03B4BA-657B-4C9D-96E3-5A708E0F4D2C}";
    const std::wstring addin = L"CLSID\\" + handlerText +
                               L"\\PersistentAddinsRegistered\\{89BCB740-6119-101A-BCB7-00DD010655AF}";
    ASSERT_EQ(S_OK, unregisterServer());
    EXPECT_EQ(L"(missing)", ClassesValue(L".html\\PersistentHandler"));
    EXPECT_EQ(L"(missing)", ClassesValue(L"CLSID\\" + filterText));
    EXPECT_EQ(S_OK, registerServer());
    EXPECT_EQ(handlerText, ClassesValue(L".HTML\\PersistentHandler"));
    EXPECT_EQ(handlerText, ClassesValue(L".htm\\PersistentHandler"));
    EXPECT_EQ(filterText, ClassesValue(addin));
    const std::wstring server = ClassesValue(L"CLSID\\" + filterText + L"\\InprocServer32");
    EXPECT_NE(std::wstring::npos, server.find(L"htmlfilter.dll")) << server;

    {
        ComPtr<IFilter> filter;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_VostrelHtmlFilter, nullptr, CLSCTX_INPROC_SERVER, IID_IFilter,
                                         reinterpret_cast<void**>(filter.GetAddressOf())));
        EXPECT_EQ(S_FALSE, canUnload());
        ComPtr<IPersistStream> persist;
        ASSERT_EQ(S_OK, filter.As(&persist));
        ASSERT_EQ(S_OK, persist->Load(StreamOf("<b>bold</b> text").Get()));
        ULONG flags = 0;
        ASSERT_EQ(S_OK, filter->Init(0x5D, 0, nullptr, &flags));
        STAT_CHUNK chunk{};
        ASSERT_EQ(S_OK, filter->GetChunk(&chunk));
        HRESULT end = S_OK;
        EXPECT_EQ((std::vector<std::wstring>{L"bold text"}), Pieces(filter.Get(), 100, &end));
    }
    EXPECT_EQ(S_OK, canUnload());
    FreeLibrary(module);
}

} // namespace
