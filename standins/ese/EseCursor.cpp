// Cursors: current index, keys, seeks, index ranges, moves, values and updates.
#include "EseEngine.h"

#include <algorithm>
#include <cstring>

namespace esestandin {

// ---- position ---------------------------------------------------------------------

const IndexDef* CEngine::CurrentIndex(Cursor& cursor) const
{
    if (!cursor.indexName.empty()) {
        if (const IndexDef* index = cursor.table->FindIndex(cursor.indexName))
            return index;
    }
    return cursor.table->PrimaryIndex();
}

const IndexEntries& CEngine::EntriesOf(Cursor& cursor)
{
    return cursor.table->Entries(CurrentIndex(cursor));
}

bool CEngine::InRange(const Cursor& cursor, const IndexEntry& entry) const
{
    if (!cursor.rangeActive)
        return true;
    int order = ComparePrefix(entry.key, cursor.rangeLimit);
    if (cursor.rangeUpper)
        return cursor.rangeInclusive ? order <= 0 : order < 0;
    return cursor.rangeInclusive ? order >= 0 : order > 0;
}

// The first entry after the cursor's position (end: none).
IndexEntries::const_iterator CEngine::FirstAfter(Cursor& cursor)
{
    const IndexEntries& entries = EntriesOf(cursor);
    const Position& pos = cursor.position;
    switch (pos.kind) {
    case PosKind::BeforeFirst:
        return entries.begin();
    case PosKind::AfterLast:
        return entries.end();
    case PosKind::OnEntry:
        return entries.upper_bound(IndexEntry{pos.key, pos.recid});
    case PosKind::Gap:
        return entries.lower_bound(IndexEntry{pos.key, pos.recid});
    }
    return entries.end();
}

// The last entry before the cursor's position (end: none).
IndexEntries::const_iterator CEngine::LastBefore(Cursor& cursor)
{
    const IndexEntries& entries = EntriesOf(cursor);
    const Position& pos = cursor.position;
    IndexEntries::const_iterator after;
    switch (pos.kind) {
    case PosKind::BeforeFirst:
        return entries.end();
    case PosKind::AfterLast:
        after = entries.end();
        break;
    default:
        after = entries.lower_bound(IndexEntry{pos.key, pos.recid});
        break;
    }
    return after == entries.begin() ? entries.end() : std::prev(after);
}

void CEngine::PlaceOn(Cursor& cursor, const IndexEntry& entry)
{
    cursor.position.kind = PosKind::OnEntry;
    cursor.position.key = entry.key;
    cursor.position.recid = entry.recid;
}

const Record* CEngine::CurrentRecord(Cursor& cursor, bool fromCopy)
{
    if (fromCopy && cursor.prepared)
        return &cursor.copy;
    if (cursor.position.kind != PosKind::OnEntry)
        Fail(JET_errNoCurrentRecord);
    auto found = cursor.table->records.find(cursor.position.recid);
    if (found == cursor.table->records.end())
        Fail(JET_errRecordDeleted);
    return &found->second;
}

void CEngine::ResetKey(Cursor& cursor)
{
    cursor.key.clear();
    cursor.keyStarted = false;
    cursor.keyLimited = false;
    cursor.keySegments = 0;
}

// ---- navigation -------------------------------------------------------------------

JET_ERR CEngine::SetCurrentIndex(JET_SESID sesid, JET_TABLEID tableid, const char* index)
{
    Cursor& cursor = CursorOf(sesid, tableid);
    std::string name = index ? index : "";
    if (!name.empty()) {
        const IndexDef* found = cursor.table->FindIndex(name);
        if (!found)
            Fail(JET_errIndexNotFound);
        if (found->IsPrimary())
            name.clear();
    }
    if (SameName(name, cursor.indexName))
        return JET_errSuccess;
    cursor.indexName = name;
    cursor.rangeActive = false;
    ResetKey(cursor);
    const IndexEntries& entries = EntriesOf(cursor);
    if (entries.empty())
        cursor.position = Position();
    else
        PlaceOn(cursor, *entries.begin());
    return JET_errSuccess;
}

JET_ERR CEngine::MakeKey(JET_SESID sesid, JET_TABLEID tableid, const void* data, unsigned long size, JET_GRBIT grbit)
{
    Cursor& cursor = CursorOf(sesid, tableid);
    if (grbit & JET_bitNewKey)
        ResetKey(cursor);
    else if (!cursor.keyStarted)
        Fail(JET_errKeyNotMade);
    if (grbit & JET_bitNormalizedKey) {
        cursor.key.assign(static_cast<const char*>(data), size);
        cursor.keyStarted = true;
        cursor.keyLimited = true;
        return JET_errSuccess;
    }
    const IndexDef* index = CurrentIndex(cursor);
    if (!index)
        Fail(JET_errNoCurrentIndex);
    if (cursor.keyLimited || cursor.keySegments >= index->segments.size())
        Fail(JET_errKeyIsMade);
    const KeySegment& segment = index->segments[cursor.keySegments];
    const ColumnDef* column = cursor.table->FindColumn(segment.column);
    if (!column)
        Fail(JET_errColumnNotFound);
    if (size > 0 && !data)
        Fail(JET_errInvalidParameter);
    bool null = size == 0 && !(grbit & JET_bitKeyDataZeroLength);
    Bytes value = null ? Bytes() : Bytes(static_cast<const char*>(data), size);
    bool partial = (grbit & (JET_bitPartialColumnStartLimit | JET_bitPartialColumnEndLimit | JET_bitSubStrLimit)) != 0;
    cursor.key += NormalizeSegment(*column, null ? nullptr : &value, segment.descending, !partial);
    if (grbit & (JET_bitFullColumnEndLimit | JET_bitPartialColumnEndLimit | JET_bitStrLimit | JET_bitSubStrLimit)) {
        cursor.key.push_back('\xFF');
        cursor.keyLimited = true;
    }
    if (grbit & (JET_bitFullColumnStartLimit | JET_bitPartialColumnStartLimit))
        cursor.keyLimited = true;
    ++cursor.keySegments;
    cursor.keyStarted = true;
    return JET_errSuccess;
}

JET_ERR CEngine::Seek(JET_SESID sesid, JET_TABLEID tableid, JET_GRBIT grbit)
{
    Cursor& cursor = CursorOf(sesid, tableid);
    if (!cursor.keyStarted)
        Fail(JET_errKeyNotMade);
    cursor.rangeActive = false;
    const IndexEntries& entries = EntriesOf(cursor);
    const Bytes& key = cursor.key;
    // The entries whose key starts with the search key lie between these two.
    auto firstNotBelow = entries.lower_bound(KeyPrefix{key});
    auto firstAbove = entries.upper_bound(KeyPrefix{key});

    auto notFound = [&]() -> JET_ERR {
        cursor.position.kind = PosKind::Gap;
        cursor.position.key = key;
        cursor.position.recid = 0;
        Fail(JET_errRecordNotFound);
    };
    JET_GRBIT mode = grbit & (JET_bitSeekEQ | JET_bitSeekLT | JET_bitSeekLE | JET_bitSeekGE | JET_bitSeekGT);
    switch (mode) {
    case JET_bitSeekEQ:
        if (firstNotBelow == firstAbove)
            return notFound();
        PlaceOn(cursor, *firstNotBelow);
        if (grbit & JET_bitSetIndexRange) {
            cursor.rangeActive = true;
            cursor.rangeLimit = key;
            cursor.rangeUpper = true;
            cursor.rangeInclusive = true;
        }
        return JET_errSuccess;
    case JET_bitSeekGE:
        if (firstNotBelow == entries.end())
            return notFound();
        PlaceOn(cursor, *firstNotBelow);
        return firstNotBelow != firstAbove ? JET_errSuccess : JET_wrnSeekNotEqual;
    case JET_bitSeekGT:
        if (firstAbove == entries.end())
            return notFound();
        PlaceOn(cursor, *firstAbove);
        return JET_errSuccess;
    case JET_bitSeekLE:
        if (firstAbove == entries.begin())
            return notFound();
        PlaceOn(cursor, *std::prev(firstAbove));
        return firstNotBelow != firstAbove ? JET_errSuccess : JET_wrnSeekNotEqual;
    case JET_bitSeekLT:
        if (firstNotBelow == entries.begin())
            return notFound();
        PlaceOn(cursor, *std::prev(firstNotBelow));
        return JET_errSuccess;
    default:
        Fail(JET_errInvalidGrbit);
    }
}

JET_ERR CEngine::SetIndexRange(JET_SESID sesid, JET_TABLEID tableid, JET_GRBIT grbit)
{
    Cursor& cursor = CursorOf(sesid, tableid);
    if (grbit & JET_bitRangeRemove) {
        cursor.rangeActive = false;
        return JET_errSuccess;
    }
    if (!cursor.keyStarted)
        Fail(JET_errKeyNotMade);
    if (cursor.position.kind != PosKind::OnEntry)
        Fail(JET_errNoCurrentRecord);
    Cursor probe;
    probe.rangeActive = true;
    probe.rangeLimit = cursor.key;
    probe.rangeUpper = (grbit & JET_bitRangeUpperLimit) != 0;
    probe.rangeInclusive = (grbit & JET_bitRangeInclusive) != 0;
    if (!InRange(probe, IndexEntry{cursor.position.key, cursor.position.recid}))
        Fail(JET_errNoCurrentRecord);
    if (!(grbit & JET_bitRangeInstantDuration)) {
        cursor.rangeActive = true;
        cursor.rangeLimit = probe.rangeLimit;
        cursor.rangeUpper = probe.rangeUpper;
        cursor.rangeInclusive = probe.rangeInclusive;
    }
    return JET_errSuccess;
}

// Moving first or last cancels an index range; moving out of one leaves the
// cursor just past its end (JET_errNoCurrentRecord) with the range kept.
JET_ERR CEngine::Move(JET_SESID sesid, JET_TABLEID tableid, long rows, JET_GRBIT grbit)
{
    Cursor& cursor = CursorOf(sesid, tableid);
    const IndexEntries& entries = EntriesOf(cursor);
    if (rows == static_cast<long>(JET_MoveFirst) || rows == JET_MoveLast) {
        cursor.rangeActive = false;
        if (entries.empty()) {
            cursor.position = Position();
            Fail(JET_errNoCurrentRecord);
        }
        PlaceOn(cursor, rows == JET_MoveLast ? *entries.rbegin() : *entries.begin());
        return JET_errSuccess;
    }
    if (rows == 0) {
        CurrentRecord(cursor, false);
        return JET_errSuccess;
    }
    long steps = rows > 0 ? rows : -rows;
    for (long step = 0; step < steps; ++step) {
        Bytes fromKey = cursor.position.kind == PosKind::OnEntry ? cursor.position.key : Bytes();
        bool skipEqual = (grbit & JET_bitMoveKeyNE) && cursor.position.kind == PosKind::OnEntry;
        if (rows > 0) {
            auto next = FirstAfter(cursor);
            while (skipEqual && next != entries.end() && next->key == fromKey)
                ++next;
            if (next == entries.end() || !InRange(cursor, *next)) {
                if (next == entries.end()) {
                    cursor.position = Position();
                    cursor.position.kind = PosKind::AfterLast;
                } else {
                    cursor.position.kind = PosKind::Gap;
                    cursor.position.key = next->key;
                    cursor.position.recid = next->recid;
                }
                Fail(JET_errNoCurrentRecord);
            }
            PlaceOn(cursor, *next);
        } else {
            auto previous = LastBefore(cursor);
            while (skipEqual && previous != entries.end() && previous->key == fromKey)
                previous = previous == entries.begin() ? entries.end() : std::prev(previous);
            if (previous == entries.end() || !InRange(cursor, *previous)) {
                auto after = previous == entries.end() ? entries.end() : std::next(previous);
                if (after == entries.end()) {
                    cursor.position = Position();
                } else {
                    cursor.position.kind = PosKind::Gap;
                    cursor.position.key = after->key;
                    cursor.position.recid = after->recid;
                }
                Fail(JET_errNoCurrentRecord);
            }
            PlaceOn(cursor, *previous);
        }
    }
    return JET_errSuccess;
}

JET_ERR CEngine::IndexRecordCount(JET_SESID sesid, JET_TABLEID tableid, unsigned long* count, unsigned long maximum)
{
    Cursor& cursor = CursorOf(sesid, tableid);
    if (!count)
        Fail(JET_errInvalidParameter);
    const IndexEntries& entries = EntriesOf(cursor);
    IndexEntries::const_iterator from;
    if (cursor.position.kind == PosKind::OnEntry)
        from = entries.lower_bound(IndexEntry{cursor.position.key, cursor.position.recid});
    else
        from = FirstAfter(cursor);
    unsigned long counted = 0;
    for (auto it = from; it != entries.end() && InRange(cursor, *it); ++it) {
        if (maximum != 0 && counted >= maximum)
            break;
        ++counted;
    }
    *count = counted;
    return JET_errSuccess;
}

// ---- values -------------------------------------------------------------------------

JET_ERR CEngine::RetrieveValue(Cursor& cursor, const Record& record, const ColumnDef& column, void* data,
                               unsigned long size, unsigned long* actual, unsigned long ibLongValue,
                               unsigned long itagSequence)
{
    (void)cursor;
    auto found = record.values.find(column.id);
    if (found == record.values.end() || itagSequence > found->second.size()) {
        *actual = 0;
        return JET_wrnColumnNull;
    }
    const Bytes& value = found->second[itagSequence - 1];
    // An escrow counter is adjusted in the caller's buffer, which must hold it.
    if (column.IsEscrow() && size < value.size()) {
        *actual = static_cast<unsigned long>(value.size());
        Fail(JET_errInvalidBufferSize);
    }
    size_t offset = column.IsLongValue() ? std::min<size_t>(ibLongValue, value.size()) : 0;
    size_t available = value.size() - offset;
    *actual = static_cast<unsigned long>(available);
    size_t copied = std::min<size_t>(available, size);
    if (copied && data)
        memcpy(data, value.data() + offset, copied);
    return available > size ? JET_wrnBufferTruncated : JET_errSuccess;
}

JET_ERR CEngine::RetrieveColumn(JET_SESID sesid, JET_TABLEID tableid, JET_COLUMNID columnid, void* data,
                                unsigned long size, unsigned long* actual, JET_GRBIT grbit, JET_RETINFO* retinfo)
{
    Cursor& cursor = CursorOf(sesid, tableid);
    if (retinfo && retinfo->cbStruct < sizeof(JET_RETINFO))
        Fail(JET_errInvalidParameter);
    const ColumnDef* column = cursor.table->FindColumn(columnid);
    if (!column)
        Fail(JET_errColumnNotFound);
    unsigned long itag = retinfo ? retinfo->itagSequence : 1;
    if (itag == 0)
        Fail(JET_errBadItagSequence);
    const Record* record = CurrentRecord(cursor, (grbit & JET_bitRetrieveCopy) != 0);
    unsigned long got = 0;
    JET_ERR err = RetrieveValue(cursor, *record, *column, data, size, &got, retinfo ? retinfo->ibLongValue : 0, itag);
    if (actual)
        *actual = got;
    if (retinfo)
        retinfo->columnidNextTagged = columnid;
    return err;
}

// Every record is filled (cbActual, err) even when one of them fails, so that
// a caller can size all its buffers from one call; the result is the first
// error, else JET_wrnBufferTruncated when any value was cut.
JET_ERR CEngine::RetrieveColumns(JET_SESID sesid, JET_TABLEID tableid, JET_RETRIEVECOLUMN* columns,
                                 unsigned long count)
{
    Cursor& cursor = CursorOf(sesid, tableid);
    if (count && !columns)
        Fail(JET_errInvalidParameter);
    const Record* current = nullptr;
    JET_ERR noRecord = JET_errSuccess;
    try {
        current = CurrentRecord(cursor, false);
    } catch (const JetError& error) {
        noRecord = error.err;
    }
    JET_ERR result = JET_errSuccess;
    bool truncated = false;
    for (unsigned long i = 0; i < count; ++i) {
        JET_RETRIEVECOLUMN& column = columns[i];
        column.columnidNextTagged = column.columnid;
        try {
            const ColumnDef* def = cursor.table->FindColumn(column.columnid);
            if (!def)
                Fail(JET_errColumnNotFound);
            const Record* record = current;
            if ((column.grbit & JET_bitRetrieveCopy) && cursor.prepared)
                record = &cursor.copy;
            if (!record)
                Fail(noRecord);
            if (column.itagSequence == 0) {
                auto values = record->values.find(column.columnid);
                column.itagSequence =
                    values == record->values.end() ? 0 : static_cast<unsigned long>(values->second.size());
                column.cbActual = 0;
                column.err = JET_errSuccess;
                continue;
            }
            column.err = RetrieveValue(cursor, *record, *def, column.pvData, column.cbData, &column.cbActual,
                                       column.ibLongValue, column.itagSequence);
            if (column.err == JET_wrnBufferTruncated)
                truncated = true;
        } catch (const JetError& error) {
            column.err = error.err;
            if (result == JET_errSuccess)
                result = error.err;
        }
    }
    if (result != JET_errSuccess)
        return result;
    return truncated ? JET_wrnBufferTruncated : JET_errSuccess;
}

// ---- updates ------------------------------------------------------------------------

JET_ERR CEngine::PrepareUpdate(JET_SESID sesid, JET_TABLEID tableid, unsigned long prep)
{
    Cursor& cursor = WritableCursor(sesid, tableid);
    if (prep == JET_prepCancel) {
        if (!cursor.prepared)
            Fail(JET_errUpdateNotPrepared);
        cursor.prepared = false;
        return JET_errSuccess;
    }
    if (cursor.prepared)
        Fail(JET_errAlreadyPrepared);
    switch (prep) {
    case JET_prepInsert:
        cursor.copy = Record();
        for (const auto& column : cursor.table->columns) {
            if (!column.second.defaultValue.empty())
                cursor.copy.values[column.first] = {column.second.defaultValue};
        }
        cursor.prepInsert = true;
        break;
    case JET_prepInsertCopy:
        cursor.copy = *CurrentRecord(cursor, false);
        cursor.prepInsert = true;
        break;
    case JET_prepReplace:
    case JET_prepReplaceNoLock:
        cursor.copy = *CurrentRecord(cursor, false);
        cursor.updateRecid = cursor.position.recid;
        cursor.prepInsert = false;
        break;
    default:
        Fail(JET_errInvalidParameter);
    }
    cursor.prepared = true;
    return JET_errSuccess;
}

JET_ERR CEngine::SetColumn(JET_SESID sesid, JET_TABLEID tableid, JET_COLUMNID columnid, const void* data,
                           unsigned long size, JET_GRBIT grbit, const JET_SETINFO* setinfo)
{
    Cursor& cursor = WritableCursor(sesid, tableid);
    if (!cursor.prepared)
        Fail(JET_errUpdateNotPrepared);
    if (setinfo && setinfo->cbStruct < sizeof(JET_SETINFO))
        Fail(JET_errInvalidParameter);
    const ColumnDef* column = cursor.table->FindColumn(columnid);
    if (!column)
        Fail(JET_errColumnNotFound);
    if (size > 0 && !data)
        Fail(JET_errInvalidParameter);
    unsigned long itag = setinfo ? setinfo->itagSequence : 1;
    unsigned long ib = setinfo ? setinfo->ibLongValue : 0;
    bool null = size == 0 && !(grbit & JET_bitSetZeroLength) && !(grbit & JET_bitSetSizeLV);
    Bytes value = size ? Bytes(static_cast<const char*>(data), size) : Bytes();
    unsigned long typeSize = column->TypeSize();
    if (!null && typeSize && !(grbit & (JET_bitSetAppendLV | JET_bitSetOverwriteLV | JET_bitSetSizeLV)) &&
        value.size() != typeSize)
        Fail(JET_errInvalidBufferSize);
    if (!null && !column->IsLongValue() && column->cbMax && !typeSize && value.size() > column->cbMax)
        Fail(JET_errColumnTooBig);
    if (!column->IsMultiValued() && itag > 1)
        Fail(JET_errInvalidParameter);

    std::vector<Bytes>& values = cursor.copy.values[columnid];
    if (!column->IsMultiValued() || itag == 0) {
        if (!column->IsMultiValued())
            itag = 1;
        else
            itag = static_cast<unsigned long>(values.size()) + 1;
    }
    if (null) {
        if (itag <= values.size())
            values.erase(values.begin() + (itag - 1));
    } else {
        if (grbit & JET_bitSetUniqueMultiValues) {
            for (size_t i = 0; i < values.size(); ++i) {
                if (i + 1 != itag && values[i] == value)
                    Fail(JET_errMultiValuedDuplicate);
            }
        }
        if (itag > values.size()) {
            values.push_back(Bytes());
            itag = static_cast<unsigned long>(values.size());
        }
        Bytes& target = values[itag - 1];
        if (column->IsLongValue() && (grbit & JET_bitSetAppendLV)) {
            target += value;
        } else if (column->IsLongValue() && (grbit & JET_bitSetOverwriteLV)) {
            if (ib > target.size())
                Fail(JET_errColumnNoChunk);
            if (target.size() < ib + value.size())
                target.resize(ib + value.size());
            target.replace(ib, value.size(), value);
        } else if (column->IsLongValue() && (grbit & JET_bitSetSizeLV)) {
            target.resize(size);
        } else {
            target = value;
        }
    }
    if (values.empty())
        cursor.copy.values.erase(columnid);
    return JET_errSuccess;
}

JET_ERR CEngine::SetColumns(JET_SESID sesid, JET_TABLEID tableid, JET_SETCOLUMN* columns, unsigned long count)
{
    JET_ERR result = JET_errSuccess;
    for (unsigned long i = 0; i < count; ++i) {
        JET_SETINFO info = {sizeof(JET_SETINFO), columns[i].ibLongValue, columns[i].itagSequence};
        try {
            columns[i].err = SetColumn(sesid, tableid, columns[i].columnid, columns[i].pvData, columns[i].cbData,
                                       columns[i].grbit, &info);
        } catch (const JetError& error) {
            columns[i].err = error.err;
            if (result == JET_errSuccess)
                result = error.err;
        }
    }
    if (result < 0)
        Fail(result);
    return result;
}

JET_ERR CEngine::Update(JET_SESID sesid, JET_TABLEID tableid, void* bookmark, unsigned long size,
                        unsigned long* actual)
{
    Session& session = SessionOf(sesid);
    Cursor& cursor = WritableCursor(sesid, tableid);
    if (!cursor.prepared)
        Fail(JET_errUpdateNotPrepared);
    CTableData& table = *cursor.table;
    for (const auto& column : table.columns) {
        const ColumnDef& def = column.second;
        if ((def.grbit & JET_bitColumnAutoincrement) && cursor.prepInsert && !cursor.copy.values.count(def.id)) {
            int64_t highest = 0;
            for (const auto& record : table.records) {
                auto value = record.second.values.find(def.id);
                if (value != record.second.values.end() && !value->second.empty()) {
                    int64_t number = 0;
                    memcpy(&number, value->second[0].data(), std::min<size_t>(8, value->second[0].size()));
                    highest = std::max(highest, number);
                }
            }
            int64_t next = highest + 1;
            cursor.copy.values[def.id] = {Bytes(reinterpret_cast<const char*>(&next), def.TypeSize())};
        }
        if ((def.grbit & JET_bitColumnNotNULL) && !cursor.copy.values.count(def.id))
            Fail(JET_errNullInvalid);
    }
    uint32_t recid = cursor.prepInsert ? table.nextRecid : cursor.updateRecid;
    auto existing = table.records.find(recid);
    if (!cursor.prepInsert && existing == table.records.end())
        Fail(JET_errRecordDeleted);
    for (const IndexDef& index : table.indexes) {
        std::vector<Bytes> keys = table.RecordKeys(&index, recid, cursor.copy);
        if (index.IsPrimary() && !cursor.prepInsert &&
            keys != table.RecordKeys(&index, recid, existing->second))
            Fail(JET_errRecordPrimaryChanged);
        if (!index.IsUnique())
            continue;
        const IndexEntries& entries = table.Entries(&index);
        for (const Bytes& key : keys) {
            for (auto it = entries.lower_bound(IndexEntry{key, 0}); it != entries.end() && it->key == key; ++it) {
                if (it->recid != recid)
                    Fail(JET_errKeyDuplicate);
            }
        }
    }
    Op redo;
    redo.kind = OpKind::PutRecord;
    redo.table = table.id;
    redo.recid = recid;
    redo.data = SerializeRecord(cursor.copy);
    Op undo;
    undo.table = table.id;
    undo.recid = recid;
    if (existing != table.records.end()) {
        undo.kind = OpKind::PutRecord;
        undo.data = SerializeRecord(existing->second);
    } else {
        undo.kind = OpKind::DeleteRecord;
    }
    RecordChange(session, cursor.db, redo, undo);
    cursor.prepared = false;
    if (bookmark && size >= sizeof(recid)) {
        memcpy(bookmark, &recid, sizeof(recid));
        if (actual)
            *actual = sizeof(recid);
    } else if (actual) {
        *actual = 0;
    }
    return JET_errSuccess;
}

JET_ERR CEngine::Delete(JET_SESID sesid, JET_TABLEID tableid)
{
    Session& session = SessionOf(sesid);
    Cursor& cursor = WritableCursor(sesid, tableid);
    if (cursor.prepared)
        Fail(JET_errAlreadyPrepared);
    const Record* record = CurrentRecord(cursor, false);
    Op redo;
    redo.kind = OpKind::DeleteRecord;
    redo.table = cursor.table->id;
    redo.recid = cursor.position.recid;
    Op undo;
    undo.kind = OpKind::PutRecord;
    undo.table = cursor.table->id;
    undo.recid = cursor.position.recid;
    undo.data = SerializeRecord(*record);
    RecordChange(session, cursor.db, redo, undo);
    return JET_errSuccess;
}

} // namespace esestandin
