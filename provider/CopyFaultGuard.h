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
// of the abandoned frames are not destroyed, so the guard is kept around one
// call into MAPI and nothing of the provider's lies in between.
#pragma once
#include "ProviderPlatform.h"

// Runs call(context), which must not raise a C++ exception. Returns false when the call was abandoned at an
// integer division by zero; the top-level dialog of class "#32770" titled
// "Microsoft Office Outlook" is then ended with result 2 when there is one.
bool RunGuardedAgainstDivideByZero(void (*call)(void* context), void* context);

template <typename Fn>
bool RunGuardedAgainstDivideByZero(Fn& fn)
{
    return RunGuardedAgainstDivideByZero([](void* context) noexcept { (*static_cast<Fn*>(context))(); }, &fn);
}
