// A client of the database server that shares nothing with our programs but
// the contract's generated header and identifiers: it registers no hook and
// links none of our libraries. It must still receive the server's error
// object after a failing call, as any COM client does on Windows; on Wine the
// proxy/stub library, which COM loads into this process for the IEse
// proxies, carries it.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include "Vostrel2007.h"

#include <gtest/gtest.h>

#include <string>

namespace {

template <typename T>
struct Releaser {
    T* p = nullptr;
    ~Releaser()
    {
        if (p)
            p->Release();
    }
    T** Out() { return &p; }
};

struct ErrorObject {
    HRESULT got = E_FAIL;
    GUID guid = {};
    std::wstring source, description;
};

ErrorObject TakeErrorObject()
{
    ErrorObject error;
    Releaser<IErrorInfo> info;
    error.got = GetErrorInfo(0, info.Out());
    if (error.got != S_OK || !info.p)
        return error;
    BSTR text = nullptr;
    info.p->GetGUID(&error.guid);
    info.p->GetSource(&text);
    error.source = text ? text : L"";
    SysFreeString(text);
    text = nullptr;
    info.p->GetDescription(&text);
    error.description = text ? text : L"";
    SysFreeString(text);
    return error;
}

void RemoveTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(folder + L"\\" + name);
            else
                DeleteFileW((folder + L"\\" + name).c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
}

class ForeignClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        wchar_t name[40] = {};
        GUID guid;
        CoCreateGuid(&guid);
        StringFromGUID2(guid, name, 40);
        m_work = std::wstring(temp) + L"foreign-" + name;
        ASSERT_TRUE(CreateDirectoryW(m_work.c_str(), nullptr));
    }
    void TearDown() override
    {
        CoUninitialize();
        RemoveTree(m_work);
    }
    std::wstring m_work;
};

TEST_F(ForeignClientTest, AFailingOpenStoreBringsTheServersErrorObject)
{
    Releaser<IEseInstance> instance;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_X2007EseInstance, nullptr, CLSCTX_LOCAL_SERVER, IID_IEseInstance,
                                     reinterpret_cast<void**>(instance.Out())));
    std::wstring work = m_work + L"\\";
    ASSERT_EQ(S_OK, instance.p->Init(4096, &work[0], &work[0]));

    std::wstring missing = m_work + L"\\no such database.edb";
    Releaser<IEseStore> store;
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(E_FAIL, instance.p->OpenStore(&missing[0], nullptr, store.Out()));
    EXPECT_EQ(nullptr, store.p);

    // What a COM client does: ask whether the interface reports errors, then
    // take the thread's error object.
    Releaser<ISupportErrorInfo> support;
    ASSERT_EQ(S_OK, instance.p->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(support.Out())));
    EXPECT_EQ(S_OK, support.p->InterfaceSupportsErrorInfo(IID_IEseInstance));
    ErrorObject error = TakeErrorObject();
    ASSERT_EQ(S_OK, error.got);
    EXPECT_TRUE(IsEqualGUID(IID_IEseInstance, error.guid));
    EXPECT_EQ(L"Morvane.Vostrel2007", error.source);
    // Code 0, source 3 (the engine), its negative error number, the text.
    EXPECT_EQ(0u, error.description.rfind(L"0 3 fffff", 0)) << error.description;
    EXPECT_NE(std::wstring::npos, error.description.find(L"message=ESE API function=Jet")) << error.description;

    // A failure that the server reports without an error object brings none.
    EXPECT_EQ(static_cast<HRESULT>(0xFFFFFC17), instance.p->PlayLogFiles(nullptr, 0, nullptr));
    EXPECT_EQ(S_FALSE, TakeErrorObject().got);
}

} // namespace
