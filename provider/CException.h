// The provider library's own exception: a formatted wide message, thrown by
// value and caught by type (text extraction and search report through it).
// Not the server's exception class, which carries a source file and line.
#pragma once
#include "ProviderPlatform.h"

#include <cstdarg>
#include <memory>

class CException {
public:
    CException();
    CException(const CException& other);
    CException& operator=(const CException& other);
    virtual ~CException();

    // The message, or null when none was formatted.
    virtual const wchar_t* GetText() const;
    // Replaces the message with the formatted text (wide printf rules), even
    // when that text is empty; returns the formatter's result, negative when
    // the format cannot be applied (the message is then empty).
    virtual int Format(const wchar_t* format, ...);

private:
    std::unique_ptr<wchar_t[]> m_message;
};
