#include "Platform.h"
#include "esedb/CColumnInfo.h"

#include <cstring>

namespace NJbFramework {

CColumnInfo::CColumnInfo()
{
    memset(&m_list, 0, sizeof(m_list));
}

CSharedRef<CTable> CColumnInfo::ListColumns(const CTable& table)
{
    // ESE's own layout: 68 bytes on 32-bit Windows, 80 on x64 (the table
    // handle is pointer-sized).
    static_assert(sizeof(JET_COLUMNLIST) == (sizeof(void*) == 8 ? 80 : 68), "JET_COLUMNLIST layout");
    memset(&m_list, 0, sizeof(m_list));
    m_list.cbStruct = sizeof(m_list);
    CheckJbResult(kJetGetTableColumnInfo, JetGetTableColumnInfoA(table.SessionHandle(), table.Handle(), nullptr,
                                                                 &m_list, sizeof(m_list), JET_ColInfoList));
    return CSharedRef<CTable>(new CTable(table.Session(), m_list.tableid));
}

} // namespace NJbFramework
