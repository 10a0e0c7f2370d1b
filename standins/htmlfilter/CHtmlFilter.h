// A stand-in for the system's HTML filter: an in-process IFilter over an
// HTML page loaded through IPersistStream. Init extracts the page's text
// (CHtmlText) as chunks of the contents property; GetChunk steps through
// them and GetText hands each chunk's text out in pieces of the caller's
// buffer size, the last one answered with FILTER_S_LAST_TEXT. The filter
// emits no value chunks.
#pragma once
#include "Platform.h"
#include "CUnknownImpl.h"
#include "CHtmlText.h"

#include <filter.h>
#include <filterr.h>

#include <string>
#include <vector>

// {9D703A5E-5E92-4537-AA64-9AB0E4C73045}
extern const CLSID CLSID_VostrelHtmlFilter;
// {CC03B4BA-657B-4C9D-96E3-5A708E0F4D2C}
extern const CLSID CLSID_VostrelHtmlPersistentHandler;

namespace common {
template <>
struct InterfaceBase<IPersistStream> {
    using Type = IPersist;
};
} // namespace common

class CHtmlFilter : public common::CUnknownImpl<CHtmlFilter, IFilter, IPersistStream> {
public:
    using CUnknownImpl::CreateInstance;

    // IFilter
    STDMETHODIMP Init(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes, ULONG* pFlags) override;
    STDMETHODIMP GetChunk(STAT_CHUNK* pStat) override;
    STDMETHODIMP GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer) override;
    STDMETHODIMP GetValue(PROPVARIANT** ppPropValue) override;
    STDMETHODIMP BindRegion(FILTERREGION origPos, REFIID riid, void** ppunk) override;

    // IPersist, IPersistStream
    STDMETHODIMP GetClassID(CLSID* pClassID) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP Load(IStream* pStm) override;
    STDMETHODIMP Save(IStream* pStm, BOOL fClearDirty) override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* pcbSize) override;

private:
    friend class common::CUnknownImpl<CHtmlFilter, IFilter, IPersistStream>;
    CHtmlFilter() = default;
    ~CHtmlFilter() override = default;

    bool m_loaded = false;
    bool m_initialised = false;
    std::wstring m_html;
    std::vector<CHtmlText::Chunk> m_chunks;
    size_t m_next = 0;       // chunk GetChunk hands out next
    bool m_inChunk = false;  // a chunk is current
    size_t m_offset = 0;     // text of the current chunk already handed out
};
