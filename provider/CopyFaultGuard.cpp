#include "ProviderPlatform.h"
#include "CopyFaultGuard.h"

#include <setjmp.h>

namespace {

constexpr DWORD kIntegerDivideByZero = 0xC0000094;

// The guard point of the innermost guarded call of this thread, if any.
thread_local jmp_buf* t_guardPoint = nullptr;

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
    if (RunAtGuardPoint(call, context))
        return true;
    CloseOutlookDialog();
    return false;
}
