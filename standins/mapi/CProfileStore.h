#pragma once
// Profiles as the registry of the Wine prefix keeps them: one key per profile
// under HKCU "...\Windows Messaging Subsystem\Profiles", one subkey per
// profile section (32 hex digits of its UID), one value per property (the
// tag as 8 hex digits, the value serialised as binary). The profile key's
// "Services" value lists the service UIDs in the order they were created;
// the Profiles key's "DefaultProfile" names the default profile.
//
// Every call reads or writes the registry directly, so that two objects
// opened on the same section always agree.
#include "MapiStandin.h"
#include "CPropBag.h"

#include <string>
#include <vector>

// The UID of the profile section that holds profile-wide properties
// (PR_PROFILE_NAME).
extern const MAPIUID kGlobalProfileSectionUid;

class CProfileStore {
public:
    static bool Exists(const std::wstring& profile);
    static HRESULT Create(const std::wstring& profile);
    static HRESULT Delete(const std::wstring& profile);
    static std::vector<std::wstring> Profiles();
    static std::wstring DefaultProfile();
    static HRESULT SetDefaultProfile(const std::wstring& profile);

    static bool SectionExists(const std::wstring& profile, const MAPIUID& uid);
    // A missing section reads as empty.
    static HRESULT LoadSection(const std::wstring& profile, const MAPIUID& uid, CPropBag& bag);
    // Replaces the section's content with the bag (creating the section).
    static HRESULT SaveSection(const std::wstring& profile, const MAPIUID& uid, const CPropBag& bag);
    static std::vector<MAPIUID> Sections(const std::wstring& profile);
    static HRESULT DeleteSection(const std::wstring& profile, const MAPIUID& uid);

    static std::vector<MAPIUID> Services(const std::wstring& profile);
    static HRESULT SetServices(const std::wstring& profile, const std::vector<MAPIUID>& services);

    static std::wstring UidText(const MAPIUID& uid);
    static MAPIUID NewUid();
};
