// Mounting a backup image at a drive letter, dismounting the image found at
// a letter, and making the driver write the changes that replaying logs made
// on a mounted image. Each procedure opens the controller, does its work,
// closes it again and reports a failure in exactly one message (a message
// box, or the provider log for an owner of (HWND)-1), naming the failing
// step and its code. Nothing is kept between calls: a mounted image is known
// afterwards by its drive letter only.
#pragma once
#include "Platform.h"

#include <cstdint>
#include <string>

// Volume of a backup archive (data-source kind 1) and VHD named by the backup
// catalog (kind 2).
extern const GUID GUID_QOR_IMAGE_ARCHIVE;
extern const GUID GUID_QOR_IMAGE_VHD;

// String ids of the messages and their caption.
constexpr UINT kIdsConfigurationCaption = 301;
constexpr UINT kIdsMountFailed = 333;
constexpr UINT kIdsDismountFailed = 334;
constexpr UINT kIdsDismountIndexFailed = 335;
constexpr UINT kIdsFlushFailed = 385;

// How long a mount waits for the volume to come up.
constexpr DWORD kMountWaitMilliseconds = 25000;
// Longest ANSI image path (with its NUL) the driver's descriptor takes.
constexpr size_t kMaxImagePathBytes = 768;

// The owner that sends a failure to the provider log instead of a window.
inline HWND LogOwner() { return reinterpret_cast<HWND>(static_cast<INT_PTR>(-1)); }

// The record the insert worker reads and writes. error stays 0 until the
// insert fails.
struct QorInsertThreadParams {
    HANDLE controller;
    uint32_t imageIndex;
    uint32_t driveMask;
    uint32_t error;
};

// The process-wide manual-reset event every mount hands to the driver;
// created unsignalled on the first call (the library's globals make that call
// while it loads), never reset here.
HANDLE MountEvent();

// Names of the companion files of an image (ANSI paths).
std::string ChangeFilePath(const std::string& imagePath);
std::string CompanionFilePath(const std::string& imagePath);

// letterText's first character is the drive letter. 1 when mounted.
int MountImage(HWND owner, const wchar_t* imagePath, const wchar_t* letterText, const GUID* imageType, HANDLE event,
               uint32_t* imageIndex);
// letterText's first character is taken as an upper-case letter as it stands.
int DismountImage(HWND owner, const wchar_t* letterText, uint32_t* imageIndex);
int FlushImage(HWND owner, uint32_t imageIndex);

// 1 with the driver's index when the driver shows this very image file (the
// full path, compared without regard to case) at the drive letter; 0 when
// the letter shows nothing of the driver's, another image, or the driver
// cannot be asked. Shows nothing.
int ImageShownAt(wchar_t letter, const wchar_t* imagePath, uint32_t* imageIndex);

// Exit code 1 when the insert succeeded; otherwise the record's error is
// set and the code is 0 (also for a null record).
DWORD WINAPI ImageInsertThreadProc(QorInsertThreadParams* params);
