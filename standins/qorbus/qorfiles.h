/*
 * The driver's file work, all on its worker thread: checking an image, presenting its files in a
 * folder of its own (the image's files, then the changes of earlier mounts replayed over them),
 * and saving what differs between that folder and the image into the change file.
 *
 * Paths are ANSI Win32 paths ("X:\..."), as the requests carry them. The image is only ever read;
 * the change file is replaced whole (written beside itself, then renamed over the old one), so a
 * failed save leaves the earlier one as it was.
 */
#pragma once
#include <ntifs.h>

#define POOL_TAG 0x62726F51 /* "Qorb" */

void* Allocate(SIZE_T size); /* zeroed pool memory */
ULONG ToWin32(NTSTATUS status);

/* What the volume query reports of a mounted image. */
typedef struct {
    int bits; /* 16 or 32 */
    ULONG serial;
    char label[12];
} VOLUME_FACTS;

/* The image (of kind QF_IMAGE_ARCHIVE or QF_IMAGE_VHD) and its change file, when there is one,
 * are read whole and checked. 0 or a Win32 code. */
ULONG CheckImage(const char* image, const char* change, int kind, VOLUME_FACTS* facts);

/* Empties the folder and fills it with the image's files, then replays the change file. */
ULONG PresentImage(const char* image, const char* change, int kind, const char* folder);

/* Writes what the folder holds that the image does not (files written or replaced, folders
 * made, names removed) as the new change file. Without any difference and without an earlier
 * change file, no change file is made. */
ULONG SaveChanges(const char* image, const char* change, int kind, const char* folder);

/* Removes a file or a folder with everything in it; a missing one is no failure. */
NTSTATUS DeleteTree(const char* path);
