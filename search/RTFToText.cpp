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

} // namespace

RTFToText::RTFToText()
{
    m_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!m_event)
        Throw(L"cannot create event for richedit message loop procedure, error=%u", GetLastError());
}

RTFToText::~RTFToText()
{
    StopThread();
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
        HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, L"RichEdit20W", L"rtf to plain text",
                                      WS_OVERLAPPEDWINDOW | ES_MULTILINE, CW_USEDEFAULT, CW_USEDEFAULT,
                                      CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
        if (!window)
            Throw(L"cannot get create rich edit control window, error=%u", GetLastError());
        PrepareForConversions(window);
        m_window = window;
        SetEvent(m_event);

        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
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
    m_thread = CreateThread(nullptr, 0, &RTFToText::RichEditThreadProc, this, 0, nullptr);
    if (!m_thread)
        Throw(L"cannot create thread for richedit message loop procedure, error=%u", GetLastError());
    if (WaitForSingleObject(m_event, INFINITE) != WAIT_OBJECT_0)
        Throw(L"cannot initialize thread for richedit message loop procedure");
    if (!m_error.empty())
        Throw(L"thread initialization for richedit message loop procedure is failed with error=%s", m_error.c_str());
}

void RTFToText::Convert(IStream* input, IStream* output)
{
    if (!m_window)
        StartThread();

    InputCookie in;
    HRESULT hr = CoMarshalInterThreadInterfaceInStream(IID_IStream, input, &in.marshalled);
    if (FAILED(hr))
        Throw(L"cannot marshal input compressed rtf stream interface, hr=%x", hr);
    EDITSTREAM streamIn{};
    streamIn.dwCookie = reinterpret_cast<DWORD_PTR>(&in);
    streamIn.dwError = 0;
    streamIn.pfnCallback = &RTFToText::RtfStreamInCallback;
    // The control first empties itself of the previous body. Wine's does that
    // run by run, each step walking the paragraphs from the start, so a body
    // of thousands of short paragraphs costs its successor more than its own
    // reading; only a new window would avoid it, and the window is kept.
    SendMessageW(m_window, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&streamIn));
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
