#pragma once
// Lets CUnknownImpl answer for the MAPI interfaces: mingw's MAPI headers give
// them no __uuidof, so their IIDs and bases are named here.
#include "MapiStandin.h"
#include "CUnknownImpl.h"

namespace common {

template <> struct InterfaceIid<IMAPITable> { static const IID& Get() { return IID_IMAPITable; } };
template <> struct InterfaceIid<ITableData> { static const IID& Get() { return IID_IMAPITableData; } };
template <> struct InterfaceIid<IMAPIProp> { static const IID& Get() { return IID_IMAPIProp; } };
template <> struct InterfaceIid<IMessage> { static const IID& Get() { return IID_IMessage; } };
template <> struct InterfaceIid<IAttach> { static const IID& Get() { return IID_IAttachment; } };
template <> struct InterfaceIid<IMAPIAdviseSink> { static const IID& Get() { return IID_IMAPIAdviseSink; } };

template <> struct InterfaceBase<IMessage> { using Type = IMAPIProp; };
template <> struct InterfaceBase<IAttach> { using Type = IMAPIProp; };

} // namespace common
