// The private properties of a store's service section: written by the
// service entry from the add-store wizard's answers, read by Logon to open
// the store.
#pragma once
#include "ProviderPlatform.h"

constexpr ULONG PR_PROV_DATABASE_PATH = 0x6610001F;
constexpr ULONG PR_PROV_LOG_PATH = 0x6611001F;
constexpr ULONG PR_PROV_SOURCE_KIND = 0x66120003;
constexpr ULONG PR_PROV_DATABASE_IMAGE = 0x6613001F;
constexpr ULONG PR_PROV_LOG_IMAGE = 0x6614001F;
constexpr ULONG PR_PROV_RESTORE_MAP = 0x6615101F;
constexpr ULONG PR_PROV_CATALOG_BACKUP_ID = 0x66160003;
