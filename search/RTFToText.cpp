#include "SearchPlatform.h"
#include "RTFToText.h"

#include "CException.h"
#include "ProviderLog.h"
#include "WineHost.h"

#include <string>

namespace {

// RichEdit 2.0's default text limit (32767 characters) also cuts RTF that is
// streamed in, so long bodies would be searched only in part.
constexpr LPARAM kTextLimit = 0x7FFFFFFE;

// How long the destructor waits for the RichEdit thread to take its stop.
constexpr DWORD kStopWaitMs = 10000;

// Wine's RichEdit empties a control run by run, each step walking the
// paragraphs from the start, so emptying it costs about the product of the
// two: after a body of 256 KiB in short lines it costs more than converting
// that body did. When paragraphs times runs of the previous body pass this
// bound (some milliseconds of emptying), the next conversion gets a fresh
// control instead. Destroying the old one is linear but not free (some
// milliseconds for a few hundred KiB), so a body cheap to empty keeps its
// control.
constexpr ULONGLONG kFreshControlAfterCost = 1000000;

// Posted to the RichEdit thread (no window): put a fresh control in place
// of the current one.
constexpr UINT kRenewWindowMessage = WM_APP + 1;

[[noreturn]] void Throw(const wchar_t* format, ...)
{
    CException error;
    va_list args;
    va_start(args, format);
    std::wstring text;
    FormatWideV(text, format, args);
    va_end(args);
    error.Format(L"%s", text.c_str());
    throw error;
}

const wchar_t* TextOf(const CException& error)
{
    return error.GetText() ? error.GetText() : L"";
}

// One conversion's input: the stream marshalled on the caller's thread, and
// on the RichEdit thread the stream unmarshalled from it and the
// decompressing stream over that.
struct InputCookie {
    std::wstring error;
    IStream* marshalled = nullptr;
    IStream* input = nullptr;
    IStream* uncompressed = nullptr;
    bool started = false;
    ULONGLONG total = 0; // bytes handed to the control
    ULONG paragraphs = 0; // \par control words among them
    ULONG groups = 0;     // and groups, each of which starts and ends a run at most
    char tail[4] = {};   // the last bytes handed over, for a word split between reads

    ~InputCookie()
    {
        if (uncompressed)
            uncompressed->Release();
        if (input)
            input->Release();
        if (marshalled) {
            // Never unmarshalled: the marshal data holds a reference of its own.
            LARGE_INTEGER zero{};
            marshalled->Seek(zero, STREAM_SEEK_SET, nullptr);
            CoReleaseMarshalData(marshalled);
            marshalled->Release();
        }
    }
    void EndOfInput()
    {
        if (uncompressed)
            uncompressed->Release();
        if (input)
            input->Release();
        uncompressed = nullptr;
        input = nullptr;
    }
};

// Counts the \par control words (not \pard) and the groups in the next
// piece of RTF; the last four bytes before it are in tail.
void CountParagraphs(InputCookie& in, const BYTE* bytes, ULONG cb)
{
    for (ULONG i = 0; i < cb; ++i)
        in.groups += bytes[i] == '{';
    auto at = [&](ULONG i) -> char {
        return i < 4 ? in.tail[i] : static_cast<char>(bytes[i - 4]);
    };
    const ULONG end = cb + 4;
    // Position i starts a candidate "\par" whose next byte is at i + 4.
    for (ULONG i = 0; i + 4 < end; ++i) {
        if (at(i) != '\\' || at(i + 1) != 'p' || at(i + 2) != 'a' || at(i + 3) != 'r')
            continue;
        const char next = at(i + 4);
        if (!((next >= 'a' && next <= 'z') || (next >= 'A' && next <= 'Z')))
            ++in.paragraphs;
    }
    for (ULONG k = 0; k < 4; ++k)
        in.tail[k] = at(end - 4 + k);
}

struct OutputCookie {
    std::wstring error;
    IStream* output = nullptr;
};

// The streaming message's failure: the callback's own text when it left one.
void ThrowStreamFailure(const wchar_t* what, DWORD_PTR streamError, const std::wstring& cookieError)
{
    if (cookieError.empty())
        Throw(L"%s is failed with error=%u", what, static_cast<unsigned>(streamError));
    Throw(L"%s is failed with error=%s", what, cookieError.c_str());
}

// Settings of the never-shown control that spare it work whose result nobody
// sees; none of them changes the text it streams out.
void PrepareForConversions(HWND window)
{
    SendMessageW(window, EM_EXLIMITTEXT, 0, kTextLimit);
    // No word wrap: the control then lays out every paragraph as one line
    // instead of breaking it into rows to the width of a window nobody sees.
    // Streamed-out text never carries those soft breaks anyway.
    SendMessageW(window, EM_SETTARGETDEVICE, 0, 1);
    // Wine's RichEdit runs every paragraph through complex-script shaping
    // when it lays it out, which takes about three times as long as reading
    // the RTF, unless the control masks its text with a password character.
    // The control is never shown, and Wine streams the real text out all the
    // same. On Windows the control keeps its own behaviour.
    if (common::IsRunningOnWine())
        SendMessageW(window, EM_SETPASSWORDCHAR, L'*', 0);
}

// A never-shown control ready for conversions; null when it cannot be made.
HWND CreateControl(HINSTANCE instance)
{
    HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, L"RichEdit20W", L"rtf to plain text",
                                  WS_OVERLAPPEDWINDOW | ES_MULTILINE, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (window)
        PrepareForConversions(window);
    return window;
}

} // namespace

RTFToText::RTFToText()
{
    m_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!m_event)
        Throw(L"cannot create event for richedit message loop procedure, error=%u", GetLastError());
    m_renewed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!m_renewed) {
        const DWORD error = GetLastError();
        CloseHandle(m_event);
        Throw(L"cannot create event for richedit message loop procedure, error=%u", error);
    }
}

RTFToText::~RTFToText()
{
    StopThread();
    CloseHandle(m_renewed);
    CloseHandle(m_event);
}

void RTFToText::StopThread()
{
    ResetEvent(m_event);
    if (!m_thread)
        return;
    // The loop looks at the event after each message it takes; a null
    // message wakes it so that it destroys the window on its own thread.
    if (m_window)
        PostMessageW(m_window, WM_NULL, 0, 0);
    WaitForSingleObject(m_thread, kStopWaitMs);
    CloseHandle(m_thread);
    m_thread = nullptr;
    m_threadId = 0;
    m_window = nullptr;
}

DWORD WINAPI RTFToText::RichEditThreadProc(LPVOID parameter)
{
    static_cast<RTFToText*>(parameter)->RunRichEditThread();
    return 0;
}

void RTFToText::RunRichEditThread()
{
    bool comInitialised = false;
    HMODULE richEdit = nullptr;
    try {
        HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (FAILED(hr))
            Throw(L"cannot initialize com, hr=%x", hr);
        comInitialised = true;
        richEdit = LoadLibraryW(L"Riched20.dll");
        if (!richEdit)
            Throw(L"cannot load module=%s, error=%u", L"Riched20.dll", GetLastError());
        HINSTANCE instance = GetModuleHandleW(nullptr);
        if (!instance)
            Throw(L"cannot get current module handle, error=%u", GetLastError());
        HWND window = CreateControl(instance);
        if (!window)
            Throw(L"cannot get create rich edit control window, error=%u", GetLastError());
        m_window = window;
        SetEvent(m_event);

        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (!msg.hwnd && msg.message == kRenewWindowMessage) {
                // Destroying a control frees its paragraphs one by one, in
                // time linear in them. When no fresh control can be made the
                // old one stays: slower to empty, but it converts the same.
                if (HWND fresh = CreateControl(instance)) {
                    DestroyWindow(window);
                    window = fresh;
                    m_window = fresh;
                }
                SetEvent(m_renewed);
            } else {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            if (WaitForSingleObject(m_event, 0) != WAIT_OBJECT_0) {
                DestroyWindow(window);
                break;
            }
        }
    } catch (const CException& error) {
        m_error = TextOf(error);
        SetEvent(m_event);
    } catch (...) {
        m_error = L"unexpected failure of the richedit message loop procedure";
        SetEvent(m_event);
    }
    if (richEdit)
        FreeLibrary(richEdit);
    if (comInitialised)
        CoUninitialize();
}

void RTFToText::StartThread()
{
    // A thread that failed to start left its text and the event behind; the
    // new one must be waited for afresh.
    if (m_thread) {
        WaitForSingleObject(m_thread, kStopWaitMs);
        CloseHandle(m_thread);
        m_thread = nullptr;
    }
    m_error.clear();
    ResetEvent(m_event);
    m_emptyingCost = 0;
    m_thread = CreateThread(nullptr, 0, &RTFToText::RichEditThreadProc, this, 0, &m_threadId);
    if (!m_thread)
        Throw(L"cannot create thread for richedit message loop procedure, error=%u", GetLastError());
    if (WaitForSingleObject(m_event, INFINITE) != WAIT_OBJECT_0)
        Throw(L"cannot initialize thread for richedit message loop procedure");
    if (!m_error.empty())
        Throw(L"thread initialization for richedit message loop procedure is failed with error=%s", m_error.c_str());
}

void RTFToText::RenewWindow()
{
    if (!PostThreadMessageW(m_threadId, kRenewWindowMessage, 0, 0))
        return;
    // The thread swaps the window between two messages; until it says so,
    // the old window may be gone at any moment. A thread that ended meanwhile
    // leaves its window behind as destroyed.
    HANDLE handles[] = {m_renewed, m_thread};
    if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0)
        m_window = nullptr;
}

void RTFToText::Convert(IStream* input, IStream* output)
{
    if (m_window && m_emptyingCost > kFreshControlAfterCost)
        RenewWindow();
    if (!m_window)
        StartThread();
    m_emptyingCost = 0;

    InputCookie in;
    HRESULT hr = CoMarshalInterThreadInterfaceInStream(IID_IStream, input, &in.marshalled);
    if (FAILED(hr))
        Throw(L"cannot marshal input compressed rtf stream interface, hr=%x", hr);
    EDITSTREAM streamIn{};
    streamIn.dwCookie = reinterpret_cast<DWORD_PTR>(&in);
    streamIn.dwError = 0;
    streamIn.pfnCallback = &RTFToText::RtfStreamInCallback;
    // The control first empties itself of the previous body; after a large
    // one it is a fresh control instead (see kFreshControlAfterCost).
    SendMessageW(m_window, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&streamIn));
    // Runs: one per paragraph at least, two more for a group at most.
    m_emptyingCost = ULONGLONG(in.paragraphs) * (ULONGLONG(in.paragraphs) + 2 * ULONGLONG(in.groups));
    // An empty body has no text. RichEdit refuses input without an RTF
    // header, and its content would still be the previous conversion's.
    if (in.total == 0 && in.error.empty())
        return;
    if (streamIn.dwError != 0)
        ThrowStreamFailure(L"writting rtf stream to rich edit control", streamIn.dwError, in.error);

    OutputCookie out;
    if (!output)
        Throw(L"incorrect output data stream");
    out.output = output;
    EDITSTREAM streamOut{};
    streamOut.dwCookie = reinterpret_cast<DWORD_PTR>(&out);
    streamOut.dwError = 0;
    streamOut.pfnCallback = &RTFToText::TextStreamOutCallback;
    SendMessageW(m_window, EM_STREAMOUT, SF_TEXT | SF_UNICODE, reinterpret_cast<LPARAM>(&streamOut));
    if (streamOut.dwError != 0)
        ThrowStreamFailure(L"writting plain text to output stream", streamOut.dwError, out.error);
}

DWORD CALLBACK RTFToText::RtfStreamInCallback(DWORD_PTR cookie, LPBYTE buffer, LONG cb, LONG* pcb)
{
    if (pcb)
        *pcb = 0;
    auto* in = reinterpret_cast<InputCookie*>(cookie);
    if (!in)
        return 1;
    try {
        if (!in->started) {
            in->started = true;
            IStream* marshalled = in->marshalled;
            in->marshalled = nullptr; // released by the unmarshalling, whatever its result
            HRESULT hr = CoGetInterfaceAndReleaseStream(marshalled, IID_IStream, reinterpret_cast<void**>(&in->input));
            if (FAILED(hr))
                Throw(L"cannot unmarshal input compressed rtf stream interface, hr=%x", hr);
            hr = WrapCompressedRTFStream(in->input, 0, &in->uncompressed);
            if (FAILED(hr))
                Throw(L"cannot get input uncompressed rtf stream, hr=%x", hr);
        }
        // The input ended with an earlier short read.
        if (!in->uncompressed)
            return 0;
        ULONG read = 0;
        HRESULT hr = in->uncompressed->Read(buffer, static_cast<ULONG>(cb), &read);
        if (FAILED(hr)) {
            in->EndOfInput();
            Throw(L"read from uncompressed rtf stream is failed, hr=%x", hr);
        }
        if (read > static_cast<ULONG>(cb))
            read = static_cast<ULONG>(cb);
        if (read < static_cast<ULONG>(cb))
            in->EndOfInput();
        in->total += read;
        CountParagraphs(*in, buffer, read);
        if (pcb)
            *pcb = static_cast<LONG>(read);
        return 0;
    } catch (const CException& error) {
        in->error = TextOf(error);
    } catch (...) {
        in->error = L"unexpected failure reading the rtf stream";
    }
    return 1;
}

DWORD CALLBACK RTFToText::TextStreamOutCallback(DWORD_PTR cookie, LPBYTE buffer, LONG cb, LONG* pcb)
{
    if (pcb)
        *pcb = 0;
    auto* out = reinterpret_cast<OutputCookie*>(cookie);
    if (!out)
        return 1;
    try {
        ULONG written = 0;
        HRESULT hr = out->output->Write(buffer, static_cast<ULONG>(cb), &written);
        if (FAILED(hr))
            Throw(L"write to output plain text stream is failed, hr=%x", hr);
        if (pcb)
            *pcb = static_cast<LONG>(written);
        return 0;
    } catch (const CException& error) {
        out->error = TextOf(error);
    } catch (...) {
        out->error = L"unexpected failure writing the plain text stream";
    }
    return 1;
}
