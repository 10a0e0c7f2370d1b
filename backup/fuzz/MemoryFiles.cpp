#include "MemoryFiles.h"

#include "ArchiveStatus.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <new>

namespace memoryfiles {

namespace {

struct SState {
    std::map<std::string, std::vector<uint8_t>> files;
    std::deque<std::vector<uint8_t>> parts;
    std::vector<SWrite> writes;
};

SState& State()
{
    static SState state;
    return state;
}

class CMemoryFile : public CNAFile {
public:
    int Open(const char* path, uint32_t disposition, uint32_t access, uint32_t) override
    {
        SState& state = State();
        m_path = path;
        m_position = 0;
        m_writable = (access & 0x40000000u) != 0;
        if (disposition == 2) {
            m_file = &state.files[m_path];
            m_file->clear();
            return 0;
        }
        if (disposition != 1)
            return ARCERR_BAD_STATE;
        auto found = state.files.find(m_path);
        if (found == state.files.end()) {
            if (state.parts.empty())
                return ARCERR_OPEN;
            found = state.files.emplace(m_path, std::move(state.parts.front())).first;
            state.parts.pop_front();
        }
        m_file = &found->second;
        return 0;
    }
    int Close() override
    {
        m_file = nullptr;
        return 0;
    }
    int Read(void* buffer, uint32_t n, uint32_t* done) override
    {
        if (!m_file)
            return ARCERR_BAD_STATE;
        uint64_t left = m_position < m_file->size() ? m_file->size() - m_position : 0;
        uint32_t got = static_cast<uint32_t>(std::min<uint64_t>(n, left));
        if (got)
            memcpy(buffer, m_file->data() + m_position, got);
        m_position += got;
        if (done)
            *done = got;
        return 0;
    }
    int ReadAt(void* buffer, uint32_t n, uint64_t offset) override
    {
        if (!m_file || offset > m_file->size() || m_file->size() - offset < n)
            return -1;
        if (n)
            memcpy(buffer, m_file->data() + offset, n);
        return 0;
    }
    int Write(const void* buffer, uint32_t n) override
    {
        int rc = WriteAt(buffer, n, m_position);
        if (rc == 0)
            m_position += n;
        return rc;
    }
    int WriteAt(const void* buffer, uint32_t n, uint64_t offset) override
    {
        if (!m_file || !m_writable || offset > m_file->size())
            return -1;
        State().writes.push_back(SWrite{m_path, offset, n});
        if (m_file->size() - offset < n)
            m_file->resize(offset + n);
        if (n)
            memcpy(m_file->data() + offset, buffer, n);
        return 0;
    }
    uint64_t Tell() override { return m_position; }
    int Seek(uint64_t offset) override
    {
        m_position = offset;
        return m_file && offset <= m_file->size() ? 0 : -1;
    }
    uint64_t GetSize() override { return m_file ? m_file->size() : 0; }
    int SetSize(uint64_t size) override
    {
        if (!m_file || !m_writable)
            return ARCERR_BAD_STATE;
        m_file->resize(size);
        return 0;
    }
    int MakePath(const char*, bool) override { return 0; }
    int DeleteFile(const char* path) override
    {
        State().files.erase(path);
        return 0;
    }
    int Flush() override { return 0; }
    int MakeDir(const char*) override { return 0; }
    int RemoveDir(const char*) override { return 0; }
    int Rename(const char*, const char*) override { return 0; }
    int GetAttributes(const char* path) override { return State().files.count(path) ? 0 : -1; }
    int SetAttributes(const char*, uint32_t) override { return 0; }
    int GetTimes(uint64_t*, uint64_t*, uint64_t*) override { return 0; }
    int WriteChunked(const void* buffer, uint32_t n) override { return Write(buffer, n); }
    int ReadAtDirect(void* buffer, uint32_t n, uint64_t offset, uint32_t* got) override
    {
        if (!m_file || offset > m_file->size())
            return ARCERR_BAD_STATE;
        uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(n, m_file->size() - offset));
        if (length)
            memcpy(buffer, m_file->data() + offset, length);
        if (got)
            *got = length;
        return 0;
    }

private:
    std::string m_path;
    std::vector<uint8_t>* m_file = nullptr;
    uint64_t m_position = 0;
    bool m_writable = false;
};

}  // namespace

void Reset(std::vector<std::vector<uint8_t>> parts)
{
    SState& state = State();
    state.files.clear();
    state.writes.clear();
    state.parts.clear();
    for (auto& part : parts)
        state.parts.push_back(std::move(part));
}

std::map<std::string, std::vector<uint8_t>>& Files()
{
    return State().files;
}

const std::vector<SWrite>& Writes()
{
    return State().writes;
}

CNAFile* NewFile()
{
    return new (std::nothrow) CMemoryFile();
}

int EventCallback(uint8_t code, void*, void*, void* out)
{
    if (code != ARCCB_CREATE_FILE)
        return 0;
    CNAFile* file = NewFile();
    if (!file)
        return ARCERR_NO_MEMORY;
    *static_cast<CNAFile**>(out) = file;
    return 0;
}

}  // namespace memoryfiles

// The system's file factory hands out memory files here as well.
CNAFile* NewWinFileCache()
{
    return memoryfiles::NewFile();
}
