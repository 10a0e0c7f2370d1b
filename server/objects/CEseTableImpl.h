#pragma once
// The server's one reading engine over an ESE table of the Exchange database.
// It opens the table by name, learns its columns from their names (each name
// encodes a MAPI property tag, ParseColumnName), positions a cursor by a list
// of 64-bit key values, joins other tables through 64-bit link columns, and
// hands rows out as arrays of _SEsePropertyValue in COM task memory (the
// caller frees them with FreeEseRows / FreeEseValues).
//
// Invariants:
// - The kind mask of every table of a join tree is the same: the union of the
//   kinds of all tables in it (AddLinkedTable spreads it downwards).
// - Every table of a join tree has the same selected list, entry for entry,
//   because SetColumns is forwarded with the same tags and the computed-
//   property sources it adds depend only on the tags and the kind mask.
// - The positioned flag is set only by Move and cleared by SetKeyValues and at
//   the start of every Move.
//
// Engines are shared through NJbFramework::CSharedRef (the object reference
// registry) and are used on the server's apartment thread only; they hold no
// lock. ESE failures throw NJbFramework::CFailedJbApiCallException, the
// engine's own failures CException.
#include "Platform.h"
#include "Vostrel2007.h"
#include "esedb/CColumnSet.h"
#include "esedb/CTable.h"
#include "objects/CEseStoreContext.h"
#include "objects/ComputedProperties.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Table kinds: bit values, or'ed together into a kind mask by joins.
enum EEseTableKind : unsigned long {
    kKindNamedProps = 0,     // "NamedProps"
    kKindFolderMessages = 1, // a folder's message table (FormatEseId of the folder id)
    kKindFolders = 2,        // "Folders"
    kKindMsg = 4,            // "Msg"
    kKindMailbox = 8,        // "Mailbox"
    kKindAttachments = 16,   // the attachments folder's message table
};

// Reads a column name as a property tag: an optional 'M'/'m' (multi-valued,
// type + 0x1000), a type letter, then the property id in hexadecimal. False
// for a name that is no property column (null, or too short). The letter is
// handed out unchanged.
bool ParseColumnName(const char* name, unsigned long* tag, bool* multiValued, char* letter);

// The message-table name of a folder: the id's 8 bytes in memory order as
// upper-case hex, leading zeros dropped, the first run of zeros after the
// first non-zero run turned into one '-' (or dropped at the end).
// Bytes 00 01 00 00 00 00 12 34 give "1-1234".
std::string FormatEseId(int64_t id);

// One catalogued column.
struct SEseColumnRecord {
    std::string name;
    JET_COLUMNID columnId;
    JET_COLTYP columnType;
    unsigned long maximumLength;
    unsigned short codePage;
    unsigned long tag;
    bool multiValued;
    char letter;
};

class CEseTableImpl {
public:
    // Opens the table read-only on the context's database, builds the column
    // catalogue (Open) and, when the key id is not 0, sets the index that the
    // table's name and key id call for.
    CEseTableImpl(unsigned short keyPropId, const NJbFramework::CSharedRef<CEseStoreContext>& context,
                  const char* tableName, unsigned long kind);

    // The virtual operations, in this order (the property engine derives and
    // overrides AddLinkedTable).
    virtual ~CEseTableImpl();
    // Selects rows whose key is in the list (match true) or not in it (match
    // false); count 0 selects every row. The key position is reset only by
    // Move(true).
    virtual void SetKeyValues(unsigned long count, const int64_t* values, bool match);
    // Joins `table` through this table's column (linkPropId << 16) | PT_I8:
    // after every Move the linked table is positioned on the row whose key is
    // that link value. A missing link column throws CException code 2.
    virtual void AddLinkedTable(unsigned short linkPropId, const NJbFramework::CSharedRef<CEseTableImpl>& table);
    // all = false: the selected tags, merged with those of the linked tables
    // (a linked table fills a PT_ERROR position). all = true: every catalogued
    // tag of the join tree once, ascending. The array (CoTaskMemAlloc) is
    // handed out only when the count is not 0.
    virtual void GetColumns(bool all, unsigned long* count, unsigned long** tags);
    // Replaces the selected columns (plus the sources of the computed
    // properties the tags ask for) here and in every linked table.
    virtual void SetColumns(unsigned long count, const unsigned long* tags);
    // Up to `maximum` rows from the first (restart) or the next row.
    virtual void GetRows(unsigned long maximum, bool restart, unsigned long* count, _SEseRow** rows);
    // Reads `size` bytes of one column of the current row from `offset` into
    // `buffer` (which may be null with size 0, to learn the size), here or in
    // the first linked table that has it. False when no table has a non-null
    // value.
    virtual bool RetrieveColumn(unsigned long tag, unsigned long offset, unsigned long size, void* buffer,
                                unsigned long* actualSize);
    // Positions on the first (first = true) or next selected row; false at
    // the end. Positions the linked tables on the joined rows.
    virtual bool Move(bool first);
    // The values of the selected columns of the current row (one per
    // requested tag); every value is COM task memory owned by the caller.
    virtual void GetRowValues(_SEseRow* row);
    // Builds the column catalogue.
    virtual void Open();

    // Makes the named index current: for "Folders" keyed by parent folder id
    // (0x6749) the range mode is used, else the exact-key mode.
    void SetIndexByName(const char* name);

    // Column lookup by tag in this table only (with the tag mapping rule);
    // null when absent.
    const SEseColumnRecord* FindColumn(unsigned long tag) const;
    // The same through the join tree: this table first, then each linked
    // table recursively in list order. `holder` (if given) names the table
    // that has the column.
    const SEseColumnRecord* FindColumnThroughLinks(unsigned long tag, const CEseTableImpl** holder = nullptr) const;

    const std::vector<SEseColumnRecord>& Catalogue() const { return m_catalogue; }
    const std::string& TableName() const { return m_tableName; }
    unsigned long Kind() const { return m_kind; }
    unsigned long KindMask() const { return m_kindMask; }
    bool IsPositioned() const { return m_positioned; }
    unsigned short KeyPropId() const { return m_keyPropId; }
    const NJbFramework::CSharedRef<CEseStoreContext>& Context() const { return m_context; }
    NJbFramework::CTable& Cursor() const { return *m_cursor; }

    // The computed-property rules this engine and every table joined below it
    // run (g_eseComputedProps unless replaced; ends at a row without handler).
    // A table joined later takes the rules of the table it is joined to.
    void UseComputedProperties(const SComputedProperty* rules);

    CEseTableImpl(const CEseTableImpl&) = delete;
    CEseTableImpl& operator=(const CEseTableImpl&) = delete;

private:
    struct SSelected {
        unsigned long tag;
        NJbFramework::SColumnDescriptor* column; // in the selected set; null when absent
    };
    struct SLinked {
        NJbFramework::SColumnDescriptor* column; // in the link set
        NJbFramework::CSharedRef<CEseTableImpl> table;
    };

    void SetKindMaskDown(unsigned long mask);
    // True when `table` is this table or one joined below it.
    bool IsInJoin(const CEseTableImpl* table) const;
    void AppendSelected(unsigned long tag);
    bool SeekKeys(bool first);
    bool KeyIsListed(int64_t key) const;
    void PositionLinkedTables();
    // Fills `values` (one per selected entry) from this table's current row,
    // then from the positioned linked tables.
    void FillValues(_SEsePropertyValue* values, unsigned long count);
    void FillFromThisTable(_SEsePropertyValue* values, unsigned long count);

    unsigned short m_keyPropId;
    unsigned long m_keyPosition = 0;
    std::vector<int64_t> m_keys;
    bool m_match = true;
    bool m_positioned = false;
    std::string m_tableName;
    unsigned long m_kind;
    unsigned long m_kindMask;
    unsigned long m_requestedCount = 0;
    bool m_exactIndex = false;
    bool m_rangeIndex = false;
    bool m_inRange = false; // the cursor moves inside the range the last range seek set
    std::unique_ptr<NJbFramework::CColumnSet> m_keySet;
    std::unique_ptr<NJbFramework::CColumnSet> m_linkSet;
    std::unique_ptr<NJbFramework::CColumnSet> m_selectedSet;
    NJbFramework::SColumnDescriptor* m_keyColumn = nullptr;
    NJbFramework::CSharedRef<NJbFramework::CTable> m_cursor;
    NJbFramework::CSharedRef<CEseStoreContext> m_context;
    std::vector<SEseColumnRecord> m_catalogue;
    std::vector<SSelected> m_selected;
    std::vector<SLinked> m_linked;
    const SComputedProperty* m_computed;
};
