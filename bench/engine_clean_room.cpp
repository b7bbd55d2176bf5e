// Times the folder checks a release run makes at start: preparing its clean room (each folder of
// the path from "%ProgramData%" down checked, made where missing, the access list set) and opening
// the log (each folder below the profile checked, the file opened, its final path compared).
// Usage: engine_clean_room [REPEATS [PROGRAMDATA]]
// PROGRAMDATA stands in for "%ProgramData%" (default: the real one). The first preparation makes
// the folders; the medians of REPEATS runs after it (default 20) find them made, as every later
// run of the installer does.
// Prints: first_room_ms=.. room_ms=.. log_ms=.. room=PATH
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/clean_room.h"
#include "support/installer_log.h"
#include "support/system_library.h"

namespace {
double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template <typename Step>
double Timed(Step step)
{
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    step();
    QueryPerformanceCounter(&t1);
    return Milliseconds(t0, t1);
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    RestrictDllSearch();
    const int repeats = argc > 1 ? std::max(1, _wtoi(argv[1])) : 20;
    if (argc > 2) SetProgramDataForTesting(argv[2]);
    // The log is opened once before, as the installer's first line does before it reads its
    // configuration; the preparation's own lines then go into it.
    Log("clean room benchmark");
    std::wstring room;
    const double first = Timed([&] { room = PrepareCleanRoom(); });
    std::vector<double> rooms, logs;
    for (int i = 0; i < repeats; ++i) {
        rooms.push_back(Timed([&] { room = PrepareCleanRoom(); }));
        InstallerLog::Close();
        logs.push_back(Timed([] { UniqueHandle log = OpenLogFile(); }));
    }
    std::string narrow(room.begin(), room.end());
    std::printf("first_room_ms=%.3f room_ms=%.3f log_ms=%.3f room=%s\n", first, Median(rooms), Median(logs),
                room.empty() ? "-" : narrow.c_str());
    return room.empty() ? 1 : 0;
}
