// The bodies of GetIDsFromNames and GetNamesFromIDs as the folder, message
// and attachment objects serve them: from the store's named-property map,
// or, with a database whose objects resolve names themselves, from the
// object's server interface first and the map only for ids to be made.
// The objects find their store's map and fetch their server interface; these
// functions do the rest. A failing server call raises _com_error (with the
// server's error information), which the calling object's boundary guard
// records under its own method name.
#pragma once
#include "ProviderPlatform.h"
#include "Vostrel2007.h"

class CNamedPropMap;

struct SNamedPropSource {
    // What GetIDsFromNames answers when asked for every named property (no
    // names, count 0): the server's tags for the object (folders, messages,
    // attachments), an empty tag array (the store), or MAPI_E_NO_SUPPORT
    // (the IPM subtree).
    enum class EAllNames { Server, Empty, NoSupport };

    CNamedPropMap* map = nullptr;     // the store's map; null when the store is not open
    IEseProperty* server = nullptr;   // the object's server interface, when it has one
    const IID* serverIid = nullptr;   // the interface the server object reports errors under
    bool serverResolves = false;      // ask the server before the map (2010 databases)
    EAllNames allNames = EAllNames::Server;
};

HRESULT GetIDsFromNamesFor(const SNamedPropSource& source, ULONG cPropNames, LPMAPINAMEID* lppPropNames,
                           ULONG ulFlags, LPSPropTagArray* lppPropTags);

HRESULT GetNamesFromIDsFor(const SNamedPropSource& source, LPSPropTagArray* lppPropTags, LPGUID lpPropSetGuid,
                           ULONG ulFlags, ULONG* lpcPropNames, LPMAPINAMEID** lppPropNames);
