#include "Platform.h"

#include "CBaseArchive.h"

#include "ArchiveStatus.h"
#include "CHDArchive.h"
#include "COldArchive.h"
#include "rwbuf.h"

#include <new>

int ArchiveFileFactory(uint8_t code, void* arg, void* context, void* out)
{
    (void)arg;
    (void)context;
    if (code != ARCCB_CREATE_FILE)
        return 0;
    CNAFile* file = NewWinFileCache();
    if (!file)
        return ARCERR_NO_MEMORY;
    *static_cast<CNAFile**>(out) = file;
    return 0;
}

int OpenArchive(const ArchiveOpenParams* params, HdArchiveHeader** header, CBaseArchive** archive,
                const uint64_t* forbiddenId)
{
    if (!archive)
        return ARCERR_BAD_ARGUMENT;
    *archive = nullptr;
    if (header)
        *header = nullptr;
    CHDArchive* newer = new (std::nothrow) CHDArchive();
    if (!newer)
        return ARCERR_NO_MEMORY;
    int rc = newer->Open(params, header, nullptr, forbiddenId);
    if (rc == 0) {
        *archive = newer;
        return 0;
    }
    delete newer;
    if (rc != ARCERR_FORMAT)
        return rc;
    COldArchive* older = new (std::nothrow) COldArchive();
    if (!older)
        return ARCERR_NO_MEMORY;
    rc = older->Open(params, header, nullptr, forbiddenId);
    if (rc == 0) {
        *archive = older;
        return 0;
    }
    delete older;
    return rc;
}

int CloseArchive(CBaseArchive* archive)
{
    delete archive;
    return 0;
}
