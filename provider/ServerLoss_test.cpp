// The database server process dies while a store is open (killed, crashed):
// every later call on the store, its folders, tables, messages and
// attachments that needs the server fails within moments with a MAPI error recorded in the object's
// last error, nothing hangs or crashes, and once the store is released a
// new logon starts a fresh server and works.
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "testing/ProviderFixture.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace providertest;
using exchangefixture::EGeneration;

namespace {

constexpr DWORD kPromptMilliseconds = 5000;

std::vector<DWORD> ServerProcesses()
{
    std::vector<DWORD> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (lstrcmpiW(entry.szExeFile, L"Vostrel2003.exe") == 0)
            found.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return found;
}

bool KillServers()
{
    std::vector<DWORD> servers = ServerProcesses();
    for (DWORD id : servers) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
        if (!process)
            return false;
        TerminateProcess(process, 9);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
    return !servers.empty();
}

template <typename T>
ComPtr<T> As(IUnknown* object, REFIID iid)
{
    ComPtr<T> typed;
    if (object)
        object->QueryInterface(iid, reinterpret_cast<void**>(typed.GetAddressOf()));
    return typed;
}

ComPtr<IMAPIFolder> AsFolder(IUnknown* object)
{
    ComPtr<IMAPIFolder> folder;
    if (object)
        object->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(folder.GetAddressOf()));
    return folder;
}

// Runs a call, which must fail promptly with a MAPI error that the object
// records.
template <typename Call, typename Object>
void ExpectRecordedFailure(const char* what, Call&& call, Object* object, const wchar_t* method)
{
    const DWORD start = GetTickCount();
    HRESULT hr = call();
    EXPECT_LT(GetTickCount() - start, kPromptMilliseconds) << what;
    EXPECT_TRUE(FAILED(hr)) << what << " " << std::hex << hr;
    std::wstring text = LastErrorText(object, hr);
    EXPECT_NE(std::wstring::npos, text.find(method)) << what << ": " << std::string(text.begin(), text.end());
}

// The fixture mailbox database and its logs, as the tests' stores open it.
SStoreSettings FixtureStoreSettings()
{
    SStoreSettings settings;
    settings.databasePath = CFixtureFiles::Instance().Mailbox(EGeneration::Exchange2007);
    settings.logFolder = CFixtureFiles::Instance().LogFolder();
    return settings;
}

TEST(ServerLoss, CallsFailPromptlyAndANewLogonStartsAFreshServer)
{
    CMapiClient client;
    ASSERT_EQ(S_OK, client.Status());
    const SStoreSettings settings = FixtureStoreSettings();
    const SMailboxFixture& ids = CFixtureFiles::Instance().MailboxIds();
    {
        CStoreSession session(settings, L"ServerLoss");
        ASSERT_EQ(S_OK, session.Status());
        IMsgStore* store = session.Store();
        const MAPIUID uid = session.Uid();
        ULONG type = 0;
        ComPtr<IUnknown> object;
        ASSERT_EQ(S_OK, OpenEntry(store, MailboxTopId(uid, ids.alice.rootId), 0, &type, object.GetAddressOf()));
        ComPtr<IMAPIFolder> top = AsFolder(object.Get());
        ASSERT_EQ(S_OK, OpenEntry(store, FolderId(uid, ids.alice.rootId, ids.inbox), 0, &type, object.GetAddressOf()));
        ComPtr<IMAPIFolder> inbox = AsFolder(object.Get());
        ASSERT_EQ(S_OK, OpenEntry(store, CEntryId(kEntryIpmSubtree, uid), 0, &type, object.GetAddressOf()));
        ComPtr<IMAPIFolder> ipm = AsFolder(object.Get());
        ASSERT_NE(nullptr, top);
        ASSERT_NE(nullptr, inbox);
        ASSERT_NE(nullptr, ipm);
        ComPtr<IMAPITable> contents;
        ASSERT_EQ(S_OK, inbox->GetContentsTable(0, contents.GetAddressOf()));

        ASSERT_TRUE(KillServers());

        ExpectRecordedFailure(
            "a folder opened through the store",
            [&] { return OpenEntry(store, FolderId(uid, ids.alice.rootId, ids.sent), 0, &type, object.ReleaseAndGetAddressOf()); },
            static_cast<IMAPIProp*>(store), L"function=CMsgStore::OpenEntry");
        ExpectRecordedFailure(
            "a folder property the server keeps",
            [&] {
                HRESULT hr = S_OK;
                GetProps(inbox.Get(), {PR_DISPLAY_NAME_W}, hr);
                return hr;
            },
            static_cast<IMAPIProp*>(inbox.Get()), L"function=CFolder::GetProps");
        ExpectRecordedFailure(
            "the property list",
            [&] {
                LPSPropTagArray tags = nullptr;
                HRESULT hr = inbox->GetPropList(0, &tags);
                MAPIFreeBuffer(tags);
                return hr;
            },
            static_cast<IMAPIProp*>(inbox.Get()), L"function=CFolder::GetPropList");
        ExpectRecordedFailure(
            "a child folder",
            [&] { return OpenEntry(top.Get(), FolderId(uid, ids.alice.rootId, ids.sent), 0, &type, object.ReleaseAndGetAddressOf()); },
            static_cast<IMAPIProp*>(top.Get()), L"function=CFolder::OpenEntry");
        ExpectRecordedFailure(
            "a hierarchy not read yet",
            [&] {
                ComPtr<IMAPITable> table;
                return top->GetHierarchyTable(0, table.GetAddressOf());
            },
            static_cast<IMAPIProp*>(top.Get()), L"function=CFolder::GetHierarchyTable");
        ExpectRecordedFailure(
            "the subtree's hierarchy",
            [&] {
                ComPtr<IMAPITable> table;
                return ipm->GetHierarchyTable(0, table.GetAddressOf());
            },
            static_cast<IMAPIProp*>(ipm.Get()), L"function=CIpmSubtreeFolder::GetHierarchyTable");
        ExpectRecordedFailure(
            "a contents table filled after the loss",
            [&] {
                SizedSPropTagArray(1, columns) = {1, {PR_SUBJECT_W}};
                return contents->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0);
            },
            contents.Get(), L"function=CContentsTable::SetColumns");
        ExpectRecordedFailure(
            "a new contents table",
            [&] {
                ComPtr<IMAPITable> table;
                return top->GetContentsTable(0, table.GetAddressOf());
            },
            static_cast<IMAPIProp*>(top.Get()), L"function=CFolder::GetContentsTable");

        // What the store answers from its own values still comes.
        HRESULT hr = S_OK;
        GetProps(store, {PR_DISPLAY_NAME_W}, hr);
        EXPECT_EQ(S_OK, hr);
        const DWORD start = GetTickCount();
        contents.Reset();
        ipm.Reset();
        inbox.Reset();
        top.Reset();
        object.Reset();
        session.Close();
        EXPECT_LT(GetTickCount() - start, kPromptMilliseconds) << "letting the store go";
    }

    // A new logon, with the store gone, starts a fresh server.
    CStoreSession again(settings, L"ServerLoss");
    ASSERT_EQ(S_OK, again.Status());
    ULONG type = 0;
    ComPtr<IUnknown> object;
    ASSERT_EQ(S_OK, OpenEntry(again.Store(), FolderId(again.Uid(), ids.alice.rootId, ids.inbox), 0, &type,
                              object.GetAddressOf()));
    ComPtr<IMAPIFolder> inbox = AsFolder(object.Get());
    ComPtr<IMAPITable> table;
    ASSERT_EQ(S_OK, inbox->GetContentsTable(0, table.GetAddressOf()));
    ClientRows rows = AllRows(table.Get(), {PR_SUBJECT_W});
    ASSERT_NE(nullptr, rows);
    EXPECT_EQ(5u, rows->cRows);
    EXPECT_FALSE(ServerProcesses().empty());
}

// A message and its attachments opened before the loss: their slots hold
// server objects that are gone, so every call that reads through them fails
// with a recorded error instead of hanging on the dead process.
TEST(ServerLoss, MessageAndAttachmentCallsFailPromptly)
{
    CMapiClient client;
    ASSERT_EQ(S_OK, client.Status());
    const SStoreSettings settings = FixtureStoreSettings();
    const SMailboxFixture& ids = CFixtureFiles::Instance().MailboxIds();
    CStoreSession session(settings, L"ServerLossMessages");
    ASSERT_EQ(S_OK, session.Status());
    IMsgStore* store = session.Store();
    const MAPIUID uid = session.Uid();
    ULONG type = 0;
    ComPtr<IUnknown> object;
    ASSERT_EQ(S_OK, OpenEntry(store, MessageId(uid, ids.alice.rootId, ids.samples, ids.sampleMessages.attachments), 0,
                              &type, object.GetAddressOf()));
    ComPtr<IMessage> message = As<IMessage>(object.Get(), IID_IMessage);
    ASSERT_NE(nullptr, message);
    ComPtr<IAttach> file;
    ASSERT_EQ(S_OK, message->OpenAttach(0, nullptr, 0, file.GetAddressOf()));
    ComPtr<IAttach> embedding;
    ASSERT_EQ(S_OK, message->OpenAttach(2, nullptr, 0, embedding.GetAddressOf()));

    ASSERT_TRUE(KillServers());

    IMAPIProp* messageProp = message.Get();
    IMAPIProp* fileProp = file.Get();
    IMAPIProp* embeddingProp = embedding.Get();
    struct Case {
        const char* what;
        std::function<HRESULT()> call;
        IMAPIProp* object;
        const wchar_t* method;
    };
    auto props = [](IMAPIProp* on, ULONG tag) {
        return [on, tag] {
            HRESULT hr = S_OK;
            GetProps(on, {tag}, hr);
            return hr;
        };
    };
    auto propList = [](IMAPIProp* on) {
        return [on] {
            LPSPropTagArray tags = nullptr;
            HRESULT hr = on->GetPropList(0, &tags);
            MAPIFreeBuffer(tags);
            return hr;
        };
    };
    auto open = [](IMAPIProp* on, ULONG tag, const IID* iid) {
        return [on, tag, iid] {
            ComPtr<IUnknown> opened;
            return on->OpenProperty(tag, iid, 0, 0, opened.GetAddressOf());
        };
    };
    const Case cases[] = {
        {"a message property", props(messageProp, PR_SUBJECT_W), messageProp, L"function=CMessage::GetProps"},
        {"the message's property list", propList(messageProp), messageProp, L"function=CMessage::GetPropList"},
        {"the message's body", open(messageProp, PR_BODY_W, &IID_IStream), messageProp,
         L"function=CMessage::OpenProperty"},
        {"the attachment table",
         [&] {
             ComPtr<IMAPITable> table;
             return message->GetAttachmentTable(0, table.GetAddressOf());
         },
         messageProp, L"function=CMessage::GetAttachmentTable"},
        {"the recipient table",
         [&] {
             ComPtr<IMAPITable> table;
             return message->GetRecipientTable(0, table.GetAddressOf());
         },
         messageProp, L"function=CMessage::GetRecipientTable"},
        {"an attachment not opened yet",
         [&] {
             ComPtr<IAttach> attach;
             return message->OpenAttach(1, nullptr, 0, attach.GetAddressOf());
         },
         messageProp, L"function=CMessage::OpenAttach"},
        {"an attachment property", props(fileProp, PR_ATTACH_LONG_FILENAME_W), fileProp,
         L"function=CAttach::GetProps"},
        {"the attachment's property list", propList(fileProp), fileProp, L"function=CAttach::GetPropList"},
        {"the attachment's data", open(fileProp, PR_ATTACH_DATA_BIN, &IID_IStream), fileProp,
         L"function=CAttach::OpenProperty"},
        {"an embedded message", open(embeddingProp, PR_ATTACH_DATA_OBJ, &IID_IMessage), embeddingProp,
         L"function=CAttach::OpenProperty"},
    };
    for (const Case& c : cases)
        ExpectRecordedFailure(c.what, c.call, c.object, c.method);

    const DWORD start = GetTickCount();
    embedding.Reset();
    file.Reset();
    message.Reset();
    object.Reset();
    session.Close();
    EXPECT_LT(GetTickCount() - start, kPromptMilliseconds) << "letting the message go";
}

} // namespace
