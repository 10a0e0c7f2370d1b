// Helpers of the converter's tests, written as the converter's callers use
// it: a message on storage made with OpenIMsgOnIStg, the converter made with
// CoCreateInstance, and readers of the properties, tables and streams that
// the conversion leaves in the message.
#pragma once
#include "MimeMapiTags.h"
#include "ConverterSession.h"

#include <gtest/gtest.h>

#include <imessage.h>

#include <map>
#include <string>
#include <vector>

namespace mimetest {

class CComScope {
public:
    CComScope() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    ~CComScope() { CoUninitialize(); }
};

inline ComPtr<IStream> StreamOf(const std::string& bytes)
{
    ComPtr<IStream> stream;
    CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    ULONG written = 0;
    if (!bytes.empty())
        stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return stream;
}

// A fresh message on an in-memory storage, made the way a provider makes the
// message it converts MIME text into.
class CStorageMessage {
public:
    CStorageMessage()
    {
        EXPECT_EQ(S_OK, CreateILockBytesOnHGlobal(nullptr, TRUE, &m_bytes));
        EXPECT_EQ(S_OK, StgCreateDocfileOnILockBytes(m_bytes.Get(), STGM_CREATE | STGM_SHARE_EXCLUSIVE | STGM_READWRITE,
                                                     0, &m_storage));
        m_malloc = MAPIGetDefaultMalloc();
        EXPECT_EQ(S_OK, OpenIMsgOnIStg(nullptr, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer, m_malloc,
                                       nullptr, m_storage.Get(), nullptr, 0, MAPI_UNICODE, &m_message));
    }
    ~CStorageMessage()
    {
        m_message.Reset();
        if (m_malloc)
            m_malloc->Release();
    }
    IMessage* Get() const { return m_message.Get(); }

private:
    ComPtr<ILockBytes> m_bytes;
    ComPtr<IStorage> m_storage;
    LPMALLOC m_malloc = nullptr;
    ComPtr<IMessage> m_message;
};

// Registers the converter from its module in the build folder. Registering
// again rewrites the same values, so this is safe while other tests create
// the class.
inline void RegisterConverter()
{
    HMODULE module = LoadLibraryW(L"mimeconv.dll");
    ASSERT_NE(nullptr, module);
    auto registerServer = reinterpret_cast<HRESULT(WINAPI*)()>(GetProcAddress(module, "DllRegisterServer"));
    ASSERT_NE(nullptr, registerServer);
    EXPECT_EQ(S_OK, registerServer());
    FreeLibrary(module);
}

inline ComPtr<IConverterSession> NewConverter()
{
    ComPtr<IConverterSession> converter;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_IConverterSession, nullptr, CLSCTX_INPROC_SERVER, IID_IConverterSession,
                                     reinterpret_cast<void**>(converter.GetAddressOf())));
    return converter;
}

// Converts MIME text into target and saves it, as the product does.
inline HRESULT Convert(IConverterSession* converter, const std::string& mime, IMessage* target,
                       ULONG flags = CCSF_SMTP)
{
    HRESULT hr = converter->MIMEToMAPI(StreamOf(mime).Get(), target, nullptr, flags);
    if (SUCCEEDED(hr))
        hr = target->SaveChanges(0);
    return hr;
}

// One property value as the test reads it back (a copy that owns its data).
struct Value {
    ULONG tag = PR_NULL;
    std::wstring text;
    std::string bytes;
    LONG number = 0;
    bool flag = false;
    FILETIME time{};
    bool Found() const { return PROP_TYPE(tag) != PT_ERROR && tag != PR_NULL; }
};

inline Value ValueOf(const SPropValue& prop)
{
    Value value;
    value.tag = prop.ulPropTag;
    switch (PROP_TYPE(prop.ulPropTag)) {
    case PT_UNICODE:
        value.text = prop.Value.lpszW ? prop.Value.lpszW : L"";
        break;
    case PT_BINARY:
        value.bytes.assign(reinterpret_cast<const char*>(prop.Value.bin.lpb), prop.Value.bin.cb);
        break;
    case PT_LONG:
        value.number = prop.Value.l;
        break;
    case PT_BOOLEAN:
        value.flag = prop.Value.b != 0;
        value.number = value.flag ? 1 : 0;
        break;
    case PT_SYSTIME:
        value.time = prop.Value.ft;
        break;
    case PT_ERROR:
        value.number = prop.Value.err;
        break;
    default:
        break;
    }
    return value;
}

inline Value Prop(IMAPIProp* object, ULONG tag)
{
    SizedSPropTagArray(1, tags) = {1, {tag}};
    ULONG count = 0;
    LPSPropValue values = nullptr;
    Value value;
    HRESULT hr = object->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), MAPI_UNICODE, &count, &values);
    if (SUCCEEDED(hr) && values && count == 1)
        value = ValueOf(values[0]);
    MAPIFreeBuffer(values);
    return value;
}

inline std::wstring Text(IMAPIProp* object, ULONG tag)
{
    return Prop(object, tag).text;
}

// A property read whole through its stream.
inline std::string StreamBytes(IMAPIProp* object, ULONG tag, HRESULT* result = nullptr)
{
    // Filled in place: ComPtr::Attach of this toolchain adds a reference,
    // and a stream left open keeps its message alive.
    ComPtr<IStream> stream;
    HRESULT hr = object->OpenProperty(tag, &IID_IStream, 0, 0, reinterpret_cast<LPUNKNOWN*>(stream.GetAddressOf()));
    if (result)
        *result = hr;
    std::string bytes;
    if (FAILED(hr))
        return bytes;
    char chunk[4096];
    for (;;) {
        ULONG read = 0;
        if (FAILED(stream->Read(chunk, sizeof(chunk), &read)) || read == 0)
            break;
        bytes.append(chunk, read);
    }
    return bytes;
}

inline std::wstring Body(IMAPIProp* object, HRESULT* result = nullptr)
{
    const std::string bytes = StreamBytes(object, PR_BODY_W, result);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

using Row = std::map<ULONG, Value>; // by property id

inline std::vector<Row> Rows(IMAPITable* table)
{
    std::vector<Row> rows;
    LPSRowSet set = nullptr;
    EXPECT_EQ(S_OK, HrQueryAllRows(table, nullptr, nullptr, nullptr, 0, &set));
    for (ULONG r = 0; set && r < set->cRows; ++r) {
        Row row;
        for (ULONG c = 0; c < set->aRow[r].cValues; ++c) {
            const SPropValue& prop = set->aRow[r].lpProps[c];
            row[PROP_ID(prop.ulPropTag)] = ValueOf(prop);
        }
        rows.push_back(row);
    }
    FreeProws(set);
    return rows;
}

inline std::vector<Row> Recipients(IMessage* message)
{
    ComPtr<IMAPITable> table;
    EXPECT_EQ(S_OK, message->GetRecipientTable(MAPI_UNICODE, &table));
    return table ? Rows(table.Get()) : std::vector<Row>();
}

inline std::vector<Row> Attachments(IMessage* message)
{
    ComPtr<IMAPITable> table;
    EXPECT_EQ(S_OK, message->GetAttachmentTable(MAPI_UNICODE, &table));
    return table ? Rows(table.Get()) : std::vector<Row>();
}

inline ComPtr<IAttach> OpenAttachment(IMessage* message, const Row& row)
{
    ComPtr<IAttach> attach;
    EXPECT_EQ(S_OK, message->OpenAttach(static_cast<ULONG>(row.at(PROP_ID(PR_ATTACH_NUM)).number), nullptr, 0, &attach));
    return attach;
}

inline ComPtr<IMessage> OpenEmbedded(IAttach* attach)
{
    ComPtr<IMessage> message;
    EXPECT_EQ(S_OK, attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, 0,
                                         reinterpret_cast<LPUNKNOWN*>(message.GetAddressOf())));
    return message;
}

// A row's string value, empty when the row has none.
inline std::wstring Cell(const Row& row, ULONG tag)
{
    auto it = row.find(PROP_ID(tag));
    return it == row.end() || PROP_TYPE(it->second.tag) != PT_UNICODE ? std::wstring() : it->second.text;
}

inline LONG Number(const Row& row, ULONG tag)
{
    auto it = row.find(PROP_ID(tag));
    return it == row.end() ? -1 : it->second.number;
}

inline ULONGLONG Ticks(const FILETIME& time)
{
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The FILETIME of a UTC time.
inline ULONGLONG UtcTicks(int year, int month, int day, int hour, int minute, int second)
{
    SYSTEMTIME time{};
    time.wYear = static_cast<WORD>(year);
    time.wMonth = static_cast<WORD>(month);
    time.wDay = static_cast<WORD>(day);
    time.wHour = static_cast<WORD>(hour);
    time.wMinute = static_cast<WORD>(minute);
    time.wSecond = static_cast<WORD>(second);
    FILETIME file{};
    SystemTimeToFileTime(&time, &file);
    return Ticks(file);
}

} // namespace mimetest
