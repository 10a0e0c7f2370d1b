#pragma once
// A message session (OpenIMsgSession): groups the messages opened on storage
// with it, so that CloseIMsgSession can detach them all at once. The handle
// MAPI hands out (LPMSGSESS) is a pointer to this object.
#include "MapiStandin.h"

#include <set>

class CMsgOnStorage;

class CMsgSession {
public:
    explicit CMsgSession(IMalloc* malloc);
    ~CMsgSession();
    CMsgSession(const CMsgSession&) = delete;
    CMsgSession& operator=(const CMsgSession&) = delete;

    static CMsgSession* FromHandle(LPMSGSESS handle);
    LPMSGSESS Handle() { return reinterpret_cast<LPMSGSESS>(this); }

    void Add(CMsgOnStorage* message);
    void Remove(CMsgOnStorage* message);

private:
    static constexpr ULONG kMarker = 0x5353534D;
    ULONG m_marker = kMarker;
    IMalloc* m_malloc;
    CRITICAL_SECTION m_lock;
    std::set<CMsgOnStorage*> m_messages;
};
