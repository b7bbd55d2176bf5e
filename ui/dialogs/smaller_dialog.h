#pragma once
#include <windows.h>

#include <string>

#include "framework/controls.h"
#include "ui/controls/bitmap_dialog.h"

// The small skinned dialog: the quit confirmation, the install sequence's small questions and
// stops, and the modeless notices beside the proxy dialogs (Create(117, owner) + ShowWindow).
// DoModal gives 1 for the first button (or Enter) and 0 for the second (or Escape, or the system
// Close command); m_nAnswer holds the same, and stays 0 when the dialog never ran.
class SmallerDialog : public CBitmapDialog {
public:
    SmallerDialog(std::wstring headline, std::wstring message, std::wstring firstButton, std::wstring secondButton,
                  CWnd* owner);
    ~SmallerDialog() override;

    int m_nAnswer = 0;
    std::wstring m_strHeadline;
    std::wstring m_strMessage;
    std::wstring m_strFirstButton;
    std::wstring m_strSecondButton;  // empty: one-button mode
    CStatic m_message;
    CStatic m_headline;

protected:
    void DoDataExchange(CDataExchange* exchange) override;
    BOOL OnInitDialog() override;
    void OnOK() override {}
    void OnCancel() override {}

    void OnFirstButton() override;
    void OnSecondButton() override;
};

// Asks "quit installing?" over `askingDialog`, on its thread; TRUE for yes.
BOOL AskQuitConfirmation(CWnd* askingDialog);
