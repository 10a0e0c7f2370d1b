#pragma once
// The page's own dual interface from the library's type library KOLVEN32Lib:
// no members beyond IDispatch.
#include "Platform.h"

#include <oaidl.h>

struct IProvPropPage : public IDispatch {};

__CRT_UUID_DECL(IProvPropPage, 0xE2C95F7A, 0x0D36, 0x4B41, 0x8A, 0x6E, 0x4F, 0x17, 0xB3, 0xD9, 0x2C, 0x58)
