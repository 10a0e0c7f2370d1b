// The type library built into the server describes the contract.
#include "Platform.h"
#include "Vostrel2007.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring ServerPath()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring result = path;
    return result.erase(result.find_last_of(L'\\') + 1) + L"Vostrel2003.exe";
}

class TypeLibraryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, LoadTypeLibEx(ServerPath().c_str(), REGKIND_NONE, &m_typeLib));
    }
    ComPtr<ITypeInfo> ByName(const wchar_t* name)
    {
        for (UINT i = 0; i < m_typeLib->GetTypeInfoCount(); ++i) {
            BSTR found = nullptr;
            m_typeLib->GetDocumentation(static_cast<INT>(i), &found, nullptr, nullptr, nullptr);
            bool same = found && std::wstring(found) == name;
            SysFreeString(found);
            if (same) {
                ComPtr<ITypeInfo> info;
                m_typeLib->GetTypeInfo(i, &info);
                return info;
            }
        }
        return nullptr;
    }
    ComPtr<ITypeLib> m_typeLib;
};

TEST_F(TypeLibraryTest, LibraryAttributesAndHelpString)
{
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(S_OK, m_typeLib->GetLibAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(LIBID_Vostrel2007, attr->guid));
    EXPECT_EQ(1, attr->wMajorVerNum);
    EXPECT_EQ(0, attr->wMinorVerNum);
    EXPECT_EQ(0u, attr->lcid);
    m_typeLib->ReleaseTLibAttr(attr);
    BSTR name = nullptr, help = nullptr;
    ASSERT_EQ(S_OK, m_typeLib->GetDocumentation(-1, &name, &help, nullptr, nullptr));
    EXPECT_STREQ(L"Vostrel2007", name);
    EXPECT_STREQ(L"Vostrel 2003-2007 1.0 Type Library", help);
    SysFreeString(name);
    SysFreeString(help);
}

TEST_F(TypeLibraryTest, InterfacesHaveTheirSlotsAndBases)
{
    struct Case {
        const IID* iid;
        WORD ownMethods;
        const wchar_t* firstMethod;
    } cases[] = {
        {&IID_IEseInstance, 3, L"Init"},   {&IID_IEseStore, 6, L"GetFolder"},
        {&IID_IEseProperty, 6, L"GetPropertyTags"}, {&IID_IEseFolder, 4, L"GetFolder"},
        {&IID_IEseMessage, 3, L"GetAttachment"}, {&IID_IEseMailbox, 0, nullptr},
        {&IID_IEseTable, 3, L"GetColumns"},
    };
    for (const Case& c : cases) {
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(S_OK, m_typeLib->GetTypeInfoOfGuid(*c.iid, &info));
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
        EXPECT_EQ(TKIND_INTERFACE, attr->typekind);
        EXPECT_EQ(c.ownMethods, attr->cFuncs);
        EXPECT_EQ(0, attr->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
        info->ReleaseTypeAttr(attr);
        if (c.firstMethod) {
            FUNCDESC* func = nullptr;
            ASSERT_EQ(S_OK, info->GetFuncDesc(0, &func));
            BSTR name = nullptr;
            info->GetDocumentation(func->memid, &name, nullptr, nullptr, nullptr);
            EXPECT_STREQ(c.firstMethod, name);
            SysFreeString(name);
            info->ReleaseFuncDesc(func);
        }
    }
}

TEST_F(TypeLibraryTest, CoclassAndRecords)
{
    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(S_OK, m_typeLib->GetTypeInfoOfGuid(CLSID_X2007EseInstance, &coclass));
    BSTR help = nullptr;
    coclass->GetDocumentation(MEMBERID_NIL, nullptr, &help, nullptr, nullptr);
    EXPECT_STREQ(L"Exchange 2003-2007 ESE Instance Class", help);
    SysFreeString(help);

    // The value record is laid out as MAPI's SPropValue (16 bytes on 32-bit
    // Windows, 24 on x64, where its binary and array members hold 8-byte
    // pointers); its union has one member per value type, and the type
    // enumeration lists the flags first.
    ComPtr<ITypeInfo> value = ByName(L"_SEsePropertyValue");
    ASSERT_NE(nullptr, value.Get());
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, value->GetTypeAttr(&attr));
    EXPECT_EQ(sizeof(void*) == 8 ? 24u : 16u, attr->cbSizeInstance);
    EXPECT_EQ(3, attr->cVars);
    value->ReleaseTypeAttr(attr);

    ComPtr<ITypeInfo> types = ByName(L"_EEsePropertyType");
    ASSERT_NE(nullptr, types.Get());
    ASSERT_EQ(S_OK, types->GetTypeAttr(&attr));
    EXPECT_EQ(TKIND_ENUM, attr->typekind);
    EXPECT_EQ(38, attr->cVars);
    types->ReleaseTypeAttr(attr);
    VARDESC* first = nullptr;
    ASSERT_EQ(S_OK, types->GetVarDesc(0, &first));
    EXPECT_EQ(0x1000, V_I4(first->lpvarValue));
    types->ReleaseVarDesc(first);

    for (const wchar_t* record : {L"_SEseRow", L"_SEseRstMap", L"_SEseNamedPropertyId", L"_SEseStoreInfo",
                                  L"_SEseBinaryArray", L"_EEseErrorSource"})
        EXPECT_NE(nullptr, ByName(record).Get()) << record;
}

} // namespace
