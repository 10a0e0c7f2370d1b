#include "ProviderPlatform.h"
#include "SearchColumns.h"

#include <algorithm>

const ULONG kSearchMessageColumns[kSearchMessageColumnCount] = {
    kPrMid,     kPrMsgLink, kPrFid,     0x0E070003, 0x0E04001F, 0x0E03001F, 0x0E02001F, 0x0E1B000B,
    0x30080040, 0x001A001F, 0x3001001F, 0x0E080003, 0x0E170003, 0x00390040, 0x00710102, 0x00170003,
    0x0E060040, 0x0E180003, 0x0E1D001F, 0x00260003, 0x0C1A001F, 0x0042001F, 0x0C1F001F, 0x0065001F,
    0x00360003, 0x0037001F, 0x003D001F, 0x0070001F, 0x10F4000B, 0x10F5000B, 0x0FF50003, 0x30050003,
    0x10800003, 0x10950003, 0x10900003, 0x300B0102, 0x1035001F, 0x36030003, 0x00300040, 0x00150040,
    0x0E2B0003, 0x10970003, 0x65C60003, 0x6E010003, 0x0EA20003, PR_BODY_W,  kPrHtml,    PR_RTF_COMPRESSED};

const ULONG kSearchRowKeyColumns[kSearchRowKeyColumnCount] = {
    PR_INSTANCE_KEY, PR_ENTRYID,          PR_OBJECT_TYPE, PR_MAPPING_SIGNATURE, PR_PARENT_ENTRYID, PR_RECORD_KEY,
    kPrLongTermEntryIdFromTable, PR_STORE_ENTRYID, PR_STORE_RECORD_KEY, PR_ACCESS, PR_ACCESS_LEVEL,
    PR_PARENT_DISPLAY_W};

std::vector<ULONG> SearchResultColumns()
{
    static const ULONG kLeftOut[] = {PR_BODY_W, kPrHtml, PR_RTF_COMPRESSED, kPrMid, kPrMsgLink, kPrFid};
    std::vector<ULONG> columns;
    columns.reserve(kSearchResultColumnCount);
    for (ULONG tag : kSearchMessageColumns)
        if (std::find(std::begin(kLeftOut), std::end(kLeftOut), tag) == std::end(kLeftOut))
            columns.push_back(tag);
    columns.insert(columns.end(), std::begin(kSearchRowKeyColumns), std::end(kSearchRowKeyColumns));
    return columns;
}
