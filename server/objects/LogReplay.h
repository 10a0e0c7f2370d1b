#pragma once
// Transaction-log replay before a database is first opened.
//
// The user's database and log files are never written: when the log folder
// holds a log set, the database and that log set are copied into a working
// folder of the instance and the logs are replayed into the copy, which is
// then opened instead of the original.
#include "Platform.h"

#include <string>

// The three-character base name of the log set in the folder, or "" when the
// folder holds no log set (reserve logs "res1.*" and "res2.*" do not count).
// A log file of another base throws CException code 7.
std::wstring FindLogBase(const std::wstring& logFolder);

// Copies the database and the log set of `base` from `logFolder` into a new
// folder below `workRoot` and replays the logs into the copy with a temporary
// engine instance. Returns the copied database's path; *workFolder receives
// the folder, which the caller removes when done with the copy. A failure
// throws and leaves no folder behind (*workFolder stays empty).
std::wstring ReplayIntoCopy(const std::wstring& logFolder, const std::wstring& base, const std::wstring& databasePath,
                            const std::wstring& workRoot, std::wstring* workFolder);

// Narrow text in the ANSI code page, as the engine takes it.
std::string ToAnsi(const std::wstring& text);

// Removes a folder with everything in it (best effort).
void RemoveFolderTree(const std::wstring& folder);
