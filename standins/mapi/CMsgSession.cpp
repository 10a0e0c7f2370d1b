#include "MapiStandin.h"
#include "CMsgSession.h"
#include "CLockGuard.h"
#include "CMsgOnStorage.h"

CMsgSession::CMsgSession(IMalloc* malloc) : m_malloc(malloc)
{
    InitializeCriticalSection(&m_lock);
    if (m_malloc)
        m_malloc->AddRef();
}

CMsgSession::~CMsgSession()
{
    {
        CLockGuard guard(m_lock);
        for (CMsgOnStorage* message : m_messages)
            message->DetachSession();
        m_messages.clear();
    }
    if (m_malloc)
        m_malloc->Release();
    m_marker = 0;
    DeleteCriticalSection(&m_lock);
}

CMsgSession* CMsgSession::FromHandle(LPMSGSESS handle)
{
    auto* session = reinterpret_cast<CMsgSession*>(handle);
    if (!session || IsBadReadPtr(session, sizeof(CMsgSession)) || session->m_marker != kMarker)
        return nullptr;
    return session;
}

void CMsgSession::Add(CMsgOnStorage* message)
{
    CLockGuard guard(m_lock);
    m_messages.insert(message);
}

void CMsgSession::Remove(CMsgOnStorage* message)
{
    CLockGuard guard(m_lock);
    m_messages.erase(message);
}
