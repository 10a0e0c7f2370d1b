// The base of the client tests over the mailbox fixture of both schema
// generations: one store of each, opened once per test suite through a MAPI
// session, handed to each test by its generation parameter.
#pragma once
#include "ProviderPlatform.h"
#include "testing/ProviderFixture.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace providertest {

class StoreClientTest : public ::testing::TestWithParam<exchangefixture::EGeneration> {
protected:
    static void SetUpTestSuite()
    {
        s_client = new CMapiClient();
        ASSERT_EQ(S_OK, s_client->Status());
        for (auto generation : {exchangefixture::EGeneration::Exchange2003, exchangefixture::EGeneration::Exchange2007}) {
            SStoreSettings settings;
            settings.databasePath = CFixtureFiles::Instance().Mailbox(generation);
            settings.logFolder = CFixtureFiles::Instance().LogFolder();
            s_sessions[generation] = new CStoreSession(settings, L"StoreClientTest");
        }
    }
    static void TearDownTestSuite()
    {
        for (auto& item : s_sessions)
            delete item.second;
        s_sessions.clear();
        delete s_client;
        s_client = nullptr;
    }
    void SetUp() override
    {
        session = s_sessions[GetParam()];
        ASSERT_EQ(S_OK, session->Status());
        store = session->Store();
        uid = session->Uid();
        path = CFixtureFiles::Instance().Mailbox(GetParam());
    }

    const SMailboxFixture& Ids() const { return CFixtureFiles::Instance().MailboxIds(); }

    // Opens a folder of this store through the store.
    ComPtr<IMAPIFolder> Folder(const CEntryId& id) const
    {
        ULONG type = 0;
        ComPtr<IUnknown> object;
        ComPtr<IMAPIFolder> folder;
        if (SUCCEEDED(OpenEntry(store, id, 0, &type, object.GetAddressOf())) && object)
            object->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(folder.GetAddressOf()));
        return folder;
    }

    static CMapiClient* s_client;
    static std::map<exchangefixture::EGeneration, CStoreSession*> s_sessions;
    CStoreSession* session = nullptr;
    IMsgStore* store = nullptr;
    MAPIUID uid = {};
    std::wstring path;
};

inline std::string GenerationName(const ::testing::TestParamInfo<exchangefixture::EGeneration>& info)
{
    return info.param == exchangefixture::EGeneration::Exchange2003 ? "Exchange2003" : "Exchange2007";
}

inline std::vector<BYTE> IdBytes(const CEntryId& id)
{
    const BYTE* p = reinterpret_cast<const BYTE*>(&id);
    return std::vector<BYTE>(p, p + sizeof(id));
}

inline std::vector<BYTE> UidBytes(const MAPIUID& uid)
{
    return std::vector<BYTE>(uid.ab, uid.ab + sizeof(uid.ab));
}

} // namespace providertest

