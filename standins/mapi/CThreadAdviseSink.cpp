#include "MapiStandin.h"
#include "CThreadAdviseSink.h"

namespace {

const wchar_t kWindowClass[] = L"VostrelMapiThreadSink";
constexpr UINT kNotifyMessage = WM_APP + 0x4D41;

HMODULE ThisModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

} // namespace

HRESULT CThreadAdviseSink::Create(IMAPIAdviseSink* sink, IMAPIAdviseSink** out)
{
    *out = nullptr;
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &CThreadAdviseSink::WindowProc;
    windowClass.hInstance = ThisModule();
    windowClass.lpszClassName = kWindowClass;
    if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return HRESULT_FROM_WIN32(GetLastError());
    HWND window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ThisModule(), nullptr);
    if (!window)
        return HRESULT_FROM_WIN32(GetLastError());
    auto* object = new (std::nothrow) CThreadAdviseSink(sink, window);
    if (!object) {
        DestroyWindow(window);
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(object));
    *out = object;
    return S_OK;
}

CThreadAdviseSink::CThreadAdviseSink(IMAPIAdviseSink* sink, HWND window)
    : m_sink(sink), m_window(window), m_thread(GetCurrentThreadId())
{
}

CThreadAdviseSink::~CThreadAdviseSink()
{
    SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
    // A window can only be destroyed by its own thread.
    if (GetCurrentThreadId() == m_thread)
        DestroyWindow(m_window);
    else
        PostMessageW(m_window, WM_CLOSE, 0, 0);
}

STDMETHODIMP_(ULONG) CThreadAdviseSink::OnNotify(ULONG cNotif, LPNOTIFICATION lpNotifications)
{
    if (GetCurrentThreadId() == m_thread)
        return m_sink->OnNotify(cNotif, lpNotifications);
    ULONG size = 0;
    if (FAILED(ScCountNotifications(static_cast<int>(cNotif), lpNotifications, &size)))
        return 0;
    void* copy = nullptr;
    if (FAILED(MAPIAllocateBuffer(size, &copy)))
        return 0;
    if (FAILED(ScCopyNotifications(static_cast<int>(cNotif), lpNotifications, copy, nullptr))) {
        MAPIFreeBuffer(copy);
        return 0;
    }
    AddRef();
    if (!PostMessageW(m_window, kNotifyMessage, cNotif, reinterpret_cast<LPARAM>(copy))) {
        MAPIFreeBuffer(copy);
        Release();
    }
    return 0;
}

LRESULT CALLBACK CThreadAdviseSink::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != kNotifyMessage)
        return DefWindowProcW(window, message, wParam, lParam);
    auto* self = reinterpret_cast<CThreadAdviseSink*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    auto* notifications = reinterpret_cast<LPNOTIFICATION>(lParam);
    // The posted reference keeps self alive until here.
    if (self) {
        self->m_sink->OnNotify(static_cast<ULONG>(wParam), notifications);
        MAPIFreeBuffer(notifications);
        self->Release();
    } else {
        MAPIFreeBuffer(notifications);
    }
    return 0;
}

STDAPI HrThisThreadAdviseSink(LPMAPIADVISESINK lpAdviseSink, LPMAPIADVISESINK* lppAdviseSink)
{
    if (!lppAdviseSink)
        return MAPI_E_INVALID_PARAMETER;
    *lppAdviseSink = nullptr;
    if (!lpAdviseSink)
        return MAPI_E_INVALID_PARAMETER;
    return mapistub::Guarded([&]() { return CThreadAdviseSink::Create(lpAdviseSink, lppAdviseSink); });
}
