#pragma once
// In-process stand-ins for the server's store and table objects: a table of
// fixed rows handed out in task memory as the server hands them out, and a
// store whose named-property table is such a table. Calls can be made to
// fail, with an error object set as the server sets one.
#include "ProviderPlatform.h"
#include "Vostrel2007.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace providertest {

// One server value: a tag and how to fill it.
struct SFakeValue {
    ULONG tag;
    _EEsePropertyType type;
    LONGLONG number;  // scalars
    std::wstring text; // ESE_PT_STRING16
    std::vector<BYTE> bytes; // ESE_PT_BINARY
};

inline SFakeValue FakeI2(ULONG tag, USHORT v) { return {tag, ESE_PT_INT16, static_cast<short>(v), {}, {}}; }
inline SFakeValue FakeLong(ULONG tag, LONG v) { return {tag, ESE_PT_INT32, v, {}, {}}; }
inline SFakeValue FakeText(ULONG tag, const std::wstring& v) { return {tag, ESE_PT_STRING16, 0, v, {}}; }
inline SFakeValue FakeBytes(ULONG tag, const void* p, size_t n)
{
    const BYTE* b = static_cast<const BYTE*>(p);
    return {tag, ESE_PT_BINARY, 0, {}, std::vector<BYTE>(b, b + n)};
}
// A missing column as the server marks it.
inline SFakeValue FakeNull(ULONG tag) { return {CHANGE_PROP_TYPE(tag, PT_NULL), ESE_PT_ERROR, 0, {}, {}}; }
// A value present but too large for a row, as the server marks it.
inline SFakeValue FakeTooLarge(ULONG tag)
{
    return {CHANGE_PROP_TYPE(tag, PT_ERROR), ESE_PT_ERROR, static_cast<LONG>(E_OUTOFMEMORY), {}, {}};
}

// Sets the thread's error object as the server does on failure.
inline void SetServerError(const wchar_t* description)
{
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create)))
        return;
    create->SetSource(const_cast<LPOLESTR>(L"Morvane.Vostrel2007"));
    create->SetDescription(const_cast<LPOLESTR>(description));
    IErrorInfo* info = nullptr;
    create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
    create->Release();
    SetErrorInfo(0, info);
    info->Release();
}

template <typename I>
class CFakeObject : public I, public ISupportErrorInfo {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, OwnIid()))
            *ppv = static_cast<I*>(this);
        else if (IsEqualIID(riid, IID_ISupportErrorInfo))
            *ppv = static_cast<ISupportErrorInfo*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_refs); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG left = InterlockedDecrement(&m_refs);
        if (left == 0)
            delete this;
        return left;
    }
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override
    {
        return IsEqualIID(riid, OwnIid()) ? S_OK : S_FALSE;
    }
    LONG Refs() const { return m_refs; }

protected:
    virtual ~CFakeObject() = default;
    virtual const IID& OwnIid() const = 0;
    HRESULT Fail(HRESULT hr)
    {
        SetServerError(L"1 0 0 failed on purpose");
        return hr;
    }

private:
    LONG m_refs = 1;
};

class CFakeEseTable : public CFakeObject<IEseTable> {
public:
    std::vector<std::vector<SFakeValue>> rows;
    std::vector<ULONG> columnsAsked;
    HRESULT setColumnsResult = S_OK;
    HRESULT getRowsResult = S_OK;

    STDMETHODIMP GetColumns(signed char, ULONG*, ULONG**) override { return E_NOTIMPL; }
    STDMETHODIMP SetColumns(ULONG tagCount, ULONG* pTags) override
    {
        columnsAsked.assign(pTags, pTags + tagCount);
        return FAILED(setColumnsResult) ? Fail(setColumnsResult) : S_OK;
    }
    STDMETHODIMP GetRows(ULONG maxRowCount, signed char, ULONG* pActualRowCount, _SEseRow** ppRows) override
    {
        *pActualRowCount = 0;
        *ppRows = nullptr;
        if (FAILED(getRowsResult))
            return Fail(getRowsResult);
        const ULONG n = static_cast<ULONG>(std::min<size_t>(rows.size(), maxRowCount));
        if (n == 0)
            return S_OK;
        auto* out = static_cast<_SEseRow*>(CoTaskMemAlloc(n * sizeof(_SEseRow)));
        for (ULONG r = 0; r < n; ++r) {
            const auto& values = rows[r];
            out[r].m_valueCount = static_cast<ULONG>(values.size());
            out[r].m_p_values =
                static_cast<_SEsePropertyValue*>(CoTaskMemAlloc(values.size() * sizeof(_SEsePropertyValue)));
            for (size_t i = 0; i < values.size(); ++i)
                Fill(out[r].m_p_values[i], values[i]);
        }
        *pActualRowCount = n;
        *ppRows = out;
        return S_OK;
    }

    static void Fill(_SEsePropertyValue& v, const SFakeValue& from)
    {
        ZeroMemory(&v, sizeof(v));
        v.m_tag = from.tag;
        v.m_type = from.type;
        switch (from.type) {
        case ESE_PT_STRING16: {
            const size_t size = (from.text.size() + 1) * sizeof(wchar_t);
            v.m_value.m_p_ws = static_cast<LPWSTR>(CoTaskMemAlloc(size));
            memcpy(v.m_value.m_p_ws, from.text.c_str(), size);
            break;
        }
        case ESE_PT_BINARY:
            v.m_value.m_bin.m_count = static_cast<ULONG>(from.bytes.size());
            v.m_value.m_bin.m_p_bt = static_cast<BYTE*>(CoTaskMemAlloc(from.bytes.size() + 1));
            memcpy(v.m_value.m_bin.m_p_bt, from.bytes.data(), from.bytes.size());
            break;
        case ESE_PT_ERROR:
            v.m_value.m_err.m_code = from.number ? static_cast<HRESULT>(from.number) : MAPI_E_NOT_FOUND;
            break;
        default:
            v.m_value.m_i64 = from.number;
            break;
        }
    }

protected:
    const IID& OwnIid() const override { return IID_IEseTable; }
};

class CFakeEseStore : public CFakeObject<IEseStore> {
public:
    CFakeEseTable* namedProps = nullptr; // one reference held, handed out with another
    HRESULT namedPropsResult = S_OK;

    STDMETHODIMP GetFolder(LONGLONG, LONGLONG, IEseFolder**) override { return E_NOTIMPL; }
    STDMETHODIMP GetFoldersTable(IEseTable**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMailbox(LONGLONG, IEseMailbox**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMailboxesTable(ULONG, LONGLONG*, signed char, IEseTable**) override { return E_NOTIMPL; }
    STDMETHODIMP GetNamedPropertiesTable(IEseTable** ppTable) override
    {
        *ppTable = nullptr;
        if (FAILED(namedPropsResult))
            return Fail(namedPropsResult);
        if (namedProps) {
            namedProps->AddRef();
            *ppTable = namedProps;
        }
        return S_OK;
    }
    STDMETHODIMP GetStoreInfo(_SEseStoreInfo*) override { return E_NOTIMPL; }

protected:
    ~CFakeEseStore() override
    {
        if (namedProps)
            namedProps->Release();
    }
    const IID& OwnIid() const override { return IID_IEseStore; }
};


// An object's property interface that knows a few names, as the server's
// objects resolve them for a database that maps names per object.
class CFakeEseProperty : public CFakeObject<IEseProperty> {
public:
    struct SName {
        GUID guid;
        ULONG kind;
        std::wstring name;
        LONG lid;
        USHORT id;
    };
    std::vector<SName> names;
    HRESULT result = S_OK;
    ULONG lastNameCount = 0xFFFFFFFF;

    STDMETHODIMP GetPropertyTags(ULONG*, ULONG**) override { return E_NOTIMPL; }
    STDMETHODIMP GetProperties(ULONG, ULONG*, ULONG*, _SEsePropertyValue**) override { return E_NOTIMPL; }
    STDMETHODIMP GetProperty(ULONG, ULONG*, unsigned char**) override { return E_NOTIMPL; }
    STDMETHODIMP OpenProperty(ULONG, IStream**) override { return E_NOTIMPL; }
    STDMETHODIMP GetPropNamesFromTags(ULONG* pTagCount, ULONG** ppTags, GUID*, ULONG, ULONG* pPropNamesCount,
                                      _SEseNamedPropertyId** ppPropNames) override
    {
        *pPropNamesCount = 0;
        *ppPropNames = nullptr;
        if (FAILED(result))
            return Fail(result);
        const ULONG n = *pTagCount;
        auto* out = static_cast<_SEseNamedPropertyId*>(CoTaskMemAlloc(n * sizeof(_SEseNamedPropertyId)));
        ZeroMemory(out, n * sizeof(_SEseNamedPropertyId));
        for (ULONG i = 0; i < n; ++i) {
            const ULONG tag = (*ppTags)[i];
            for (const SName& known : names) {
                if (known.id != PROP_ID(tag))
                    continue;
                out[i].lpguid = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
                *out[i].lpguid = known.guid;
                out[i].ulKind = known.kind;
                if (known.kind == MNID_STRING) {
                    const size_t size = (known.name.size() + 1) * sizeof(wchar_t);
                    out[i].Kind.lpwstrName = static_cast<LPWSTR>(CoTaskMemAlloc(size));
                    memcpy(out[i].Kind.lpwstrName, known.name.c_str(), size);
                } else {
                    out[i].Kind.lID = known.lid;
                }
                break;
            }
        }
        *pPropNamesCount = n;
        *ppPropNames = out;
        return S_OK;
    }
    STDMETHODIMP GetTagsFromPropNames(ULONG propNamesCount, _SEseNamedPropertyId** ppPropNames, ULONG* pTagCount,
                                      ULONG** ppTags) override
    {
        lastNameCount = propNamesCount;
        *pTagCount = 0;
        *ppTags = nullptr;
        if (FAILED(result))
            return Fail(result);
        const ULONG n = propNamesCount ? propNamesCount : static_cast<ULONG>(names.size());
        auto* tags = static_cast<ULONG*>(CoTaskMemAlloc(n * sizeof(ULONG) + 4));
        for (ULONG i = 0; i < n; ++i) {
            if (propNamesCount == 0) {
                tags[i] = PROP_TAG(PT_UNSPECIFIED, names[i].id);
                continue;
            }
            tags[i] = PROP_TAG(PT_ERROR, 0);
            const _SEseNamedPropertyId* asked = ppPropNames[i];
            for (const SName& known : names) {
                if (asked && asked->lpguid && IsEqualGUID(*asked->lpguid, known.guid) && asked->ulKind == known.kind &&
                    (known.kind == MNID_STRING ? known.name == asked->Kind.lpwstrName : known.lid == asked->Kind.lID))
                    tags[i] = PROP_TAG(PT_UNSPECIFIED, known.id);
            }
        }
        *pTagCount = n;
        *ppTags = tags;
        return S_OK;
    }

protected:
    const IID& OwnIid() const override { return IID_IEseProperty; }
};

} // namespace providertest

namespace providertest {

// A server folder whose child-folder and message tables are fake tables of
// the test's.
class CFakeEseFolder : public CFakeObject<IEseFolder> {
public:
    CFakeEseTable* folders = nullptr;  // one reference held each
    CFakeEseTable* messages = nullptr;
    HRESULT messagesResult = S_OK;

    STDMETHODIMP GetPropertyTags(ULONG* count, ULONG** tags) override
    {
        *count = 0;
        *tags = nullptr;
        return S_OK;
    }
    STDMETHODIMP GetProperties(ULONG, ULONG*, ULONG* count, _SEsePropertyValue** values) override
    {
        *count = 0;
        *values = nullptr;
        return S_OK;
    }
    STDMETHODIMP GetProperty(ULONG, ULONG*, BYTE**) override { return E_NOTIMPL; }
    STDMETHODIMP OpenProperty(ULONG, IStream**) override { return E_NOTIMPL; }
    STDMETHODIMP GetPropNamesFromTags(ULONG*, ULONG**, GUID*, ULONG, ULONG*, _SEseNamedPropertyId**) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP GetTagsFromPropNames(ULONG, _SEseNamedPropertyId**, ULONG*, ULONG**) override { return E_NOTIMPL; }
    STDMETHODIMP GetFolder(LONGLONG, LONGLONG, IEseFolder**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMessage(LONGLONG, IEseMessage**) override { return E_NOTIMPL; }
    STDMETHODIMP GetFoldersTable(IEseTable** table) override
    {
        *table = folders;
        if (folders)
            folders->AddRef();
        return folders ? S_OK : E_NOTIMPL;
    }
    STDMETHODIMP GetMessagesTable(IEseTable** table) override
    {
        *table = nullptr;
        if (FAILED(messagesResult))
            return Fail(messagesResult);
        *table = messages;
        if (messages)
            messages->AddRef();
        return S_OK;
    }

protected:
    ~CFakeEseFolder() override
    {
        if (folders)
            folders->Release();
        if (messages)
            messages->Release();
    }
    const IID& OwnIid() const override { return IID_IEseFolder; }
};

} // namespace providertest

namespace providertest {

// A server message: its values (answered by property id; others missing),
// and the properties it serves as streams. The whole-value fetch
// (GetProperty) of a stream property fails unless allowed.
class CFakeEseMessage : public CFakeObject<IEseMessage> {
public:
    std::vector<SFakeValue> values;
    std::vector<std::pair<ULONG, std::vector<BYTE>>> streams;
    bool wholeValueServed = false;
    int wholeValueCalls = 0;

    STDMETHODIMP GetPropertyTags(ULONG* count, ULONG** tags) override
    {
        *count = 0;
        *tags = nullptr;
        return S_OK;
    }
    STDMETHODIMP GetProperties(ULONG tagCount, ULONG* pTags, ULONG* count, _SEsePropertyValue** out) override
    {
        *count = 0;
        *out = nullptr;
        auto* result = static_cast<_SEsePropertyValue*>(CoTaskMemAlloc((tagCount + 1) * sizeof(_SEsePropertyValue)));
        for (ULONG i = 0; i < tagCount; ++i) {
            SFakeValue value = FakeNull(pTags[i]);
            for (const SFakeValue& held : values)
                if (PROP_ID(held.tag) == PROP_ID(pTags[i]))
                    value = held;
            CFakeEseTable::Fill(result[i], value);
        }
        *count = tagCount;
        *out = result;
        return S_OK;
    }
    STDMETHODIMP GetProperty(ULONG tag, ULONG* count, BYTE** bytes) override
    {
        ++wholeValueCalls;
        *count = 0;
        *bytes = nullptr;
        const std::vector<BYTE>* held = Stream(tag);
        if (!held || !wholeValueServed)
            return Fail(held ? E_OUTOFMEMORY : 0x80070002);
        *bytes = static_cast<BYTE*>(CoTaskMemAlloc(held->size() + 1));
        memcpy(*bytes, held->data(), held->size());
        *count = static_cast<ULONG>(held->size());
        return S_OK;
    }
    STDMETHODIMP OpenProperty(ULONG tag, IStream** stream) override
    {
        *stream = nullptr;
        const std::vector<BYTE>* held = Stream(tag);
        if (!held)
            return Fail(0x80070002);
        IStream* made = nullptr;
        if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &made)))
            return E_OUTOFMEMORY;
        ULONG written = 0;
        made->Write(held->data(), static_cast<ULONG>(held->size()), &written);
        LARGE_INTEGER start = {};
        made->Seek(start, STREAM_SEEK_SET, nullptr);
        *stream = made;
        return S_OK;
    }
    STDMETHODIMP GetPropNamesFromTags(ULONG*, ULONG**, GUID*, ULONG, ULONG*, _SEseNamedPropertyId**) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP GetTagsFromPropNames(ULONG, _SEseNamedPropertyId**, ULONG*, ULONG**) override { return E_NOTIMPL; }
    STDMETHODIMP GetAttachment(LONGLONG, signed char, IEseMessage**) override { return E_NOTIMPL; }
    STDMETHODIMP GetAttachmentByNumber(ULONG, signed char, IEseMessage**) override { return E_NOTIMPL; }
    STDMETHODIMP GetAttachmentsTable(IEseTable**) override { return E_NOTIMPL; }

protected:
    const IID& OwnIid() const override { return IID_IEseMessage; }

private:
    const std::vector<BYTE>* Stream(ULONG tag) const
    {
        for (const auto& held : streams)
            if (held.first == tag)
                return &held.second;
        return nullptr;
    }
};

} // namespace providertest
