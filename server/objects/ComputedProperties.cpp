#include "Platform.h"
#include "objects/ComputedProperties.h"
#include "objects/ComputedValues.h"
#include "objects/FolderTables.h"

namespace {

// Table kinds the rules apply to (the kinds of CEseTableImpl).
constexpr unsigned long kMessages = 0x1; // a folder's message table
constexpr unsigned long kFolders = 0x2;  // "Folders"
constexpr unsigned long kMsg = 0x4;      // "Msg"

} // namespace

// Rules 4 to 6 copy what rules 1 to 3 produced, so the order matters.
const SComputedProperty g_eseComputedProps[] = {
    {0x0037001F, kMessages, 2, {0x003D001F, 0x0E1D001F}, ComputeSubject},
    {0x0042001F, kMsg, 4, {0x0042001F, 0x67B60102, 0x67B50102, 0x67BD0102}, ComputeSenderName},
    {0x0065001F, kMsg, 2, {0x0065001F, 0x4031001F}, CopySenderEmailAddress},
    {0x0064001F, kMsg, 2, {0x0064001F, 0x67B60102}, ComputeSenderAddressType},
    {0x0C1A001F, kMsg, 2, {0x0C1A001F, 0x0042001F}, CopySentRepresentingName},
    {0x0C1F001F, kMsg, 2, {0x0C1F001F, 0x0065001F}, CopySentRepresentingAddress},
    {0x0C1E001F, kMsg, 2, {0x0C1E001F, 0x0064001F}, CopySentRepresentingAddressType},
    {0x360A000B, kFolders, 1, {0x67480014}, ComputeSubfoldersFlag},
    {0x67490014, kFolders, 1, {0x67490014}, AliasParentFolderId},
    {0x36170003, kFolders, 2, {0x67480014, 0x36170003}, ShowRootCounter<0>},
    {0x66B20003, kFolders, 2, {0x67480014, 0x66B20003}, ShowRootCounter<1>},
    {0x66B10003, kFolders, 2, {0x67480014, 0x66B10003}, ShowRootCounter<2>},
    {0x36020003, kFolders, 2, {0x67480014, 0x36020003}, ShowRootCounter<3>},
    {0x36030003, kFolders, 2, {0x67480014, 0x36030003}, ShowRootCounter<4>},
    {0x66380003, kFolders, 2, {0x67480014, 0x66380003}, ShowRootCounter<5>},
    {0x66AD0003, kFolders, 2, {0x67480014, 0x66AD0003}, ShowRootCounter<6>},
    {0x66B00003, kFolders, 2, {0x67480014, 0x66B00003}, ShowRootCounter<7>},
    {0x66AF0003, kFolders, 2, {0x67480014, 0x66AF0003}, ShowRootCounter<8>},
    {0x67480014, kMessages, 1, {0x67480014}, AliasMessageFolderId},
    {0, 0, 0, {}, nullptr},
};
