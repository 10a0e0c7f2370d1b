// The interface and class identifiers the converter uses, defined once.
#include "Platform.h"

#include <initguid.h>
#define USES_IID_IMAPIProp
#define USES_IID_IMessage
#define USES_IID_IAttachment
#include <mapiguid.h>

#include "ConverterSession.h"
