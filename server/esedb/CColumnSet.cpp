#include "Platform.h"
#include "esedb/CColumnSet.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace NJbFramework {

// ESE's own layout: 36 bytes on 32-bit Windows, 48 on x64 (pointer-sized
// buffers and lengths padded to 8).
static_assert(sizeof(JET_RETRIEVECOLUMN) == (sizeof(void*) == 8 ? 48 : 36), "JET_RETRIEVECOLUMN layout");

CColumnSet::CColumnSet(unsigned long maximumSize) : m_maximumSize(maximumSize)
{
}

CColumnSet::~CColumnSet()
{
    for (unsigned long i = 0; i < m_count; ++i)
        free(m_records[i].pvData);
    free(m_records);
}

SColumnDescriptor* CColumnSet::AddColumn(JET_COLUMNID columnid, JET_GRBIT grbit)
{
    std::unique_ptr<SColumnDescriptor> descriptor(new SColumnDescriptor{columnid, grbit, nullptr});
    m_columns.push_back(std::move(descriptor));
    auto* grown =
        static_cast<JET_RETRIEVECOLUMN*>(realloc(m_records, sizeof(JET_RETRIEVECOLUMN) * m_columns.size()));
    if (!grown) {
        m_columns.pop_back();
        throw std::bad_alloc();
    }
    m_records = grown;
    JET_RETRIEVECOLUMN& record = m_records[m_count];
    memset(&record, 0, sizeof(record));
    record.columnid = columnid;
    record.grbit = grbit;
    record.itagSequence = 1;
    ++m_count;
    // The array may have moved: descriptor i -> record i.
    for (unsigned long i = 0; i < m_count; ++i)
        m_columns[i]->record = &m_records[i];
    return m_columns.back().get();
}

void CColumnSet::Fetch(CTable& table, unsigned long itagSequence)
{
    bool grew;
    do {
        // Set on every pass: a count query (itagSequence 0) comes back with
        // the counts in place of the sequence numbers.
        for (unsigned long i = 0; i < m_count; ++i)
            m_records[i].itagSequence = itagSequence;
        table.RetrieveColumns(m_records, m_count);
        grew = false;
        for (unsigned long i = 0; i < m_count; ++i) {
            JET_RETRIEVECOLUMN& record = m_records[i];
            if (record.cbActual <= record.cbData)
                continue;
            if (m_maximumSize != 0 && record.cbActual > m_maximumSize)
                continue;
            void* buffer = malloc(record.cbActual);
            if (!buffer)
                throw std::bad_alloc();
            free(record.pvData);
            record.pvData = buffer;
            record.cbData = record.cbActual;
            grew = true;
        }
    } while (grew);
}

} // namespace NJbFramework
