// The per-store settings file: database path, log folder, mailbox selection
// and the public-folders-only flag, in a small binary file named after the
// store's service UID in the data directory. The file is read as untrusted
// input: a length that runs past the end of the file, or a file cut short,
// fails the load and leaves the fields empty.
#pragma once
#include "ProviderPlatform.h"

#include <string>

class CStoreConfig {
public:
    // The base directory is the data directory (empty when there is none,
    // and then no file is read or written).
    CStoreConfig();
    explicit CStoreConfig(std::wstring baseDirectory);

    // The 32 upper-case hexadecimal digits of a service UID.
    static std::wstring FormatName(const MAPIUID& serviceUid);

    // The Outlook add-in's command-bar state under the current user's add-in
    // key (created when missing): visible (-1 or 0), position, top, left and
    // row index. Values absent from the key keep what the caller passed in
    // (the defaults); a value of another type than REG_DWORD, or a failure of
    // the key, ends the load there with false, the values read before it
    // standing. Saving writes all five; false at the first failure.
    static bool LoadToolbarState(LONG& visible, LONG& position, LONG& top, LONG& left, LONG& rowIndex);
    static bool SaveToolbarState(LONG visible, LONG position, LONG top, LONG left, LONG rowIndex);

    // False when the file is missing, unreadable or malformed (fields empty).
    bool Load(const std::wstring& name);
    // Writes the whole file or leaves the previous one as it was: the new
    // content goes to a temporary file that then replaces it.
    bool Save(const std::wstring& name) const;

    bool Exists(const MAPIUID& serviceUid) const;
    bool Delete(const MAPIUID& serviceUid) const;
    bool DeleteByName(const std::wstring& name) const;
    // Empty when there is no base directory.
    std::wstring GetFilePath(const std::wstring& name) const;

    bool GetMailboxSelection(const MAPIUID& serviceUid, std::wstring& selection);
    bool GetMailboxSelectionByName(const std::wstring& name, std::wstring& selection);
    // Keeps the other settings of the file; false, and the file untouched,
    // when the file exists but cannot be loaded.
    bool SetMailboxSelectionByName(const std::wstring& name, const std::wstring& selection);
    bool GetPublicFoldersOnly(const MAPIUID& serviceUid, LONG& publicFoldersOnly);
    bool GetPublicFoldersOnlyByName(const std::wstring& name, LONG& publicFoldersOnly);

    // Saves the settings the add-store wizard's record holds (its
    // DatabasePath, LogPath, MailboxSelection and PublicFoldersOnly) as the
    // file of the service UID. The record's type belongs to the wizard.
    template <typename WizardData>
    bool SaveFromWizard(const MAPIUID& serviceUid, const WizardData& data)
    {
        databasePath = data.DatabasePath;
        logFolder = data.LogPath;
        mailboxSelection = data.MailboxSelection;
        publicFoldersOnly = data.PublicFoldersOnly;
        return Save(FormatName(serviceUid));
    }

    std::wstring databasePath;
    std::wstring logFolder;
    std::wstring mailboxSelection;
    LONG publicFoldersOnly = 0;

    const std::wstring& BaseDirectory() const { return m_baseDirectory; }

private:
    void Clear();

    std::wstring m_baseDirectory;
};
