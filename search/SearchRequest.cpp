#include "ProviderPlatform.h"
#include "SearchRequest.h"

#include <cstring>

std::shared_ptr<CSearchEvents> CSearchEvents::Create()
{
    HANDLE run = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!run || !done) {
        if (run)
            CloseHandle(run);
        if (done)
            CloseHandle(done);
        return nullptr;
    }
    return std::shared_ptr<CSearchEvents>(new CSearchEvents(run, done));
}

std::shared_ptr<CSearchEvents> CSearchEvents::ForNextSearch(const std::shared_ptr<CSearchEvents>& current)
{
    if (current && !current->Abandoned()) {
        if (current->Finished()) {
            SetEvent(current->Run());
            ResetEvent(current->Done());
            return current;
        }
        current->Abandon();
    }
    return Create();
}

CSearchEvents::~CSearchEvents()
{
    CloseHandle(m_run);
    CloseHandle(m_done);
}

MapiPtr<ENTRYLIST> CopyEntryList(const ENTRYLIST* list, HRESULT& hr)
{
    hr = S_OK;
    if (!list)
        return MapiPtr<ENTRYLIST>();
    MapiPtr<ENTRYLIST> copy = MapiAllocate<ENTRYLIST>(sizeof(ENTRYLIST), hr);
    if (!copy)
        return copy;
    if (list->cValues == 0 || !list->lpbin)
        return copy;
    SBinary* entries = MapiAllocateMore<SBinary>(sizeof(SBinary) * list->cValues, copy.get(), hr);
    if (!entries)
        return MapiPtr<ENTRYLIST>();
    copy->lpbin = entries;
    copy->cValues = list->cValues;
    for (ULONG i = 0; i < list->cValues; ++i) {
        const SBinary& from = list->lpbin[i];
        if (!from.cb || !from.lpb)
            continue;
        BYTE* bytes = MapiAllocateMore<BYTE>(from.cb, copy.get(), hr);
        if (!bytes)
            return MapiPtr<ENTRYLIST>();
        std::memcpy(bytes, from.lpb, from.cb);
        entries[i].cb = from.cb;
        entries[i].lpb = bytes;
    }
    return copy;
}
