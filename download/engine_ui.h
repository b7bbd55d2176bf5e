#pragma once
#include <windows.h>

#include <string>

// What the download engine shows and asks while it works. The engine knows no window: the install
// sequence connects these two to its dialogs. While nothing is connected, nothing is shown and
// nobody is asked.

// Progress of the downloads and the installations.
class ProgressReport {
public:
    // blockClose: the user's close request is ignored; disableClose: the close control shows so.
    virtual void HideButton(BOOL blockClose, BOOL disableClose) = 0;
    virtual void SetPos(int position) = 0;  // 0 to 100
    virtual void SetHeaderTexts(const std::wstring& caption, const std::wstring& body) = 0;
    virtual void SetStatusTexts(const std::wstring& boldLine, const std::wstring& progressLine) = 0;

protected:
    ~ProgressReport() = default;
};

// The two questions to the user, each answered before it returns (modal on the download thread).
class ProxyPrompts {
public:
    // A proxy server and port, as typed; showServerError: the last proxy given did not work.
    // Returns the question's modal result: -1 when nobody could be asked, 0 when the user gave up.
    virtual INT_PTR AskForProxy(bool showServerError, std::wstring* server, std::wstring* port) = 0;
    // Proxy credentials; showCredentialError: the last ones were refused. False when the user
    // closed the question; *modalResult receives its result either way.
    virtual bool AskForProxyCredentials(bool showCredentialError, std::wstring* userName,
                                        std::wstring* password, INT_PTR* modalResult) = 0;

protected:
    ~ProxyPrompts() = default;
};

// Null disconnects. Connected before the download starts, on the thread that runs it.
void ConnectProgressReport(ProgressReport* report);
void ConnectProxyPrompts(ProxyPrompts* prompts);

// The connected ones, or stand-ins that show nothing and ask nobody.
ProgressReport& Progress();
ProxyPrompts& Prompts();
