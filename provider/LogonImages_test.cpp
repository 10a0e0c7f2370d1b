// Logon of a store whose database lies inside a backup image: the image is
// mounted where its drive is gone, and a logon that fails after the mount
// takes the image down again, so no drive of a store that never opened is
// left behind.
#include "ProviderPlatform.h"
#include "BackupSourceBuilder.h"
#include "CProvider.h"
#include "CStoreConfig.h"
#include "ProviderGlobals.h"
#include "QorBusTestSupport.h"
#include "testing/CFakeSupport.h"
#include "testing/ProviderFixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace providertest;
using exchangefixture::EGeneration;

namespace {

// Notes whether the image's drive is shown while the logon asks for the
// profile to be written, the step after the store is built.
class CDriveWatchingSupport : public CFakeSupport {
public:
    CDriveWatchingSupport(const MAPIUID& uid, const std::wstring& database, const std::wstring& logs, wchar_t letter)
        : CFakeSupport(uid, database, logs), m_letter(letter)
    {
    }
    STDMETHODIMP ModifyProfile(ULONG ulFlags) override
    {
        shownDuringLogon = qorbustest::IsDriveShown(m_letter);
        return CFakeSupport::ModifyProfile(ulFlags);
    }
    bool shownDuringLogon = false;

private:
    wchar_t m_letter;
};

class LogonImageTest : public qorbustest::CDriverTest {};

TEST_F(LogonImageTest, ALogonThatFailsAfterMountingTakesItsImageDown)
{
    CMapiClient client;
    ASSERT_EQ(S_OK, client.Status());
    const std::vector<uint8_t> database =
        qorbustest::ReadBytes(CFixtureFiles::Instance().Mailbox(EGeneration::Exchange2007));
    ASSERT_FALSE(database.empty());
    const std::vector<uint8_t> partition = backupsource::MakeFatPartition(
        {{L"Mailbox.edb", database, false}, {L"Logs", {}, true}}, backupsource::SFatOptions{});
    const std::wstring image = CFixtureFiles::Instance().Folder(L"images") + L"\\mailbox.kzf";
    CreateDirectoryW(CFixtureFiles::Instance().Folder(L"images").c_str(), nullptr);
    ASSERT_EQ(0, backupsource::WriteArchiveVolume(std::string(image.begin(), image.end()), partition,
                                                  backupsource::SArchiveOptions{}));

    const wchar_t letter = qorbustest::FreeDriveLetter();
    ASSERT_NE(0, letter);
    const std::wstring root = std::wstring(1, letter) + L":\\";
    MAPIUID serviceUid = {};
    CoCreateGuid(reinterpret_cast<GUID*>(&serviceUid));
    CStoreConfig config;
    config.databasePath = root + L"Mailbox.edb";
    ASSERT_TRUE(config.Save(CStoreConfig::FormatName(serviceUid)));

    ULONG version = 0;
    ComPtr<IMSProvider> provider;
    ASSERT_EQ(S_OK, ProviderInit(nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0x00010010, &version,
                                 provider.GetAddressOf()));
    CDriveWatchingSupport support(serviceUid, root + L"Mailbox.edb", root + L"Logs", letter);
    support.hasSourceKind = true;
    support.sourceKind = 1;
    support.hasImages = true;
    support.databaseImage = image;
    support.logImage = image;
    support.fail = CFakeSupport::EFail::ModifyProfile;
    support.failure = MAPI_E_NOT_ENOUGH_DISK;

    ULONG cbSpool = 0;
    LPBYTE spool = nullptr;
    LPMAPIERROR error = nullptr;
    ComPtr<IMSLogon> logon;
    ComPtr<IMsgStore> store;
    EXPECT_EQ(MAPI_E_NOT_ENOUGH_DISK,
              provider->Logon(&support, 0, nullptr, 0, nullptr, 0, nullptr, &cbSpool, &spool, &error,
                              logon.GetAddressOf(), reinterpret_cast<LPMDB*>(store.GetAddressOf())));
    EXPECT_EQ(nullptr, store);
    EXPECT_TRUE(support.shownDuringLogon) << "the image was mounted for the logon";
    EXPECT_FALSE(qorbustest::IsDriveShown(letter)) << "the failed logon took its image down";
    EXPECT_EQ(0u, ProviderGlobals().storeRegistry.Count());

    provider.Reset();
    CStoreConfig().Delete(serviceUid);
    DeleteFileW((image + L".chunk.dat").c_str());
}

} // namespace
