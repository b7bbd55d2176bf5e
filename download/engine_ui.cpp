#include "download/engine_ui.h"

namespace {

class NoProgress final : public ProgressReport {
public:
    void HideButton(BOOL, BOOL) override {}
    void SetPos(int) override {}
    void SetHeaderTexts(const std::wstring&, const std::wstring&) override {}
    void SetStatusTexts(const std::wstring&, const std::wstring&) override {}
};

// Nobody to ask: the proxy question reports that it could not be shown, and the credentials
// question ends as closed, without raising an abort (the user gave up nothing).
class NoPrompts final : public ProxyPrompts {
public:
    INT_PTR AskForProxy(bool, std::wstring*, std::wstring*) override { return -1; }
    bool AskForProxyCredentials(bool, std::wstring*, std::wstring*, INT_PTR* modalResult) override
    {
        *modalResult = -1;
        return false;
    }
};

NoProgress g_noProgress;
NoPrompts g_noPrompts;
ProgressReport* g_progress = nullptr;
ProxyPrompts* g_prompts = nullptr;

}  // namespace

void ConnectProgressReport(ProgressReport* report) { g_progress = report; }
void ConnectProxyPrompts(ProxyPrompts* prompts) { g_prompts = prompts; }

ProgressReport& Progress() { return g_progress ? *g_progress : g_noProgress; }
ProxyPrompts& Prompts() { return g_prompts ? *g_prompts : g_noPrompts; }
