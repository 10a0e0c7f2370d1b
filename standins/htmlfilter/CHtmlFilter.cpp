#include "Platform.h"
#include "CHtmlFilter.h"

#include <ntquery.h>

#include <algorithm>

const CLSID CLSID_VostrelHtmlFilter = {0x9d703a5e, 0x5e92, 0x4537, {0xaa, 0x64, 0x9a, 0xb0, 0xe4, 0xc7, 0x30, 0x45}};
const CLSID CLSID_VostrelHtmlPersistentHandler = {
    0xcc03b4ba, 0x657b, 0x4c9d, {0x96, 0xe3, 0x5a, 0x70, 0x8e, 0x0f, 0x4d, 0x2c}};

namespace {

// The property set of the contents property (FMTID_Storage).
const GUID kStorageProperties = {0xb725f130, 0x47ef, 0x101a, {0xa5, 0xf1, 0x02, 0x60, 0x8c, 0x9e, 0xeb, 0xac}};

// Pages larger than this are refused rather than read into memory.
constexpr ULONGLONG kMaxPageBytes = 256ull << 20;

bool IsContents(const FULLPROPSPEC& spec)
{
    return IsEqualGUID(spec.guidPropSet, kStorageProperties) && spec.psProperty.ulKind == PRSPEC_PROPID &&
           spec.psProperty.propid == PID_STG_CONTENTS;
}

} // namespace

STDMETHODIMP CHtmlFilter::Init(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes, ULONG* pFlags)
{
    if (!pFlags || (cAttributes && !aAttributes))
        return E_INVALIDARG;
    *pFlags = 0;
    if (!m_loaded)
        return FILTER_E_ACCESS;
    // Asked for particular properties, the filter has text only for the contents.
    bool wantsContents = cAttributes == 0;
    for (ULONG i = 0; i < cAttributes; ++i)
        wantsContents = wantsContents || IsContents(aAttributes[i]);
    m_chunks = wantsContents ? CHtmlText::Extract(m_html, grfFlags) : std::vector<CHtmlText::Chunk>{};
    m_next = 0;
    m_inChunk = false;
    m_offset = 0;
    m_initialised = true;
    return S_OK;
}

STDMETHODIMP CHtmlFilter::GetChunk(STAT_CHUNK* pStat)
{
    if (!pStat)
        return E_INVALIDARG;
    if (!m_initialised)
        return FILTER_E_ACCESS;
    if (m_next >= m_chunks.size()) {
        m_inChunk = false;
        return FILTER_E_END_OF_CHUNKS;
    }
    const ULONG id = static_cast<ULONG>(m_next + 1);
    *pStat = STAT_CHUNK{};
    pStat->idChunk = id;
    pStat->breakType = m_chunks[m_next].breakType;
    pStat->flags = CHUNK_TEXT;
    pStat->locale = GetUserDefaultLCID();
    pStat->attribute.guidPropSet = kStorageProperties;
    pStat->attribute.psProperty.ulKind = PRSPEC_PROPID;
    pStat->attribute.psProperty.propid = PID_STG_CONTENTS;
    pStat->idChunkSource = id;
    m_inChunk = true;
    m_offset = 0;
    ++m_next;
    return S_OK;
}

STDMETHODIMP CHtmlFilter::GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer)
{
    if (!pcwcBuffer || !awcBuffer || *pcwcBuffer == 0)
        return E_INVALIDARG;
    const size_t capacity = *pcwcBuffer;
    *pcwcBuffer = 0;
    if (!m_inChunk)
        return FILTER_E_NO_MORE_TEXT;
    const std::wstring& text = m_chunks[m_next - 1].text;
    if (m_offset >= text.size())
        return FILTER_E_NO_MORE_TEXT;
    size_t count = std::min(capacity, text.size() - m_offset);
    // A surrogate pair is never split between two pieces.
    if (count > 1 && m_offset + count < text.size() && IS_HIGH_SURROGATE(text[m_offset + count - 1]))
        --count;
    std::copy_n(text.data() + m_offset, count, awcBuffer);
    m_offset += count;
    *pcwcBuffer = static_cast<ULONG>(count);
    return m_offset >= text.size() ? FILTER_S_LAST_TEXT : S_OK;
}

STDMETHODIMP CHtmlFilter::GetValue(PROPVARIANT** ppPropValue)
{
    if (!ppPropValue)
        return E_INVALIDARG;
    *ppPropValue = nullptr;
    return m_inChunk ? FILTER_E_NO_VALUES : FILTER_E_NO_MORE_VALUES;
}

STDMETHODIMP CHtmlFilter::BindRegion(FILTERREGION, REFIID, void** ppunk)
{
    if (ppunk)
        *ppunk = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CHtmlFilter::GetClassID(CLSID* pClassID)
{
    if (!pClassID)
        return E_POINTER;
    *pClassID = CLSID_VostrelHtmlFilter;
    return S_OK;
}

STDMETHODIMP CHtmlFilter::IsDirty()
{
    return S_FALSE;
}

// Reads the page from where the stream stands to its end.
STDMETHODIMP CHtmlFilter::Load(IStream* pStm)
{
    if (!pStm)
        return E_POINTER;
    std::string bytes;
    char block[16384];
    for (;;) {
        ULONG read = 0;
        HRESULT hr = pStm->Read(block, sizeof(block), &read);
        if (FAILED(hr))
            return hr;
        read = std::min<ULONG>(read, sizeof(block));
        if (bytes.size() + read > kMaxPageBytes)
            return E_OUTOFMEMORY;
        bytes.append(block, read);
        if (read == 0 || hr == S_FALSE)
            break;
    }
    m_html = CHtmlText::Decode(bytes);
    m_loaded = true;
    m_initialised = false;
    m_chunks.clear();
    m_inChunk = false;
    return S_OK;
}

STDMETHODIMP CHtmlFilter::Save(IStream*, BOOL)
{
    return E_NOTIMPL;
}

STDMETHODIMP CHtmlFilter::GetSizeMax(ULARGE_INTEGER* pcbSize)
{
    if (pcbSize)
        pcbSize->QuadPart = 0;
    return E_NOTIMPL;
}
