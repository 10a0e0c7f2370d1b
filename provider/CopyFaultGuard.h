// A guard around the support object's folder copy against an integer
// division by zero raised inside it. Outlook's own copy progress dialog is
// known to divide by zero while MAPI copies a folder; the copy has then done
// its work, and the provider closes the dialog and returns what it has
// rather than taking Outlook down.
//
// The toolchain has no __try/__except. The guard gives the same effect with
// the platform's means: a vectored exception handler, installed once per
// process, that acts only for the exception code 0xC0000094 on a thread
// that is inside a guarded call, and only then. It resumes that thread at
// the guard's point with the C runtime's longjmp, which unwinds the
// structured-exception frames in between (RtlUnwind) exactly as an __except
// frame would; any other exception, on any thread, goes on to the handlers
// that follow as if the guard did not exist. As with __except, C++ objects
// of the abandoned frames are not destroyed, so a jump may only pass over
// frames that are not the provider's.
//
// MAPI's copy calls back into the provider (to read the folder's tables,
// open and copy its messages), and those provider frames own references,
// locks and flags. So every provider method entered while a guard is
// active raises a barrier (CGuardedCallBarrier): beneath it the handler
// has no point to jump to, and a fault raised there is not the guard's. A
// provider method that itself calls into MAPI's copy machinery beneath a
// barrier does so through CallOutGuarded, which sets a point of its own
// right around that one call: a fault under it ends that call alone, the
// method returns normally through its own frames, and the outermost guard
// learns of the fault when the copy returns to it.
#pragma once
#include "ProviderPlatform.h"

// Runs call(context), which must not raise a C++ exception. Returns false
// when the call was abandoned at an integer division by zero, or when a
// guarded call nested inside it was. The outermost guard of the thread then
// ends the top-level dialog of class "#32770" titled "Microsoft Office
// Outlook" with result 2 when there is one.
bool RunGuardedAgainstDivideByZero(void (*call)(void* context), void* context);

template <typename Fn>
bool RunGuardedAgainstDivideByZero(Fn& fn)
{
    return RunGuardedAgainstDivideByZero([](void* context) noexcept { (*static_cast<Fn*>(context))(); }, &fn);
}

// Whether this thread is inside a guarded call, at whatever depth.
bool InsideGuardedCall() noexcept;

// Held by a provider frame for its whole run: no fault beneath it is
// resumed at a guard point set outside it.
class CGuardedCallBarrier {
public:
    CGuardedCallBarrier() noexcept;
    ~CGuardedCallBarrier();
    CGuardedCallBarrier(const CGuardedCallBarrier&) = delete;
    CGuardedCallBarrier& operator=(const CGuardedCallBarrier&) = delete;

private:
    void* m_outer;
};

// call() is one call out of the provider into MAPI's copy machinery, and
// must own nothing itself. Inside a guarded copy a division by zero beneath
// it ends the call with MAPI_E_USER_CANCEL, so that the copy that called
// the provider stops as it would at the fault; outside one it is a plain
// call.
template <typename Call>
HRESULT CallOutGuarded(Call&& call) noexcept
{
    if (!InsideGuardedCall())
        return call();
    HRESULT result = MAPI_E_USER_CANCEL;
    auto run = [&] { result = call(); };
    if (!RunGuardedAgainstDivideByZero(run))
        return MAPI_E_USER_CANCEL;
    return result;
}
