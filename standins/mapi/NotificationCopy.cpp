// ScCountNotifications / ScCopyNotifications: notifications copied into one
// contiguous block (the notification array first, then everything its
// members point to, each piece 8-byte aligned), so that they can be handed
// to another thread and freed at once.
#include "MapiStandin.h"
#include "PropValue.h"

#include <cstring>

namespace {

// Hands out consecutive pieces of the destination block, or only counts
// them when there is no block.
class CArena {
public:
    explicit CArena(BYTE* base) : m_base(base) {}
    void* Take(size_t cb)
    {
        void* piece = m_base ? m_base + m_used : nullptr;
        m_used += mapistub::RoundUp8(static_cast<ULONG>(cb));
        return piece;
    }
    size_t Used() const { return m_used; }
    bool Writing() const { return m_base != nullptr; }

private:
    BYTE* m_base;
    size_t m_used = 0;
};

template <typename T>
void CopyBytes(CArena& arena, T*& pointer, size_t cb)
{
    if (!pointer || cb == 0)
        return;
    void* piece = arena.Take(cb);
    if (!piece) // counting only
        return;
    std::memcpy(piece, pointer, cb);
    pointer = static_cast<T*>(piece);
}

void CopyText(CArena& arena, LPTSTR& text, bool unicode)
{
    if (!text)
        return;
    size_t cb = unicode ? (wcslen(reinterpret_cast<const wchar_t*>(text)) + 1) * sizeof(wchar_t)
                        : std::strlen(reinterpret_cast<const char*>(text)) + 1;
    CopyBytes(arena, text, cb);
}

SCODE CopyProps(CArena& arena, ULONG count, LPSPropValue& props)
{
    if (!props || count == 0)
        return S_OK;
    for (ULONG i = 0; i < count; ++i)
        if (!mapistub::IsKnownType(PROP_TYPE(props[i].ulPropTag)))
            return MAPI_E_INVALID_PARAMETER;
    auto* array = static_cast<LPSPropValue>(arena.Take(count * sizeof(SPropValue)));
    for (ULONG i = 0; i < count; ++i) {
        if (!array) {
            arena.Take(mapistub::ExtraSize(props[i]));
            continue;
        }
        SCODE sc = mapistub::CopyValue(array[i], props[i], [&](ULONG cb) { return arena.Take(cb); });
        if (FAILED(sc))
            return sc;
    }
    if (array)
        props = array;
    return S_OK;
}

SCODE CopyOne(CArena& arena, NOTIFICATION& n)
{
    switch (n.ulEventType) {
    case fnevCriticalError: {
        ERROR_NOTIFICATION& e = n.info.err;
        CopyBytes(arena, e.lpEntryID, e.cbEntryID);
        if (e.lpMAPIError) {
            CopyBytes(arena, e.lpMAPIError, sizeof(MAPIERROR));
            bool unicode = (e.ulFlags & MAPI_UNICODE) != 0;
            CopyText(arena, e.lpMAPIError->lpszError, unicode);
            CopyText(arena, e.lpMAPIError->lpszComponent, unicode);
        }
        return S_OK;
    }
    case fnevNewMail: {
        NEWMAIL_NOTIFICATION& m = n.info.newmail;
        CopyBytes(arena, m.lpEntryID, m.cbEntryID);
        CopyBytes(arena, m.lpParentID, m.cbParentID);
        CopyText(arena, m.lpszMessageClass, (m.ulFlags & MAPI_UNICODE) != 0);
        return S_OK;
    }
    case fnevObjectCreated:
    case fnevObjectDeleted:
    case fnevObjectModified:
    case fnevObjectMoved:
    case fnevObjectCopied:
    case fnevSearchComplete: {
        OBJECT_NOTIFICATION& o = n.info.obj;
        CopyBytes(arena, o.lpEntryID, o.cbEntryID);
        CopyBytes(arena, o.lpParentID, o.cbParentID);
        CopyBytes(arena, o.lpOldID, o.cbOldID);
        CopyBytes(arena, o.lpOldParentID, o.cbOldParentID);
        if (o.lpPropTagArray)
            CopyBytes(arena, o.lpPropTagArray, CbSPropTagArray(o.lpPropTagArray));
        return S_OK;
    }
    case fnevTableModified: {
        TABLE_NOTIFICATION& t = n.info.tab;
        // The two single values live inside the structure; only what they
        // point to is copied.
        for (SPropValue* value : {&t.propIndex, &t.propPrior}) {
            if (!mapistub::IsKnownType(PROP_TYPE(value->ulPropTag)))
                return MAPI_E_INVALID_PARAMETER;
            if (!arena.Writing()) {
                arena.Take(mapistub::ExtraSize(*value));
                continue;
            }
            SPropValue copy{};
            SCODE sc = mapistub::CopyValue(copy, *value, [&](ULONG cb) { return arena.Take(cb); });
            if (FAILED(sc))
                return sc;
            *value = copy;
        }
        return CopyProps(arena, t.row.cValues, t.row.lpProps);
    }
    case fnevExtended:
        CopyBytes(arena, n.info.ext.pbEventParameters, n.info.ext.cb);
        return S_OK;
    case fnevStatusObjectModified: {
        STATUS_OBJECT_NOTIFICATION& s = n.info.statobj;
        CopyBytes(arena, s.lpEntryID, s.cbEntryID);
        return CopyProps(arena, s.cValues, s.lpPropVals);
    }
    default:
        return MAPI_E_INVALID_PARAMETER;
    }
}

SCODE Copy(int count, const NOTIFICATION* source, BYTE* destination, ULONG* size)
{
    if (count < 0 || (count > 0 && !source))
        return MAPI_E_INVALID_PARAMETER;
    CArena arena(destination);
    auto* array = static_cast<NOTIFICATION*>(arena.Take(count * sizeof(NOTIFICATION)));
    for (int i = 0; i < count; ++i) {
        // Count mode works on a scratch copy so the source is never changed.
        NOTIFICATION scratch = source[i];
        NOTIFICATION& target = array ? array[i] : scratch;
        target = source[i];
        SCODE sc = CopyOne(arena, target);
        if (FAILED(sc))
            return sc;
    }
    if (size)
        *size = static_cast<ULONG>(arena.Used());
    return S_OK;
}

} // namespace

STDAPI_(SCODE) ScCountNotifications(int cNotifications, LPNOTIFICATION lpNotifications, ULONG* lpcb)
{
    return Copy(cNotifications, lpNotifications, nullptr, lpcb);
}

STDAPI_(SCODE) ScCopyNotifications(int cNotification, LPNOTIFICATION lpNotifications, LPVOID lpvDst, ULONG* lpcb)
{
    if (!lpvDst)
        return MAPI_E_INVALID_PARAMETER;
    return Copy(cNotification, lpNotifications, static_cast<BYTE*>(lpvDst), lpcb);
}
