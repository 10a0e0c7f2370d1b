// Stands where widl would put the C declarations of VostrelBase.idl: the SDK's
// own headers already declare every type that file names.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <objidl.h>
