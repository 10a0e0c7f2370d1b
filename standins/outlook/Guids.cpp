// The MAPI interface identifiers the host uses.
#include "Platform.h"

#include <initguid.h>
#define USES_IID_IMAPIFolder
#include <mapiguid.h>
