#pragma once
// MAPI's service configuration file MAPISVC.INF, read where the service
// registration of a message service writes it: next to the MAPI library
// that FGetComponentPath names for the "Microsoft Outlook" mail client's
// MSI component, or else in the system directory.
//
// A service section lists its providers ("Providers"), its entry point and
// DLL; each provider section names its DLL, resource type and flags. Lines
// "PR_xxx=value" of the known properties, and lines whose key is a property
// tag in hexadecimal, become the initial properties of the profile sections.
#include "MapiStandin.h"
#include "CPropBag.h"

#include <string>
#include <vector>

// The service name of the library's own writable message store.
constexpr wchar_t kWritableStoreService[] = L"WRITABLESTORE";

class CServiceInf {
public:
    struct Provider {
        std::wstring section;
        CPropBag props;       // PR_PROVIDER_DLL_NAME, PR_RESOURCE_TYPE, ...
    };
    struct Service {
        std::wstring name;
        CPropBag props;       // PR_SERVICE_DLL_NAME, PR_SERVICE_ENTRY_NAME, ...
        std::vector<Provider> providers;
    };

    static std::wstring Path();
    // MAPI_E_NOT_FOUND when the file lists no such service.
    static HRESULT Find(const std::wstring& serviceName, Service& service);

    // The name MAPI loads for a DLL named in the file: "32" goes before the
    // extension ("KOLVEN.DLL" is loaded as "KOLVEN32.DLL").
    static std::wstring LoadName(const std::wstring& dllName);

private:
    static HRESULT ReadSection(const std::wstring& file, const std::wstring& section, CPropBag& props);
};
