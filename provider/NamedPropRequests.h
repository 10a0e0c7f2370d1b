// The bodies of GetIDsFromNames and GetNamesFromIDs as the folder, message
// and attachment objects serve them: from the store's named-property map,
// or, with a database whose objects resolve names themselves, from the
// object's server interface first and the map only for ids to be made.
// The objects find their store's map and fetch their server interface; these
// functions do the rest, including the last-error record of a server failure.
#pragma once
#include "ProviderPlatform.h"
#include "Vostrel2007.h"

class CLastError;
class CNamedPropMap;

struct SNamedPropSource {
    CNamedPropMap* map = nullptr;     // the store's map; null when the store is not open
    IEseProperty* server = nullptr;   // the object's server interface, when it has one
    const IID* serverIid = nullptr;   // the interface the server object reports errors under
    bool serverResolves = false;      // ask the server before the map (2010 databases)
};

// methodName is the qualified name recorded with a server failure, such as
// "CFolder::GetIDsFromNames".
HRESULT GetIDsFromNamesFor(const char* methodName, CLastError& lastError, const SNamedPropSource& source,
                           ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                           LPSPropTagArray* lppPropTags);

HRESULT GetNamesFromIDsFor(const char* methodName, CLastError& lastError, const SNamedPropSource& source,
                           LPSPropTagArray* lppPropTags, LPGUID lpPropSetGuid, ULONG ulFlags,
                           ULONG* lpcPropNames, LPMAPINAMEID** lppPropNames);
