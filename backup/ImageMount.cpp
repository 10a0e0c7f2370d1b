#include "Platform.h"
#include "ImageMount.h"

#include "ProviderLog.h"
#include "QorApi.h"
#include "ResourceStrings.h"

#include <atomic>
#include <cstring>
#include <cwctype>
#include <vector>

// {C13D5E8A-47F2-4B69-9A0C-E8B4216D7F35}
const GUID GUID_QOR_IMAGE_ARCHIVE = {0xC13D5E8A, 0x47F2, 0x4B69, {0x9A, 0x0C, 0xE8, 0xB4, 0x21, 0x6D, 0x7F, 0x35}};
// {29A7F4D1-8E63-4C0B-B5D8-71C0E3F9A2B6}
const GUID GUID_QOR_IMAGE_VHD = {0x29A7F4D1, 0x8E63, 0x4C0B, {0xB5, 0xD8, 0x71, 0xC0, 0xE3, 0xF9, 0xA2, 0xB6}};

namespace {

constexpr uint32_t kImageOpenMode = 0x18;
constexpr char kChangeFileSuffix[] = ".chunk.dat";
constexpr char kCompanionExtension[] = ".KFM";

// How often a mount whose event was already set looks whether its volume
// has come up.
constexpr DWORD kVolumePollMilliseconds = 20;

// The insert worker may outlive the mount's wait: it and the mount each
// hold one reference to this record, and the worker has its own handle to
// the controller, so the mount can close its handle and return.
struct InsertJob {
    QorInsertThreadParams params = {};
    std::atomic<int> references{2};
};

void ReleaseJob(InsertJob* job)
{
    if (--job->references == 0) {
        if (job->params.controller && job->params.controller != INVALID_HANDLE_VALUE)
            CloseHandle(job->params.controller);
        delete job;
    }
}

DWORD WINAPI InsertWorkerMain(void* parameter)
{
    auto* job = static_cast<InsertJob*>(parameter);
    const DWORD exitCode = ImageInsertThreadProc(&job->params);
    ReleaseJob(job);
    return exitCode;
}

std::wstring FormatMessageId(UINT id, ...)
{
    const std::wstring format = LoadResString(id);
    va_list args;
    va_start(args, id);
    std::wstring text;
    if (!FormatWideV(text, format.c_str(), args))
        text = format;
    va_end(args);
    return text;
}

void Report(HWND owner, const std::wstring& text, UINT icon)
{
    if (owner == LogOwner()) {
        std::wstring logPath;
        WriteLogLine(logPath, text.c_str());
        return;
    }
    const std::wstring caption = LoadResString(kIdsConfigurationCaption);
    MessageBoxW(owner, text.c_str(), caption.c_str(), icon);
}

bool ToAnsi(const wchar_t* text, std::string& out)
{
    const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return false;
    std::vector<char> buffer(size);
    if (WideCharToMultiByte(CP_ACP, 0, text, -1, buffer.data(), size, nullptr, nullptr) != size)
        return false;
    out.assign(buffer.data());
    return true;
}

// A failed step of a mount: its name and the code right after it.
struct FailedStep {
    const wchar_t* name = nullptr;
    DWORD code = 0;
    void Record(const wchar_t* stepName, DWORD stepCode)
    {
        name = stepName;
        code = stepCode;
    }
};

// The image's volume shows at the letter of the mask. The volume query goes
// past the driver's queue, so it answers while the insert is still held.
bool VolumeIsUp(HANDLE controller, uint32_t driveMask, uint32_t imageIndex)
{
    if (!(GetLogicalDrives() & driveMask))
        return false;
    uint32_t letterIndex = 0;
    while (letterIndex < 31 && !(driveMask & (1u << letterIndex)))
        ++letterIndex;
    uint32_t shown = 0;
    return QorApiGetImageByDriveLetter(controller, letterIndex, &shown) && shown == imageIndex;
}

// Waits up to the mount's limit for the worker to end or the volume to come
// up, whichever is first; WAIT_FAILED when the worker cannot be waited for.
DWORD WaitForWorkerOrVolume(HANDLE controller, HANDLE worker, uint32_t driveMask, uint32_t imageIndex)
{
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD wait = WaitForSingleObject(worker, kVolumePollMilliseconds);
        if (wait != WAIT_TIMEOUT)
            return wait;
        if (VolumeIsUp(controller, driveMask, imageIndex))
            return WAIT_OBJECT_0 + 1;
        if (GetTickCount() - start >= kMountWaitMilliseconds)
            return WAIT_TIMEOUT;
    }
}

// Steps from the image's open in the driver to the end of the wait; the
// controller is open. Returns whether the image is mounted.
bool InsertImage(HANDLE controller, const std::string& imagePath, wchar_t letter, const GUID* imageType,
                 HANDLE event, uint32_t* imageIndex, FailedStep& failed)
{
    // The descriptor cannot hold longer paths; a cut path would name another file.
    const bool sendsExtra = !IsEqualGUID(*imageType, GUID_QOR_IMAGE_VHD);
    const std::string companion = CompanionFilePath(imagePath);
    if (imagePath.size() + 1 > kMaxImagePathBytes || (sendsExtra && companion.size() + 1 > kMaxImagePathBytes)) {
        failed.Record(L"QorApiImageOpen()", ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    QOR_IMAGE_DESCRIPTOR descriptor = {};
    descriptor.one = 1;
    std::memcpy(descriptor.imagePath, imagePath.c_str(), imagePath.size() + 1);
    const std::string change = ChangeFilePath(imagePath);
    std::memcpy(descriptor.changeFilePath, change.c_str(), change.size() + 1);
    descriptor.readyEvent = static_cast<uint64_t>(static_cast<int64_t>(reinterpret_cast<INT_PTR>(event)));
    QOR_IMAGE_EXTRA extra = {};
    std::memcpy(extra.companionPath, companion.c_str(), companion.size() + 1);

    if (!QorApiImageOpen(controller, imageIndex, imageType, &descriptor, kImageOpenMode,
                         sendsExtra ? &extra : nullptr, sendsExtra ? sizeof extra : 0)) {
        failed.Record(L"QorApiImageOpen()", GetLastError());
        return false;
    }

    auto* job = new InsertJob;
    job->params.imageIndex = *imageIndex;
    job->params.driveMask = 1u << ((static_cast<unsigned>(letter) - 'A') % 32);
    if (!DuplicateHandle(GetCurrentProcess(), controller, GetCurrentProcess(), &job->params.controller, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        failed.Record(L"CreateThread()", GetLastError());
        job->params.controller = nullptr;
        delete job;
        QorApiImageClose(controller, *imageIndex);
        return false;
    }
    // An event that an earlier mount already had signalled says nothing about
    // this volume; then the worker's end or this volume at its letter counts.
    const bool eventAlreadySet = WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
    HANDLE worker = CreateThread(nullptr, 0, InsertWorkerMain, job, 0, nullptr);
    if (!worker) {
        failed.Record(L"CreateThread()", GetLastError());
        ReleaseJob(job);
        ReleaseJob(job);
        QorApiImageClose(controller, *imageIndex);
        return false;
    }

    bool mounted = false;
    const HANDLE waited[2] = {worker, event};
    const DWORD wait = eventAlreadySet ? WaitForWorkerOrVolume(controller, worker, job->params.driveMask, *imageIndex)
                                       : WaitForMultipleObjects(2, waited, FALSE, kMountWaitMilliseconds);
    if (wait == WAIT_FAILED) {
        failed.Record(L"WaitForMultipleObjects()", GetLastError());
    } else {
        DWORD exitCode = 0;
        if (!GetExitCodeThread(worker, &exitCode)) {
            failed.Record(L"GetExitCodeThread()", GetLastError());
        } else if (exitCode != 0) {
            // STILL_ACTIVE: the volume is up (or the wait ran out) while the
            // driver still holds the insert request.
            mounted = true;
        } else {
            failed.Record(L"QorApiImageInsert()", job->params.error);
            QorApiImageClose(controller, *imageIndex);
        }
    }
    CloseHandle(worker);
    ReleaseJob(job);
    return mounted;
}

} // namespace

HANDLE MountEvent()
{
    // Made on the first call, so that a global of another file that copies
    // it while the library loads gets the event whatever the order in which
    // the files' globals are made.
    static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

std::string ChangeFilePath(const std::string& imagePath)
{
    return imagePath + kChangeFileSuffix;
}

std::string CompanionFilePath(const std::string& imagePath)
{
    const size_t dot = imagePath.rfind('.');
    if (dot != std::string::npos && imagePath.size() - dot == 4)
        return imagePath.substr(0, dot) + kCompanionExtension;
    return imagePath + kCompanionExtension;
}

DWORD WINAPI ImageInsertThreadProc(QorInsertThreadParams* params)
{
    if (!params)
        return 0;
    if (QorApiImageInsert(params->controller, params->imageIndex, params->driveMask))
        return 1;
    params->error = GetLastError();
    return 0;
}

int MountImage(HWND owner, const wchar_t* imagePath, const wchar_t* letterText, const GUID* imageType, HANDLE event,
               uint32_t* imageIndex)
{
    if (!imageIndex)
        return 0;
    *imageIndex = 0;
    FailedStep failed;
    int result = 0;
    if (!imagePath || !letterText || !letterText[0] || !imageType) {
        failed.Record(L"QorApiImageOpen()", ERROR_INVALID_PARAMETER);
    } else {
        HANDLE controller = INVALID_HANDLE_VALUE;
        if (!QorApiControllerOpen(&controller)) {
            failed.Record(L"QorApiControllerOpen()", GetLastError());
        } else {
            std::string ansiPath;
            if (!ToAnsi(imagePath, ansiPath))
                failed.Record(L"QorApiImageOpen()", GetLastError());
            else if (InsertImage(controller, ansiPath, letterText[0], imageType, event, imageIndex, failed))
                result = 1;
            QorApiControllerClose(controller);
        }
    }
    if (failed.name) {
        const std::wstring text = FormatMessageId(kIdsMountFailed, failed.name, failed.code);
        Report(owner, text, MB_ICONERROR);
    }
    std::wstring logPath;
    LogFormat(logPath, L"%s, %s, %d, %x: %d ", imagePath ? imagePath : L"", letterText ? letterText : L"",
              *imageIndex, static_cast<unsigned>(reinterpret_cast<UINT_PTR>(event)), result);
    return result;
}

int DismountImage(HWND owner, const wchar_t* letterText, uint32_t* imageIndex)
{
    uint32_t index = 0;
    int result = 0;
    std::wstring text;
    HANDLE controller = INVALID_HANDLE_VALUE;
    // No case folding: a lower-case letter is no drive and fails the lookup.
    const uint32_t letterIndex = letterText ? static_cast<uint32_t>(letterText[0]) - 'A' : 26;
    if (!QorApiControllerOpen(&controller)) {
        text = FormatMessageId(kIdsDismountIndexFailed, 0, L"QorApiControllerOpen()", GetLastError());
    } else {
        if (!QorApiGetImageByDriveLetter(controller, letterIndex, &index))
            text = FormatMessageId(kIdsDismountFailed, L"QorApiGetImageByDriveLetter()", GetLastError());
        else if (!QorApiImageRemove(controller, index, 1))
            text = FormatMessageId(kIdsDismountIndexFailed, index, L"QorApiImageRemove()", GetLastError());
        else if (!QorApiImageClose(controller, index))
            text = FormatMessageId(kIdsDismountIndexFailed, index, L"QorApiImageClose()", GetLastError());
        else
            result = 1;
        QorApiControllerClose(controller);
    }
    if (result && imageIndex)
        *imageIndex = index;
    if (!text.empty())
        MessageBoxW(owner, text.c_str(), LoadResString(kIdsConfigurationCaption).c_str(), MB_ICONWARNING);
    return result;
}

int FlushImage(HWND owner, uint32_t imageIndex)
{
    int result = 0;
    std::wstring text;
    HANDLE controller = INVALID_HANDLE_VALUE;
    if (!QorApiControllerOpen(&controller)) {
        text = FormatMessageId(kIdsFlushFailed, imageIndex, L"QorApiControllerOpen()", GetLastError());
    } else {
        if (QorApiImageFlush(controller, imageIndex))
            result = 1;
        else
            text = FormatMessageId(kIdsFlushFailed, imageIndex, L"QorApiImageFlush()", GetLastError());
        QorApiControllerClose(controller);
    }
    if (!text.empty())
        MessageBoxW(owner, text.c_str(), LoadResString(kIdsConfigurationCaption).c_str(), MB_ICONWARNING);
    return result;
}

int ImageShownAt(wchar_t letter, const wchar_t* imagePath, uint32_t* imageIndex)
{
    if (!imagePath || !imageIndex)
        return 0;
    *imageIndex = 0;
    const wchar_t upper = static_cast<wchar_t>(std::towupper(letter));
    if (upper < L'A' || upper > L'Z')
        return 0;
    HANDLE controller = INVALID_HANDLE_VALUE;
    if (!QorApiControllerOpen(&controller))
        return 0;
    int shown = 0;
    uint32_t index = 0;
    std::vector<uint8_t> info(QOR_IMAGE_INFO_LOOKUP_SIZE, 0);
    const uint32_t size = static_cast<uint32_t>(info.size());
    std::memcpy(info.data(), &size, sizeof size);
    if (QorApiGetImageByDriveLetter(controller, static_cast<uint32_t>(upper - L'A'), &index) &&
        QorApiGetImageInfo(controller, index, info.data())) {
        // The driver holds the path in the ANSI form a mount hands it.
        const char* path = reinterpret_cast<const char*>(&info[QOR_IMAGE_INFO_PATH_OFFSET]);
        const std::string shownPath(path, strnlen(path, QOR_IMAGE_INFO_PATH_SIZE));
        std::string wanted;
        if (!shownPath.empty() && ToAnsi(imagePath, wanted) && lstrcmpiA(shownPath.c_str(), wanted.c_str()) == 0) {
            *imageIndex = index;
            shown = 1;
        }
    }
    QorApiControllerClose(controller);
    return shown;
}
