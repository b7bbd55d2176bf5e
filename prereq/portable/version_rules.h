#pragma once
#include <vector>

// Whether a Windows version is one of the accepted ones. Each entry d of the list stands for
// major d / 100, minor (d / 10) mod 10 and a lowest service pack d mod 10; the first entry that
// matches accepts. An empty list accepts nothing.
bool IsWindowsVersionAccepted(const std::vector<int>& accepted, unsigned long major,
                              unsigned long minor, unsigned long servicePackMajor);

// Windows Installer older than 3.1, judged on (major, minor) as one pair, so 4.0 and 5.0 are
// recent enough while 3.0 and 2.x are not.
bool IsWindowsInstallerVersionTooOld(unsigned long major, unsigned long minor);
