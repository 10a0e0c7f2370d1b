#pragma once
// The path helpers of the file layer: directory creation along a path,
// delete, rename, attributes. Paths arrive as UTF-8 and are converted with a
// strict decoder into the C runtime's code page before the runtime sees them;
// a path that cannot be converted makes the helper return -1 with errno
// EINVAL (ENOMEM when memory runs out). No exception leaves these methods.
#include "CNAFile.h"

#include <string>

class CUtf8IOFile : public CNAFile {
public:
    int MakePath(const char* path, bool isFilePath) override;
    int DeleteFile(const char* path) override;
    int MakeDir(const char* path) override;
    int RemoveDir(const char* path) override;
    int Rename(const char* from, const char* to) override;
    int GetAttributes(const char* path) override;
    int SetAttributes(const char* path, uint32_t attributes) override;

    // Strict UTF-8 to UTF-16: overlong forms, surrogates, U+FFFE/U+FFFF and
    // cut-short sequences are refused. Throws cvt_error.
    static std::wstring DecodeUtf8(const char* text);
    // UTF-8 to the C runtime's multibyte code page. Throws cvt_error or
    // std::bad_alloc.
    static std::string ToCodePage(const char* text);
};
