// The named-property mapping of one open store: the database's own names and
// ids (its "NamedProps" table, read once at logon) in an in-memory MAPI
// table, plus the ids handed out for names the database does not know. Ids
// made here live as long as the map and are never written to the database.
//
// The view's position and column set are shared by every caller, so every
// lookup runs under the map's lock from setting the columns to handing out
// a new id. A map that was never built (or whose building failed) finds
// nothing and creates nothing.
#pragma once
#include "ProviderPlatform.h"
#include "Vostrel2007.h"

constexpr ULONG kPrNamedPropId = 0x67F10002;   // PT_I2, 0x8000 .. 0xFFFE; the index column
constexpr ULONG kPrNamedPropGuid = 0x67F00102; // the 16-byte property set
constexpr ULONG kPrNamedPropName = 0x67F4001F; // string names
constexpr ULONG kPrNamedPropLid = 0x67EF0003;  // numeric names
// The tag a lookup answers when it finds or makes nothing.
constexpr ULONG kNoNamedPropTag = PROP_TAG(PT_ERROR, 0);

class CNamedPropMap {
public:
    CNamedPropMap();
    ~CNamedPropMap();
    CNamedPropMap(const CNamedPropMap&) = delete;
    CNamedPropMap& operator=(const CNamedPropMap&) = delete;

    // An empty map handing out ids from 0x8000.
    HRESULT CreateEmpty();

    // Reads the server store's named-property table into the map; the store
    // is fetched from the module's interface table by its cookie. A failing
    // server call raises _com_error (with the interface that failed); other
    // failures are returned. On any failure the map stays as it was.
    HRESULT LoadFromStore(DWORD storeCookie);
    // The same for a store interface already in hand.
    HRESULT LoadFromServer(IEseStore* store);

    // The tag (id << 16, PT_UNSPECIFIED) of a name: kind MNID_STRING names
    // by name, MNID_ID by lid. Unknown names get a new id when create is
    // set. *tag is kNoNamedPropTag unless a tag is found or made.
    HRESULT GetIdForName(const GUID* guid, const wchar_t* name, LONG lid, ULONG kind, bool create, ULONG* tag);

    // The name of the id in tag's upper 16 bits, in memory chained to
    // parent; *name stays null when the id is unknown.
    HRESULT GetNameForId(ULONG tag, LPVOID parent, LPMAPINAMEID* name);

    // The next id to hand out; 0xFFFF when none can be made.
    ULONG NextId() const;

private:
    HRESULT FindRow(const SRestriction& restriction, SRowSet** row);

    mutable CRITICAL_SECTION m_lock;
    ComPtr<IMAPITable> m_view;
    ComPtr<ITableData> m_tableData;
    ULONG m_nextId;
};
