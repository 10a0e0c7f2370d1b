#include "Platform.h"
#include "objects/CEseTableImpl.h"
#include "CException.h"
#include "EseValueMemory.h"
#include "esedb/CColumnInfo.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>
#include <set>

using NJbFramework::CColumnSet;
using NJbFramework::CSharedRef;
using NJbFramework::CTable;
using NJbFramework::SColumnDescriptor;

namespace {

constexpr unsigned long kMaximumValueSize = 8192;
constexpr long kNotFound = static_cast<long>(0x8004010F);    // MAPI_E_NOT_FOUND
constexpr long kOutOfMemory = static_cast<long>(0x8007000E); // E_OUTOFMEMORY: read it through a stream
constexpr unsigned long kTypeError = 0x000A;
constexpr unsigned long kTypeNull = 0x0001;
constexpr unsigned long kTypeBinary = 0x0102;
constexpr unsigned long kTypeI8 = 0x0014;
constexpr unsigned long kMultiValued = 0x1000;

unsigned long PropId(unsigned long tag) { return tag >> 16; }
unsigned long PropType(unsigned long tag) { return tag & 0xFFFF; }
unsigned long WithType(unsigned long tag, unsigned long type) { return (tag & 0xFFFF0000) | type; }

// Some properties live in both tables of a join: the message body in the
// folder's message table and in "Msg", the attachment times in the
// attachment table and in "Msg". For a table whose kind mask covers a row,
// the property is served only by the table of the row's serving kind.
struct STagMappingRule {
    unsigned long tag;
    unsigned long kindMask;
    unsigned long servingKind;
};
const STagMappingRule kTagMappingRules[] = {
    {0x1000001F, 0x5, kKindMsg},  {0x10130102, 0x5, kKindMsg},  {0x10090102, 0x5, kKindMsg},
    {0x1000001F, 0x14, kKindMsg}, {0x10130102, 0x14, kKindMsg}, {0x10090102, 0x14, kKindMsg},
    {0x30080040, 0x10, kKindAttachments}, {0x30070040, 0x10, kKindAttachments},
    {0, 0, 0},
};

bool MaskContains(unsigned long mask, unsigned long part) { return (mask & part) == part; }

// The link to a row of "Msg" (0x67B0) is held as a 64-bit column, but the
// provider asks for it as binary (PR_MSG_LINK, 0x67B00102): as the link of a
// contents row and as the identity of an embedded message. No binary column
// holds it, so the link column serves such a request with its 8 bytes.
constexpr unsigned long kMsgLinkId = 0x67B0;

bool IsLinkAsBinary(unsigned long requested, const SEseColumnRecord& record)
{
    return PropId(requested) == kMsgLinkId && PropType(requested) == kTypeBinary &&
           record.tag == ((kMsgLinkId << 16) | kTypeI8);
}

void SetError(_SEsePropertyValue& value, unsigned long tag, _EEseErrorSource source, long code)
{
    value.m_tag = tag;
    value.m_type = ESE_PT_ERROR;
    value.m_value.m_err.m_source = source;
    value.m_value.m_err.m_code = code;
}

bool IsTooLarge(const _SEsePropertyValue& value)
{
    return value.m_type == ESE_PT_ERROR && value.m_value.m_err.m_source == ESE_ERR_SRC_INT &&
           value.m_value.m_err.m_code == kOutOfMemory;
}

void* TaskAlloc(size_t size)
{
    void* block = CoTaskMemAlloc(size ? size : 1);
    if (!block)
        throw std::bad_alloc();
    return block;
}

void* TaskAllocZeroed(size_t size)
{
    void* block = TaskAlloc(size);
    memset(block, 0, size ? size : 1);
    return block;
}

char* CopyString8(const void* data, unsigned long size)
{
    char* text = static_cast<char*>(TaskAlloc(size + 1));
    memcpy(text, data, size);
    text[size] = 0;
    return text;
}

wchar_t* CopyString16(const void* data, unsigned long size)
{
    // Whole 16-bit units, then a terminating zero unit, so that the zero unit
    // stands aligned inside the block for every reader. A lone last byte of an
    // odd-length value is kept as the low byte of one more unit: a text column
    // can hold an 8-bit body (which readers tell by its bytes), and dropping
    // the byte would lose its last character.
    size_t units = (size + 1) / sizeof(wchar_t);
    auto* text = static_cast<wchar_t*>(TaskAlloc((units + 1) * sizeof(wchar_t)));
    text[units > 0 ? units - 1 : 0] = L'\0';
    memcpy(text, data, size);
    text[units] = L'\0';
    return text;
}

unsigned char* CopyBytes(const void* data, unsigned long size)
{
    auto* bytes = static_cast<unsigned char*>(TaskAlloc(size));
    memcpy(bytes, data, size);
    return bytes;
}

// Copies at most `size` bytes of a fixed-size stored value; a shorter stored
// value leaves the rest zero.
template <typename T>
void CopyFixed(T& target, const void* data, unsigned long size)
{
    memset(&target, 0, sizeof(T));
    memcpy(&target, data, std::min<size_t>(size, sizeof(T)));
}

// The contract type and element size of a multi-valued property type.
struct SMultiValuedType {
    _EEsePropertyType type;
    size_t elementSize;
};

SMultiValuedType MultiValuedType(unsigned long propType)
{
    switch (propType) {
    case 0x1002: return {ESE_PT_MV_INT16, 2};
    case 0x1003: return {ESE_PT_MV_INT32, 4};
    case 0x1004: return {ESE_PT_MV_FLOAT, 4};
    case 0x1005: return {ESE_PT_MV_DOUBLE, 8};
    case 0x1006:
    case 0x1014: return {ESE_PT_MV_INT64, 8};
    case 0x1007: return {ESE_PT_MV_DATETIME, 8};
    case 0x101E: return {ESE_PT_MV_STRING8, sizeof(char*)};
    case 0x101F: return {ESE_PT_MV_STRING16, sizeof(wchar_t*)};
    case 0x1040: return {ESE_PT_MV_FILETIME, 8};
    case 0x1048: return {ESE_PT_MV_GUID, 16};
    default: return {ESE_PT_MV_BINARY, sizeof(_SEseBinary)};
    }
}

// Fills element `index` of a multi-valued value made by ConvertValue.
void FillElement(_SEsePropertyValue& value, unsigned long index, const void* data, unsigned long size)
{
    // Every array record is {count, elements}.
    void* elements = value.m_value.m_mv_i32.m_p_i32;
    if (index >= value.m_value.m_mv_i32.m_count)
        return;
    switch (value.m_type) {
    case ESE_PT_MV_STRING8:
        static_cast<char**>(elements)[index] = CopyString8(data, size);
        break;
    case ESE_PT_MV_STRING16:
        static_cast<wchar_t**>(elements)[index] = CopyString16(data, size);
        break;
    case ESE_PT_MV_BINARY: {
        _SEseBinary& binary = static_cast<_SEseBinary*>(elements)[index];
        binary.m_p_bt = CopyBytes(data, size);
        binary.m_count = size;
        break;
    }
    default: {
        size_t elementSize = MultiValuedType(PropType(value.m_tag)).elementSize;
        memcpy(static_cast<char*>(elements) + index * elementSize, data, std::min<size_t>(size, elementSize));
        break;
    }
    }
}

// A stored value as a contract value of the tag's property type. For a
// multi-valued type the value is an array of `count` elements (at least 1)
// with the first one filled.
void ConvertValue(unsigned long tag, const void* data, unsigned long size, unsigned long count,
                  _SEsePropertyValue& value)
{
    memset(&value, 0, sizeof(value));
    value.m_tag = tag;
    unsigned long propType = PropType(tag);
    auto& v = value.m_value;
    if (propType & kMultiValued) {
        SMultiValuedType mv = MultiValuedType(propType);
        unsigned long elements = count ? count : 1;
        value.m_type = mv.type;
        v.m_mv_i32.m_p_i32 = static_cast<long*>(TaskAllocZeroed(mv.elementSize * elements));
        v.m_mv_i32.m_count = elements;
        FillElement(value, 0, data, size);
        return;
    }
    switch (propType) {
    case 0x0002: value.m_type = ESE_PT_INT16; CopyFixed(v.m_i16, data, size); break;
    case 0x0003: value.m_type = ESE_PT_INT32; CopyFixed(v.m_i32, data, size); break;
    case 0x0004: value.m_type = ESE_PT_FLOAT; CopyFixed(v.m_f, data, size); break;
    case 0x0005: value.m_type = ESE_PT_DOUBLE; CopyFixed(v.m_d, data, size); break;
    case 0x0006: value.m_type = ESE_PT_UINT64; CopyFixed(v.m_ui64, data, size); break;
    case 0x0007: value.m_type = ESE_PT_DATETIME; CopyFixed(v.m_dt, data, size); break;
    case 0x000B:
        value.m_type = ESE_PT_BOOL;
        v.m_b = (size > 0 && static_cast<const unsigned char*>(data)[0] != 0) ? 1 : 0;
        break;
    case 0x0014: value.m_type = ESE_PT_INT64; CopyFixed(v.m_i64, data, size); break;
    case 0x001E: value.m_type = ESE_PT_STRING8; v.m_p_s = CopyString8(data, size); break;
    case 0x001F: value.m_type = ESE_PT_STRING16; v.m_p_ws = CopyString16(data, size); break;
    case 0x0040: value.m_type = ESE_PT_FILETIME; CopyFixed(v.m_ft, data, size); break;
    case 0x0048:
        value.m_type = ESE_PT_GUID;
        v.m_p_g = static_cast<GUID*>(TaskAllocZeroed(sizeof(GUID)));
        memcpy(v.m_p_g, data, std::min<size_t>(size, sizeof(GUID)));
        break;
    default:
        value.m_type = ESE_PT_BINARY;
        v.m_bin.m_p_bt = CopyBytes(data, size);
        v.m_bin.m_count = size;
        break;
    }
}

bool RetrievedValue(const JET_RETRIEVECOLUMN& record)
{
    return record.err >= 0 && record.err != JET_wrnColumnNull;
}

int64_t RecordI64(const JET_RETRIEVECOLUMN& record)
{
    int64_t value = 0;
    if (record.pvData)
        memcpy(&value, record.pvData, std::min<unsigned long>(record.cbActual, std::min(record.cbData, 8ul)));
    return value;
}

bool IsLongValueType(JET_COLTYP type) { return type == JET_coltypLongBinary || type == JET_coltypLongText; }

} // namespace

bool ParseColumnName(const char* name, unsigned long* tag, bool* multiValued, char* letter)
{
    if (!name || strlen(name) < 2)
        return false;
    bool multi = false;
    if (name[0] == 'M' || name[0] == 'm') {
        multi = true;
        if (strlen(name) < 3)
            return false;
        ++name;
    }
    char typeLetter = name[0];
    unsigned short id = 0;
    if (sscanf(name + 1, "%hx", &id) != 1)
        id = 0;
    unsigned long type;
    switch (typeLetter) {
    case 'B': case 'b': type = 0x000B; break;
    case 'D': case 'd': type = 0x0005; break;
    case 'F': case 'f': type = 0x0102; break;
    case 'G': case 'g': type = 0x0048; break;
    case 'I': case 'i': type = 0x0002; break;
    case 'J': case 'j': type = 0x0105; break;
    case 'L': case 'l': type = 0x0003; break;
    case 'N': case 'n': type = 0x0102; break;
    case 'O': case 'o': type = 0x000D; break;
    case 'Q': case 'q': type = 0x0014; break;
    case 'S': case 's': type = 0x001F; break;
    case 'T': case 't': type = 0x0040; break;
    case 'V': case 'v': type = 0x0102; break;
    default: type = 0; break;
    }
    if (multi)
        type += kMultiValued;
    if (tag)
        *tag = (static_cast<unsigned long>(id) << 16) | type;
    if (multiValued)
        *multiValued = multi;
    if (letter)
        *letter = typeLetter;
    return true;
}

std::string FormatEseId(int64_t id)
{
    static const char kHex[] = "0123456789ABCDEF";
    unsigned char bytes[8];
    memcpy(bytes, &id, sizeof(bytes));
    std::string text;
    for (unsigned char byte : bytes) {
        text += kHex[byte >> 4];
        text += kHex[byte & 0xF];
    }
    size_t at = text.find_first_not_of('0');
    if (at == std::string::npos)
        return std::string();
    size_t runEnd = text.find('0', at);
    if (runEnd == std::string::npos)
        return text.substr(at);
    std::string name = text.substr(at, runEnd - at);
    size_t rest = text.find_first_not_of('0', runEnd);
    if (rest == std::string::npos)
        return name;
    return name + "-" + text.substr(rest);
}

CEseTableImpl::CEseTableImpl(unsigned short keyPropId, const CSharedRef<CEseStoreContext>& context,
                             const char* tableName, unsigned long kind)
    : m_keyPropId(keyPropId), m_tableName(tableName ? tableName : ""), m_kind(kind), m_kindMask(kind),
      m_computed(g_eseComputedProps)
{
    if (!context || !context->Database())
        ThrowServerError(kErrBadParameter, L"table=%hs has no open database", m_tableName.c_str());
    m_cursor.Reset(new CTable(context->Database(), m_tableName.c_str(), JET_bitTableReadOnly));
    m_context = context;
    Open();
    if (keyPropId == 0)
        return;
    const char* index = nullptr;
    if (_stricmp(m_tableName.c_str(), "Msg") == 0 && keyPropId == 0x67B0)
        index = "MsgIndex1";
    else if (_stricmp(m_tableName.c_str(), "Folders") == 0 && keyPropId == 0x6748)
        index = "FoldersIndex1";
    else if (_stricmp(m_tableName.c_str(), "Mailbox") == 0 && keyPropId == 0x6764)
        index = "MailboxIndex2";
    else if ((kind == kKindFolderMessages || kind == kKindAttachments) && keyPropId == 0x674A)
        index = "MsgFolderIndex6";
    if (index) {
        m_cursor->SetIndex(index);
        m_exactIndex = true;
    }
}

CEseTableImpl::~CEseTableImpl()
{
    m_keys.clear();
    m_selected.clear();
    m_linked.clear();
    m_context.Reset();
    m_cursor.Reset();
}

void CEseTableImpl::Open()
{
    m_keySet.reset(new CColumnSet());
    m_linkSet.reset(new CColumnSet());
    m_selectedSet.reset(new CColumnSet(kMaximumValueSize));
    m_catalogue.clear();
    m_keyColumn = nullptr;

    NJbFramework::CColumnInfo info;
    CSharedRef<CTable> list = info.ListColumns(*m_cursor);
    const JET_COLUMNLIST& columns = info.List();
    CColumnSet listSet;
    SColumnDescriptor* name = listSet.AddColumn(columns.columnidcolumnname);
    SColumnDescriptor* id = listSet.AddColumn(columns.columnidcolumnid);
    SColumnDescriptor* type = listSet.AddColumn(columns.columnidcoltyp);
    SColumnDescriptor* maximum = listSet.AddColumn(columns.columnidcbMax);
    SColumnDescriptor* codePage = listSet.AddColumn(columns.columnidCp);

    const SEseColumnRecord* keyRecord = nullptr;
    std::vector<SEseColumnRecord> catalogue;
    for (bool ok = list->Move(JET_MoveFirst, 0); ok; ok = list->Move(JET_MoveNext, 0)) {
        listSet.Fetch(*list, 1);
        SEseColumnRecord record{};
        if (RetrievedValue(*name->record) && name->record->pvData)
            record.name.assign(static_cast<const char*>(name->record->pvData),
                               std::min(name->record->cbActual, name->record->cbData));
        record.name = record.name.c_str(); // a stored terminating zero is no part of the name
        CopyFixed(record.columnId, id->record->pvData, id->record->pvData ? id->record->cbActual : 0);
        CopyFixed(record.columnType, type->record->pvData, type->record->pvData ? type->record->cbActual : 0);
        CopyFixed(record.maximumLength, maximum->record->pvData,
                  maximum->record->pvData ? maximum->record->cbActual : 0);
        CopyFixed(record.codePage, codePage->record->pvData,
                  codePage->record->pvData ? codePage->record->cbActual : 0);
        if (!ParseColumnName(record.name.c_str(), &record.tag, &record.multiValued, &record.letter))
            continue;
        // Excluded: columns of type 0x0105, the 'F' column of id 0x3701
        // (attachment data kept elsewhere) and two internal columns.
        if (PropType(record.tag) == 0x0105)
            continue;
        if ((record.letter == 'F') && PropId(record.tag) == 0x3701)
            continue;
        if (record.tag == 0x0E270102 || record.tag == 0x3F880014)
            continue;
        catalogue.push_back(record);
    }
    m_catalogue = std::move(catalogue);
    for (const SEseColumnRecord& record : m_catalogue) {
        if (m_keyPropId != 0 && PropId(record.tag) == m_keyPropId)
            keyRecord = &record;
    }
    if (keyRecord)
        m_keyColumn = m_keySet->AddColumn(keyRecord->columnId);
}

void CEseTableImpl::SetIndexByName(const char* name)
{
    m_cursor->SetIndex(name);
    if (_stricmp(m_tableName.c_str(), "Folders") == 0 && m_keyPropId == 0x6749)
        m_rangeIndex = true;
    else
        m_exactIndex = true;
}

const SEseColumnRecord* CEseTableImpl::FindColumn(unsigned long tag) const
{
    for (const STagMappingRule* rule = kTagMappingRules; rule->tag != 0; ++rule) {
        if (rule->tag != tag || !MaskContains(m_kindMask, rule->kindMask))
            continue;
        if (rule->servingKind != m_kind) {
            wchar_t text[160];
            _snwprintf(text, sizeof(text) / sizeof(text[0]) - 1,
                       L"table=%hs tag=%lx is ignored because of tag mapping rule\n", m_tableName.c_str(), tag);
            text[sizeof(text) / sizeof(text[0]) - 1] = 0;
            OutputDebugStringW(text);
            return nullptr;
        }
        break;
    }
    const SEseColumnRecord* binary = nullptr;
    for (const SEseColumnRecord& record : m_catalogue) {
        if (PropId(record.tag) != PropId(tag))
            continue;
        if (PropType(tag) == 0 || record.tag == tag)
            return &record;
        if (PropType(record.tag) == kTypeBinary)
            binary = &record;
    }
    if (binary || PropId(tag) != kMsgLinkId || PropType(tag) != kTypeBinary)
        return binary;
    for (const SEseColumnRecord& record : m_catalogue) {
        if (IsLinkAsBinary(tag, record))
            return &record;
    }
    return nullptr;
}

const SEseColumnRecord* CEseTableImpl::FindColumnThroughLinks(unsigned long tag, const CEseTableImpl** holder) const
{
    if (const SEseColumnRecord* record = FindColumn(tag)) {
        if (holder)
            *holder = this;
        return record;
    }
    for (const SLinked& linked : m_linked) {
        if (const SEseColumnRecord* record = linked.table->FindColumnThroughLinks(tag, holder))
            return record;
    }
    return nullptr;
}

void CEseTableImpl::SetKeyValues(unsigned long count, const int64_t* values, bool match)
{
    m_positioned = false;
    m_inRange = false;
    m_match = match;
    if (count != 0 && values)
        m_keys.assign(values, values + count);
    else
        m_keys.clear();
}

void CEseTableImpl::AddLinkedTable(unsigned short linkPropId, const CSharedRef<CEseTableImpl>& table)
{
    const SEseColumnRecord* record = FindColumn((static_cast<unsigned long>(linkPropId) << 16) | kTypeI8);
    if (!record)
        ThrowServerError(kErrColumnMissing, L"table=%hs cannot find link column by id=%x", m_tableName.c_str(),
                         linkPropId);
    // A join is a tree: a table that is already part of it (this one
    // included) would make the walks below endless.
    if (!table || table->IsInJoin(this))
        ThrowServerError(kErrBadParameter, L"table=%hs cannot be linked into its own join", m_tableName.c_str());
    SColumnDescriptor* column = m_linkSet->AddColumn(record->columnId);
    m_linked.push_back({column, table});
    table->UseComputedProperties(m_computed);
    SetKindMaskDown(m_kindMask | table->m_kindMask);
}

void CEseTableImpl::UseComputedProperties(const SComputedProperty* rules)
{
    m_computed = rules;
    for (SLinked& linked : m_linked)
        linked.table->UseComputedProperties(rules);
}

bool CEseTableImpl::IsInJoin(const CEseTableImpl* table) const
{
    if (table == this)
        return true;
    return std::any_of(m_linked.begin(), m_linked.end(),
                       [table](const SLinked& linked) { return linked.table->IsInJoin(table); });
}

void CEseTableImpl::SetKindMaskDown(unsigned long mask)
{
    m_kindMask = mask;
    for (SLinked& linked : m_linked)
        linked.table->SetKindMaskDown(mask);
}

void CEseTableImpl::AppendSelected(unsigned long tag)
{
    if (const SEseColumnRecord* record = FindColumn(tag))
        m_selected.push_back({IsLinkAsBinary(tag, *record) ? tag : record->tag,
                              m_selectedSet->AddColumn(record->columnId)});
    else
        m_selected.push_back({WithType(tag, kTypeError), nullptr});
}

void CEseTableImpl::SetColumns(unsigned long count, const unsigned long* tags)
{
    if (count != 0 && !tags)
        ThrowServerError(kErrBadParameter, L"parameter tagCount != 0, but pTags is null");
    m_requestedCount = count;
    m_selected.clear();
    m_selectedSet.reset(new CColumnSet(kMaximumValueSize));
    for (unsigned long i = 0; i < count; ++i)
        AppendSelected(tags[i]);
    for (const SComputedProperty* rule = m_computed; rule && rule->handler; ++rule) {
        if (!MaskContains(m_kindMask, rule->kindMask))
            continue;
        if (std::find(tags, tags + count, rule->targetTag) == tags + count)
            continue;
        for (unsigned long s = 0; s < rule->sourceCount && s < kMaxComputedSources; ++s)
            AppendSelected(rule->sourceTags[s]);
    }
    for (SLinked& linked : m_linked)
        linked.table->SetColumns(count, tags);
}

namespace {

void CollectColumns(const std::vector<unsigned long>& own, std::vector<unsigned long>& merged,
                    const std::vector<unsigned long>& linked)
{
    merged = own;
    for (size_t i = 0; i < merged.size() && i < linked.size(); ++i) {
        if (PropType(merged[i]) == kTypeError && PropType(linked[i]) != kTypeError)
            merged[i] = linked[i];
    }
}

} // namespace

void CEseTableImpl::GetColumns(bool all, unsigned long* count, unsigned long** tags)
{
    if (count)
        *count = 0;
    if (tags)
        *tags = nullptr;
    std::vector<unsigned long> result;
    if (all) {
        std::set<unsigned long> unique;
        for (const SEseColumnRecord& record : m_catalogue)
            unique.insert(record.tag);
        for (SLinked& linked : m_linked) {
            unsigned long linkedCount = 0;
            unsigned long* linkedTags = nullptr;
            linked.table->GetColumns(true, &linkedCount, &linkedTags);
            unique.insert(linkedTags, linkedTags + linkedCount);
            CoTaskMemFree(linkedTags);
        }
        result.assign(unique.begin(), unique.end());
    } else {
        // The columns of the rows GetRowValues hands out: the requested ones,
        // without the sources added for computed properties.
        for (unsigned long i = 0; i < m_requestedCount && i < m_selected.size(); ++i)
            result.push_back(m_selected[i].tag);
        for (SLinked& linked : m_linked) {
            unsigned long linkedCount = 0;
            unsigned long* linkedTags = nullptr;
            linked.table->GetColumns(false, &linkedCount, &linkedTags);
            std::vector<unsigned long> own = result;
            CollectColumns(own, result, std::vector<unsigned long>(linkedTags, linkedTags + linkedCount));
            CoTaskMemFree(linkedTags);
        }
    }
    if (result.empty() || !count || !tags)
        return;
    auto* block = static_cast<unsigned long*>(TaskAlloc(sizeof(unsigned long) * result.size()));
    std::copy(result.begin(), result.end(), block);
    *count = static_cast<unsigned long>(result.size());
    *tags = block;
}

bool CEseTableImpl::RetrieveColumn(unsigned long tag, unsigned long offset, unsigned long size, void* buffer,
                                   unsigned long* actualSize)
{
    const SEseColumnRecord* record = m_positioned ? FindColumn(tag) : nullptr;
    if (record) {
        JET_RETRIEVECOLUMN column;
        memset(&column, 0, sizeof(column));
        column.columnid = record->columnId;
        column.itagSequence = 1;
        if (IsLongValueType(record->columnType) || offset == 0) {
            column.pvData = buffer;
            column.cbData = buffer ? size : 0;
            column.ibLongValue = offset;
            m_cursor->RetrieveColumns(&column, 1);
            if (RetrievedValue(column)) {
                if (actualSize)
                    *actualSize = column.cbActual;
                return true;
            }
        } else {
            // The engine reads from an offset only in long values: a short
            // value is read whole and the part from the offset handed out.
            std::vector<char> whole(256);
            for (;;) {
                column.pvData = whole.data();
                column.cbData = static_cast<unsigned long>(whole.size());
                m_cursor->RetrieveColumns(&column, 1);
                if (!RetrievedValue(column) || column.cbActual <= whole.size())
                    break;
                whole.resize(column.cbActual);
            }
            if (RetrievedValue(column)) {
                unsigned long rest = column.cbActual > offset ? column.cbActual - offset : 0;
                if (buffer && size)
                    memcpy(buffer, whole.data() + (rest ? offset : 0), std::min(rest, size));
                if (actualSize)
                    *actualSize = rest;
                return true;
            }
        }
    }
    for (SLinked& linked : m_linked) {
        if (linked.table->RetrieveColumn(tag, offset, size, buffer, actualSize))
            return true;
    }
    return false;
}

bool CEseTableImpl::KeyIsListed(int64_t key) const
{
    return std::find(m_keys.begin(), m_keys.end(), key) != m_keys.end();
}

bool CEseTableImpl::Move(bool first)
{
    m_positioned = false;
    if (first)
        m_keyPosition = 0;
    bool keyed = m_keyColumn && m_match && !m_keys.empty();
    if (m_exactIndex && keyed) {
        if (m_keyPosition < m_keys.size()) {
            int64_t key = m_keys[m_keyPosition++];
            m_positioned = m_cursor->SeekExact(&key, sizeof(key));
            // An absent key ends the sequence for later moves too.
            if (!m_positioned)
                m_keyPosition = m_keys.size();
        }
    } else if (m_rangeIndex && keyed) {
        // Moving on is only allowed inside a range that was set: after a
        // failed seek or the range's end the cursor stands outside it, where
        // the next row belongs to another key.
        if (first)
            m_inRange = m_cursor->SeekRange(&m_keys[0], sizeof(int64_t));
        else if (m_inRange)
            m_inRange = m_cursor->Move(JET_MoveNext, 0);
        m_positioned = m_inRange;
    } else {
        bool ok = m_cursor->Move(first ? JET_MoveFirst : JET_MoveNext, 0);
        while (ok && m_keyColumn && !m_keys.empty()) {
            m_keySet->Fetch(*m_cursor, 1);
            const JET_RETRIEVECOLUMN& key = *m_keyColumn->record;
            bool listed = RetrievedValue(key) && KeyIsListed(RecordI64(key));
            if (listed == m_match)
                break;
            ok = m_cursor->Move(JET_MoveNext, 0);
        }
        m_positioned = ok;
    }
    if (m_positioned && !m_linked.empty())
        PositionLinkedTables();
    return m_positioned;
}

void CEseTableImpl::PositionLinkedTables()
{
    m_linkSet->Fetch(*m_cursor, 1);
    for (SLinked& linked : m_linked) {
        linked.table->SetKeyValues(0, nullptr, true);
        const JET_RETRIEVECOLUMN& link = *linked.column->record;
        if (!RetrievedValue(link))
            continue;
        int64_t value = RecordI64(link);
        linked.table->SetKeyValues(1, &value, true);
        linked.table->Move(true);
    }
}

void CEseTableImpl::GetRows(unsigned long maximum, bool restart, unsigned long* count, _SEseRow** rows)
{
    if (count)
        *count = 0;
    if (rows)
        *rows = nullptr;
    if (!count || !rows)
        ThrowServerError(kErrBadParameter, L"parameter pActualRowCount or ppRows is null");
    std::vector<_SEseRow> collected;
    try {
        // The cursor moves only to rows it hands out, so that a following
        // call with restart = false continues with the next row.
        for (bool first = true; collected.size() < maximum; first = false) {
            if (!Move(first ? restart : false))
                break;
            _SEseRow row{0, nullptr};
            GetRowValues(&row);
            collected.push_back(row);
        }
        if (collected.empty())
            return;
        auto* block = static_cast<_SEseRow*>(TaskAlloc(sizeof(_SEseRow) * collected.size()));
        std::copy(collected.begin(), collected.end(), block);
        *rows = block;
        *count = static_cast<unsigned long>(collected.size());
    } catch (...) {
        for (_SEseRow& row : collected)
            FreeEseValues(row.m_p_values, row.m_valueCount);
        throw;
    }
}

void CEseTableImpl::GetRowValues(_SEseRow* row)
{
    if (!row)
        ThrowServerError(kErrBadParameter, L"parameter row is null");
    row->m_valueCount = m_requestedCount;
    row->m_p_values = nullptr;
    if (m_requestedCount == 0)
        return;
    unsigned long count = static_cast<unsigned long>(m_selected.size());
    auto* values = static_cast<_SEsePropertyValue*>(TaskAllocZeroed(sizeof(_SEsePropertyValue) * count));
    for (unsigned long i = 0; i < count; ++i)
        SetError(values[i], WithType(m_selected[i].tag, kTypeError), ESE_ERR_SRC_INT, kNotFound);
    try {
        FillValues(values, count);
        for (const SComputedProperty* rule = m_computed; rule && rule->handler; ++rule) {
            if (!MaskContains(m_kindMask, rule->kindMask))
                continue;
            bool selected = std::any_of(m_selected.begin(), m_selected.end(), [rule](const SSelected& entry) {
                return PropId(entry.tag) == PropId(rule->targetTag);
            });
            if (selected)
                rule->handler(count, values, m_context);
        }
    } catch (...) {
        FreeEseValues(values, count);
        throw;
    }
    if (count > m_requestedCount) {
        for (unsigned long i = m_requestedCount; i < count; ++i)
            FreeEseValueContents(values[i]);
        void* shrunk = CoTaskMemRealloc(values, sizeof(_SEsePropertyValue) * m_requestedCount);
        if (shrunk)
            values = static_cast<_SEsePropertyValue*>(shrunk);
    }
    row->m_p_values = values;
}

void CEseTableImpl::FillValues(_SEsePropertyValue* values, unsigned long count)
{
    if (m_positioned)
        FillFromThisTable(values, count);
    for (SLinked& linked : m_linked)
        linked.table->FillValues(values, count);
}

void CEseTableImpl::FillFromThisTable(_SEsePropertyValue* values, unsigned long count)
{
    unsigned long entries = std::min<unsigned long>(count, static_cast<unsigned long>(m_selected.size()));
    if (m_selectedSet->Count() == 0 || entries == 0)
        return;
    // First the number of values of every column, then the first values.
    m_selectedSet->Fetch(*m_cursor, 0);
    std::vector<unsigned long> valueCounts(entries, 0);
    unsigned long largest = 0;
    for (unsigned long i = 0; i < entries; ++i) {
        if (!m_selected[i].column)
            continue;
        valueCounts[i] = m_selected[i].column->record->itagSequence;
        largest = std::max(largest, valueCounts[i]);
    }
    m_selectedSet->Fetch(*m_cursor, 1);
    std::vector<bool> takenMultiValued(entries, false);
    for (unsigned long i = 0; i < entries; ++i) {
        const SSelected& entry = m_selected[i];
        if (!entry.column)
            continue;
        const JET_RETRIEVECOLUMN& record = *entry.column->record;
        _SEsePropertyValue& value = values[i];
        bool unfilled = value.m_type == ESE_PT_ERROR;
        bool tooLarge = unfilled && IsTooLarge(value);
        unsigned long id = PropId(value.m_tag);
        if (record.err == JET_wrnColumnNull) {
            if (unfilled && !tooLarge)
                SetError(value, (id << 16) | kTypeNull, ESE_ERR_SRC_INT, kNotFound);
            continue;
        }
        if (record.err < 0) {
            if (unfilled && !tooLarge)
                SetError(value, value.m_tag, ESE_ERR_SRC_JET, record.err);
            continue;
        }
        // A later table replaces a shorter text or binary value.
        bool take = (unfilled && !tooLarge) ||
                    (value.m_type == ESE_PT_STRING8 && strlen(value.m_value.m_p_s) < record.cbActual) ||
                    (value.m_type == ESE_PT_STRING16 && wcslen(value.m_value.m_p_ws) < record.cbActual / 2) ||
                    (value.m_type == ESE_PT_BINARY && value.m_value.m_bin.m_count < record.cbActual);
        if (!take)
            continue;
        FreeEseValueContents(value);
        if (record.cbActual <= record.cbData) {
            ConvertValue(entry.tag, record.pvData, record.cbActual, valueCounts[i], value);
            takenMultiValued[i] = (PropType(entry.tag) & kMultiValued) != 0;
        } else {
            SetError(value, (id << 16) | kTypeError, ESE_ERR_SRC_INT, kOutOfMemory);
        }
    }
    for (unsigned long sequence = 2; sequence <= largest; ++sequence) {
        m_selectedSet->Fetch(*m_cursor, sequence);
        for (unsigned long i = 0; i < entries; ++i) {
            if (!takenMultiValued[i] || valueCounts[i] < sequence)
                continue;
            const JET_RETRIEVECOLUMN& record = *m_selected[i].column->record;
            if (record.err < 0 || record.err == JET_wrnColumnNull)
                continue;
            _SEsePropertyValue& value = values[i];
            if (record.cbActual > record.cbData) {
                // An element too long for a row: the value is read through a
                // stream like any other value too large, never truncated.
                unsigned long id = PropId(value.m_tag);
                FreeEseValueContents(value);
                SetError(value, (id << 16) | kTypeError, ESE_ERR_SRC_INT, kOutOfMemory);
                takenMultiValued[i] = false;
                continue;
            }
            FillElement(value, sequence - 1, record.pvData, record.cbActual);
        }
    }
}
