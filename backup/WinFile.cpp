#include "Platform.h"

#include "WinFile.h"

#include "ArchiveStatus.h"

#include <cstring>
#include <string>

namespace {

const uint32_t kAccessRead = 0x80000000u;
const uint32_t kAccessWrite = 0x40000000u;
const uint32_t kAccessUnbuffered = 0x1000u;

// Enables SeManageVolumePrivilege on the thread's token, or the process's
// when the thread has none, and restores the earlier state when destroyed.
class CManageVolumePrivilege {
public:
    CManageVolumePrivilege()
    {
        if (!OpenThreadToken(GetCurrentThread(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, TRUE, &m_token)) {
            m_token = nullptr;
            if (GetLastError() != ERROR_NO_TOKEN ||
                !OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &m_token)) {
                m_token = nullptr;
                return;
            }
        }
        TOKEN_PRIVILEGES wanted = {};
        wanted.PrivilegeCount = 1;
        wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (!LookupPrivilegeValueW(nullptr, L"SeManageVolumePrivilege", &wanted.Privileges[0].Luid))
            return;
        DWORD length = sizeof m_previous;
        if (AdjustTokenPrivileges(m_token, FALSE, &wanted, sizeof m_previous, &m_previous, &length) &&
            GetLastError() == ERROR_SUCCESS)
            m_held = true;
    }
    ~CManageVolumePrivilege()
    {
        if (m_held)
            AdjustTokenPrivileges(m_token, FALSE, &m_previous, 0, nullptr, nullptr);
        if (m_token)
            CloseHandle(m_token);
    }
    bool IsHeld() const { return m_held; }

private:
    HANDLE m_token = nullptr;
    TOKEN_PRIVILEGES m_previous = {};
    bool m_held = false;
};

}  // namespace

WinFile::WinFile() : m_file(INVALID_HANDLE_VALUE), m_event(nullptr) {}

WinFile::~WinFile()
{
    Close();
}

uint32_t WinFile::SectorSizeOfPath(const char* path)
{
    char drive = 0;
    if (path && isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
        drive = path[0];
    } else {
        char current[260];
        DWORD n = GetCurrentDirectoryA(sizeof current, current);
        if (n > 0 && n < sizeof current && isalpha(static_cast<unsigned char>(current[0])) && current[1] == ':')
            drive = current[0];
    }
    if (!drive)
        return 512;
    char root[4] = {drive, ':', '\\', 0};
    DWORD sectorsPerCluster, bytesPerSector, freeClusters, clusters;
    if (!GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters) ||
        bytesPerSector == 0)
        return 512;
    return bytesPerSector;
}

int WinFile::Open(const char* path, uint32_t disposition, uint32_t access, uint32_t share)
{
    if (m_file != INVALID_HANDLE_VALUE || !path)
        return ARCERR_BAD_STATE;
    DWORD desired = 0;
    if (access & kAccessRead)
        desired |= GENERIC_READ;
    if (access & kAccessWrite)
        desired |= GENERIC_WRITE;
    m_unbuffered = (access & kAccessUnbuffered) != 0;
    if (m_unbuffered)
        m_sectorSize = SectorSizeOfPath(path);

    DWORD shareMode = FILE_SHARE_READ | FILE_SHARE_WRITE;
    if (share != 0) {
        if (share & 0x10)
            shareMode = FILE_SHARE_READ;
        else if (share & 0x20)
            shareMode = FILE_SHARE_WRITE;
        if (share & 0x40)
            shareMode &= ~FILE_SHARE_READ;
        if (share & 0x80)
            shareMode &= ~FILE_SHARE_WRITE;
    }
    DWORD creation;
    if (disposition == 1)
        creation = OPEN_EXISTING;
    else if (disposition == 2)
        creation = CREATE_ALWAYS;
    else
        return ARCERR_BAD_STATE;
    m_position = 0;
    m_size = 0;

    int length = MultiByteToWideChar(CP_UTF8, 0, path, -1, nullptr, 0);
    if (length <= 0)
        return ARCERR_IO;
    wchar_t* wide = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, length * sizeof(wchar_t)));
    if (!wide)
        return ARCERR_NO_MEMORY;
    if (MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, length) <= 0) {
        HeapFree(GetProcessHeap(), 0, wide);
        return ARCERR_IO;
    }
    DWORD flags = FILE_ATTRIBUTE_NORMAL | (m_unbuffered ? FILE_FLAG_NO_BUFFERING : 0);
    HANDLE file;
    DWORD error;
    {
        CManageVolumePrivilege privilege;
        m_privilegeHeld = privilege.IsHeld();
        file = CreateFileW(wide, desired, shareMode, nullptr, creation, flags, nullptr);
        error = GetLastError();
    }
    HeapFree(GetProcessHeap(), 0, wide);
    if (file == INVALID_HANDLE_VALUE)
        return error == ERROR_SHARING_VIOLATION ? ARCERR_SHARING : ARCERR_OPEN;

    HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    if (!event) {
        CloseHandle(file);
        return ARCERR_IO;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        CloseHandle(event);
        CloseHandle(file);
        m_size = 0;
        return ARCERR_IO;
    }
    m_file = file;
    m_event = event;
    m_size = static_cast<uint64_t>(size.QuadPart);
    return ARCERR_OK;
}

int WinFile::Close()
{
    int result = ARCERR_OK;
    if (m_file != INVALID_HANDLE_VALUE) {
        FlushFileBuffers(m_file);
        if (!CloseHandle(m_file))
            result = ARCERR_IO;
        m_file = INVALID_HANDLE_VALUE;
    }
    if (m_event) {
        if (!CloseHandle(m_event) && result == ARCERR_OK)
            result = ARCERR_IO;
        m_event = nullptr;
    }
    return result;
}

int WinFile::Transfer(void* buffer, uint32_t n, bool write, uint32_t* done)
{
    if (done)
        *done = 0;
    if (m_file == INVALID_HANDLE_VALUE || !m_event)
        return ARCERR_BAD_STATE;
    OVERLAPPED request = {};
    request.Offset = static_cast<DWORD>(m_position);
    request.OffsetHigh = static_cast<DWORD>(m_position >> 32);
    request.hEvent = m_event;
    DWORD moved = 0;
    BOOL ok = write ? WriteFile(m_file, buffer, n, &moved, &request) : ReadFile(m_file, buffer, n, &moved, &request);
    if (!ok) {
        DWORD error = GetLastError();
        if (!write && error == ERROR_HANDLE_EOF) {
            moved = 0;
        } else if (error == ERROR_IO_PENDING) {
            if (WaitForSingleObject(m_event, INFINITE) != WAIT_OBJECT_0 ||
                !GetOverlappedResult(m_file, &request, &moved, FALSE)) {
                DWORD late = GetLastError();
                if (write)
                    return late == ERROR_DISK_FULL ? ARCERR_DISK_FULL : ARCERR_FILE_WRITE;
                if (late != ERROR_HANDLE_EOF)
                    return ARCERR_FILE_READ;
                moved = 0;
            }
        } else if (write) {
            return error == ERROR_DISK_FULL ? ARCERR_DISK_FULL : ARCERR_FILE_WRITE;
        } else {
            SetLastError(error);
            return ARCERR_FILE_READ;
        }
    }
    m_position += moved;
    if (write && m_position > m_size)
        m_size = m_position;
    if (done)
        *done = moved;
    return ARCERR_OK;
}

int WinFile::Read(void* buffer, uint32_t n, uint32_t* done)
{
    if (!m_unbuffered) {
        uint64_t left = m_position < m_size ? m_size - m_position : 0;
        if (n > left)
            n = static_cast<uint32_t>(left);
    }
    if (n == 0 && m_file != INVALID_HANDLE_VALUE) {
        if (done)
            *done = 0;
        return ARCERR_OK;
    }
    return Transfer(buffer, n, false, done);
}

int WinFile::Write(const void* buffer, uint32_t n)
{
    return Transfer(const_cast<void*>(buffer), n, true, nullptr);
}

int WinFile::WriteAt(const void* buffer, uint32_t n, uint64_t offset)
{
    uint64_t saved = m_position;
    m_position = offset;
    int rc = WinFile::Write(buffer, n);
    m_position = saved;
    return rc;
}

int WinFile::Seek(uint64_t offset)
{
    m_position = offset;
    return ARCERR_OK;
}

int WinFile::ReadAtDirect(void* buffer, uint32_t n, uint64_t offset, uint32_t* got)
{
    if (offset > m_size)
        return ARCERR_BAD_STATE;
    uint64_t saved = m_position;
    m_position = offset;
    uint32_t done = 0;
    int rc = WinFile::Read(buffer, n, &done);
    m_position = saved;
    if (got)
        *got = done;
    return rc;
}

int WinFile::SetSize(uint64_t size)
{
    if (m_file == INVALID_HANDLE_VALUE)
        return ARCERR_BAD_STATE;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(m_file, at, nullptr, FILE_BEGIN))
        return ARCERR_IO;
    if (!SetEndOfFile(m_file))
        return GetLastError() == ERROR_DISK_FULL ? ARCERR_DISK_FULL : ARCERR_FILE_WRITE;
    if (m_privilegeHeld) {
        // Growth without zero-filling; looked up at run time because older
        // systems lack the call. Its failure only costs the zero fill.
        typedef BOOL(WINAPI * SetValidData)(HANDLE, LONGLONG);
        HMODULE kernel = GetModuleHandleA("Kernel32.dll");
        auto setValidData =
            kernel ? reinterpret_cast<SetValidData>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetFileValidData")))
                   : nullptr;
        if (setValidData) {
            CManageVolumePrivilege privilege;
            setValidData(m_file, static_cast<LONGLONG>(size));
        }
    }
    m_size = size;
    return ARCERR_OK;
}

int WinFile::Flush()
{
    if (m_file == INVALID_HANDLE_VALUE)
        return ARCERR_BAD_STATE;
    return FlushFileBuffers(m_file) ? ARCERR_OK : ARCERR_IO;
}

int WinFile::GetTimes(uint64_t* created, uint64_t* accessed, uint64_t* written)
{
    if (m_file == INVALID_HANDLE_VALUE)
        return -1;
    FILETIME c, a, w;
    if (!GetFileTime(m_file, &c, &a, &w))
        return ARCERR_IO;
    auto join = [](const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    if (created)
        *created = join(c);
    if (accessed)
        *accessed = join(a);
    if (written)
        *written = join(w);
    return ARCERR_OK;
}

int WinFile::WriteChunked(const void* buffer, uint32_t n)
{
    if (m_chunkSize == 0)
        return Write(buffer, n);
    const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
    while (n > 0) {
        uint32_t piece = n < m_chunkSize ? n : m_chunkSize;
        if (int rc = Write(bytes, piece))
            return rc;
        bytes += piece;
        n -= piece;
    }
    return ARCERR_OK;
}
