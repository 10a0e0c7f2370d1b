#pragma once
// Resource ids of the window layer's own dialogs.

// The wait dialog: one static text.
#define IDD_WAIT 233
#define IDC_WAIT_TEXT 234
