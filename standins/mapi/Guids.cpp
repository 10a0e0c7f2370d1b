// The MAPI IIDs this library uses, defined once.
#include "Platform.h"

#include <initguid.h>
#define USES_IID_IMAPITable
#define USES_IID_IMAPITableData
#define USES_IID_IMAPIProp
#define USES_IID_IMessage
#define USES_IID_IAttachment
#define USES_IID_IMAPIAdviseSink
#define USES_IID_IMAPIContainer
#define USES_IID_IMAPIFolder
#include <mapiguid.h>
