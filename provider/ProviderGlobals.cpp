#include "ProviderPlatform.h"
#include "ProviderGlobals.h"
#include "ImageMount.h"
#include "ResourceStrings.h"

CProviderGlobals::CProviderGlobals()
{
    mountEvent = MountEvent();
    resourceLibrary = LoadResourceLibrary();
}

// The mount event and the resource library are never closed or freed: a
// mount may still be signalling, and texts may be asked for to the end.
CProviderGlobals::~CProviderGlobals() = default;

CProviderGlobals& ProviderGlobals()
{
    static CProviderGlobals globals;
    return globals;
}
