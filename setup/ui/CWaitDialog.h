#pragma once
// Shown while a slow step runs on the UI thread: the modeless wait dialog
// ("Please wait ..."), centred on its owner and painted at once, and the
// wait cursor. Both are scoped: the dialog is destroyed and the cursor put
// back when the object goes, on every path.
#include "CDialog.h"

namespace ui {

class CWaitDialog : public CDialogImpl<CWaitDialog> {
public:
    explicit CWaitDialog(HWND owner);
    ~CWaitDialog() override;

    static const SMessageEntry<CWaitDialog> kMessages[];

private:
    INT_PTR OnInitDialog(WPARAM wParam, LPARAM lParam);
};

class CWaitCursor {
public:
    CWaitCursor();
    ~CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

private:
    HCURSOR m_previous;
};

} // namespace ui
