// The base of every MAPI object of the provider: the COM identity
// (CUnknownImpl), the object's last error (what GetLastError returns), and
// the one boundary every MAPI method body runs inside.
//
// A method is written as
//     return Guard("CFolder::GetProps", [&] { ...body... });
// The body returns its HRESULT and raises on failure; the guard clears the
// last error first (GuardKeep leaves it for the body), and turns what the
// body raises into a result without letting anything cross the COM
// boundary: a server failure (_com_error) is recorded under the method's
// name and becomes MAPI_E_EXTENDED_ERROR (or the method's own code), the
// library's CException is recorded with its text, an allocation failure is
// MAPI_E_NOT_ENOUGH_MEMORY, and anything else is recorded as an unexpected
// failure. Mappings particular to one method (a server's file-not-found
// meaning "no such table", say) stay in that method's body.
#pragma once
#include "ProviderPlatform.h"
#include "CException.h"
#include "CLastError.h"
#include "CopyFaultGuard.h"
#include "CUnknownImpl.h"
#include "ProviderLog.h"

#include <new>
#include <string>

template <typename Derived, typename... Interfaces>
class CMapiObject : public common::CUnknownImpl<Derived, Interfaces...> {
public:
    // The GetLastError slot of every interface that has one (IMAPIProp,
    // IMAPITable, IMSLogon); the HRESULT argument is not looked at.
    STDMETHODIMP GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError)
    {
        (void)hResult;
        try {
            return m_lastError.GetMapiError(ulFlags, lppMAPIError);
        } catch (...) {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
    }

    CLastError& LastError() { return m_lastError; }

protected:
    CMapiObject() = default;
    ~CMapiObject() override = default;

    template <typename Body>
    HRESULT Guard(const char* method, Body&& body, HRESULT serverFailure = MAPI_E_EXTENDED_ERROR) noexcept
    {
        m_lastError.SetText(nullptr);
        return GuardKeep(method, static_cast<Body&&>(body), serverFailure);
    }

    template <typename Body>
    HRESULT GuardKeep(const char* method, Body&& body, HRESULT serverFailure = MAPI_E_EXTENDED_ERROR) noexcept
    {
        // The body's frames own locks and references: a fault beneath them
        // must not be resumed past them (CopyFaultGuard.h).
        CGuardedCallBarrier barrier;
        try {
            return body();
        } catch (const _com_error& error) {
            Record([&] { m_lastError.SetFromComError(method, error); });
            return serverFailure;
        } catch (const CException& error) {
            Record([&] { m_lastError.SetText(error.GetText()); });
            return MAPI_E_EXTENDED_ERROR;
        } catch (const std::bad_alloc&) {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        } catch (...) {
            Record([&] {
                std::wstring text = L"Unexpected failure in ";
                for (const char* c = method; c && *c; ++c)
                    text += static_cast<wchar_t>(static_cast<unsigned char>(*c));
                m_lastError.SetText(text.c_str());
            });
            return MAPI_E_CALL_FAILED;
        }
    }

    // A copy handed to MAPI's support object: the body runs as under
    // GuardKeep; a failure is then written to the log in the copy frame
    // under the method's name, and a success clears the last error.
    template <typename Body>
    HRESULT GuardCopy(const char* method, Body&& body) noexcept
    {
        const HRESULT hr = GuardKeep(method, static_cast<Body&&>(body));
        if (FAILED(hr)) {
            Record([&] {
                const std::wstring name(method, method + std::char_traits<char>::length(method));
                LogFormat(m_lastError.LogPath(), L"Method %s failed.  HRESULT 0x%08x.", name.c_str(),
                          static_cast<unsigned>(hr));
            });
        } else {
            m_lastError.SetText(nullptr);
        }
        return hr;
    }

    CLastError m_lastError;

private:
    // Recording needs memory too; when even that fails the result stands
    // without its text.
    template <typename Fn>
    static void Record(Fn&& fn) noexcept
    {
        try {
            fn();
        } catch (...) {
        }
    }
};
