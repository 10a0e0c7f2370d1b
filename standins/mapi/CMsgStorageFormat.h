#pragma once
// How a message on storage is laid out in its IStorage, following the
// documented .msg layout: a "__properties_version1.0" stream of 16-byte
// entries (tag, flags, inline value or size) after a header; variable-length
// and multi-valued values in "__substg1.0_TTTTTTTT" streams (elements of
// variable multi-valued ones in "...-XXXXXXXX"); one sub-storage per
// recipient ("__recip_version1.0_#XXXXXXXX") and per attachment
// ("__attach_version1.0_#XXXXXXXX"); an embedded message in its
// attachment's "__substg1.0_3701000D" sub-storage; the named-property map in
// "__nameid_version1.0" (top-level message only).
#include "MapiStandin.h"

class CMsgContent;
class CNamedProps;

class CMsgStorageFormat {
public:
    enum class Kind { kTopLevel, kEmbedded };

    // An empty storage loads as an empty message. MAPI_E_CORRUPT_DATA for
    // streams whose sizes or entries do not add up.
    static HRESULT Load(IStorage* storage, Kind kind, CMsgContent& content, CNamedProps* names);
    // Replaces everything in the storage by content (does not commit it).
    static HRESULT Save(IStorage* storage, Kind kind, const CMsgContent& content, const CNamedProps* names);
};
