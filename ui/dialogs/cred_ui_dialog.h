#pragma once
#include <windows.h>

#include <string>

#include "ui/controls/bitmap_dialog.h"
#include "ui/controls/bmp_button.h"

// Asks for the proxy's user name and password (template 104), over the progress dialog when
// there is one. DoModal: 1 Continue (button or Enter, m_bClosed FALSE, texts as typed); 0
// WM_CLOSE or a confirmed quit (m_bClosed TRUE). m_bClosed starts TRUE, so a dialog that could
// not be shown counts as closed.
class CredUiDialog : public CBitmapDialog {
public:
    CredUiDialog();
    ~CredUiDialog() override;

    void SetMessage(std::wstring text);

    static constexpr int kUserNameBufferChars = 512;
    static constexpr int kPasswordBufferChars = 256;

    std::wstring m_strUserName;
    std::wstring m_strPassword;
    std::wstring m_strMessage;
    BOOL m_bClosed = TRUE;
    CBmpButton m_closeButton;

protected:
    void DoDataExchange(CDataExchange* exchange) override;
    BOOL OnInitDialog() override;
    void OnOK() override {}
    void OnCancel() override {}
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    void OnContinue();
    void OnClose() override;
};
