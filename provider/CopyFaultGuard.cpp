#include "ProviderPlatform.h"
#include "CopyFaultGuard.h"

#include <setjmp.h>

namespace {

constexpr DWORD kIntegerDivideByZero = 0xC0000094;

// The guard point of the innermost guarded call of this thread, if no
// provider frame has been entered since it was set.
thread_local jmp_buf* t_guardPoint = nullptr;
// How many guarded calls this thread is inside.
thread_local int t_guardDepth = 0;
// A nested guarded call was abandoned at a fault; the outermost reports it.
thread_local bool t_nestedFault = false;

LONG CALLBACK DivideByZeroHandler(PEXCEPTION_POINTERS info)
{
    if (!info || !info->ExceptionRecord || info->ExceptionRecord->ExceptionCode != kIntegerDivideByZero)
        return EXCEPTION_CONTINUE_SEARCH;
    jmp_buf* point = t_guardPoint;
    if (!point)
        return EXCEPTION_CONTINUE_SEARCH;
    t_guardPoint = nullptr;
    longjmp(*point, 1);
}

void InstallHandlerOnce()
{
    static const PVOID handler = AddVectoredExceptionHandler(1, &DivideByZeroHandler);
    (void)handler;
}

void CloseOutlookDialog()
{
    if (HWND dialog = FindWindowW(L"#32770", L"Microsoft Office Outlook"))
        EndDialog(dialog, 2);
}

// Kept out of line and free of C++ objects: nothing here needs destroying
// when the handler resumes at the guard point.
__attribute__((noinline)) bool RunAtGuardPoint(void (*call)(void*), void* context)
{
    jmp_buf point;
    jmp_buf* volatile outer = t_guardPoint;
    if (setjmp(point) != 0) {
        t_guardPoint = outer;
        return false;
    }
    t_guardPoint = &point;
    call(context);
    t_guardPoint = outer;
    return true;
}

} // namespace

bool RunGuardedAgainstDivideByZero(void (*call)(void* context), void* context)
{
    InstallHandlerOnce();
    const bool outermost = t_guardDepth == 0;
    if (outermost)
        t_nestedFault = false;
    ++t_guardDepth;
    const bool completed = RunAtGuardPoint(call, context);
    --t_guardDepth;
    if (!outermost) {
        if (!completed)
            t_nestedFault = true;
        return completed;
    }
    const bool faulted = !completed || t_nestedFault;
    t_nestedFault = false;
    if (faulted)
        CloseOutlookDialog();
    return !faulted;
}

bool InsideGuardedCall() noexcept
{
    return t_guardDepth > 0;
}

CGuardedCallBarrier::CGuardedCallBarrier() noexcept : m_outer(t_guardPoint)
{
    t_guardPoint = nullptr;
}

CGuardedCallBarrier::~CGuardedCallBarrier()
{
    t_guardPoint = static_cast<jmp_buf*>(m_outer);
}
