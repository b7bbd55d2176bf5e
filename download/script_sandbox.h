#pragma once
#include <windows.h>

#include <string>

#include "download/lookup_notes.h"
#include "download/portable/script_child_pipe.h"

// What a script's child process may commit before it is stopped. Company scripts need a few
// megabytes; the child's job holds twice this as the platform's own bound.
constexpr SIZE_T kScriptChildMemoryLimit = 128 * 1024 * 1024;

// Runs proxy auto-configuration scripts, one at a time, each in a child process of this
// program's own exe (see script_child.h), never in this process: a script comes from the
// network, and this process runs as administrator. The child gets a restricted copy of this
// process's token (the Administrators group for deny only, no privilege but change-notify) at
// low integrity, and lives in a job object that ends it, and anything it starts, when the job's
// handle is closed; the job allows one process and bounds its memory.
class ScriptSandbox {
public:
    enum class Outcome {
        Answered,      // the script's whole answer came back
        NotRun,        // no child could run it (none started, or it has no script engine)
        ScriptFailed,  // the script engine could not run the script
        Failed,        // the child was stopped at its memory limit or gave no usable answer
        Stopped,       // Stop() ended it
    };

    ScriptSandbox() = default;
    ScriptSandbox(const ScriptSandbox&) = delete;
    ScriptSandbox& operator=(const ScriptSandbox&) = delete;

    // Runs the request's script and waits for the child to end, for as long as it runs within
    // its memory and Stop() is not called. `answer` gets the answer, 8-bit as the script engine
    // wrote it; `notes` what went wrong.
    Outcome Run(const ScriptRequest& request, std::string* answer, LookupNotes* notes);

    // Ends the child that runs now, at once, and keeps any later one from starting. Any thread.
    void Stop();
    bool Stopped();

private:
    SRWLOCK m_lock = SRWLOCK_INIT;
    HANDLE m_job = nullptr;  // the running child's job, while Run holds it open
    bool m_stopped = false;
};

// Tests start `program` (a full path; nullptr: this program) as the child, to show what
// happens where none can be started.
void SetScriptChildProgramForTesting(const wchar_t* program);
