#include "Platform.h"
#include "CInterfaceTable.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

// Joins a thread while serving this apartment's calls (the thread's calls on
// an object of this apartment arrive as window messages).
void JoinPumping(std::thread& worker)
{
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread waiter([&] {
        worker.join();
        SetEvent(done);
    });
    while (MsgWaitForMultipleObjects(1, &done, FALSE, 10000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
    waiter.join();
    CloseHandle(done);
}

class CInterfaceTableTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override { CoUninitialize(); }
};

// The table answers every apartment with a usable pointer, holds the object
// while registered and lets go of it on revoke.
TEST_F(CInterfaceTableTest, RegisterFetchFromAnotherApartmentAndRevoke)
{
    ComPtr<IGlobalInterfaceTable> git;
    ASSERT_EQ(S_OK, common::CInterfaceTable::Create(&git));
    ComPtr<IStream> stream;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &stream));
    ULONG written = 0;
    ASSERT_EQ(S_OK, stream->Write("abc", 3, &written));

    DWORD cookie = 0;
    ASSERT_EQ(S_OK, git->RegisterInterfaceInGlobal(stream.Get(), IID_IStream, &cookie));
    EXPECT_NE(0u, cookie);

    ComPtr<IStream> same;
    ASSERT_EQ(S_OK, git->GetInterfaceFromGlobal(cookie, IID_IStream, reinterpret_cast<void**>(same.GetAddressOf())));
    EXPECT_EQ(stream.Get(), same.Get());
    same.Reset();

    HRESULT fromThread = E_FAIL;
    ULONGLONG sizeSeen = 0;
    std::thread worker([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        {
            ComPtr<IStream> other;
            fromThread = git->GetInterfaceFromGlobal(cookie, IID_IStream, reinterpret_cast<void**>(other.GetAddressOf()));
            STATSTG stat = {};
            if (SUCCEEDED(fromThread) && SUCCEEDED(other->Stat(&stat, STATFLAG_NONAME)))
                sizeSeen = stat.cbSize.QuadPart;
        }
        CoUninitialize();
    });
    JoinPumping(worker);
    EXPECT_EQ(S_OK, fromThread);
    EXPECT_EQ(3u, sizeSeen);

    ASSERT_EQ(S_OK, git->RevokeInterfaceFromGlobal(cookie));
    EXPECT_EQ(E_INVALIDARG, git->RevokeInterfaceFromGlobal(cookie));
    ComPtr<IStream> gone;
    EXPECT_EQ(E_INVALIDARG, git->GetInterfaceFromGlobal(cookie, IID_IStream, reinterpret_cast<void**>(gone.GetAddressOf())));
    git.Reset();
    // Only the test's reference is left.
    EXPECT_EQ(0u, stream.Detach()->Release());
}

TEST_F(CInterfaceTableTest, EveryReferenceIsTheOneTableOfTheProcess)
{
    ComPtr<IGlobalInterfaceTable> first, second;
    ASSERT_EQ(S_OK, common::CreateGlobalInterfaceTable(&first));
    ASSERT_EQ(S_OK, common::CreateGlobalInterfaceTable(&second));
    ComPtr<IStream> stream;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &stream));
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, first->RegisterInterfaceInGlobal(stream.Get(), IID_IStream, &cookie));
    ComPtr<IStream> found;
    EXPECT_EQ(S_OK, second->GetInterfaceFromGlobal(cookie, IID_IStream, reinterpret_cast<void**>(found.GetAddressOf())));
    EXPECT_EQ(stream.Get(), found.Get());
    EXPECT_EQ(S_OK, second->RevokeInterfaceFromGlobal(cookie));
}

TEST_F(CInterfaceTableTest, BadArguments)
{
    ComPtr<IGlobalInterfaceTable> git;
    ASSERT_EQ(S_OK, common::CreateGlobalInterfaceTable(&git));
    DWORD cookie = 7;
    EXPECT_EQ(E_INVALIDARG, git->RegisterInterfaceInGlobal(nullptr, IID_IUnknown, &cookie));
    EXPECT_EQ(0u, cookie);
    EXPECT_EQ(E_POINTER, common::CreateGlobalInterfaceTable(nullptr));
}

} // namespace
