#include "Platform.h"
#include "PageStoreUid.h"

#include <mutex>

namespace setup {

namespace {

std::mutex g_lock;

std::wstring& Value()
{
    static std::wstring value;
    return value;
}

} // namespace

void SetPageStoreUid(const std::wstring& hexUid)
{
    std::lock_guard<std::mutex> guard(g_lock);
    Value() = hexUid;
}

std::wstring GetPageStoreUid()
{
    std::lock_guard<std::mutex> guard(g_lock);
    return Value();
}

} // namespace setup
