// How the provider's objects reach the database server: never through a
// pointer kept between calls, always through a cookie of the module's
// interface table, fetched for one call and released at its end. A pointer
// fetched this way belongs to the calling thread's apartment, whichever
// thread registered it.
//
// Every function raises _com_error on failure (the table's own result), so
// that a method's boundary guard records it like any server failure.
#pragma once
#include "ProviderPlatform.h"

#include <utility>

// The module that hosts the provider installs its table's accessor; until
// then the process's table serves (tests that build objects directly).
using InterfaceTableSource = HRESULT (*)(IGlobalInterfaceTable** git);
void SetInterfaceTableSource(InterfaceTableSource source);

// The table with a new reference; raises on failure.
ComPtr<IGlobalInterfaceTable> ModuleInterfaceTable();

// Registers object as iid and returns its cookie.
DWORD RegisterServerInterface(IUnknown* object, REFIID iid);
// The interface of a cookie for this call.
void FetchServerInterface(DWORD cookie, REFIID iid, void** ppv);
// Revokes a cookie; failures are ignored (nothing is left to free).
void RevokeServerInterface(DWORD cookie) noexcept;

template <typename I>
ComPtr<I> FetchServer(DWORD cookie)
{
    ComPtr<I> object;
    FetchServerInterface(cookie, __uuidof(I), reinterpret_cast<void**>(object.GetAddressOf()));
    return object;
}

// Owns one cookie: revoked when the owner goes. Movable, never copied.
class CServerCookie {
public:
    CServerCookie() = default;
    explicit CServerCookie(DWORD cookie) : m_cookie(cookie) {}
    ~CServerCookie() { Reset(); }
    CServerCookie(CServerCookie&& other) noexcept : m_cookie(std::exchange(other.m_cookie, 0)) {}
    CServerCookie& operator=(CServerCookie&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_cookie = std::exchange(other.m_cookie, 0);
        }
        return *this;
    }
    CServerCookie(const CServerCookie&) = delete;
    CServerCookie& operator=(const CServerCookie&) = delete;

    // Registers object as iid (raises on failure).
    static CServerCookie Register(IUnknown* object, REFIID iid)
    {
        return CServerCookie(RegisterServerInterface(object, iid));
    }

    DWORD Get() const { return m_cookie; }
    explicit operator bool() const { return m_cookie != 0; }
    // Gives up ownership without revoking.
    DWORD Release() { return std::exchange(m_cookie, 0); }
    void Reset()
    {
        if (m_cookie)
            RevokeServerInterface(std::exchange(m_cookie, 0));
    }

private:
    DWORD m_cookie = 0;
};
