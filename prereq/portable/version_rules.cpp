#include "prereq/portable/version_rules.h"

bool IsWindowsVersionAccepted(const std::vector<int>& accepted, unsigned long major,
                              unsigned long minor, unsigned long servicePackMajor)
{
    // Signed 64-bit arithmetic: a negative entry then matches nothing instead of wrapping
    // around into a large unsigned version.
    const long long haveMajor = static_cast<long long>(major);
    const long long haveMinor = static_cast<long long>(minor);
    const long long haveServicePack = static_cast<long long>(servicePackMajor);
    for (int entry : accepted) {
        const long long d = entry;
        if (haveMajor == d / 100 && haveMinor == (d / 10) % 10 && haveServicePack >= d % 10)
            return true;
    }
    return false;
}

bool IsWindowsInstallerVersionTooOld(unsigned long major, unsigned long minor)
{
    return major < 3 || (major == 3 && minor < 1);
}
