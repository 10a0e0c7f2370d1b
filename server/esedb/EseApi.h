#pragma once
// The published ESE surface (ese.dll / esent.dll) as this project compiles
// against it: mingw-w64's <esent.h> for the types, structures, error numbers
// and function declarations, plus the documented option bits and info levels
// that header leaves out (the values are those of the Windows SDK's esent.h).
// Include after <windows.h> (Platform.h in the server).
//
// Names: under UNICODE, <esent.h> maps JetAttachDatabase and the other
// text-taking names to their W forms. The server passes narrow (CP_ACP) text
// and so calls the A forms by name; its import library binds those to the
// undecorated exports that every ese.dll has (server/esedb/ese.def).
// <esent.h> tests "#if UNICODE", which fails on the empty definition that
// Platform.h makes; it sees UNICODE as 1 while it is read.
#ifdef UNICODE
#pragma push_macro("UNICODE")
#undef UNICODE
#define UNICODE 1
#include <esent.h>
#pragma pop_macro("UNICODE")
#else
#include <esent.h>
#endif

// JetMakeKey
#ifndef JET_bitNewKey
#define JET_bitNewKey 0x00000001
#define JET_bitStrLimit 0x00000002
#define JET_bitSubStrLimit 0x00000004
#define JET_bitNormalizedKey 0x00000008
#define JET_bitKeyDataZeroLength 0x00000010
#define JET_bitFullColumnStartLimit 0x00000100
#define JET_bitFullColumnEndLimit 0x00000200
#define JET_bitPartialColumnStartLimit 0x00000400
#define JET_bitPartialColumnEndLimit 0x00000800
#endif

// JetSetIndexRange
#ifndef JET_bitRangeInclusive
#define JET_bitRangeInclusive 0x00000001
#define JET_bitRangeUpperLimit 0x00000002
#define JET_bitRangeInstantDuration 0x00000004
#define JET_bitRangeRemove 0x00000008
#endif

// JetMove
#ifndef JET_bitMoveKeyNE
#define JET_bitMoveKeyNE 0x00000001
#endif

// JetSeek
#ifndef JET_bitSeekEQ
#define JET_bitSeekEQ 0x00000001
#define JET_bitSeekLT 0x00000002
#define JET_bitSeekLE 0x00000004
#define JET_bitSeekGE 0x00000008
#define JET_bitSeekGT 0x00000010
#define JET_bitSetIndexRange 0x00000020
#endif

// JetCreateIndex and JET_INDEXCREATE
#ifndef JET_bitIndexUnique
#define JET_bitIndexUnique 0x00000001
#define JET_bitIndexPrimary 0x00000002
#define JET_bitIndexDisallowNull 0x00000004
#define JET_bitIndexIgnoreNull 0x00000008
#define JET_bitIndexIgnoreAnyNull 0x00000020
#define JET_bitIndexIgnoreFirstNull 0x00000040
#define JET_bitIndexLazyFlush 0x00000080
#define JET_bitIndexEmpty 0x00000100
#define JET_bitIndexUnversioned 0x00000200
#define JET_bitIndexSortNullsHigh 0x00000400
#endif

// Key segment direction (grbitColumn of JET_INDEXLIST)
#ifndef JET_bitKeyAscending
#define JET_bitKeyAscending 0x00000000
#define JET_bitKeyDescending 0x00000001
#endif

// JET_COLUMNDEF grbit
#ifndef JET_bitColumnFixed
#define JET_bitColumnFixed 0x00000001
#define JET_bitColumnTagged 0x00000002
#define JET_bitColumnNotNULL 0x00000004
#define JET_bitColumnVersion 0x00000008
#define JET_bitColumnAutoincrement 0x00000010
#define JET_bitColumnUpdatable 0x00000020
#define JET_bitColumnTTKey 0x00000040
#define JET_bitColumnTTDescending 0x00000080
#define JET_bitColumnMultiValued 0x00000400
#define JET_bitColumnEscrowUpdate 0x00000800
#define JET_bitColumnUnversioned 0x00001000
#define JET_bitColumnMaybeNull 0x00002000
#endif

// JetRetrieveColumn(s)
#ifndef JET_bitRetrieveCopy
#define JET_bitRetrieveCopy 0x00000001
#define JET_bitRetrieveFromIndex 0x00000002
#define JET_bitRetrieveFromPrimaryBookmark 0x00000004
#define JET_bitRetrieveTag 0x00000008
#define JET_bitRetrieveNull 0x00000010
#define JET_bitRetrieveIgnoreDefault 0x00000020
#endif

// JetSetColumn(s)
#ifndef JET_bitSetAppendLV
#define JET_bitSetAppendLV 0x00000001
#define JET_bitSetOverwriteLV 0x00000004
#define JET_bitSetSizeLV 0x00000008
#define JET_bitSetZeroLength 0x00000020
#define JET_bitSetSeparateLV 0x00000040
#define JET_bitSetUniqueMultiValues 0x00000080
#define JET_bitSetUniqueNormalizedMultiValues 0x00000100
#define JET_bitSetRevertToDefaultValue 0x00000200
#define JET_bitSetIntrinsicLV 0x00000400
#endif

// JetPrepareUpdate
#ifndef JET_prepInsert
#define JET_prepInsert 0
#define JET_prepReplace 2
#define JET_prepCancel 3
#define JET_prepReplaceNoLock 4
#define JET_prepInsertCopy 5
#endif

// Transactions
#ifndef JET_bitCommitLazyFlush
#define JET_bitCommitLazyFlush 0x00000001
#define JET_bitWaitLastLevel0Commit 0x00000002
#define JET_bitRollbackAll 0x00000001
#endif

// JetInit2 / JetInit3
#ifndef JET_bitReplayIgnoreMissingDB
#define JET_bitReplayIgnoreMissingDB 0x00000004
#define JET_bitRecoveryWithoutUndo 0x00000008
#define JET_bitTruncateLogsAfterRecovery 0x00000010
#define JET_bitReplayMissingMapEntryDB 0x00000020
#define JET_bitLogStreamMustExist 0x00000040
#endif

// JetTerm2
#ifndef JET_bitTermComplete
#define JET_bitTermComplete 0x00000001
#define JET_bitTermAbrupt 0x00000002
#define JET_bitTermStopBackup 0x00000004
#define JET_bitTermDirty 0x00000008
#endif

// JetCreateDatabase / JetAttachDatabase
#ifndef JET_bitDbRecoveryOff
#define JET_bitDbRecoveryOff 0x00000008
#define JET_bitDbShadowingOff 0x00000080
#define JET_bitDbOverwriteExisting 0x00000200
#endif

// JetGetTableIndexInfo / JetGetIndexInfo
#ifndef JET_IdxInfo
#define JET_IdxInfo 0u
#define JET_IdxInfoList 1u
#define JET_IdxInfoSysTabCursor 2u
#define JET_IdxInfoOLC 3u
#define JET_IdxInfoResetOLC 4u
#define JET_IdxInfoSpaceAlloc 5u
#define JET_IdxInfoLangid 6u
#define JET_IdxInfoCount 7u
#endif
