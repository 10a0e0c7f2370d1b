// Logon called directly, with a support object of the test's: the checks
// of its arguments and of the profile, the paths to an unconfigured store,
// a shared store, a database the server cannot open, and the failures of
// its last steps, after which nothing of the store is left behind.
#include "ProviderPlatform.h"
#include "CMsgStore.h"
#include "CProvider.h"
#include "CStoreConfig.h"
#include "ProviderFiles.h"
#include "ProviderGlobals.h"
#include "ResourceStrings.h"
#include "ServerInterfaces.h"
#include "testing/CFakeSupport.h"
#include "testing/ProviderFixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace providertest;
using exchangefixture::EGeneration;

namespace {

class LogonTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_client = new CMapiClient();
        s_pelmrix = GetResourceLibrary();
    }
    static void TearDownTestSuite()
    {
        delete s_client;
        s_client = nullptr;
    }

    void SetUp() override
    {
        ASSERT_EQ(S_OK, s_client->Status());
        SetResourceLibrary(s_pelmrix);
        CoCreateGuid(reinterpret_cast<GUID*>(&serviceUid));
        databasePath = CFixtureFiles::Instance().Mailbox(EGeneration::Exchange2007);
        ASSERT_EQ(S_OK, ProviderInit(nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0x00010010, &version,
                                     provider.GetAddressOf()));
    }
    void TearDown() override
    {
        provider.Reset();
        SetResourceLibrary(s_pelmrix);
        CStoreConfig().Delete(serviceUid);
        EXPECT_EQ(0u, ProviderGlobals().storeRegistry.Count()) << "every store went";
    }

    void WriteSettings(const std::wstring& path)
    {
        CStoreConfig config;
        config.databasePath = path;
        ASSERT_TRUE(config.Save(CStoreConfig::FormatName(serviceUid)));
    }

    HRESULT Logon(CFakeSupport& support, ComPtr<IMSLogon>& logon, ComPtr<IMsgStore>& store, ULONG flags = 0)
    {
        ULONG cbSpool = 7;
        LPBYTE spool = reinterpret_cast<LPBYTE>(1);
        LPMAPIERROR error = reinterpret_cast<LPMAPIERROR>(1);
        HRESULT hr = provider->Logon(&support, 0, nullptr, 0, nullptr, flags, nullptr, &cbSpool, &spool, &error,
                                     logon.ReleaseAndGetAddressOf(), reinterpret_cast<LPMDB*>(store.ReleaseAndGetAddressOf()));
        EXPECT_EQ(0u, cbSpool);
        EXPECT_EQ(nullptr, spool);
        EXPECT_EQ(nullptr, error);
        return hr;
    }

    static std::vector<std::wstring> LogLinesWith(const std::wstring& text)
    {
        std::wstring directory;
        GetDataDirectory(directory);
        std::vector<std::wstring> found;
        for (const std::wstring& line : ReadLogLines(directory + L"\\KOLWEN32.log"))
            if (line.find(text) != std::wstring::npos)
                found.push_back(line);
        return found;
    }

    static CMapiClient* s_client;
    static HMODULE s_pelmrix;
    MAPIUID serviceUid = {};
    std::wstring databasePath;
    ULONG version = 0;
    ComPtr<IMSProvider> provider;
};

CMapiClient* LogonTest::s_client = nullptr;
HMODULE LogonTest::s_pelmrix = nullptr;

TEST_F(LogonTest, ChecksItsArgumentsAndTheProfile)
{
    CFakeSupport support(serviceUid, databasePath, CFixtureFiles::Instance().LogFolder());
    LPMSLOGON logon = nullptr;
    LPMDB store = nullptr;
    EXPECT_EQ(E_INVALIDARG, provider->Logon(&support, 0, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, &store));
    EXPECT_EQ(E_INVALIDARG, provider->Logon(&support, 0, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr,
                                            &logon, nullptr));
    EXPECT_EQ(E_INVALIDARG, provider->Logon(&support, 0, nullptr, 0, nullptr, 0x00200000, nullptr, nullptr, nullptr,
                                            nullptr, &logon, &store));
    WriteSettings(databasePath);
    struct Case {
        const char* what;
        CFakeSupport::EFail fail;
    };
    const Case cases[] = {{"the provider's section", CFakeSupport::EFail::OwnSection},
                          {"the service's section", CFakeSupport::EFail::ServiceSection}};
    for (const Case& c : cases) {
        support.fail = c.fail;
        ComPtr<IMSLogon> msLogon;
        ComPtr<IMsgStore> msgStore;
        EXPECT_EQ(MAPI_E_FAILONEPROVIDER, Logon(support, msLogon, msgStore)) << c.what;
        EXPECT_EQ(nullptr, msgStore);
    }
}

TEST_F(LogonTest, AStoreWithoutItsSettingsIsUnconfigured)
{
    ComPtr<IMSLogon> logon;
    ComPtr<IMsgStore> store;
    CFakeSupport noPath(serviceUid, L"", CFixtureFiles::Instance().LogFolder());
    WriteSettings(databasePath);
    EXPECT_EQ(MAPI_E_UNCONFIGURED, Logon(noPath, logon, store)) << "an empty database path";

    CFakeSupport support(serviceUid, databasePath, CFixtureFiles::Instance().LogFolder());
    CStoreConfig().Delete(serviceUid);
    EXPECT_EQ(MAPI_E_UNCONFIGURED, Logon(support, logon, store)) << "no settings file";

    // Without the resource library the data folder's names stay tokens: no
    // data folder, no settings file.
    WriteSettings(databasePath);
    SetResourceLibrary(nullptr);
    EXPECT_EQ(MAPI_E_UNCONFIGURED, Logon(support, logon, store)) << "no resource library";
    EXPECT_EQ(nullptr, store);
    EXPECT_EQ(0, support.modifyProfileCalls);
}

TEST_F(LogonTest, OpensTheStoreAndPublishesItsStatus)
{
    WriteSettings(databasePath);
    CFakeSupport support(serviceUid, databasePath, CFixtureFiles::Instance().LogFolder());
    ComPtr<IMSLogon> logon;
    ComPtr<IMsgStore> store;
    ASSERT_EQ(S_OK, Logon(support, logon, store));
    ASSERT_NE(nullptr, store);
    ASSERT_NE(nullptr, logon);
    EXPECT_EQ(0, std::memcmp(&serviceUid, &support.providerUid, sizeof(MAPIUID)));
    EXPECT_EQ(1, support.statusRowCalls);
    std::string path(databasePath.begin(), databasePath.end());
    EXPECT_EQ((std::vector<std::string>{"Morvane Mail Archive (" + path + ")", "Morvane Mail Archive", "Available"}),
              support.statusTexts);
    // Display name, provider display, resource methods, status code and
    // status string, the texts in ANSI.
    EXPECT_EQ((std::vector<ULONG>{0x3001001E, 0x3006001E, 0x3E020003, 0x3E040003, 0x3E08001E}), support.statusTags);
    EXPECT_EQ(0u, support.resourceMethods);
    EXPECT_EQ(1u, support.statusCode);
    EXPECT_EQ(0u, support.statusRowFlags);
    EXPECT_EQ(1, support.modifyProfileCalls);
    EXPECT_EQ(1u, ProviderGlobals().storeRegistry.Count());

    // A second logon to the same database shares the store.
    CFakeSupport second(serviceUid, databasePath, CFixtureFiles::Instance().LogFolder());
    ComPtr<IMSLogon> secondLogon;
    ComPtr<IMsgStore> secondStore;
    ASSERT_EQ(S_OK, Logon(second, secondLogon, secondStore));
    EXPECT_EQ(store.Get(), secondStore.Get());
    EXPECT_EQ(nullptr, secondLogon);
    EXPECT_EQ(0, second.statusRowCalls);
    secondStore.Reset();

    // The last release logs off the transports and leaves the registry.
    logon.Reset();
    store.Reset();
    EXPECT_EQ(1, support.logoffTransportsCalls);
    EXPECT_EQ(0u, ProviderGlobals().storeRegistry.Count());
    EXPECT_EQ(1, support.refs) << "the support object is released";
}

TEST_F(LogonTest, ATemporaryStoreLeavesTheProfileAlone)
{
    WriteSettings(databasePath);
    CFakeSupport support(serviceUid, databasePath, CFixtureFiles::Instance().LogFolder());
    ComPtr<IMSLogon> logon;
    ComPtr<IMsgStore> store;
    ASSERT_EQ(S_OK, Logon(support, logon, store, MDB_TEMPORARY));
    EXPECT_EQ(0, support.modifyProfileCalls);
}

TEST_F(LogonTest, ADatabaseTheServerCannotOpenFailsThisProviderWithTheServersText)
{
    const std::wstring missing = CFixtureFiles::Instance().Folder(L"nowhere") + L"\\missing.edb";
    WriteSettings(missing);
    CFakeSupport support(serviceUid, missing, CFixtureFiles::Instance().LogFolder());
    // The recorded text spans several lines of the log.
    const size_t before = LogLinesWith(L"function=CProvider::Logon").size();
    const size_t sourceBefore = LogLinesWith(L"source=Morvane.Vostrel2007").size();
    ComPtr<IMSLogon> logon;
    ComPtr<IMsgStore> store;
    EXPECT_EQ(MAPI_E_FAILONEPROVIDER, Logon(support, logon, store));
    EXPECT_EQ(nullptr, store);
    EXPECT_EQ(nullptr, logon);
    EXPECT_EQ(before + 1, LogLinesWith(L"function=CProvider::Logon").size());
    EXPECT_EQ(sourceBefore + 1, LogLinesWith(L"source=Morvane.Vostrel2007").size()) << "the server's error";
    EXPECT_EQ(0u, ProviderGlobals().storeRegistry.Count());
    // Nothing was kept: the next logon tries again.
    EXPECT_EQ(MAPI_E_FAILONEPROVIDER, Logon(support, logon, store));
}

// A failure in the last steps of a logon (the status row, the profile, the
// named-property map) returns that failure, releases the store it built and
// leaves the registry as it was; a later logon opens the database afresh.
TEST_F(LogonTest, AFailureInTheLastStepsReleasesTheStore)
{
    WriteSettings(databasePath);
    struct Case {
        const char* what;
        CFakeSupport::EFail fail;
        HRESULT hr;
    };
    const Case cases[] = {
        {"the provider UID", CFakeSupport::EFail::SetProviderUid, MAPI_E_CALL_FAILED},
        {"the status row", CFakeSupport::EFail::StatusRow, MAPI_E_NO_SUPPORT},
        {"the profile", CFakeSupport::EFail::ModifyProfile, MAPI_E_NOT_ENOUGH_DISK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CFakeSupport support(serviceUid, databasePath, CFixtureFiles::Instance().LogFolder());
        support.fail = c.fail;
        support.failure = c.hr;
        ComPtr<IMSLogon> logon;
        ComPtr<IMsgStore> store;
        EXPECT_EQ(c.hr, Logon(support, logon, store));
        EXPECT_EQ(nullptr, store);
        EXPECT_EQ(nullptr, logon);
        EXPECT_EQ(0u, ProviderGlobals().storeRegistry.Count());
        EXPECT_EQ(1, support.refs) << "the support object is released with the store";
    }
    CFakeSupport good(serviceUid, databasePath, CFixtureFiles::Instance().LogFolder());
    ComPtr<IMSLogon> logon;
    ComPtr<IMsgStore> store;
    ASSERT_EQ(S_OK, Logon(good, logon, store));
    EXPECT_EQ(1, good.statusRowCalls) << "a store of its own, not one left over";
}

TEST_F(LogonTest, ADatabaseWithoutItsNamedPropertiesFailsTheLogon)
{
    exchangefixture::CExchangeDatabase database;
    SMailboxFixture ids;
    BuildMailboxFixture(database, ids);
    database.RemoveTable("NamedProps");
    const std::wstring folder = CFixtureFiles::Instance().Folder(L"nonames");
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring path = folder + L"\\nonames.edb";
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        database.Write(std::string(path.begin(), path.end()));
    WriteSettings(path);
    CFakeSupport support(serviceUid, path, CFixtureFiles::Instance().LogFolder());
    ComPtr<IMSLogon> logon;
    ComPtr<IMsgStore> store;
    EXPECT_EQ(MAPI_E_FAILONEPROVIDER, Logon(support, logon, store));
    EXPECT_EQ(nullptr, store);
    EXPECT_EQ(1, support.statusRowCalls) << "the map comes last";
    EXPECT_EQ(0u, ProviderGlobals().storeRegistry.Count());
    EXPECT_EQ(1, support.refs);
}

// A logon that takes its time (here MAPI's profile write) holds no lock
// that another store's references wait for, nor one that another logon
// waits for.
TEST_F(LogonTest, ALogonInProgressHoldsUpNoOtherStore)
{
    WriteSettings(databasePath);
    CFakeSupport support(serviceUid, databasePath, CFixtureFiles::Instance().LogFolder());
    ComPtr<IMSLogon> logon;
    ComPtr<IMsgStore> store;
    ASSERT_EQ(S_OK, Logon(support, logon, store));

    MAPIUID otherUid = {};
    CoCreateGuid(reinterpret_cast<GUID*>(&otherUid));
    const std::wstring otherPath = CFixtureFiles::Instance().MailboxCopy(EGeneration::Exchange2007, L"slowlogon");
    CStoreConfig config;
    config.databasePath = otherPath;
    ASSERT_TRUE(config.Save(CStoreConfig::FormatName(otherUid)));
    CFakeSupport slow(otherUid, otherPath, CFixtureFiles::Instance().LogFolder());
    slow.modifyProfileEntered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    slow.modifyProfileHeld = CreateEventW(nullptr, TRUE, FALSE, nullptr);

    HRESULT slowResult = E_FAIL;
    ComPtr<IMSLogon> slowLogon;
    ComPtr<IMsgStore> slowStore;
    std::thread slowThread([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ULONG cbSpool = 0;
        LPBYTE spool = nullptr;
        LPMAPIERROR error = nullptr;
        slowResult = provider->Logon(&slow, 0, nullptr, 0, nullptr, 0, nullptr, &cbSpool, &spool, &error,
                                     slowLogon.GetAddressOf(), reinterpret_cast<LPMDB*>(slowStore.GetAddressOf()));
        CoUninitialize();
    });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(slow.modifyProfileEntered, 120000));

    // Meanwhile the first store is referenced and released, and logged on to
    // again, on another thread; the slow logon is let go only afterwards
    // (a wait that ends means nothing waited for it).
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HRESULT againResult = E_FAIL;
    std::thread other([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        store->AddRef();
        store->Release();
        ComPtr<IMSLogon> againLogon;
        ComPtr<IMsgStore> again;
        CFakeSupport second(serviceUid, databasePath, CFixtureFiles::Instance().LogFolder());
        againResult = Logon(second, againLogon, again);
        again.Reset();
        SetEvent(done);
        CoUninitialize();
    });
    const DWORD waited = WaitForSingleObject(done, 20000);
    SetEvent(slow.modifyProfileHeld);
    other.join();
    slowThread.join();
    EXPECT_EQ(WAIT_OBJECT_0, waited) << "the other store waited for the slow logon";
    EXPECT_EQ(S_OK, againResult);
    EXPECT_EQ(S_OK, slowResult);
    slowLogon.Reset();
    slowStore.Reset();
    CStoreConfig().Delete(otherUid);
    CloseHandle(done);
    CloseHandle(slow.modifyProfileEntered);
    CloseHandle(slow.modifyProfileHeld);
}

// Two logons of one database at once open it once: the second waits for the
// first and shares its store.
TEST_F(LogonTest, TwoLogonsOfOneDatabaseAtOnceShareOneStore)
{
    WriteSettings(databasePath);
    CFakeSupport first(serviceUid, databasePath, CFixtureFiles::Instance().LogFolder());
    first.modifyProfileEntered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    first.modifyProfileHeld = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HRESULT firstResult = E_FAIL;
    ComPtr<IMSLogon> firstLogon;
    ComPtr<IMsgStore> firstStore;
    std::thread firstThread([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ULONG cbSpool = 0;
        LPBYTE spool = nullptr;
        LPMAPIERROR error = nullptr;
        firstResult = provider->Logon(&first, 0, nullptr, 0, nullptr, 0, nullptr, &cbSpool, &spool, &error,
                                      firstLogon.GetAddressOf(), reinterpret_cast<LPMDB*>(firstStore.GetAddressOf()));
        CoUninitialize();
    });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(first.modifyProfileEntered, 120000));
    CFakeSupport second(serviceUid, databasePath, CFixtureFiles::Instance().LogFolder());
    HRESULT secondResult = E_FAIL;
    ComPtr<IMSLogon> secondLogon;
    ComPtr<IMsgStore> secondStore;
    std::thread secondThread([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        secondResult = Logon(second, secondLogon, secondStore);
        CoUninitialize();
    });
    Sleep(200);
    SetEvent(first.modifyProfileHeld);
    firstThread.join();
    secondThread.join();
    EXPECT_EQ(S_OK, firstResult);
    EXPECT_EQ(S_OK, secondResult);
    EXPECT_EQ(firstStore.Get(), secondStore.Get());
    EXPECT_EQ(nullptr, secondLogon);
    EXPECT_EQ(0, second.statusRowCalls) << "the database was opened once";
    EXPECT_EQ(1u, ProviderGlobals().storeRegistry.Count());
    secondStore.Reset();
    firstLogon.Reset();
    firstStore.Reset();
    CloseHandle(first.modifyProfileEntered);
    CloseHandle(first.modifyProfileHeld);
}

// A store whose watcher cannot start (its event's name is taken by an
// object of another kind) is not made, and the server cookies it was given
// stay with the caller, who alone revokes them.
TEST_F(LogonTest, AStoreThatCannotStartLeavesItsCookiesToTheCaller)
{
    HANDLE squatter = CreateMutexW(nullptr, FALSE, CMsgStore::MailboxChangedEventName(serviceUid).c_str());
    ASSERT_NE(nullptr, squatter);
    ComPtr<IStream> instance;
    ComPtr<IStream> server;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, instance.GetAddressOf()));
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, server.GetAddressOf()));
    CServerCookie instanceCookie = CServerCookie::Register(instance.Get(), IID_IStream);
    CServerCookie storeCookie = CServerCookie::Register(server.Get(), IID_IStream);

    CMsgStore* store = nullptr;
    EXPECT_TRUE(FAILED(CMsgStore::Create(databasePath, serviceUid, 2003, instanceCookie.Get(), storeCookie.Get(),
                                         &store)));
    EXPECT_EQ(nullptr, store);
    for (DWORD cookie : {instanceCookie.Get(), storeCookie.Get()}) {
        ComPtr<IStream> fetched;
        EXPECT_NO_THROW(FetchServerInterface(cookie, IID_IStream, reinterpret_cast<void**>(fetched.GetAddressOf())))
            << "the cookie is still registered";
    }
    CloseHandle(squatter);

    // And a logon that meets the same leaves nothing behind.
    squatter = CreateMutexW(nullptr, FALSE, CMsgStore::MailboxChangedEventName(serviceUid).c_str());
    WriteSettings(databasePath);
    CFakeSupport support(serviceUid, databasePath, CFixtureFiles::Instance().LogFolder());
    ComPtr<IMSLogon> logon;
    ComPtr<IMsgStore> msgStore;
    EXPECT_TRUE(FAILED(Logon(support, logon, msgStore)));
    EXPECT_EQ(nullptr, msgStore);
    EXPECT_EQ(0u, ProviderGlobals().storeRegistry.Count());
    CloseHandle(squatter);
}

class CCountingSink : public IMAPIAdviseSink {
public:
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP_(ULONG) OnNotify(ULONG count, LPNOTIFICATION notifications) override
    {
        for (ULONG i = 0; i < count; ++i)
            received.push_back(notifications[i]);
        for (NOTIFICATION& n : received) {
            folder.assign(reinterpret_cast<BYTE*>(n.info.obj.lpEntryID),
                          reinterpret_cast<BYTE*>(n.info.obj.lpEntryID) + n.info.obj.cbEntryID);
            parent.assign(reinterpret_cast<BYTE*>(n.info.obj.lpParentID),
                          reinterpret_cast<BYTE*>(n.info.obj.lpParentID) + n.info.obj.cbParentID);
        }
        return 0;
    }
    std::vector<NOTIFICATION> received;
    std::vector<BYTE> folder;
    std::vector<BYTE> parent;
};

TEST_F(LogonTest, SearchCompletionReachesTheFolderSubscribers)
{
    WriteSettings(databasePath);
    CFakeSupport support(serviceUid, databasePath, CFixtureFiles::Instance().LogFolder());
    ComPtr<IMSLogon> logon;
    ComPtr<IMsgStore> store;
    ASSERT_EQ(S_OK, Logon(support, logon, store));
    CEntryId searchFolder(kEntryFolder, serviceUid);
    searchFolder.serial = 3;
    CCountingSink sink;
    ULONG connection = 0;
    ASSERT_EQ(S_OK, store->Advise(72, searchFolder.AsEntryId(), fnevSearchComplete, &sink, &connection));
    ASSERT_EQ(1u, support.subscriptions.size());
    EXPECT_EQ(static_cast<ULONG>(NOTIFY_SYNC), support.subscriptions[0].flags);
    auto* msgStore = static_cast<CMsgStore*>(store.Get());
    EXPECT_EQ(S_OK, msgStore->NotifySearchComplete(searchFolder));
    ASSERT_EQ(1u, sink.received.size());
    EXPECT_EQ(static_cast<ULONG>(fnevSearchComplete), sink.received[0].ulEventType);
    EXPECT_EQ(static_cast<ULONG>(MAPI_FOLDER), sink.received[0].info.obj.ulObjType);
    const BYTE* ownBytes = reinterpret_cast<const BYTE*>(&searchFolder);
    EXPECT_EQ(std::vector<BYTE>(ownBytes, ownBytes + 72), sink.folder);
    CEntryId storeId(kEntryMessageStore, serviceUid);
    const BYTE* storeBytes = reinterpret_cast<const BYTE*>(&storeId);
    EXPECT_EQ(std::vector<BYTE>(storeBytes, storeBytes + 72), sink.parent);
    EXPECT_EQ(S_OK, store->Unadvise(connection));
    EXPECT_EQ(std::vector<ULONG>{connection}, support.unsubscribed);
}

// A store whose database lies on a backup image: the image is mounted at
// the database's drive when that drive is gone (a mount that fails goes to
// the log and the logon goes on), never over a drive that exists.
TEST_F(LogonTest, ImagesAreMountedOnlyWhereTheirDrivesAreGone)
{
    struct Case {
        const char* what;
        std::wstring database;
        bool mountTried;
    };
    wchar_t absent[] = L"Q:\\";
    for (wchar_t letter = L'Q'; letter <= L'Y' && GetDriveTypeW(absent) != DRIVE_NO_ROOT_DIR; ++letter)
        absent[0] = letter;
    // Neither logon succeeds (no image is there to mount, no database at
    // the path): a store of an image-based source would dismount its drives
    // at its last release.
    const Case cases[] = {
        {"the drive exists", CFixtureFiles::Instance().Folder(L"notthere") + L"\\archived.edb", false},
        {"the drive is gone", std::wstring(absent) + L"store\\archived.edb", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteSettings(c.database);
        CFakeSupport support(serviceUid, c.database, std::wstring(absent) + L"logs");
        support.hasSourceKind = true;
        support.sourceKind = 1;
        support.hasImages = true;
        support.databaseImage = CFixtureFiles::Instance().Folder(L"images") + L"\\volume.kzf";
        support.logImage = support.databaseImage;
        const size_t before = LogLinesWith(L"Unable to mount the Morvane Backup archive").size();
        ComPtr<IMSLogon> logon;
        ComPtr<IMsgStore> store;
        EXPECT_EQ(MAPI_E_FAILONEPROVIDER, Logon(support, logon, store));
        EXPECT_EQ(c.mountTried ? before + 1 : before, LogLinesWith(L"Unable to mount the Morvane Backup archive").size());
    }
}

} // namespace
