#include "Platform.h"
#include "objects/LogReplay.h"
#include "CException.h"
#include "esedb/CInstance.h"

#include <cwchar>
#include <cwctype>
#include <vector>

namespace {

// System parameters of the engine.
constexpr unsigned long kParamSystemPath = 0;
constexpr unsigned long kParamLogFilePath = 2;
constexpr unsigned long kParamBaseName = 3;
constexpr unsigned long kParamAlternateRecoveryPath = 113;
// Replay, ignoring databases of the log set that are not there.
constexpr JET_GRBIT kReplayIgnoreMissingDb = 0x4;

bool StartsWithIgnoringCase(const std::wstring& text, const wchar_t* prefix)
{
    size_t length = wcslen(prefix);
    return text.size() >= length && _wcsnicmp(text.c_str(), prefix, length) == 0;
}

std::wstring BaseOf(const std::wstring& name)
{
    size_t dot = name.find_last_of(L'.');
    if (dot == std::wstring::npos || dot < 3 || _wcsicmp(name.c_str() + dot, L".log") != 0)
        return L"";
    return name.substr(0, 3);
}

std::wstring Join(const std::wstring& folder, const std::wstring& name)
{
    if (folder.empty())
        return name;
    wchar_t last = folder.back();
    return (last == L'\\' || last == L'/') ? folder + name : folder + L"\\" + name;
}

[[noreturn]] void ThrowWin32(const wchar_t* what, const std::wstring& a, const std::wstring& b)
{
    DWORD error = GetLastError();
    CException exception;
    exception.SetMessage(L"%s \"%s\" \"%s\" failed", what, a.c_str(), b.c_str());
    exception.SetSourceError(kSrcHResult, static_cast<long>(HRESULT_FROM_WIN32(error)));
    throw exception;
}

std::vector<std::wstring> FilesMatching(const std::wstring& folder, const std::wstring& pattern)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(Join(folder, pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(data.cFileName);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

std::wstring FreshFolder(const std::wstring& root)
{
    GUID guid;
    CoCreateGuid(&guid);
    wchar_t name[64];
    StringFromGUID2(guid, name, 64);
    std::wstring folder = Join(root, std::wstring(L"replay-") + name);
    if (!CreateDirectoryW(folder.c_str(), nullptr))
        ThrowWin32(L"CreateDirectory", folder, L"");
    return folder;
}

void Copy(const std::wstring& from, const std::wstring& to)
{
    if (!CopyFileW(from.c_str(), to.c_str(), TRUE))
        ThrowWin32(L"CopyFile", from, to);
    // The copy is ours to write; the original's read-only attribute is not.
    DWORD attributes = GetFileAttributesW(to.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(to.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

} // namespace

std::string ToAnsi(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string narrow(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &narrow[0], size, nullptr, nullptr);
    return narrow;
}

std::wstring FindLogBase(const std::wstring& logFolder)
{
    // The expected base is the first one found, whatever the listing order of
    // the names that come after it.
    std::wstring expected;
    for (const std::wstring& name : FilesMatching(logFolder, L"*.log")) {
        if (StartsWithIgnoringCase(name, L"res1.") || StartsWithIgnoringCase(name, L"res2."))
            continue;
        std::wstring base = BaseOf(name);
        if (base.empty())
            continue;
        if (expected.empty()) {
            expected = base;
        } else if (_wcsnicmp(base.c_str(), expected.c_str(), 3) != 0) {
            CException error;
            error.SetMessage(L"Foreign log file \"%s\" is found at \"%s\". Expected base name is \"%s\".",
                             name.c_str(), logFolder.c_str(), expected.c_str());
            error.SetCode(kErrForeignLog);
            throw error;
        }
    }
    return expected;
}

std::wstring ReplayIntoCopy(const std::wstring& logFolder, const std::wstring& base, const std::wstring& databasePath,
                            const std::wstring& workRoot, std::wstring* workFolder)
{
    workFolder->clear();
    std::wstring folder = FreshFolder(workRoot);
    std::wstring copy;
    try {
        std::wstring logs = Join(folder, L"logs");
        if (!CreateDirectoryW(logs.c_str(), nullptr))
            ThrowWin32(L"CreateDirectory", logs, L"");

        size_t slash = databasePath.find_last_of(L"\\/");
        std::wstring fileName = slash == std::wstring::npos ? databasePath : databasePath.substr(slash + 1);
        copy = Join(folder, fileName);
        Copy(databasePath, copy);
        for (const wchar_t* kind : {L"*.log", L"*.chk", L"*.jrs"}) {
            for (const std::wstring& name : FilesMatching(logFolder, base + kind))
                Copy(Join(logFolder, name), Join(logs, name));
        }

        NJbFramework::CSharedRef<NJbFramework::CInstance> replay =
            NJbFramework::MakeShared<NJbFramework::CInstance>();
        replay->Create();
        std::string narrowLogs = ToAnsi(logs + L"\\");
        replay->SetParameter(kParamLogFilePath, narrowLogs.c_str());
        replay->SetParameter(kParamSystemPath, narrowLogs.c_str());
        replay->SetParameter(kParamBaseName, ToAnsi(base).c_str());
        replay->SetParameter(kParamAlternateRecoveryPath, ToAnsi(folder).c_str());
        replay->Init(kReplayIgnoreMissingDb);
    } catch (...) {
        // The temporary instance has ended with the scope above, so nothing
        // holds the copies any more: a failed replay leaves no copy behind.
        RemoveFolderTree(folder);
        throw;
    }
    *workFolder = folder;
    return copy;
}

void RemoveFolderTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(Join(folder, L"*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring path = Join(folder, name);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveFolderTree(path);
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
}
