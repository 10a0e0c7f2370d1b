#include "Platform.h"
#include "CException.h"

#include <cwchar>

namespace {

struct SourceRow {
    unsigned long source;
    long sourceCode;
    unsigned long code;
};

// Searched in order; the row whose source code is 0 ends it.
const SourceRow kSourceTable[] = {
    {kSrcEse, -1305, kErrNotFound},
    {0, 0, 0},
};

struct HResultRow {
    unsigned long code;
    DWORD win32Error;
};

// Searched in order; the row whose code is 0 ends it.
const HResultRow kHResultTable[] = {
    {kErrColumnMissing, ERROR_FILE_NOT_FOUND},
    {kErrNotFound, ERROR_FILE_NOT_FOUND},
    {kErrNoSender, ERROR_FILE_NOT_FOUND},
    {kErrBadAttachmentList, ERROR_BAD_FORMAT},
    {0, 0},
};

wchar_t* Duplicate(const wchar_t* text)
{
    if (!text)
        return nullptr;
    size_t length = wcslen(text);
    wchar_t* copy = new wchar_t[length + 1];
    wmemcpy(copy, text, length + 1);
    return copy;
}

} // namespace

wchar_t* FormatAllocV(const wchar_t* format, va_list args)
{
    va_list measure;
    va_copy(measure, args);
    int length = _vscwprintf(format, measure);
    va_end(measure);
    if (length < 0)
        length = 0;
    wchar_t* text = new wchar_t[length + 1];
    text[0] = L'\0';
    _vsnwprintf(text, length + 1, format, args);
    text[length] = L'\0';
    return text;
}

unsigned long ErrorCodeFromSource(unsigned long source, long sourceCode)
{
    for (const SourceRow* row = kSourceTable; row->sourceCode != 0; ++row) {
        if (row->source == source && row->sourceCode == sourceCode)
            return row->code;
    }
    return kErrUnspecified;
}

HRESULT ErrorCodeToHResult(unsigned long code)
{
    for (const HResultRow* row = kHResultTable; row->code != 0; ++row) {
        if (row->code == code)
            return HRESULT_FROM_WIN32(row->win32Error);
    }
    return E_FAIL;
}

CException::CException(const CException& other)
    : m_message(Duplicate(other.m_message)), m_code(other.m_code), m_source(other.m_source),
      m_sourceCode(other.m_sourceCode)
{
}

CException& CException::operator=(const CException& other)
{
    if (this != &other) {
        wchar_t* copy = Duplicate(other.m_message);
        delete[] m_message;
        m_message = copy;
        m_code = other.m_code;
        m_source = other.m_source;
        m_sourceCode = other.m_sourceCode;
    }
    return *this;
}

CException::~CException() { delete[] m_message; }

const wchar_t* CException::GetMessage() const { return m_message; }

void CException::SetMessage(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    SetMessageV(format, args);
    va_end(args);
}

void CException::SetMessageV(const wchar_t* format, va_list args)
{
    wchar_t* text = FormatAllocV(format, args);
    delete[] m_message;
    m_message = text;
}

void CException::SetCode(unsigned long code) { m_code = code; }

unsigned long CException::SetSourceError(unsigned long source, long sourceCode)
{
    m_source = source;
    m_sourceCode = sourceCode;
    m_code = ErrorCodeFromSource(source, sourceCode);
    return m_code;
}

void CException::GetCodes(unsigned long* code, unsigned long* source, long* sourceCode) const
{
    if (code)
        *code = m_code;
    if (source)
        *source = m_source;
    if (sourceCode)
        *sourceCode = m_sourceCode;
}

HRESULT CException::GetHResult() const { return ErrorCodeToHResult(m_code); }

void ThrowServerError(unsigned long code, const wchar_t* format, ...)
{
    CException error;
    va_list args;
    va_start(args, format);
    error.SetMessageV(format, args);
    va_end(args);
    error.SetCode(code);
    throw error;
}
