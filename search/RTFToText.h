// Turns a compressed RTF body (PR_RTF_COMPRESSED) into plain UTF-16 text
// through a hidden RichEdit 2.0 control. The control lives on a thread of its
// own with a message loop, started by the first conversion and kept for the
// converter's life; conversions are sent to it with SendMessageW, so one runs
// at a time per converter. After a large body the thread puts a fresh control
// in place of the used one, as emptying a control of many paragraphs costs
// more than making one. Every failure throws CException.
//
// The input stream crosses to the RichEdit thread (a multithreaded
// apartment) by marshalling; the output stream is written directly from
// that thread, so it must be usable from any thread (an HGLOBAL stream is).
#pragma once
#include "SearchPlatform.h"

#include <string>

class RTFToText {
public:
    // Creates the converter's event; throws when it cannot.
    RTFToText();
    // Stops the RichEdit thread, which destroys its window itself, and waits
    // for it to end.
    ~RTFToText();
    RTFToText(const RTFToText&) = delete;
    RTFToText& operator=(const RTFToText&) = delete;

    // Streams the decompressed RTF of input into the control and its text out
    // into output (UTF-16LE, no byte-order mark, no terminator).
    void Convert(IStream* input, IStream* output);

    // The RichEdit window, null while no thread runs; another one after a
    // large body.
    HWND Window() const { return m_window; }

private:
    static DWORD WINAPI RichEditThreadProc(LPVOID parameter);
    void RunRichEditThread();
    void StartThread();
    void StopThread();
    void RenewWindow();

    static DWORD CALLBACK RtfStreamInCallback(DWORD_PTR cookie, LPBYTE buffer, LONG cb, LONG* pcb);
    static DWORD CALLBACK TextStreamOutCallback(DWORD_PTR cookie, LPBYTE buffer, LONG cb, LONG* pcb);

    HWND volatile m_window = nullptr;
    HANDLE m_event = nullptr;  // manual reset: signalled while the thread should run
    HANDLE m_thread = nullptr;
    DWORD m_threadId = 0;
    HANDLE m_renewed = nullptr; // auto reset: the thread has put a fresh window in place
    ULONGLONG m_emptyingCost = 0; // paragraphs times runs of what the control holds
    std::wstring m_error;       // the failure of the thread's start, if any
};
