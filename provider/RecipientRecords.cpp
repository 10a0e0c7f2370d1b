#include "ProviderPlatform.h"
#include "RecipientRecords.h"
#include "RawValues.h"
#include "MapiStrings.h"
#include "EseValueConversion.h"
#include "CLastError.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr ULONG kHeaderSize = 6;
constexpr ULONG kRecordHeaderSize = 5;  // type, 2 bytes, u16 length
constexpr ULONG kExchangeTextStart = 9;
constexpr USHORT kFlagString10 = 0x10;
constexpr USHORT kFlagString20 = 0x20;
constexpr USHORT kFlagExchangeName = 0x200;
constexpr USHORT kFlagString400 = 0x400;
constexpr USHORT kFlagsWithThreeBytes = 0x0213;
constexpr BYTE kMarkerAbsent = 0x0A;

constexpr ULONG kPrInstanceKey = 0x0FF60102;
constexpr ULONG kPrRowId = 0x30000003;
constexpr ULONG kPrRecipientType = 0x0C150003;
constexpr ULONG kPrAddrTypeW = 0x3002001F;
constexpr ULONG kPrDisplayNameW = 0x3001001F;
constexpr ULONG kPrEmailAddressW = 0x3003001F;

USHORT U16(const BYTE* p)
{
    return static_cast<USHORT>(p[0] | p[1] << 8);
}

ULONG U32(const BYTE* p)
{
    return static_cast<ULONG>(p[0]) | static_cast<ULONG>(p[1]) << 8 | static_cast<ULONG>(p[2]) << 16 |
           static_cast<ULONG>(p[3]) << 24;
}

// A cursor over one record's bytes; every read checks the record's end.
class CRecordReader {
public:
    CRecordReader(const BYTE* begin, ULONG size) : m_begin(begin), m_size(size) {}

    bool Seek(ULONG at)
    {
        if (at > m_size)
            return false;
        m_at = at;
        return true;
    }

    bool Skip(ULONG count) { return count <= m_size - m_at && Seek(m_at + count); }

    bool Byte(BYTE& value)
    {
        if (m_size - m_at < 1)
            return false;
        value = m_begin[m_at++];
        return true;
    }

    bool Word(USHORT& value)
    {
        if (m_size - m_at < 2)
            return false;
        value = U16(m_begin + m_at);
        m_at += 2;
        return true;
    }

    // A NUL-terminated wide string, read byte-wise (records are packed, so a
    // string need not be aligned).
    bool Wide(std::wstring* text)
    {
        const int size = GetRawValueSize(PT_UNICODE, m_begin + m_at, static_cast<int>(m_size - m_at));
        if (size < 0)
            return false;
        if (text) {
            text->clear();
            for (int i = 0; i + 2 < size; i += 2)
                text->push_back(static_cast<wchar_t>(U16(m_begin + m_at + i)));
        }
        m_at += static_cast<ULONG>(size);
        return true;
    }

    bool Ansi(std::string& text)
    {
        const int size = GetRawValueSize(PT_STRING8, m_begin + m_at, static_cast<int>(m_size - m_at));
        if (size < 0)
            return false;
        text.assign(reinterpret_cast<const char*>(m_begin + m_at), static_cast<size_t>(size - 1));
        m_at += static_cast<ULONG>(size);
        return true;
    }

    // The strings behind flags 0x20, 0x400 and 0x10, in that order; the last
    // one kept in displayName when asked for.
    bool FlaggedStrings(USHORT flags, std::wstring* displayName, bool* hasDisplayName)
    {
        if ((flags & kFlagString20) && !Wide(nullptr))
            return false;
        if ((flags & kFlagString400) && !Wide(nullptr))
            return false;
        if (flags & kFlagString10) {
            if (!Wide(displayName))
                return false;
            if (hasDisplayName && displayName)
                *hasDisplayName = true;
        }
        return true;
    }

    const BYTE* Here() const { return m_begin + m_at; }
    ULONG Left() const { return m_size - m_at; }

private:
    const BYTE* m_begin;
    ULONG m_size;
    ULONG m_at = 0;
};

bool ReadValues(CRecordReader& reader, const std::vector<ULONG>& extraTags, SRecipientRecord& record)
{
    USHORT count = 0;
    BYTE markers = 0;
    if (!reader.Word(count) || !reader.Byte(markers))
        return false;
    const size_t wanted = std::min<size_t>(count, extraTags.size());
    for (size_t i = 0; i < wanted; ++i) {
        ULONG tag = extraTags[i];
        if (markers) {
            BYTE marker = 0;
            if (!reader.Byte(marker))
                return false;
            if (marker == kMarkerAbsent)
                tag = CHANGE_PROP_TYPE(tag, PT_ERROR);
        }
        const int size = GetRawValueSize(PROP_TYPE(tag), reader.Here(), static_cast<int>(reader.Left()));
        if (size < 0)
            return false;
        if (size == 0)
            break;  // no size rule: nothing after this value can be found
        const BYTE* value = reader.Here();
        ULONG valueSize = static_cast<ULONG>(size);
        // A binary is stored behind its length; the value is what follows it
        // (the recipient's entry identifier included).
        if (PROP_TYPE(tag) == PT_BINARY) {
            value += 2;
            valueSize -= 2;
        }
        SRecipientValue entry;
        entry.column = extraTags[i];
        entry.tag = tag;
        entry.bytes.assign(value, value + valueSize);
        record.values.push_back(std::move(entry));
        reader.Skip(static_cast<ULONG>(size));
    }
    return true;
}

// Reads one record of exactly size bytes; false when anything in it does not
// end inside it.
bool ReadRecord(const BYTE* begin, ULONG size, const std::vector<ULONG>& extraTags, SRecipientRecord& record)
{
    CRecordReader reader(begin, size);
    BYTE type = 0;
    USHORT flags = 0;
    if (!reader.Byte(type) || !reader.Seek(kRecordHeaderSize) || !reader.Word(flags))
        return false;
    record.type = type;
    record.flags = flags;
    record.layout = RecipientLayoutOf(flags);
    switch (record.layout) {
    case ERecipientLayout::A:
        if (!reader.Wide(&record.address))
            return false;
        record.hasAddress = true;
        if (flags == kFlagsWithThreeBytes && !reader.Skip(3))
            return false;
        if (!reader.FlaggedStrings(flags, &record.displayName, &record.hasDisplayName))
            return false;
        break;
    case ERecipientLayout::B:
        if (!reader.FlaggedStrings(flags, &record.displayName, &record.hasDisplayName))
            return false;
        break;
    case ERecipientLayout::C:
        if (!reader.Seek(kExchangeTextStart) || !reader.Ansi(record.exchangeText))
            return false;
        if (flags & kFlagExchangeName) {
            if (!reader.Wide(&record.displayName))
                return false;
            record.hasDisplayName = true;
            if (flags == kFlagsWithThreeBytes && !reader.Skip(3))
                return false;
        }
        if (!reader.FlaggedStrings(flags, nullptr, nullptr))
            return false;
        break;
    }
    return ReadValues(reader, extraTags, record);
}

void SetNotFound(SPropValue& value, ULONG tag)
{
    value.ulPropTag = CHANGE_PROP_TYPE(tag, PT_ERROR);
    value.dwAlignPad = 0;
    std::memset(&value.Value, 0, sizeof(value.Value));
    value.Value.err = MAPI_E_NOT_FOUND;
}

void SetNull(SPropValue& value)
{
    value.ulPropTag = PR_NULL;
    value.dwAlignPad = 0;
    std::memset(&value.Value, 0, sizeof(value.Value));
}

HRESULT SetText(SPropValue& value, ULONG tag, const std::wstring& text, LPVOID parent)
{
    value.ulPropTag = tag;
    value.dwAlignPad = 0;
    std::memset(&value.Value, 0, sizeof(value.Value));
    const HRESULT hr = MapiDupString(text.c_str(), parent, &value.Value.lpszW);
    if (FAILED(hr)) {
        value.ulPropTag = CHANGE_PROP_TYPE(tag, PT_ERROR);
        value.Value.err = hr;
    }
    return hr;
}

} // namespace

ERecipientLayout RecipientLayoutOf(USHORT flags)
{
    const bool exchangeFlags = flags == 0x8210 || flags == 0x8610;
    if (!(flags & 1) && !exchangeFlags)
        return ERecipientLayout::B;
    if (exchangeFlags || (flags & 0x7F) == 0x51 || (flags & 0xFF) == 0x91 || (flags & 0xFF) == 0xB1)
        return ERecipientLayout::C;
    return ERecipientLayout::A;
}

const wchar_t* RecipientAddressType(ERecipientLayout layout)
{
    switch (layout) {
    case ERecipientLayout::A:
        return L"SMTP";
    case ERecipientLayout::C:
        return L"EX";
    default:
        return nullptr;
    }
}

SRecipientRecords ParseRecipientRecords(const BYTE* data, ULONG size)
{
    SRecipientRecords result;
    if (!data || size == 0)
        return result;
    if (size < kHeaderSize) {
        result.leftOut.push_back({0, size});
        return result;
    }
    const ULONG count = U16(data);
    const ULONG tagCount = U16(data + 4);
    if ((size - kHeaderSize) / 4 < tagCount) {
        result.leftOut.push_back({0, size});
        return result;
    }
    result.extraTags.reserve(tagCount);
    for (ULONG i = 0; i < tagCount; ++i)
        result.extraTags.push_back(U32(data + kHeaderSize + 4 * i));

    ULONG at = kHeaderSize + 4 * tagCount;
    for (ULONG index = 0; index < count && at < size; ++index) {
        const ULONG left = size - at;
        if (left < kRecordHeaderSize) {
            result.leftOut.push_back({at, left});
            break;
        }
        const ULONG recordSize = kRecordHeaderSize + U16(data + at + 3);
        if (recordSize > left) {
            // Its end lies beyond the data, and so does every later record.
            result.leftOut.push_back({at, left});
            break;
        }
        SRecipientRecord record;
        record.index = index;
        if (ReadRecord(data + at, recordSize, result.extraTags, record))
            result.records.push_back(std::move(record));
        else
            result.leftOut.push_back({at, recordSize});
        at += recordSize;
    }
    return result;
}

SRecipientRecords ReadRecipientRecords(const BYTE* data, ULONG size, const wchar_t* dumpPrefix)
{
    CLastError record;
    return ReadRecipientRecords(data, size, dumpPrefix, record.LogPath());
}

SRecipientRecords ReadRecipientRecords(const BYTE* data, ULONG size, const wchar_t* dumpPrefix,
                                       std::wstring& logPath)
{
    SRecipientRecords result = ParseRecipientRecords(data, size);
    for (const SRecipientBytes& bytes : result.leftOut)
        LogHexDump(logPath, dumpPrefix, data + bytes.offset, bytes.size);
    return result;
}

std::vector<ULONG> RecipientTableColumns(const std::vector<ULONG>& extraTags)
{
    std::vector<ULONG> columns = {kPrInstanceKey,  kPrRowId,        kPrRecipientType,
                                  kPrAddrTypeW,    kPrDisplayNameW, kPrEmailAddressW};
    for (ULONG tag : extraTags)
        if (std::find(columns.begin(), columns.end(), tag) == columns.end())
            columns.push_back(tag);
    return columns;
}

namespace {

std::vector<BYTE> KeyBytes(const SPropValue& value)
{
    const BYTE* bytes = value.Value.bin.lpb;
    return bytes ? std::vector<BYTE>(bytes, bytes + value.Value.bin.cb) : std::vector<BYTE>();
}

// A row whose own instance key is missing or taken is keyed by its index
// (or the next free number).
HRESULT KeepInstanceKeyUnique(const SRecipientRecord& record, SPropValue& value, LPVOID parent,
                              std::set<std::vector<BYTE>>& keysInUse)
{
    if (value.ulPropTag == kPrInstanceKey && keysInUse.insert(KeyBytes(value)).second)
        return S_OK;
    ULONG index = record.index;
    const auto bytesOf = [](ULONG number) {
        const BYTE* b = reinterpret_cast<const BYTE*>(&number);
        return std::vector<BYTE>(b, b + sizeof(number));
    };
    while (keysInUse.count(bytesOf(index)))
        ++index;
    LPVOID bytes = nullptr;
    const HRESULT hr = MapiCopyBytes(parent, sizeof(index), &index, &bytes);
    if (FAILED(hr)) {
        SetNotFound(value, kPrInstanceKey);
        value.Value.err = hr;
        return hr;
    }
    value.ulPropTag = kPrInstanceKey;
    value.Value.bin.cb = sizeof(index);
    value.Value.bin.lpb = static_cast<LPBYTE>(bytes);
    keysInUse.insert(bytesOf(index));
    return S_OK;
}

} // namespace

HRESULT FillRecipientRow(const SRecipientRecord& record, const std::vector<ULONG>& columns, SPropValue* row,
                         LPVOID parent, std::set<std::vector<BYTE>>& keysInUse)
{
    if (!row)
        return E_INVALIDARG;
    HRESULT result = S_OK;
    const auto keep = [&result](HRESULT hr) {
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    };
    const auto valueFor = [&record](ULONG column) -> const SRecipientValue* {
        for (const SRecipientValue& value : record.values)
            if (value.column == column)
                return &value;
        return nullptr;
    };
    const wchar_t* addressType = RecipientAddressType(record.layout);
    for (size_t i = 0; i < columns.size(); ++i) {
        const ULONG column = columns[i];
        SPropValue& value = row[i];
        SetNull(value);
        if (const SRecipientValue* extra = valueFor(column)) {
            static const BYTE kNothing = 0;
            keep(ValueFromBytes(&value, extra->tag, extra->bytes.empty() ? &kNothing : extra->bytes.data(),
                                static_cast<ULONG>(extra->bytes.size()), parent));
            continue;
        }
        switch (column) {
        case kPrInstanceKey: {
            const ULONG key = record.index;
            value.ulPropTag = kPrInstanceKey;
            LPVOID bytes = nullptr;
            const HRESULT hr = MapiCopyBytes(parent, sizeof(key), &key, &bytes);
            if (FAILED(hr)) {
                SetNotFound(value, column);
                value.Value.err = hr;
                keep(hr);
            } else {
                value.Value.bin.cb = sizeof(key);
                value.Value.bin.lpb = static_cast<LPBYTE>(bytes);
            }
            break;
        }
        case kPrRowId:
            value.ulPropTag = kPrRowId;
            value.Value.l = static_cast<LONG>(record.index);
            break;
        case kPrRecipientType:
            value.ulPropTag = kPrRecipientType;
            value.Value.l = record.type;
            break;
        case kPrAddrTypeW:
            if (addressType)
                keep(SetText(value, column, addressType, parent));
            else
                SetNotFound(value, column);
            break;
        case kPrEmailAddressW:
            if (record.hasAddress)
                keep(SetText(value, column, record.address, parent));
            else
                SetNotFound(value, column);
            break;
        case kPrDisplayNameW:
            if (record.hasDisplayName)
                keep(SetText(value, column, record.displayName, parent));
            break;
        default:
            break;
        }
    }
    for (size_t i = 0; i < columns.size(); ++i)
        if (columns[i] == kPrInstanceKey)
            keep(KeepInstanceKeyUnique(record, row[i], parent, keysInUse));
    return result;
}
