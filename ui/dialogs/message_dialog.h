#pragma once
#include <windows.h>

#include <string>

#include "ui/controls/bitmap_dialog.h"
#include "ui/controls/bmp_button.h"
#include "ui/controls/hyperlink.h"

// The installer's skinned message box (template 112): caption, bold headline, body, optional
// link line and one or two buttons. DoModal: 1 first button or Enter; 0 second button or Escape
// (also in the one-button mode); 2 quitting confirmed from the close control or the system Close
// command, or WM_CLOSE.
class MessageDialog : public CBitmapDialog {
public:
    MessageDialog(std::wstring caption, std::wstring headline, std::wstring body, std::wstring firstButton,
                  std::wstring secondButton, CWnd* owner);
    ~MessageDialog() override;

    // Before DoModal: the link line's text and the address it opens (not underlined, not refitted).
    // Without it the line is hidden.
    void SetLink(std::wstring text, std::wstring target);

    int m_nAnswer = 0;
    std::wstring m_strCaption;
    std::wstring m_strBody;
    std::wstring m_strHeadline;
    std::wstring m_strFirstButton;
    std::wstring m_strSecondButton;  // empty: one-button mode
    std::wstring m_strLinkText;
    CBmpButton m_closeButton;
    CHyperLink m_link;

protected:
    void DoDataExchange(CDataExchange* exchange) override;
    BOOL OnInitDialog() override;
    void OnOK() override {}
    void OnCancel() override {}

    void OnFirstButton() override;
    void OnSecondButton() override;
    void OnClose() override;
};
