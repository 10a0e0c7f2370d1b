// The contract's numbers, written out here as the client side knows them, and
// compared with what the build made of the interface definition: the
// generated identifiers and enumeration constants, the type library built
// into the server, and the registration. A number mistyped in the definition
// passes every test that compares the build with itself; it fails here.
#include "Platform.h"
#include "Vostrel2007.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

const GUID kLibId = {0x8E52D1B7, 0x4C3A, 0x4F69, {0xA0, 0xD4, 0x15, 0xC9, 0xE7, 0xB3, 0xF2, 0x08}};
const GUID kClsid = {0x3F1A7C42, 0x9B6E, 0x4D2A, {0x8C, 0x15, 0x7E, 0x04, 0xB9, 0xD2, 0xA6, 0xF1}};
const GUID kAppId = {0xA7C04E19, 0x2D85, 0x4B3F, {0x9E, 0x61, 0xC4, 0x8F, 0x0A, 0x5D, 0x7B, 0x93}};

struct SNamedGuid {
    const wchar_t* name;
    GUID literal;
    const GUID* built;
};

const SNamedGuid kInterfaces[] = {
    {L"IEseInstance", {0x5B9E2F80, 0x71C4, 0x4A0D, {0xB3, 0xE7, 0x92, 0xA6, 0xD1, 0xC8, 0x4F, 0x05}}, &IID_IEseInstance},
    {L"IEseStore", {0xC4D81A3E, 0x6F27, 0x4B95, {0x8D, 0x02, 0xE5, 0xB7, 0x19, 0x0A, 0x3C, 0x6D}}, &IID_IEseStore},
    {L"IEseProperty", {0x2E7B94C1, 0xD850, 0x4F3A, {0x9C, 0x6B, 0x07, 0xA3, 0xE8, 0xD5, 0x1F, 0x24}}, &IID_IEseProperty},
    {L"IEseFolder", {0x91F3C6A8, 0x3B0D, 0x4E72, {0xA5, 0xC9, 0x6D, 0x28, 0x4F, 0xB0, 0xE7, 0x13}}, &IID_IEseFolder},
    {L"IEseMessage", {0xD06A5B2F, 0x8C41, 0x4E9D, {0xB7, 0x2A, 0x3F, 0x95, 0xC1, 0xE0, 0x8D, 0x46}}, &IID_IEseMessage},
    {L"IEseMailbox", {0x6C2F8E13, 0xA497, 0x4D05, {0x8E, 0x3B, 0xB1, 0xD7, 0x40, 0xF9, 0xC2, 0xA8}}, &IID_IEseMailbox},
    {L"IEseTable", {0xF48B1D6C, 0x52E9, 0x4A17, {0x9D, 0x80, 0xC7, 0x3E, 0x2A, 0x6B, 0x05, 0xF9}}, &IID_IEseTable},
};

struct SEnumValue {
    const wchar_t* name;
    long literal;
    long built;
};

const SEnumValue kPropertyTypes[] = {
    {L"ESE_PT_UNSIGNDED", 0x1000, ESE_PT_UNSIGNDED},    {L"ESE_PT_MULTIVALUE", 0x2000, ESE_PT_MULTIVALUE},
    {L"ESE_PT_ERROR", 0, ESE_PT_ERROR},                 {L"ESE_PT_BOOL", 1, ESE_PT_BOOL},
    {L"ESE_PT_INT8", 2, ESE_PT_INT8},                   {L"ESE_PT_INT16", 3, ESE_PT_INT16},
    {L"ESE_PT_INT32", 4, ESE_PT_INT32},                 {L"ESE_PT_INT64", 5, ESE_PT_INT64},
    {L"ESE_PT_FLOAT", 6, ESE_PT_FLOAT},                 {L"ESE_PT_DOUBLE", 7, ESE_PT_DOUBLE},
    {L"ESE_PT_DATETIME", 8, ESE_PT_DATETIME},           {L"ESE_PT_FILETIME", 9, ESE_PT_FILETIME},
    {L"ESE_PT_GUID", 10, ESE_PT_GUID},                  {L"ESE_PT_STRING8", 11, ESE_PT_STRING8},
    {L"ESE_PT_STRING16", 12, ESE_PT_STRING16},          {L"ESE_PT_INTERFACE", 13, ESE_PT_INTERFACE},
    {L"ESE_PT_BINARY", 14, ESE_PT_BINARY},              {L"ESE_PT_UINT8", 0x1002, ESE_PT_UINT8},
    {L"ESE_PT_UINT16", 0x1003, ESE_PT_UINT16},          {L"ESE_PT_UINT32", 0x1004, ESE_PT_UINT32},
    {L"ESE_PT_UINT64", 0x1005, ESE_PT_UINT64},          {L"ESE_PT_MV_BOOL", 0x2001, ESE_PT_MV_BOOL},
    {L"ESE_PT_MV_INT8", 0x2002, ESE_PT_MV_INT8},        {L"ESE_PT_MV_INT16", 0x2003, ESE_PT_MV_INT16},
    {L"ESE_PT_MV_INT32", 0x2004, ESE_PT_MV_INT32},      {L"ESE_PT_MV_INT64", 0x2005, ESE_PT_MV_INT64},
    {L"ESE_PT_MV_UINT8", 0x3002, ESE_PT_MV_UINT8},      {L"ESE_PT_MV_UINT16", 0x3003, ESE_PT_MV_UINT16},
    {L"ESE_PT_MV_UINT32", 0x3004, ESE_PT_MV_UINT32},    {L"ESE_PT_MV_UINT64", 0x3005, ESE_PT_MV_UINT64},
    {L"ESE_PT_MV_GUID", 0x200A, ESE_PT_MV_GUID},        {L"ESE_PT_MV_STRING8", 0x200B, ESE_PT_MV_STRING8},
    {L"ESE_PT_MV_STRING16", 0x200C, ESE_PT_MV_STRING16}, {L"ESE_PT_MV_FLOAT", 0x2006, ESE_PT_MV_FLOAT},
    {L"ESE_PT_MV_DOUBLE", 0x2007, ESE_PT_MV_DOUBLE},    {L"ESE_PT_MV_DATETIME", 0x2008, ESE_PT_MV_DATETIME},
    {L"ESE_PT_MV_FILETIME", 0x2009, ESE_PT_MV_FILETIME}, {L"ESE_PT_MV_BINARY", 0x200E, ESE_PT_MV_BINARY},
};

const SEnumValue kErrorSources[] = {
    {L"ESE_ERR_SRC_INT", 0, ESE_ERR_SRC_INT},
    {L"ESE_ERR_SRC_JET", 1, ESE_ERR_SRC_JET},
};

std::wstring Text(const GUID& guid)
{
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring ServerPath()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring result = path;
    return result.erase(result.find_last_of(L'\\') + 1) + L"Vostrel2003.exe";
}

// A string value of the class registry, or "<none>".
std::wstring ClassesValue(const std::wstring& key, const wchar_t* name)
{
    wchar_t data[256] = {};
    DWORD size = sizeof data;
    LONG rc = RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size);
    return rc == ERROR_SUCCESS ? std::wstring(data) : L"<none>";
}

class ContractNumbersTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, LoadTypeLibEx(ServerPath().c_str(), REGKIND_NONE, &m_typeLib)); }

    std::wstring NameOf(ITypeInfo* info, MEMBERID member)
    {
        BSTR name = nullptr;
        info->GetDocumentation(member, &name, nullptr, nullptr, nullptr);
        std::wstring result = name ? name : L"";
        SysFreeString(name);
        return result;
    }

    // The members of an enumeration of the type library, in its order.
    std::vector<std::pair<std::wstring, long>> EnumMembers(const wchar_t* name)
    {
        std::vector<std::pair<std::wstring, long>> members;
        for (UINT i = 0; i < m_typeLib->GetTypeInfoCount(); ++i) {
            ComPtr<ITypeInfo> info;
            m_typeLib->GetTypeInfo(i, &info);
            if (NameOf(info.Get(), MEMBERID_NIL) != name)
                continue;
            TYPEATTR* attr = nullptr;
            info->GetTypeAttr(&attr);
            for (WORD v = 0; v < attr->cVars; ++v) {
                VARDESC* var = nullptr;
                info->GetVarDesc(v, &var);
                members.emplace_back(NameOf(info.Get(), var->memid), V_I4(var->lpvarValue));
                info->ReleaseVarDesc(var);
            }
            info->ReleaseTypeAttr(attr);
        }
        return members;
    }

    ComPtr<ITypeLib> m_typeLib;
};

TEST_F(ContractNumbersTest, IdentifiersOfTheHeaderTheTypeLibraryAndTheRegistration)
{
    EXPECT_EQ(Text(kLibId), Text(LIBID_Vostrel2007));
    EXPECT_EQ(Text(kClsid), Text(CLSID_X2007EseInstance));
    TLIBATTR* lib = nullptr;
    ASSERT_EQ(S_OK, m_typeLib->GetLibAttr(&lib));
    EXPECT_EQ(Text(kLibId), Text(lib->guid));
    m_typeLib->ReleaseTLibAttr(lib);

    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(S_OK, m_typeLib->GetTypeInfoOfGuid(kClsid, &coclass)) << "coclass under its CLSID";
    EXPECT_EQ(L"X2007EseInstance", NameOf(coclass.Get(), MEMBERID_NIL));

    for (const SNamedGuid& item : kInterfaces) {
        SCOPED_TRACE(item.name);
        EXPECT_EQ(Text(item.literal), Text(*item.built));
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(S_OK, m_typeLib->GetTypeInfoOfGuid(item.literal, &info));
        EXPECT_EQ(item.name, NameOf(info.Get(), MEMBERID_NIL));
        // The proxy/stub library registered the interface under this IID.
        EXPECT_NE(L"<none>", ClassesValue(L"Interface\\" + Text(item.literal) + L"\\ProxyStubClsid32", nullptr));
    }

    // The registration names the class's application and type library.
    const std::wstring classKey = L"CLSID\\" + Text(kClsid);
    EXPECT_EQ(Text(kAppId), ClassesValue(classKey, L"AppID"));
    EXPECT_EQ(Text(kAppId), ClassesValue(L"AppID\\Vostrel.EXE", L"AppID"));
    EXPECT_EQ(L"Morvane.Vostrel2007", ClassesValue(L"AppID\\" + Text(kAppId), nullptr));
    EXPECT_EQ(Text(kLibId), ClassesValue(classKey + L"\\TypeLib", nullptr));
}

TEST_F(ContractNumbersTest, EnumerationValuesOfTheHeaderAndTheTypeLibrary)
{
    struct Enumeration {
        const wchar_t* name;
        const SEnumValue* values;
        size_t count;
    } enumerations[] = {
        {L"_EEsePropertyType", kPropertyTypes, sizeof(kPropertyTypes) / sizeof(kPropertyTypes[0])},
        {L"_EEseErrorSource", kErrorSources, sizeof(kErrorSources) / sizeof(kErrorSources[0])},
    };
    for (const Enumeration& e : enumerations) {
        SCOPED_TRACE(e.name);
        std::map<std::wstring, long> expected;
        for (size_t i = 0; i < e.count; ++i) {
            EXPECT_EQ(e.values[i].literal, e.values[i].built) << e.values[i].name;
            expected[e.values[i].name] = e.values[i].literal;
        }
        std::vector<std::pair<std::wstring, long>> members = EnumMembers(e.name);
        EXPECT_EQ(e.count, members.size());
        std::map<std::wstring, long> listed(members.begin(), members.end());
        EXPECT_EQ(expected, listed);
    }
    // The type library lists the two flags first.
    std::vector<std::pair<std::wstring, long>> types = EnumMembers(L"_EEsePropertyType");
    ASSERT_LE(2u, types.size());
    EXPECT_EQ(L"ESE_PT_UNSIGNDED", types[0].first);
    EXPECT_EQ(L"ESE_PT_MULTIVALUE", types[1].first);
    EXPECT_EQ(4u, sizeof(_EEsePropertyType));
    EXPECT_EQ(4u, sizeof(_EEseErrorSource));
}

} // namespace
