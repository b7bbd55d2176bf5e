#pragma once
#include <windows.h>

#include <string>

#include "ui/controls/bitmap_dialog.h"
#include "ui/controls/bmp_button.h"

// Asks for a proxy server and port (template 103), over the progress dialog when there is one.
// DoModal: 1004 Continue, the default button, so also Enter (texts as typed); 0 WM_CLOSE or a
// confirmed quit; 2 Escape; 1 an IDOK command from elsewhere (texts empty for all but
// Continue). It checks nothing; the caller trims and joins the texts.
class ProxyInfoDialog : public CBitmapDialog {
public:
    ProxyInfoDialog();
    ~ProxyInfoDialog() override;

    void SetMessage(std::wstring text);

    // A host name is kept up to this many characters; the port up to 19.
    static constexpr int kServerBufferChars = 256;
    static constexpr int kPortBufferChars = 20;

    std::wstring m_strProxyServer;
    std::wstring m_strProxyPort;
    std::wstring m_strMessage;
    CBmpButton m_closeButton;

protected:
    void DoDataExchange(CDataExchange* exchange) override;
    BOOL OnInitDialog() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    void OnContinue();
    void OnClose() override;
};
