// Child command lines reach the child whole, or the child is not started at all.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "support/process_start.h"
#include "support/scratch_folder.h"
#include "support/win32_handle.h"
#include "tests/tools/support/wait_limit.h"

namespace {

// Starts stub.exe with a command line of `total` characters (one long argument); returns
// whether it started, and what the stub recorded of its command line.
bool StartStub(size_t total, std::string* recorded)
{
    TempFolder stubs(L"process-start");
    ScopedEnvironmentVariable folder(L"TARVELO_STUB_DIR", stubs.Path().c_str());
    std::wstring line = L"\"" + BuildTreePath(L"stub.exe") + L"\" ";
    line.append(total - line.size(), L'x');
    HANDLE process = nullptr;
    if (!StartProcess(line, &process)) {
        EXPECT_FALSE(FileExists(stubs / L"stub.exe.calls"));
        return false;
    }
    UniqueHandle child(process);
    EXPECT_EQ(WaitForSingleObject(child.Get(), e2e::WaitLimitMs()), WAIT_OBJECT_0);
    EXPECT_TRUE(ReadWholeFile(stubs / L"stub.exe.calls", *recorded));
    return true;
}

// 32,767 characters with the terminating zero is the platform's limit; Wine would start a
// longer line cut short.
TEST(ProcessStart, CommandLineUpToThePlatformsLimitArrivesWholeAndALongerOneStartsNothing)
{
    std::string recorded;
    ASSERT_TRUE(StartStub(32766, &recorded));
    const size_t xs = 32766 - (BuildTreePath(L"stub.exe").size() + 3);
    EXPECT_NE(recorded.find("\"args\":[\"" + std::string(xs, 'x') + "\"]"), std::string::npos);

    EXPECT_FALSE(StartStub(32767, &recorded));
    EXPECT_FALSE(StartStub(100000, &recorded));
}

}  // namespace
