// Tables, keys and the byte formats of records and changes.
#include "EseStandIn.h"

#include <algorithm>
#include <cstring>

namespace esestandin {

void Fail(JET_ERR err)
{
    throw JetError{err};
}

std::string Lower(const std::string& text)
{
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return result;
}

bool SameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && Lower(a) == Lower(b);
}

unsigned long ColumnDef::TypeSize() const
{
    switch (coltyp) {
    case JET_coltypBit:
    case JET_coltypUnsignedByte:
        return 1;
    case JET_coltypShort:
    case JET_coltypUnsignedShort:
        return 2;
    case JET_coltypLong:
    case JET_coltypUnsignedLong:
    case JET_coltypIEEESingle:
        return 4;
    case JET_coltypCurrency:
    case JET_coltypIEEEDouble:
    case JET_coltypDateTime:
    case JET_coltypLongLong:
        return 8;
    case JET_coltypGUID:
        return 16;
    default:
        return 0;
    }
}

bool operator<(const IndexEntry& a, const IndexEntry& b)
{
    int order = a.key.compare(b.key);
    if (order != 0)
        return order < 0;
    return a.recid < b.recid;
}

bool EntryOrder::operator()(const IndexEntry& a, const KeyPrefix& b) const
{
    return ComparePrefix(a.key, b.key) < 0;
}

bool EntryOrder::operator()(const KeyPrefix& a, const IndexEntry& b) const
{
    return ComparePrefix(b.key, a.key) > 0;
}

// ---- keys -------------------------------------------------------------------

namespace {

void AppendBigEndian(Bytes& out, uint64_t value, unsigned size)
{
    for (unsigned i = 0; i < size; ++i)
        out.push_back(static_cast<char>((value >> (8 * (size - 1 - i))) & 0xFF));
}

uint64_t LittleEndian(const Bytes& value, unsigned size)
{
    uint64_t result = 0;
    for (unsigned i = 0; i < size && i < value.size(); ++i)
        result |= static_cast<uint64_t>(static_cast<unsigned char>(value[i])) << (8 * i);
    return result;
}

void AppendEscaped(Bytes& out, const Bytes& data)
{
    for (char c : data) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte <= 1) {
            out.push_back('\x01');
            out.push_back(static_cast<char>(byte + 1));
        } else {
            out.push_back(c);
        }
    }
}

// Text keys ignore case, as ESE's default LCMapString normalization does.
Bytes TextSortBytes(const ColumnDef& column, const Bytes& value)
{
    std::wstring wide;
    if (column.cp == 1200) {
        wide.assign(reinterpret_cast<const wchar_t*>(value.data()), value.size() / 2);
    } else {
        wide = Widen(value, column.cp == 0 ? CP_ACP : column.cp);
    }
    if (!wide.empty())
        CharUpperBuffW(&wide[0], static_cast<DWORD>(wide.size()));
    return Narrow(wide, CP_UTF8);
}

} // namespace

Bytes NormalizeSegment(const ColumnDef& column, const Bytes* value, bool descending, bool complete)
{
    Bytes segment;
    if (!value) {
        segment.push_back('\x00');
    } else {
        segment.push_back('\x7F');
        unsigned size = column.TypeSize();
        switch (column.coltyp) {
        case JET_coltypBit:
            segment.push_back(!value->empty() && (*value)[0] != 0 ? '\xFF' : '\x00');
            break;
        case JET_coltypUnsignedByte:
        case JET_coltypUnsignedShort:
        case JET_coltypUnsignedLong:
            AppendBigEndian(segment, LittleEndian(*value, size), size);
            break;
        case JET_coltypShort:
        case JET_coltypLong:
        case JET_coltypCurrency:
        case JET_coltypLongLong: {
            uint64_t bits = LittleEndian(*value, size) ^ (uint64_t(1) << (8 * size - 1));
            AppendBigEndian(segment, bits, size);
            break;
        }
        case JET_coltypIEEESingle:
        case JET_coltypIEEEDouble:
        case JET_coltypDateTime: {
            uint64_t bits = LittleEndian(*value, size);
            uint64_t sign = uint64_t(1) << (8 * size - 1);
            uint64_t mask = size == 8 ? ~uint64_t(0) : ((uint64_t(1) << (8 * size)) - 1);
            bits = (bits & sign) ? (~bits & mask) : (bits | sign);
            AppendBigEndian(segment, bits, size);
            break;
        }
        case JET_coltypGUID:
            segment.append(value->substr(0, 16));
            segment.append(16 - std::min<size_t>(16, value->size()), '\0');
            break;
        case JET_coltypText:
        case JET_coltypLongText:
            AppendEscaped(segment, TextSortBytes(column, *value));
            if (complete)
                segment.push_back('\x00');
            break;
        default:
            AppendEscaped(segment, *value);
            if (complete)
                segment.push_back('\x00');
            break;
        }
    }
    if (descending) {
        for (char& c : segment)
            c = static_cast<char>(~static_cast<unsigned char>(c));
    }
    return segment;
}

int ComparePrefix(const Bytes& entryKey, const Bytes& searchKey)
{
    return entryKey.compare(0, searchKey.size(), searchKey);
}

// ---- tables -----------------------------------------------------------------

const ColumnDef* CTableData::FindColumn(const std::string& columnName) const
{
    for (const auto& entry : columns) {
        if (SameName(entry.second.name, columnName))
            return &entry.second;
    }
    return nullptr;
}

const ColumnDef* CTableData::FindColumn(JET_COLUMNID columnid) const
{
    auto found = columns.find(columnid);
    return found == columns.end() ? nullptr : &found->second;
}

const IndexDef* CTableData::FindIndex(const std::string& indexName) const
{
    for (const IndexDef& index : indexes) {
        if (SameName(index.name, indexName))
            return &index;
    }
    return nullptr;
}

const IndexDef* CTableData::PrimaryIndex() const
{
    for (const IndexDef& index : indexes) {
        if (index.IsPrimary())
            return &index;
    }
    return nullptr;
}

// Column ids as ESE hands them out: fixed columns from 1, variable ones from
// 128, tagged ones (long values and multi-valued columns among them) from 256.
JET_COLUMNID CTableData::NextColumnId(const ColumnDef& def) const
{
    JET_COLUMNID first;
    bool tagged = (def.grbit & (JET_bitColumnTagged | JET_bitColumnMultiValued)) != 0 || def.IsLongValue();
    if (tagged)
        first = 256;
    else if (def.TypeSize() != 0 || (def.grbit & JET_bitColumnFixed))
        first = 1;
    else
        first = 128;
    JET_COLUMNID last = first == 1 ? 127 : first == 128 ? 255 : 0xFFFF;
    JET_COLUMNID next = first;
    for (const auto& entry : columns) {
        if (entry.first >= first && entry.first <= last && entry.first >= next)
            next = entry.first + 1;
    }
    if (next > last)
        Fail(JET_errTooManyColumns);
    return next;
}

std::vector<Bytes> CTableData::RecordKeys(const IndexDef* index, uint32_t recid, const Record& record) const
{
    std::vector<Bytes> keys;
    if (!index) {
        Bytes key;
        AppendBigEndian(key, recid, 4);
        keys.push_back(key);
        return keys;
    }
    // Only the first multi-valued segment fans out into one entry per value.
    int fanOut = -1;
    size_t fanCount = 1;
    for (size_t i = 0; i < index->segments.size(); ++i) {
        const ColumnDef* column = FindColumn(index->segments[i].column);
        auto values = record.values.find(index->segments[i].column);
        if (column && column->IsMultiValued() && values != record.values.end() && values->second.size() > 1) {
            fanOut = static_cast<int>(i);
            fanCount = values->second.size();
            break;
        }
    }
    for (size_t n = 0; n < fanCount; ++n) {
        Bytes key;
        bool anyNull = false, allNull = true, firstNull = false;
        for (size_t i = 0; i < index->segments.size(); ++i) {
            const KeySegment& segment = index->segments[i];
            const ColumnDef* column = FindColumn(segment.column);
            auto values = record.values.find(segment.column);
            const Bytes* value = nullptr;
            if (values != record.values.end() && !values->second.empty())
                value = &values->second[static_cast<int>(i) == fanOut ? n : 0];
            if (!value) {
                anyNull = true;
                if (i == 0)
                    firstNull = true;
            } else {
                allNull = false;
            }
            if (column)
                key += NormalizeSegment(*column, value, segment.descending, true);
        }
        if ((index->grbit & JET_bitIndexIgnoreNull) && allNull)
            continue;
        if ((index->grbit & JET_bitIndexIgnoreAnyNull) && anyNull)
            continue;
        if ((index->grbit & JET_bitIndexIgnoreFirstNull) && firstNull)
            continue;
        keys.push_back(key);
    }
    return keys;
}

const IndexDef* CTableData::IndexOfCacheName(const std::string& cacheName) const
{
    return cacheName.empty() ? nullptr : FindIndex(cacheName);
}

const IndexEntries& CTableData::Entries(const IndexDef* index)
{
    std::string cacheName = index ? Lower(index->name) : std::string();
    auto cached = m_entryCache.find(cacheName);
    if (cached != m_entryCache.end())
        return cached->second;
    IndexEntries& entries = m_entryCache[cacheName];
    for (const auto& record : records) {
        for (Bytes& key : RecordKeys(index, record.first, record.second))
            entries.insert(entries.end(), IndexEntry{std::move(key), record.first});
    }
    return entries;
}

void CTableData::PutRecord(uint32_t recid, Record record)
{
    auto existing = records.find(recid);
    for (auto& cached : m_entryCache) {
        const IndexDef* index = IndexOfCacheName(cached.first);
        if (!cached.first.empty() && !index)
            continue;
        if (existing != records.end()) {
            for (Bytes& key : RecordKeys(index, recid, existing->second))
                cached.second.erase(IndexEntry{std::move(key), recid});
        }
        for (Bytes& key : RecordKeys(index, recid, record))
            cached.second.insert(IndexEntry{std::move(key), recid});
    }
    if (existing != records.end())
        existing->second = std::move(record);
    else
        records.emplace(recid, std::move(record));
}

void CTableData::EraseRecord(uint32_t recid)
{
    auto existing = records.find(recid);
    if (existing == records.end())
        return;
    for (auto& cached : m_entryCache) {
        const IndexDef* index = IndexOfCacheName(cached.first);
        if (!cached.first.empty() && !index)
            continue;
        for (Bytes& key : RecordKeys(index, recid, existing->second))
            cached.second.erase(IndexEntry{std::move(key), recid});
    }
    records.erase(existing);
}

std::shared_ptr<CTableData> DbImage::FindTable(const std::string& tableName) const
{
    for (const auto& entry : tables) {
        if (SameName(entry.second->name, tableName))
            return entry.second;
    }
    return nullptr;
}

// ---- byte formats -------------------------------------------------------------

void PutU32(Bytes& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void PutU64(Bytes& out, uint64_t value)
{
    PutU32(out, static_cast<uint32_t>(value));
    PutU32(out, static_cast<uint32_t>(value >> 32));
}

void PutString(Bytes& out, const std::string& text)
{
    PutU32(out, static_cast<uint32_t>(text.size()));
    out += text;
}

void CReader::Need(size_t count)
{
    if (m_data.size() - m_pos < count)
        Fail(m_malformed);
}

uint8_t CReader::U8()
{
    Need(1);
    return static_cast<uint8_t>(m_data[m_pos++]);
}

uint32_t CReader::U32()
{
    Need(4);
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(static_cast<unsigned char>(m_data[m_pos + i])) << (8 * i);
    m_pos += 4;
    return value;
}

uint64_t CReader::U64()
{
    uint64_t low = U32();
    uint64_t high = U32();
    return low | (high << 32);
}

std::string CReader::String()
{
    uint32_t size = U32();
    Need(size);
    std::string text = m_data.substr(m_pos, size);
    m_pos += size;
    return text;
}

Bytes CReader::Rest()
{
    Bytes rest = m_data.substr(m_pos);
    m_pos = m_data.size();
    return rest;
}

Bytes SerializeRecord(const Record& record)
{
    Bytes out;
    PutU32(out, static_cast<uint32_t>(record.values.size()));
    for (const auto& column : record.values) {
        PutU32(out, column.first);
        PutU32(out, static_cast<uint32_t>(column.second.size()));
        for (const Bytes& value : column.second)
            PutString(out, value);
    }
    return out;
}

Record ParseRecord(const Bytes& data)
{
    Record record;
    CReader reader(data, JET_errDatabaseCorrupted);
    uint32_t columnCount = reader.U32();
    for (uint32_t i = 0; i < columnCount; ++i) {
        JET_COLUMNID columnid = reader.U32();
        uint32_t valueCount = reader.U32();
        std::vector<Bytes>& values = record.values[columnid];
        for (uint32_t v = 0; v < valueCount; ++v)
            values.push_back(reader.String());
    }
    return record;
}

Bytes SerializeSegments(const std::vector<KeySegment>& segments)
{
    Bytes out;
    PutU32(out, static_cast<uint32_t>(segments.size()));
    for (const KeySegment& segment : segments) {
        PutU32(out, segment.column);
        PutU32(out, segment.descending ? 1 : 0);
    }
    return out;
}

std::vector<KeySegment> ParseSegments(const Bytes& data)
{
    CReader reader(data, JET_errDatabaseCorrupted);
    std::vector<KeySegment> segments(reader.U32());
    for (KeySegment& segment : segments) {
        segment.column = reader.U32();
        segment.descending = reader.U32() != 0;
    }
    return segments;
}

Bytes SerializeOps(const std::vector<Op>& ops)
{
    Bytes out;
    PutU32(out, static_cast<uint32_t>(ops.size()));
    for (const Op& op : ops) {
        out.push_back(static_cast<char>(op.kind));
        PutU32(out, op.table);
        switch (op.kind) {
        case OpKind::CreateTable:
        case OpKind::DropIndex:
            PutString(out, op.name);
            break;
        case OpKind::AddColumn:
            PutU32(out, op.column.id);
            PutString(out, op.column.name);
            PutU32(out, static_cast<uint32_t>(op.column.coltyp));
            PutU32(out, op.column.cp);
            PutU32(out, op.column.cbMax);
            PutU32(out, op.column.grbit);
            PutString(out, op.column.defaultValue);
            break;
        case OpKind::DropColumn:
            PutU32(out, op.column.id);
            break;
        case OpKind::CreateIndex:
            PutString(out, op.index.name);
            PutU32(out, op.index.grbit);
            PutU32(out, op.index.density);
            PutString(out, SerializeSegments(op.index.segments));
            break;
        case OpKind::PutRecord:
            PutU32(out, op.recid);
            PutString(out, op.data);
            break;
        case OpKind::DeleteRecord:
            PutU32(out, op.recid);
            break;
        case OpKind::DropTable:
            break;
        }
    }
    return out;
}

std::vector<Op> ParseOps(const Bytes& data)
{
    CReader reader(data, JET_errLogFileCorrupt);
    std::vector<Op> ops(reader.U32());
    for (Op& op : ops) {
        op.kind = static_cast<OpKind>(reader.U8());
        op.table = reader.U32();
        switch (op.kind) {
        case OpKind::CreateTable:
        case OpKind::DropIndex:
            op.name = reader.String();
            break;
        case OpKind::AddColumn:
            op.column.id = reader.U32();
            op.column.name = reader.String();
            op.column.coltyp = static_cast<JET_COLTYP>(reader.U32());
            op.column.cp = static_cast<unsigned short>(reader.U32());
            op.column.cbMax = reader.U32();
            op.column.grbit = reader.U32();
            op.column.defaultValue = reader.String();
            break;
        case OpKind::DropColumn:
            op.column.id = reader.U32();
            break;
        case OpKind::CreateIndex:
            op.index.name = reader.String();
            op.index.grbit = reader.U32();
            op.index.density = reader.U32();
            try {
                op.index.segments = ParseSegments(reader.String());
            } catch (const JetError&) {
                Fail(JET_errLogFileCorrupt);
            }
            break;
        case OpKind::PutRecord:
            op.recid = reader.U32();
            op.data = reader.String();
            break;
        case OpKind::DeleteRecord:
            op.recid = reader.U32();
            break;
        case OpKind::DropTable:
            break;
        default:
            Fail(JET_errLogFileCorrupt);
        }
    }
    return ops;
}

void ApplyToImage(DbImage& image, const Op& op)
{
    if (op.kind == OpKind::CreateTable) {
        auto table = std::make_shared<CTableData>();
        table->id = op.table;
        table->name = op.name;
        image.tables[op.table] = table;
        image.nextTableId = std::max(image.nextTableId, op.table + 1);
        return;
    }
    auto found = image.tables.find(op.table);
    if (found == image.tables.end())
        Fail(JET_errDatabaseCorrupted);
    CTableData& table = *found->second;
    switch (op.kind) {
    case OpKind::AddColumn:
        table.columns[op.column.id] = op.column;
        break;
    case OpKind::DropColumn:
        table.columns.erase(op.column.id);
        break;
    case OpKind::CreateIndex:
        table.indexes.push_back(op.index);
        break;
    case OpKind::DropIndex:
        table.indexes.erase(std::remove_if(table.indexes.begin(), table.indexes.end(),
                                           [&](const IndexDef& index) { return SameName(index.name, op.name); }),
                            table.indexes.end());
        break;
    case OpKind::PutRecord:
        table.PutRecord(op.recid, ParseRecord(op.data));
        table.nextRecid = std::max(table.nextRecid, op.recid + 1);
        return;
    case OpKind::DeleteRecord:
        table.EraseRecord(op.recid);
        return;
    case OpKind::DropTable:
        image.tables.erase(found);
        return;
    default:
        break;
    }
    table.Changed();
}

// ---- paths and text ------------------------------------------------------------

std::wstring Widen(const std::string& text, UINT codePage)
{
    if (text.empty())
        return std::wstring();
    int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(length, L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string Narrow(const std::wstring& text, UINT codePage)
{
    if (text.empty())
        return std::string();
    int length = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                     nullptr);
    std::string narrow(length, '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &narrow[0], length, nullptr,
                        nullptr);
    return narrow;
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    char last = folder.back();
    if (last == '\\' || last == '/')
        return folder + name;
    return folder + "\\" + name;
}

std::string FullPath(const std::string& path)
{
    char buffer[MAX_PATH * 2];
    DWORD length = GetFullPathNameA(path.c_str(), sizeof(buffer), buffer, nullptr);
    if (length == 0 || length >= sizeof(buffer))
        return path;
    return std::string(buffer, length);
}

bool FileExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path)
{
    std::string folder = path;
    while (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/') && folder[folder.size() - 2] != ':')
        folder.pop_back();
    if (folder.empty())
        return true;
    DWORD attributes = GetFileAttributesA(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

uint64_t RandomU64()
{
    GUID guid;
    if (FAILED(CoCreateGuid(&guid))) {
        LARGE_INTEGER counter;
        QueryPerformanceCounter(&counter);
        return static_cast<uint64_t>(counter.QuadPart) ^ GetTickCount();
    }
    uint64_t value;
    memcpy(&value, &guid, sizeof(value));
    uint64_t high;
    memcpy(&high, reinterpret_cast<const char*>(&guid) + 8, sizeof(high));
    return (value ^ high) | 1;
}

} // namespace esestandin
