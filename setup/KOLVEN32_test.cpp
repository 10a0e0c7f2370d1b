// The built library as its callers see it: loaded by name, entries found
// with GetProcAddress, registration read back from the prefix's registry.
#include "Platform.h"
#include "ProviderPlatform.h"

#include <mapispi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

using PlainFn = HRESULT(WINAPI*)();
using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

const wchar_t kConnectClsid[] = L"{0B7D3E95-E16A-4C28-A4F3-58D9B2C71E60}";
const wchar_t kPageClsid[] = L"{7A41E0D3-9C5B-4F86-B2D7-E06F3A8C14B9}";
const wchar_t kLibid[] = L"{4D06B8E2-7A19-4C5F-9E3D-A28C61F47B0D}";

class KOLVEN32Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_library = LoadLibraryW(L"KOLVEN32.dll");
        ASSERT_NE(nullptr, m_library) << GetLastError();
        wchar_t path[MAX_PATH];
        DWORD cch = GetModuleFileNameW(m_library, path, MAX_PATH);
        m_path.assign(path, cch);
    }
    void TearDown() override
    {
        if (m_library)
            FreeLibrary(m_library);
    }

    template <typename Fn>
    Fn Export(const char* name)
    {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m_library, name)));
    }

    // The names in the library's export directory.
    std::vector<std::string> ExportNames() const
    {
        auto base = reinterpret_cast<const BYTE*>(m_library);
        auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
        auto exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
        auto names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
        std::vector<std::string> result;
        for (DWORD i = 0; i < exports->NumberOfNames; ++i)
            result.emplace_back(reinterpret_cast<const char*>(base + names[i]));
        return result;
    }

    HMODULE m_library = nullptr;
    std::wstring m_path;
};

// A string value of a key under HKEY_CLASSES_ROOT; "<no key>" / "<no value>" when absent.
std::wstring ClassesValue(const std::wstring& key, const wchar_t* name)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return L"<no key>";
    wchar_t data[512] = {};
    DWORD cb = sizeof(data) - sizeof(wchar_t);
    DWORD type = 0;
    LONG rc = RegQueryValueExW(opened, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &cb);
    RegCloseKey(opened);
    if (rc != ERROR_SUCCESS)
        return L"<no value>";
    if (type != REG_SZ)
        return L"<not text>";
    return data;
}

bool ClassesKeyExists(const std::wstring& key)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

TEST_F(KOLVEN32Test, ExportsExactlyTheEntriesUnderTheirPlainNames)
{
    const char* const entries[] = {"MSProviderInit",    "ServiceEntry",      "RegProvider",
                                   "UnRegProvider",     "DllGetClassObject", "DllCanUnloadNow",
                                   "DllRegisterServer", "DllUnregisterServer"};
    for (const char* name : entries)
        EXPECT_NE(nullptr, Export<FARPROC>(name)) << name;
    const char* const decorated[] = {"ServiceEntry@40", "_ServiceEntry@40", "RegProvider@0", "DllGetClassObject@12",
                                     "_MSProviderInit", "DllMain", "DllMain@12"};
    for (const char* name : decorated)
        EXPECT_EQ(nullptr, Export<FARPROC>(name)) << name;

    std::vector<std::string> names = ExportNames();
    std::sort(names.begin(), names.end());
    std::vector<std::string> expected(std::begin(entries), std::end(entries));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, names);
}

// The service entry's answers that need no profile: MAPI may call it for
// contexts it has nothing to do in, and a creation without a user interface
// is refused.
TEST_F(KOLVEN32Test, ServiceEntryAnswersCallsWithNothingToDo)
{
    using ServiceEntryFn = HRESULT(WINAPI*)(HINSTANCE, LPMALLOC, LPMAPISUP, ULONG, ULONG, ULONG, ULONG, LPSPropValue,
                                            LPPROVIDERADMIN, LPMAPIERROR*);
    auto serviceEntry = Export<ServiceEntryFn>("ServiceEntry");
    ASSERT_NE(nullptr, serviceEntry);
    const struct {
        ULONG flags;
        ULONG context;
        HRESULT result;
    } cases[] = {
        {0, MSG_SERVICE_INSTALL, S_OK},
        {0, MSG_SERVICE_UNINSTALL, S_OK},
        {0, MSG_SERVICE_CONFIGURE, S_OK},        // no values, no user interface
        {0, MSG_SERVICE_DELETE, S_OK},           // never fails
        {0, MSG_SERVICE_CREATE, E_INVALIDARG},   // creation needs the wizard
        {SERVICE_UI_ALLOWED, MSG_SERVICE_PROVIDER_CREATE, S_OK},
    };
    for (const auto& c : cases) {
        LPMAPIERROR error = reinterpret_cast<LPMAPIERROR>(1);
        EXPECT_EQ(c.result, serviceEntry(m_library, nullptr, nullptr, 0, c.flags, c.context, 0, nullptr, nullptr, &error))
            << c.context;
        EXPECT_EQ(nullptr, error);
    }
}

// MAPI's entry for the store provider, as MAPI calls it: the SPI version
// is written before anything is refused, the provider holds the module
// while it lives, and its small slots answer as MAPI expects.
TEST_F(KOLVEN32Test, ProviderEntryChecksItsCallerAndHandsOutTheProvider)
{
    auto providerInit = Export<MSPROVIDERINIT*>("MSProviderInit");
    ASSERT_NE(nullptr, providerInit);
    auto canUnload = Export<PlainFn>("DllCanUnloadNow");
    ASSERT_NE(nullptr, canUnload);
    ULONG version = 0;
    LPMSPROVIDER provider = nullptr;
    EXPECT_EQ(E_INVALIDARG, providerInit(m_library, nullptr, nullptr, nullptr, nullptr, 0, CURRENT_SPI_VERSION,
                                         nullptr, &provider));
    EXPECT_EQ(E_INVALIDARG, providerInit(m_library, nullptr, nullptr, nullptr, nullptr, 0, CURRENT_SPI_VERSION,
                                         &version, nullptr));
    EXPECT_EQ(MAPI_E_VERSION,
              providerInit(m_library, nullptr, nullptr, nullptr, nullptr, 0, 0x0001000F, &version, &provider));
    EXPECT_EQ(0x00010010u, version);
    version = 0;
    ASSERT_EQ(S_OK, providerInit(m_library, nullptr, nullptr, nullptr, nullptr, 0, CURRENT_SPI_VERSION, &version,
                                 &provider));
    EXPECT_EQ(0x00010010u, version);
    ASSERT_NE(nullptr, provider);
    EXPECT_EQ(S_FALSE, canUnload());

    IUnknown* unknown = nullptr;
    EXPECT_EQ(S_OK, provider->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)));
    EXPECT_EQ(static_cast<IUnknown*>(provider), unknown);
    unknown->Release();
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, provider->QueryInterface(IID_IMsgStore, &other));
    EXPECT_EQ(nullptr, other);

    ULONG flags = 9;
    EXPECT_EQ(S_OK, provider->Shutdown(&flags));
    EXPECT_EQ(0u, flags);
    EXPECT_EQ(S_OK, provider->Shutdown(nullptr));
    LPMSLOGON logon = nullptr;
    LPMDB store = nullptr;
    EXPECT_EQ(MAPI_E_NO_SUPPORT, provider->SpoolerLogon(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr,
                                                        nullptr, &logon, &store));

    BYTE first[72] = {1, 2, 3};
    BYTE second[72] = {1, 2, 3};
    struct Case {
        const char* what;
        ULONG cb1;
        BYTE* id1;
        ULONG cb2;
        BYTE* id2;
        ULONG result;
    };
    const Case cases[] = {
        {"both missing", 0, nullptr, 0, nullptr, TRUE},
        {"equal", 72, first, 72, second, TRUE},
        {"a prefix of the other", 40, first, 72, second, FALSE},
        {"one missing", 72, first, 0, nullptr, FALSE},
    };
    for (const Case& c : cases) {
        ULONG result = 7;
        EXPECT_EQ(S_OK, provider->CompareStoreIDs(c.cb1, reinterpret_cast<LPENTRYID>(c.id1), c.cb2,
                                                  reinterpret_cast<LPENTRYID>(c.id2), 0, &result))
            << c.what;
        EXPECT_EQ(c.result, result) << c.what;
    }
    second[71] = 1;
    ULONG result = 7;
    EXPECT_EQ(S_OK, provider->CompareStoreIDs(72, reinterpret_cast<LPENTRYID>(first), 72,
                                              reinterpret_cast<LPENTRYID>(second), 0, &result));
    EXPECT_EQ(static_cast<ULONG>(FALSE), result);
    EXPECT_EQ(E_INVALIDARG, provider->CompareStoreIDs(0, nullptr, 0, nullptr, 0, nullptr));

    EXPECT_EQ(0u, provider->Release());
    EXPECT_EQ(S_OK, canUnload());
}

TEST_F(KOLVEN32Test, EntriesNotYetInTheLibraryRefuseCleanly)
{
    auto getClassObject = Export<GetClassObjectFn>("DllGetClassObject");
    ASSERT_NE(nullptr, getClassObject);
    CLSID connect{};
    ASSERT_EQ(S_OK, CLSIDFromString(kConnectClsid, &connect));
    void* factory = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_POINTER, getClassObject(connect, IID_IClassFactory, nullptr));
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject(IID_IUnknown, IID_IClassFactory, &factory));
    EXPECT_EQ(nullptr, factory);

    auto canUnload = Export<PlainFn>("DllCanUnloadNow");
    ASSERT_NE(nullptr, canUnload);
    EXPECT_EQ(S_OK, canUnload());
}

TEST_F(KOLVEN32Test, RegistrationWritesBothClassesAndTheTypeLibraryAndRemovesThem)
{
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    auto registerServer = Export<PlainFn>("DllRegisterServer");
    auto unregisterServer = Export<PlainFn>("DllUnregisterServer");
    ASSERT_NE(nullptr, registerServer);
    ASSERT_NE(nullptr, unregisterServer);

    // The caller's locale is not the system's, so a leak of the registration
    // locale would show.
    LCID callerLocale = MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), SORT_DEFAULT);
    LCID saved = GetThreadLocale();
    SetThreadLocale(callerLocale);
    LCID before = GetThreadLocale();

    ASSERT_EQ(S_OK, registerServer());
    EXPECT_EQ(before, GetThreadLocale());
    // Registering again rewrites the same keys.
    ASSERT_EQ(S_OK, registerServer());

    const std::wstring connect = std::wstring(L"CLSID\\") + kConnectClsid;
    const std::wstring page = std::wstring(L"CLSID\\") + kPageClsid;
    const std::wstring typeLib = std::wstring(L"TypeLib\\") + kLibid + L"\\1.0";
    const struct {
        std::wstring key;
        const wchar_t* name;
        std::wstring data;
    } rows[] = {
        {L"KOLVEN32.Connect.1", nullptr, L"Connect Class"},
        {L"KOLVEN32.Connect.1\\CLSID", nullptr, kConnectClsid},
        {L"KOLVEN32.Connect", nullptr, L"Connect Class"},
        {L"KOLVEN32.Connect\\CLSID", nullptr, kConnectClsid},
        {L"KOLVEN32.Connect\\CurVer", nullptr, L"KOLVEN32.Connect.1"},
        {connect, nullptr, L"Connect Class"},
        {connect + L"\\ProgID", nullptr, L"KOLVEN32.Connect.1"},
        {connect + L"\\VersionIndependentProgID", nullptr, L"KOLVEN32.Connect"},
        {connect + L"\\Programmable", nullptr, L"<no value>"},
        {connect + L"\\InprocServer32", nullptr, m_path},
        {connect + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {connect + L"\\TypeLib", nullptr, kLibid},
        {L"KOLVEN32.ProvPropPage.1", nullptr, L"ProvPropPage Class"},
        {L"KOLVEN32.ProvPropPage.1\\CLSID", nullptr, kPageClsid},
        {L"KOLVEN32.ProvPropPage", nullptr, L"ProvPropPage Class"},
        {L"KOLVEN32.ProvPropPage\\CLSID", nullptr, kPageClsid},
        {L"KOLVEN32.ProvPropPage\\CurVer", nullptr, L"KOLVEN32.ProvPropPage.1"},
        {page, nullptr, L"ProvPropPage Class"},
        {page + L"\\ProgID", nullptr, L"KOLVEN32.ProvPropPage.1"},
        {page + L"\\VersionIndependentProgID", nullptr, L"KOLVEN32.ProvPropPage"},
        {page + L"\\Programmable", nullptr, L"<no value>"},
        {page + L"\\InprocServer32", nullptr, m_path},
        {page + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {page + L"\\Control", nullptr, L"<no value>"},
        {page + L"\\ToolboxBitmap32", nullptr, m_path + L", 102"},
        {page + L"\\MiscStatus", nullptr, L"0"},
        {page + L"\\MiscStatus\\1", nullptr, L"131473"},
        {page + L"\\TypeLib", nullptr, kLibid},
        {page + L"\\Version", nullptr, L"1.0"},
        {typeLib, nullptr, L"KOLVEN32 1.0 Type Library"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "HKCR\\" << std::string(row.key.begin(), row.key.end()));
        EXPECT_EQ(row.data, ClassesValue(row.key, row.name));
    }
    // The type library is registered from the library itself.
    EXPECT_TRUE(ClassesKeyExists(typeLib + (sizeof(void*) == 8 ? L"\\0\\win64" : L"\\0\\win32")));
    ComPtr<ITypeLib> loaded;
    CLSID libid{};
    ASSERT_EQ(S_OK, CLSIDFromString(kLibid, &libid));
    EXPECT_EQ(S_OK, LoadRegTypeLib(libid, 1, 0, LOCALE_NEUTRAL, &loaded));
    if (loaded) {
        const wchar_t* const names[] = {L"Connect", L"ProvPropPage", L"IProvPropPage"};
        for (const wchar_t* name : names) {
            std::wstring copy = name;
            BOOL found = FALSE;
            EXPECT_EQ(S_OK, loaded->IsName(&copy[0], 0, &found));
            EXPECT_TRUE(found) << std::string(copy.begin(), copy.end());
        }
        loaded.Reset();
    }

    SetThreadLocale(callerLocale);
    EXPECT_EQ(S_OK, unregisterServer());
    EXPECT_EQ(before, GetThreadLocale());
    const wchar_t* const gone[] = {L"KOLVEN32.Connect.1", L"KOLVEN32.Connect", L"KOLVEN32.ProvPropPage.1",
                                   L"KOLVEN32.ProvPropPage"};
    for (const wchar_t* key : gone)
        EXPECT_FALSE(ClassesKeyExists(key)) << std::string(key, key + wcslen(key));
    EXPECT_FALSE(ClassesKeyExists(connect));
    EXPECT_FALSE(ClassesKeyExists(page));
    EXPECT_FALSE(ClassesKeyExists(typeLib));
    EXPECT_TRUE(ClassesKeyExists(L"CLSID"));

    // With nothing left to remove the type library call fails; the caller's
    // locale still comes back.
    SetThreadLocale(callerLocale);
    HRESULT again = unregisterServer();
    EXPECT_EQ(before, GetThreadLocale()) << std::hex << again;

    SetThreadLocale(saved);
    CoUninitialize();
}

// The type library in the library holds the two classes and the page's dual
// interface, nothing of the system's: IDispatch and IUnknown are references
// into stdole2.
TEST_F(KOLVEN32Test, TypeLibraryHoldsExactlyTheClassesAndThePagesInterface)
{
    ComPtr<ITypeLib> library;
    ASSERT_EQ(S_OK, LoadTypeLibEx(m_path.c_str(), REGKIND_NONE, library.GetAddressOf()));
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, library->GetLibAttr(&attributes));
    CLSID libid{};
    ASSERT_EQ(S_OK, CLSIDFromString(kLibid, &libid));
    EXPECT_TRUE(IsEqualGUID(libid, attributes->guid));
    EXPECT_EQ(1, attributes->wMajorVerNum);
    EXPECT_EQ(0, attributes->wMinorVerNum);
    library->ReleaseTLibAttr(attributes);
    BSTR name = nullptr;
    BSTR help = nullptr;
    ASSERT_EQ(S_OK, library->GetDocumentation(-1, &name, &help, nullptr, nullptr));
    EXPECT_STREQ(L"KOLVEN32Lib", name);
    EXPECT_STREQ(L"KOLVEN32 1.0 Type Library", help);
    SysFreeString(name);
    SysFreeString(help);

    struct Entry {
        const wchar_t* name;
        const wchar_t* help;
        TYPEKIND kind;
        const wchar_t* guid;
    };
    const Entry expected[] = {
        {L"IProvPropPage", L"IProvPropPage Interface", TKIND_DISPATCH, L"{E2C95F7A-0D36-4B41-8A6E-4F17B3D92C58}"},
        {L"Connect", L"Connect Class", TKIND_COCLASS, kConnectClsid},
        {L"ProvPropPage", L"ProvPropPage Class", TKIND_COCLASS, kPageClsid},
    };
    ASSERT_EQ(std::size(expected), library->GetTypeInfoCount());
    for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
        const Entry& entry = expected[i];
        SCOPED_TRACE(testing::Message() << "entry " << i);
        ASSERT_EQ(S_OK, library->GetDocumentation(static_cast<INT>(i), &name, &help, nullptr, nullptr));
        EXPECT_STREQ(entry.name, name);
        EXPECT_STREQ(entry.help, help);
        SysFreeString(name);
        SysFreeString(help);
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(S_OK, library->GetTypeInfo(i, info.GetAddressOf()));
        TYPEATTR* type = nullptr;
        ASSERT_EQ(S_OK, info->GetTypeAttr(&type));
        EXPECT_EQ(entry.kind, type->typekind);
        GUID guid{};
        ASSERT_EQ(S_OK, CLSIDFromString(entry.guid, &guid));
        EXPECT_TRUE(IsEqualGUID(guid, type->guid));
        if (entry.kind == TKIND_DISPATCH) {
            EXPECT_TRUE(type->wTypeFlags & TYPEFLAG_FDUAL);
        }
        info->ReleaseTypeAttr(type);
        // Every type it names lives in stdole2 or in this library.
        HREFTYPE reference = 0;
        ComPtr<ITypeInfo> named;
        ComPtr<ITypeLib> home;
        UINT index = 0;
        if (SUCCEEDED(info->GetRefTypeOfImplType(0, &reference)) &&
            SUCCEEDED(info->GetRefTypeInfo(reference, named.GetAddressOf())) &&
            SUCCEEDED(named->GetContainingTypeLib(home.GetAddressOf(), &index))) {
            TLIBATTR* homeAttributes = nullptr;
            ASSERT_EQ(S_OK, home->GetLibAttr(&homeAttributes));
            const GUID stdole = {0x00020430, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
            EXPECT_TRUE(IsEqualGUID(stdole, homeAttributes->guid) || IsEqualGUID(libid, homeAttributes->guid));
            home->ReleaseTLibAttr(homeAttributes);
        }
    }
}

// The pictures the registration and the add-in name are in the library.
TEST_F(KOLVEN32Test, BitmapsAndThePagesDialogAreResourcesOfTheLibrary)
{
    const struct {
        UINT id;
        int width;
        int height;
    } bitmaps[] = {{102, 16, 15}, {210, 16, 16}, {1002, 16, 16}};
    for (const auto& bitmap : bitmaps) {
        SCOPED_TRACE(testing::Message() << "bitmap " << bitmap.id);
        HANDLE loaded = LoadImageW(m_library, MAKEINTRESOURCEW(bitmap.id), IMAGE_BITMAP, 0, 0, 0);
        ASSERT_NE(nullptr, loaded);
        BITMAP info{};
        ASSERT_NE(0, GetObjectW(loaded, sizeof(info), &info));
        EXPECT_EQ(bitmap.width, info.bmWidth);
        EXPECT_EQ(bitmap.height, info.bmHeight);
        DeleteObject(loaded);
    }
    EXPECT_NE(nullptr, FindResourceW(m_library, MAKEINTRESOURCEW(109), RT_DIALOG));
}

} // namespace
