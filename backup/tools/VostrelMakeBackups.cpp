// Makes backups of a database, for the add-store wizard's backup paths and
// for logon's remounting: into the output folder (which must not exist yet)
//   archive\<name>\<name>.KZF          one archive volume, database and logs (kind 1)
//   archive-split\<name>\<name>.KZF    a collection naming a database volume and a log volume
//   catalog-2010\, catalog-2007\       a backup catalog of each layout with its VHDs (kind 2)
// An archive lies in a folder of its own name, as the data-source page looks
// for it. Each prints one line: what it is, the folder the data-source page
// takes, and the database and log folder on the mounted drive (relative to
// its root), separated by tabs. The database and its logs are only read.
#include "Platform.h"

#include "BackupSourceBuilder.h"

#include <cstdio>
#include <exception>
#include <string>

using namespace backupsource;

namespace {

void Print(const char* what, const std::string& path, const std::wstring& database, const std::wstring& logs)
{
    std::printf("%s\t%s\t%s\t%s\n", what, path.c_str(), Utf8(database).c_str(), Utf8(logs).c_str());
}

std::string Join(const std::string& folder, const std::string& name)
{
    return !folder.empty() && folder.back() == '\\' ? folder + name : folder + "\\" + name;
}

// What a failed run made goes again (the output folder did not exist before).
void RemoveTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring path = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: VostrelMakeBackups <database.edb> <log folder, or - for none> <output folder>\n");
        return 2;
    }
    const std::string database = Utf8(argv[1]);
    const std::string logs = std::wstring(argv[2]) == L"-" ? std::string() : Utf8(argv[2]);
    const std::string out = Utf8(argv[3]);
    if (GetFileAttributesW(argv[3]) != INVALID_FILE_ATTRIBUTES) {
        std::fprintf(stderr, "%s exists already; it is left as it is\n", out.c_str());
        return 1;
    }
    try {
        const SDatabaseFiles files = ReadDatabaseFiles(database, logs);
        std::wstring stem = files.database.name;
        const size_t dot = stem.rfind(L'.');
        if (dot != std::wstring::npos && dot > 0)
            stem.resize(dot);

        const std::string archiveFolder = Join(Join(out, "archive"), Utf8(stem));
        MakeFolders(archiveFolder);
        const SArchiveSource archive = MakeArchiveSource(archiveFolder, Utf8(stem), files);
        Print("archive", archiveFolder, archive.databasePath, archive.logFolder);

        const std::string splitFolder = Join(Join(out, "archive-split"), Utf8(stem));
        MakeFolders(splitFolder);
        SArchiveSourceOptions split;
        split.separateLogVolume = true;
        const SArchiveSource two = MakeArchiveSource(splitFolder, Utf8(stem), files, split);
        Print("archive-split", splitFolder, two.databasePath, two.logFolder);

        for (ECatalogLayout layout : {ECatalogLayout::Exchange2010, ECatalogLayout::Exchange2007}) {
            const bool is2010 = layout == ECatalogLayout::Exchange2010;
            const std::string folder = Join(out, is2010 ? "catalog-2010" : "catalog-2007");
            MakeFolders(folder);
            SCatalogOptions options;
            options.layout = layout;
            options.publicFolders = !is2010;  // in the 2007 layout it shares the images of the storage group
            const SCatalogSource catalog = MakeCatalogSource(folder, files, options);
            Print(is2010 ? "catalog-2010" : "catalog-2007", catalog.folder, catalog.databasePath, catalog.logFolder);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "cannot make the backups: %s\n", error.what());
        RemoveTree(argv[3]);
        return 1;
    }
    return 0;
}
