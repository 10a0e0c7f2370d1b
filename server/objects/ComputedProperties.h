#pragma once
// The computed-property rules the table engine runs over every row it hands
// out: properties a MAPI client expects that the database does not store as
// such, or stores in another form. Each rule names a target tag, the kind
// mask of the tables it applies to (all its bits must be in the table's kind
// mask), the source tags it needs (selected beside the requested ones and
// dropped from the row afterwards) and the handler that rewrites the target
// value from them.
//
// The engine's part (CEseTableImpl): SetColumns adds the sources of every rule
// whose target tag is requested; GetRowValues, after all joined tables filled
// the row and before the sources are dropped, calls the handler of every rule,
// in table order, whose target's property id is among the selected entries.
// A handler sees the whole row, requested values first, then the sources; it
// finds a value by property id (the first value whose tag has that id) and
// frees the owned memory of a value it replaces.
#include "Platform.h"
#include "Vostrel2007.h"
#include "esedb/CSharedRef.h"

class CEseStoreContext;

using ComputedPropertyHandler = void (*)(unsigned long valueCount, _SEsePropertyValue* values,
                                         const NJbFramework::CSharedRef<CEseStoreContext>& context);

constexpr unsigned long kMaxComputedSources = 4;

struct SComputedProperty {
    unsigned long targetTag;
    unsigned long kindMask;
    unsigned long sourceCount;
    unsigned long sourceTags[kMaxComputedSources];
    ComputedPropertyHandler handler; // null ends the table
};

// The rules, in the order they run; ends at a row without handler.
extern const SComputedProperty g_eseComputedProps[];
