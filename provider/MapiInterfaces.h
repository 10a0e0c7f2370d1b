// The MAPI interfaces the provider's objects serve, as the COM base needs to
// know them: mingw's MAPI headers give them no __uuidof, so their IIDs and
// the interface chain (IMAPIFolder -> IMAPIContainer -> IMAPIProp, IMsgStore,
// IMessage and IAttach -> IMAPIProp) are named here once. IAttach answers
// for MAPI's IID_IAttachment. The IIDs are defined in
// ProviderGuids.cpp.
#pragma once
#include "ProviderPlatform.h"
#include "CUnknownImpl.h"

#include <mapispi.h>

namespace common {

template <> struct InterfaceIid<IMAPIProp> { static const IID& Get() { return IID_IMAPIProp; } };
template <> struct InterfaceIid<IMAPIContainer> { static const IID& Get() { return IID_IMAPIContainer; } };
template <> struct InterfaceIid<IMAPIFolder> { static const IID& Get() { return IID_IMAPIFolder; } };
template <> struct InterfaceIid<IMsgStore> { static const IID& Get() { return IID_IMsgStore; } };
template <> struct InterfaceIid<IMSLogon> { static const IID& Get() { return IID_IMSLogon; } };
template <> struct InterfaceIid<IMSProvider> { static const IID& Get() { return IID_IMSProvider; } };
template <> struct InterfaceIid<IMAPITable> { static const IID& Get() { return IID_IMAPITable; } };
template <> struct InterfaceIid<IMessage> { static const IID& Get() { return IID_IMessage; } };
template <> struct InterfaceIid<IAttach> { static const IID& Get() { return IID_IAttachment; } };

template <> struct InterfaceBase<IMAPIFolder> { using Type = IMAPIContainer; };
template <> struct InterfaceBase<IMAPIContainer> { using Type = IMAPIProp; };
template <> struct InterfaceBase<IMsgStore> { using Type = IMAPIProp; };
template <> struct InterfaceBase<IMessage> { using Type = IMAPIProp; };
template <> struct InterfaceBase<IAttach> { using Type = IMAPIProp; };

} // namespace common
