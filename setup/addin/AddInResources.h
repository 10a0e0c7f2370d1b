#pragma once
// Resource and string ids of the Outlook add-in and its "Mailboxes" page.

// Bitmaps: the page control's toolbox picture, the toolbar button's face
// (magenta 0xFF00FF is the colour Outlook 2000 shows as the button face) and
// the face's mask (white is transparent).
#define IDB_PROVPROPPAGE 102
#define IDB_BUTTON_FACE 210
#define IDB_BUTTON_MASK 1002

// The "Mailboxes" page.
#define IDD_PROVPROPPAGE 109
#define IDC_MAILBOXES_LABEL 210
#define IDC_MAILBOXES_NOTE 211
#define IDC_MAILBOX_LIST 1120

// Strings of the provider's table.
#define IDS_MAILBOX_SELECTION 312
#define IDS_SELECT_MAILBOXES 313
#define IDS_TOOLBAR_NAME 314
#define IDS_TOOLBAR_TOOLTIP 315
#define IDS_MAILBOXES_LABEL 360
#define IDS_MAILBOXES_PAGE 362
#define IDS_NO_MAILBOX_LIST 363
#define IDS_PUBLIC_FOLDERS_ONLY 365
