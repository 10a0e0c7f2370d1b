#pragma once
// Helpers for the tests of the stand-in library, written as a MAPI client
// writes them: rows built from property values, restrictions built from
// nodes, and an advise sink that records what it is told.
#include "MapiStandin.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace mapitest {

constexpr ULONG kIdTag = PROP_TAG(PT_LONG, 0x6700);

// Owns every value it hands out, so the SPropValue pointers stay valid.
class CValueStore {
public:
    SPropValue Long(ULONG tag, LONG v) { SPropValue p{}; p.ulPropTag = tag; p.Value.l = v; return p; }
    SPropValue Short(ULONG tag, short v) { SPropValue p{}; p.ulPropTag = tag; p.Value.i = v; return p; }
    SPropValue Bool(ULONG tag, bool v) { SPropValue p{}; p.ulPropTag = tag; p.Value.b = v ? 1 : 0; return p; }
    SPropValue Double(ULONG tag, double v) { SPropValue p{}; p.ulPropTag = tag; p.Value.dbl = v; return p; }
    SPropValue Float(ULONG tag, float v) { SPropValue p{}; p.ulPropTag = tag; p.Value.flt = v; return p; }
    SPropValue I8(ULONG tag, LONGLONG v) { SPropValue p{}; p.ulPropTag = tag; p.Value.li.QuadPart = v; return p; }
    SPropValue Currency(ULONG tag, LONGLONG v) { SPropValue p{}; p.ulPropTag = tag; p.Value.cur.int64 = v; return p; }
    SPropValue Error(ULONG id, SCODE sc) { SPropValue p{}; p.ulPropTag = PROP_TAG(PT_ERROR, id); p.Value.err = sc; return p; }
    SPropValue Time(ULONG tag, ULONGLONG v)
    {
        SPropValue p{};
        p.ulPropTag = tag;
        p.Value.ft.dwLowDateTime = static_cast<DWORD>(v);
        p.Value.ft.dwHighDateTime = static_cast<DWORD>(v >> 32);
        return p;
    }
    SPropValue Wide(ULONG tag, const std::wstring& v)
    {
        m_wide.push_back(v);
        SPropValue p{};
        p.ulPropTag = tag;
        p.Value.lpszW = &m_wide.back()[0];
        return p;
    }
    SPropValue Ansi(ULONG tag, const std::string& v)
    {
        m_ansi.push_back(v);
        SPropValue p{};
        p.ulPropTag = tag;
        p.Value.lpszA = &m_ansi.back()[0];
        return p;
    }
    SPropValue Binary(ULONG tag, const std::vector<BYTE>& v)
    {
        m_bytes.push_back(v);
        m_bytes.back().push_back(0); // never empty storage
        SPropValue p{};
        p.ulPropTag = tag;
        p.Value.bin.cb = static_cast<ULONG>(v.size());
        p.Value.bin.lpb = m_bytes.back().data();
        return p;
    }
    SPropValue Guid(ULONG tag, const GUID& v)
    {
        m_guids.push_back(v);
        SPropValue p{};
        p.ulPropTag = tag;
        p.Value.lpguid = &m_guids.back();
        return p;
    }
    SPropValue WideList(ULONG tag, const std::vector<std::wstring>& v)
    {
        m_pointers.emplace_back();
        for (const std::wstring& s : v) {
            m_wide.push_back(s);
            m_pointers.back().push_back(&m_wide.back()[0]);
        }
        m_pointers.back().push_back(nullptr);
        SPropValue p{};
        p.ulPropTag = tag;
        p.Value.MVszW.cValues = static_cast<ULONG>(v.size());
        p.Value.MVszW.lppszW = reinterpret_cast<LPWSTR*>(m_pointers.back().data());
        return p;
    }
    SPropValue LongList(ULONG tag, const std::vector<LONG>& v)
    {
        m_longs.push_back(v);
        m_longs.back().push_back(0);
        SPropValue p{};
        p.ulPropTag = tag;
        p.Value.MVl.cValues = static_cast<ULONG>(v.size());
        p.Value.MVl.lpl = m_longs.back().data();
        return p;
    }
    SPropValue* Keep(const SPropValue& value)
    {
        m_values.push_back(value);
        return &m_values.back();
    }

private:
    std::deque<std::wstring> m_wide;
    std::deque<std::string> m_ansi;
    std::deque<std::vector<BYTE>> m_bytes;
    std::deque<GUID> m_guids;
    std::deque<std::vector<void*>> m_pointers;
    std::deque<std::vector<LONG>> m_longs;
    std::deque<SPropValue> m_values;
};

// Restriction nodes with stable addresses.
class CRestrictionBuilder {
public:
    explicit CRestrictionBuilder(CValueStore& values) : m_values(values) {}

    SRestriction* Property(ULONG relop, ULONG tag, const SPropValue& value)
    {
        SRestriction* r = New(RES_PROPERTY);
        r->res.resProperty.relop = relop;
        r->res.resProperty.ulPropTag = tag;
        r->res.resProperty.lpProp = m_values.Keep(value);
        return r;
    }
    SRestriction* Content(ULONG fuzzy, ULONG tag, const SPropValue& value)
    {
        SRestriction* r = New(RES_CONTENT);
        r->res.resContent.ulFuzzyLevel = fuzzy;
        r->res.resContent.ulPropTag = tag;
        r->res.resContent.lpProp = m_values.Keep(value);
        return r;
    }
    SRestriction* CompareProps(ULONG relop, ULONG tag1, ULONG tag2)
    {
        SRestriction* r = New(RES_COMPAREPROPS);
        r->res.resCompareProps.relop = relop;
        r->res.resCompareProps.ulPropTag1 = tag1;
        r->res.resCompareProps.ulPropTag2 = tag2;
        return r;
    }
    SRestriction* Bitmask(ULONG relBMR, ULONG tag, ULONG mask)
    {
        SRestriction* r = New(RES_BITMASK);
        r->res.resBitMask.relBMR = relBMR;
        r->res.resBitMask.ulPropTag = tag;
        r->res.resBitMask.ulMask = mask;
        return r;
    }
    SRestriction* Size(ULONG relop, ULONG tag, ULONG cb)
    {
        SRestriction* r = New(RES_SIZE);
        r->res.resSize.relop = relop;
        r->res.resSize.ulPropTag = tag;
        r->res.resSize.cb = cb;
        return r;
    }
    SRestriction* Exist(ULONG tag)
    {
        SRestriction* r = New(RES_EXIST);
        r->res.resExist.ulPropTag = tag;
        return r;
    }
    SRestriction* And(const std::vector<SRestriction*>& children) { return Group(RES_AND, children); }
    SRestriction* Or(const std::vector<SRestriction*>& children) { return Group(RES_OR, children); }
    SRestriction* Not(SRestriction* child)
    {
        SRestriction* r = New(RES_NOT);
        r->res.resNot.lpRes = Copy(child);
        return r;
    }
    SRestriction* Comment(SRestriction* child)
    {
        SRestriction* r = New(RES_COMMENT);
        r->res.resComment.cValues = 0;
        r->res.resComment.lpProp = nullptr;
        r->res.resComment.lpRes = child ? Copy(child) : nullptr;
        return r;
    }
    SRestriction* Sub(ULONG object, SRestriction* child)
    {
        SRestriction* r = New(RES_SUBRESTRICTION);
        r->res.resSub.ulSubObject = object;
        r->res.resSub.lpRes = Copy(child);
        return r;
    }
    SRestriction* Raw(ULONG type)
    {
        return New(type);
    }

private:
    SRestriction* New(ULONG type)
    {
        m_nodes.emplace_back();
        SRestriction* r = &m_nodes.back();
        ZeroMemory(r, sizeof(*r));
        r->rt = type;
        return r;
    }
    SRestriction* Copy(SRestriction* r)
    {
        m_nodes.push_back(*r);
        return &m_nodes.back();
    }
    SRestriction* Group(ULONG type, const std::vector<SRestriction*>& children)
    {
        m_arrays.emplace_back();
        for (SRestriction* child : children)
            m_arrays.back().push_back(*child);
        SRestriction* r = New(type);
        r->res.resAnd.cRes = static_cast<ULONG>(children.size());
        r->res.resAnd.lpRes = m_arrays.back().empty() ? nullptr : m_arrays.back().data();
        return r;
    }

    CValueStore& m_values;
    std::deque<SRestriction> m_nodes;
    std::deque<std::vector<SRestriction>> m_arrays;
};

// Records table notifications: event, index value (as a row id when the
// index is a 4-byte binary holding one) and prior row id.
class CRecordingSink : public IMAPIAdviseSink {
public:
    struct Event {
        ULONG tableEvent;
        LONG index;
        LONG prior;
        ULONG columns;
    };

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown))
            return E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&m_refs)); }
    STDMETHODIMP_(ULONG) OnNotify(ULONG cNotif, LPNOTIFICATION lpNotifications) override
    {
        for (ULONG i = 0; i < cNotif; ++i) {
            const TABLE_NOTIFICATION& t = lpNotifications[i].info.tab;
            events.push_back({t.ulTableEvent, IdOf(t.propIndex), IdOf(t.propPrior), t.row.cValues});
        }
        if (onNotify)
            onNotify();
        return 0;
    }

    static LONG IdOf(const SPropValue& value)
    {
        if (PROP_TYPE(value.ulPropTag) == PT_BINARY && value.Value.bin.cb == 4)
            return *reinterpret_cast<const LONG*>(value.Value.bin.lpb);
        return -1;
    }

    std::vector<Event> events;
    std::function<void()> onNotify;
    LONG m_refs = 1;
};

} // namespace mapitest
