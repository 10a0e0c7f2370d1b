#pragma once
// The server's exception: an error code of the server, the source the error
// came from (none, an HRESULT or an ESE error) with that source's own number,
// and a formatted wide message. Thrown by value, caught as CException&; the
// COM methods turn it into an error object and an HRESULT (ComErrors.h).
#include "Platform.h"

#include <cstdarg>

// The server's error codes; the numbers travel to the client in the error
// description and are read there, so they never change.
enum EServerErrorCode : unsigned long {
    kErrUnspecified = 0,
    kErrNotFound = 1,
    kErrColumnMissing = 2,
    kErrBadParameter = 3,
    kErrCreateObject = 4,
    kErrBadAttachmentList = 5,
    kErrNoSender = 6,
    kErrForeignLog = 7,
};

// Where an error came from.
enum EServerErrorSource : unsigned long {
    kSrcNone = 0,
    kSrcHResult = 2,
    kSrcEse = 3,
};

class CException {
public:
    CException() = default;
    CException(const CException& other);
    CException& operator=(const CException& other);
    virtual ~CException();

    virtual const wchar_t* GetMessage() const;
    virtual void SetMessage(const wchar_t* format, ...);
    virtual void SetCode(unsigned long code);
    // Stores the source and its number and derives the code from them.
    virtual unsigned long SetSourceError(unsigned long source, long sourceCode);
    virtual void GetCodes(unsigned long* code, unsigned long* source, long* sourceCode) const;
    virtual HRESULT GetHResult() const;

    void SetMessageV(const wchar_t* format, va_list args);

private:
    wchar_t* m_message = nullptr;
    unsigned long m_code = 0;
    unsigned long m_source = 0;
    long m_sourceCode = 0;
};

// The code that a (source, source code) pair stands for: ESE's "object not
// found" is the server's not-found; every other pair is unspecified.
unsigned long ErrorCodeFromSource(unsigned long source, long sourceCode);

// The HRESULT a code is returned as: the Win32 file-not-found code for the
// lookup failures, the bad-format code for a bad attachment list, else E_FAIL.
HRESULT ErrorCodeToHResult(unsigned long code);

// Formats into an exactly sized, newly allocated (new[]) wide string.
wchar_t* FormatAllocV(const wchar_t* format, va_list args);

// Throws a CException with a code and a formatted message.
[[noreturn]] void ThrowServerError(unsigned long code, const wchar_t* format, ...);
