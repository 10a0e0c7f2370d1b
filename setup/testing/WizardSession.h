#pragma once
// What the wizard's tests and the main job do as a MAPI client: register the
// message service, make a profile, create, configure and delete the service
// through IMsgServiceAdmin (which calls the library's ServiceEntry), read
// back the profile sections and the store's settings file, and run a call
// that shows the wizard while a robot thread drives it.
#include "ProviderPlatform.h"

#include "CWizardRobot.h"

#include <mapispi.h>

#include <functional>
#include <string>
#include <vector>

namespace wizardtest {

// Keeps MAPI's service files (MAPISVC.INF in the system folder and beside the
// MAPI library) as they were and puts them back when it goes, so that a test
// that registers the service leaves the prefix as it found it.
class CServiceFilesSnapshot {
public:
    CServiceFilesSnapshot();
    ~CServiceFilesSnapshot();
    CServiceFilesSnapshot(const CServiceFilesSnapshot&) = delete;
    CServiceFilesSnapshot& operator=(const CServiceFilesSnapshot&) = delete;

private:
    struct SFile {
        std::wstring path;
        bool existed = false;
        std::vector<BYTE> bytes;
    };
    std::vector<SFile> m_files;
};

// The library, loaded once for the process (it stays loaded as MAPI keeps it).
HMODULE Kolven32();
// DllRegisterServer and RegProvider of the library; S_OK when both succeed.
HRESULT RegisterLibrary(bool comClasses);
// A text of the library's string table as the library shows it (from the
// resource library when it loaded one).
std::wstring LibraryText(UINT id);
// The same text used as a format (wide printf rules).
std::wstring LibraryFormat(UINT id, ...);
// The store's settings file of a service UID.
std::wstring SettingsFilePath(const MAPIUID& serviceUid);
std::vector<BYTE> ReadFileBytes(const std::wstring& path);
// The settings file's bytes for these settings.
std::vector<BYTE> SettingsFileBytes(const std::wstring& database, const std::wstring& logs,
                                    const std::wstring& selection, LONG publicFoldersOnly);

// The values of some tags of a profile section.
class CSectionValues {
public:
    CSectionValues() = default;
    CSectionValues(LPSPropValue values, ULONG count) : m_values(values), m_count(count) {}
    ~CSectionValues();
    CSectionValues(CSectionValues&& other) noexcept;
    CSectionValues& operator=(CSectionValues&& other) noexcept;

    bool Has(ULONG tag) const;
    std::wstring Text(ULONG tag) const;
    LONG Long(ULONG tag) const;
    std::vector<BYTE> Bytes(ULONG tag) const;
    std::vector<std::wstring> Texts(ULONG tag) const;

private:
    const SPropValue* Find(ULONG tag) const;
    LPSPropValue m_values = nullptr;
    ULONG m_count = 0;
};

class CMapiProfile {
public:
    // MAPIInitialize, then a new profile named after prefix; with exactName
    // the profile is named prefix itself, and one of that name made earlier
    // is deleted first (its services are told).
    explicit CMapiProfile(const std::wstring& prefix = L"VostrelWizard", bool exactName = false);
    ~CMapiProfile();
    CMapiProfile(const CMapiProfile&) = delete;
    CMapiProfile& operator=(const CMapiProfile&) = delete;

    bool Ready() const { return m_services != nullptr; }
    const std::wstring& Name() const { return m_name; }
    IMsgServiceAdmin* Services() const { return m_services.Get(); }
    // Keeps the profile when the object goes (the main job logs on to it).
    void Keep() { m_keep = true; }
    // Makes it the profile a logon without a name opens.
    HRESULT SetDefault();

    HRESULT CreateService(ULONG flags);
    // The newest service of the profile.
    bool LastServiceUid(MAPIUID& uid) const;
    bool HasService(const MAPIUID& uid) const;
    HRESULT Configure(const MAPIUID& service, ULONG flags, ULONG count = 0, LPSPropValue values = nullptr);
    HRESULT Delete(const MAPIUID& service);

    CSectionValues Read(const MAPIUID& section, const std::vector<ULONG>& tags) const;
    // The store provider's section of a service (named by PR_STORE_PROVIDERS).
    bool ProviderSection(const MAPIUID& service, MAPIUID& provider) const;

private:
    std::wstring m_name;
    ComPtr<IProfAdmin> m_admin;
    ComPtr<IMsgServiceAdmin> m_services;
    bool m_initialised = false;
    bool m_keep = false;
};

// Failures a robot thread noted; gtest's assertions stay on the test's thread.
class CScriptLog {
public:
    void Check(bool condition, const char* what, int line);
    void Note(const std::string& text) { m_failures.push_back(text); }
    const std::vector<std::string>& Failures() const { return m_failures; }
    std::string Joined() const;

private:
    std::vector<std::string> m_failures;
};

#define ROBOT_CHECK(log, condition) (log).Check((condition), #condition, __LINE__)

using RobotScript = std::function<void(CWizardRobot& robot, CScriptLog& log)>;

// Runs action on this thread (it shows the wizard) while script drives the
// wizard from another thread. When the script ends with the wizard still
// open, the robot dismisses what is left and cancels it, so that the action
// returns. The action's result comes back.
HRESULT RunWithRobot(const std::function<HRESULT()>& action, const RobotScript& script, CScriptLog& log);

// The robot's answer to any message box: OK, noted as a failure.
void DismissUnexpected(CWizardRobot& robot, CScriptLog& log);

} // namespace wizardtest
