#include "ProviderPlatform.h"
#include "CException.h"

#include <cstring>
#include <cwchar>

namespace {

std::unique_ptr<wchar_t[]> Duplicate(const wchar_t* text)
{
    if (!text)
        return nullptr;
    const size_t units = wcslen(text) + 1;
    std::unique_ptr<wchar_t[]> copy(new wchar_t[units]);
    std::memcpy(copy.get(), text, units * sizeof(wchar_t));
    return copy;
}

} // namespace

CException::CException() = default;

CException::CException(const CException& other) : m_message(Duplicate(other.m_message.get())) {}

CException& CException::operator=(const CException& other)
{
    if (this != &other)
        m_message = Duplicate(other.m_message.get());
    return *this;
}

CException::~CException() = default;

const wchar_t* CException::GetText() const
{
    return m_message.get();
}

int CException::Format(const wchar_t* format, ...)
{
    m_message.reset();
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int length = format ? _vscwprintf(format, measure) : -1;
    va_end(measure);
    int result = length;
    m_message.reset(new wchar_t[length > 0 ? length + 1 : 1]);
    m_message[0] = L'\0';
    if (length > 0)
        result = vswprintf_s(m_message.get(), length + 1, format, args);
    if (result < 0)
        m_message[0] = L'\0';
    va_end(args);
    return result;
}
