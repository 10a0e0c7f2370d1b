#pragma once
// The table engine narrowed to one row: the row of one folder, message,
// attachment or mailbox, found by its 64-bit id, with the rows joined to it.
// It answers the IEseProperty questions: which properties the row holds,
// their values, the raw bytes of one of them, and the translation between
// named-property tags and names through the database's "NamedProps" table.
//
// Every out-array is COM task memory that the caller owns. Failures throw
// CException: code 1 when the object's row is missing, code 2 when a
// property is, code 3 for a null required parameter.
#include "Platform.h"
#include "objects/CEseTableImpl.h"

#include <cstdint>

class CEsePropImpl : public CEseTableImpl {
public:
    // Opens the table and positions it on the row whose key column holds `id`.
    CEsePropImpl(unsigned short keyPropId, int64_t id, const NJbFramework::CSharedRef<CEseStoreContext>& context,
                 const char* tableName, unsigned long kind);
    ~CEsePropImpl() override;

    // Joins the table, then positions this row and its joined rows again.
    void AddLinkedTable(unsigned short linkPropId, const NJbFramework::CSharedRef<CEseTableImpl>& table) override;

    // The raw bytes of one property: its size, and (when data is given) a copy.
    virtual void GetProperty(ULONG tag, ULONG* size, BYTE** data);
    // The tags of the row's present values (and of values too large for a row).
    virtual void GetPropertyTags(ULONG* count, ULONG** tags);
    // The values of the given tags, one per tag.
    virtual void GetProperties(ULONG count, const ULONG* tags, ULONG* valueCount, _SEsePropertyValue** values);
    // Names of named-property tags. With *tagCount 0 the named properties of
    // the row that pass the property-set filter (null or all-zero GUID: any)
    // and the flags (0x1: with a numeric name, 0x2: with a string name)
    // become the tag list, handed out through *tags. A tag without a name gets
    // the type 0x000A in the caller's array.
    virtual void GetPropNamesFromTags(ULONG* tagCount, ULONG** tags, const GUID* propertySet, ULONG flags,
                                      ULONG* namesCount, _SEseNamedPropertyId** names);
    // Tags of names (0 names: every named-property column of the row). A
    // name that the database does not map, or that the row has no column
    // for, gets 0x0000000A.
    virtual void GetTagsFromPropNames(ULONG namesCount, _SEseNamedPropertyId** names, ULONG* tagCount, ULONG** tags);
    virtual void GetNamedPropertyTags(ULONG* tagCount, ULONG** tags);
    virtual void LookupNamedProperties(ULONG namesCount, _SEseNamedPropertyId** names, ULONG* tagCount,
                                       ULONG** tags);

private:
    // The row holds a column with this property id (its own table first,
    // then the joined ones).
    bool HasColumnWithId(USHORT id) const;
};
