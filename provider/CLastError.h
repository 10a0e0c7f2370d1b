// The last error of one MAPI object, returned by its GetLastError slot, and
// the path of the log file every recorded error is appended to. A plain
// member of its object: not locked, cleared on entry to every MAPI method so
// that a successful call leaves no stale text.
#pragma once
#include "ProviderPlatform.h"

#include <memory>
#include <string>

class CLastError {
public:
    CLastError();
    ~CLastError();
    CLastError(const CLastError&) = delete;
    CLastError& operator=(const CLastError&) = delete;

    // Replaces the text with a copy (null clears it); a non-null text is
    // also written to the log.
    void SetText(const wchar_t* text);

    // Records a COM error caught in functionName (the operation's own name)
    // in the detailed form framed by string 364, and logs it.
    void SetFromComError(const char* functionName, const _com_error& error);

    // The body of a GetLastError slot: a MAPIERROR in one MAPI allocation
    // with the text and the component name (string 386). Unicode only.
    HRESULT GetMapiError(ULONG ulFlags, LPMAPIERROR* lppMAPIError) const;

    // The text, or null when there is none.
    const wchar_t* Text() const { return m_text.get(); }

    // Empty until the first line is written through this holder.
    std::wstring& LogPath() { return m_logPath; }

private:
    std::wstring m_logPath;
    std::unique_ptr<wchar_t[]> m_text;
};
