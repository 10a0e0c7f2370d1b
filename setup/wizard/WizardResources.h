#pragma once
// Resource ids of the add-store wizard: the sheet's bitmaps, the pages'
// dialogs and their controls. Pages are known by their dialog ids.

#define IDB_WIZARD_HEADER 1000
#define IDB_WIZARD_WATERMARK 1001

// Data-source page.
#define IDD_DATASOURCE_PAGE 107
#define IDC_SOURCE_EDB 218
#define IDC_SOURCE_BACKUP 219
#define IDC_SOURCE_PROTECTION 220
#define IDC_BACKUP_FOLDER 221
#define IDC_BACKUP_BROWSE 222
#define IDC_CATALOG_FOLDER 223
#define IDC_CATALOG_BROWSE 224

// Backup-archive volume page.
#define IDD_VOLUME_PAGE 235
#define IDC_VOLUME_TO_DATABASE 214
#define IDC_VOLUME_LIST 239
#define IDC_VOLUME_TO_LOGS 240
#define IDC_VOLUME_DATABASE_FILE 241
#define IDC_VOLUME_LOG_FILE 242
#define IDC_VOLUME_ARCHIVE_LABEL 243
#define IDI_VOLUME 271

// Catalog version page.
#define IDD_VERSION_PAGE 236
#define IDC_VERSION_SERVER 244
#define IDC_VERSION_DATABASES 245
#define IDC_VERSION_VERSIONS 246
#define IDI_MAILBOX_DATABASE 272
#define IDI_PUBLIC_DATABASE 273
#define IDI_FULL_BACKUP 274
#define IDI_INCREMENTAL_BACKUP 275

// Database page.
#define IDD_DATABASE_PAGE 202
#define IDC_DATABASE_BROWSE 206
#define IDC_DATABASE_PATH 207
#define IDC_LOG_PATH 208
#define IDC_LOG_BROWSE 209
#define IDC_DATABASE_LABEL 210
#define IDC_LOG_LABEL 211
#define IDC_LOG_NOTE 212

// Mailbox page.
#define IDD_MAILBOX_PAGE 203
#define IDC_MAILBOX_LABEL 210
#define IDC_MAILBOX_FINISH_NOTE 211
#define IDC_MAILBOX_LIST 1120
