#pragma once
// Tells the COM base which contract interfaces derive from IEseProperty, so
// that an object serving IEseFolder also answers for IEseProperty.
#include "CUnknownImpl.h"
#include "Vostrel2007.h"

namespace common {
template <>
struct InterfaceBase<IEseFolder> {
    using Type = IEseProperty;
};
template <>
struct InterfaceBase<IEseMessage> {
    using Type = IEseProperty;
};
template <>
struct InterfaceBase<IEseMailbox> {
    using Type = IEseProperty;
};
} // namespace common
