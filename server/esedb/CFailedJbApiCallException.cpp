#include "Platform.h"
#include "CFailedJbApiCallException.h"

namespace NJbFramework {
namespace {

struct FunctionName {
    int index;
    const char* name;
};

// The last row ends the table and names every index not listed.
const FunctionName kFunctionNames[] = {
    {0, "JetCreateInstance"},      {1, "JetSetSystemParameter"},  {2, "JetGetSystemParameter"},
    {3, "JetInit2"},               {4, "JetInit3"},               {5, "JetBeginSession"},
    {6, "JetGetVersion"},          {7, "JetAttachDatabase"},      {8, "JetDetachDatabase"},
    {9, "JetOpenDatabase"},        {10, "JetGetDatabaseFileInfo"}, {11, "JetSetSessionContext"},
    {12, "JetResetSessionContext"}, {13, "JetTerm"},              {14, "JetEndSession"},
    {15, "JetCloseDatabase"},      {16, "JetGetDatabaseInfo"},    {17, "JetGetObjectInfo"},
    {18, "JetCloseTable"},         {19, "JetOpenTable"},          {20, "JetGetTableInfo"},
    {21, "JetGetColumnInfo"},      {22, "JetMove"},               {23, "JetRetrieveColumn"},
    {24, "JetGetRecordPosition"},  {25, "JetRetrieveColumns"},    {26, "JetGetIndexInfo"},
    {27, "JetGetTableIndexInfo"},  {28, "JetOpenTempTable2"},     {29, "JetOpenTempTable3"},
    {30, "JetPrepareUpdate"},      {31, "JetSetColumns"},         {32, "JetUpdate"},
    {33, "JetGetTableColumnInfo"}, {34, "JetSetCurrentIndex"},    {35, "JetMakeKey"},
    {36, "JetSeek"},               {kUnknownJbApiFunction, "UnknownJbApiFunction"},
};

} // namespace

const char* EseFunctionName(int functionIndex)
{
    const FunctionName* row = kFunctionNames;
    while (row->index != kUnknownJbApiFunction && row->index != functionIndex)
        ++row;
    return row->name;
}

void CheckJbResult(int functionIndex, long eseError)
{
    if (eseError >= 0)
        return;
    CFailedJbApiCallException error(eseError, functionIndex);
    error.SetMessage(L"ESE API function=%S was failed with error code=%d", EseFunctionName(functionIndex),
                     static_cast<int>(eseError));
    error.SetSourceError(kSrcEse, eseError);
    throw error;
}

} // namespace NJbFramework
