// The MAPI IIDs the provider uses, defined once for the library.
#include "Platform.h"

#include <initguid.h>
#define USES_IID_IMAPITable
#define USES_IID_IMAPITableData
#define USES_IID_IMAPIProp
#define USES_IID_IMAPIContainer
#define USES_IID_IMAPIFolder
#define USES_IID_IMsgStore
#define USES_IID_IMSLogon
#define USES_IID_IMSProvider
#define USES_IID_IMessage
#define USES_IID_IAttachment
#define USES_IID_IMAPIAdviseSink
#define USES_IID_IMAPIProgress
#define USES_IID_IMAPISup
#define USES_IID_IProfSect
#include <mapiguid.h>
