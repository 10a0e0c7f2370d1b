// The guard that stands in for a structured-exception frame around a
// folder copy: an integer division by zero inside the guarded call ends the
// call at the guard; anything else passes through untouched.
#include "ProviderPlatform.h"
#include "CopyFaultGuard.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

// The quotient is stored where the compiler must keep it, so that the
// division is made.
volatile int g_quotient = 0;

int Divide(int value, int by)
{
    volatile int divisor = by;
    g_quotient = value / divisor;
    return g_quotient;
}

TEST(CopyFaultGuard, ADivisionByZeroEndsTheCallAtTheGuard)
{
    // What the call did before the fault is seen after it only through memory
    // the compiler cannot keep in a register.
    volatile int reached = 0;
    auto faulting = [&] {
        reached = 1;
        reached += Divide(10, 0);
        reached = 3;
    };
    EXPECT_FALSE(RunGuardedAgainstDivideByZero(faulting));
    EXPECT_EQ(1, reached) << "nothing after the fault ran";

    // The guard is fit for use again, and a call without a fault returns.
    int result = 0;
    auto fine = [&] { result = Divide(10, 2); };
    EXPECT_TRUE(RunGuardedAgainstDivideByZero(fine));
    EXPECT_EQ(5, result);
    EXPECT_FALSE(RunGuardedAgainstDivideByZero(faulting));
}

// A provider frame entered during a guarded call owns things the jump
// would not destroy. A fault beneath its own guarded call out ends that call
// alone; the frame returns through its destructors, and the outer guard
// still learns of the fault when its call returns.
TEST(CopyFaultGuard, AFaultBeneathAProviderFrameEndsOnlyTheCallOutOfIt)
{
    struct COwner {
        explicit COwner(int& live) : m_live(live) { ++m_live; }
        ~COwner() { --m_live; }
        int& m_live;
    };
    int live = 0;
    HRESULT calledOut = S_OK;
    volatile bool returned = false;
    auto copy = [&] {
        CGuardedCallBarrier barrier;
        COwner owner(live);
        calledOut = CallOutGuarded([] { return static_cast<HRESULT>(Divide(10, 0)); });
        returned = true;
    };
    EXPECT_FALSE(RunGuardedAgainstDivideByZero(copy));
    EXPECT_EQ(MAPI_E_USER_CANCEL, calledOut);
    EXPECT_TRUE(returned) << "the provider frame went on after its call out";
    EXPECT_EQ(0, live) << "the provider frame's owner was destroyed";

    // Outside a guarded call the call out is a plain call, and the next
    // guard starts without the fault of the last.
    EXPECT_EQ(S_FALSE, CallOutGuarded([] { return S_FALSE; }));
    auto fine = [&] {
        CGuardedCallBarrier barrier;
        calledOut = CallOutGuarded([] { return static_cast<HRESULT>(Divide(10, 5)); });
    };
    EXPECT_TRUE(RunGuardedAgainstDivideByZero(fine));
    EXPECT_EQ(2, calledOut);
}

// Guards on several threads at once each catch their own fault.
TEST(CopyFaultGuard, EachThreadHasItsOwnGuard)
{
    bool caught[4] = {};
    std::thread threads[4];
    for (int i = 0; i < 4; ++i)
        threads[i] = std::thread([&caught, i] {
            auto faulting = [i] { Divide(i, 0); };
            caught[i] = !RunGuardedAgainstDivideByZero(faulting);
        });
    for (std::thread& thread : threads)
        thread.join();
    for (bool c : caught)
        EXPECT_TRUE(c);
}

// Other exceptions are not the guard's: a C++ exception raised and caught
// inside the call behaves as without the guard.
TEST(CopyFaultGuard, OtherExceptionsPassThrough)
{
    bool handled = false;
    auto throwing = [&] {
        try {
            throw 42;
        } catch (int) {
            handled = true;
        }
    };
    EXPECT_TRUE(RunGuardedAgainstDivideByZero(throwing));
    EXPECT_TRUE(handled);
}

} // namespace
