#pragma once
// Every answer of the add-store wizard. The service entry makes one record,
// the sheet and its pages fill it as the user moves on, and on Finish the
// service entry turns it into the service's private profile properties and
// the store's settings file. Nothing the user chooses is written anywhere
// else before that.
#include "Platform.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

// An image the wizard uses: the drive root it shows at ("H:\") and the
// driver's index of the image. shownBefore: the driver showed it before the
// wizard came to it (another store may be using the drive), so the wizard
// flushes it when it keeps it but never takes it down.
struct SImageMount {
    std::wstring root;
    uint32_t imageIndex = 0;
    bool shownBefore = false;
};

class CWizardData {
public:
    CWizardData() = default;
    virtual ~CWizardData() = default;
    CWizardData(const CWizardData&) = default;
    CWizardData& operator=(const CWizardData&) = default;

    // The .edb file to open (on a mounted drive for kinds 1 and 2).
    std::wstring DatabasePath;
    // The folder of the transaction logs; empty: none.
    std::wstring LogPath;
    // 0 a plain .edb file, 1 a backup archive, 2 a protection archive.
    int SourceKind = 0;
    // The checked mailboxes, in the settings file's selection text.
    std::wstring MailboxSelection;
    int PublicFoldersOnly = 0;
    // The wizard runs over an existing configuration: the pages show the
    // stored source read-only and skip their checks and mounts.
    int Reconfigure = 0;
    // Finish changed the mailbox selection (the open store is told).
    int SelectionChanged = 0;
    std::wstring DatabaseImage;
    std::wstring DatabaseMountRoot;
    std::wstring LogImage;
    std::wstring LogMountRoot;
    // Images mounted (or found shown) by the volume page (and by the mailbox
    // page's remount) and by the catalog version page: image path -> mount.
    std::map<std::wstring, SImageMount> VolumeMounts;
    std::map<std::wstring, SImageMount> VersionMounts;
    std::wstring VersionDatabaseFile;
    // (database name, file path) per database of the chosen version's
    // storage group, in the order the catalog page appended them.
    std::vector<std::pair<std::wstring, std::wstring>> RestoreMap;
    int CatalogBackupId = 0;
    // The image-mounting driver could be opened when the sheet was built.
    int DevicePresent = 0;
    // Kind 1: the root ".KZF" file; kind 2: the catalog folder with a trailing "\".
    std::wstring ArchivePath;
};

// The sheet and every page point to the one record (not owned).
class CWizardDataRef {
public:
    void SetWizardData(CWizardData* data) { m_data = data; }
    CWizardData& Data() const { return *m_data; }

protected:
    CWizardDataRef() = default;
    ~CWizardDataRef() = default;

private:
    CWizardData* m_data = nullptr;
};
