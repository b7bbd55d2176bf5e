#pragma once
#include <windows.h>

#include <string>

// The other side of ScriptSandbox: the installer's own exe started to run one proxy
// auto-configuration script. It fetches nothing and starts nothing; it reads the script from
// one pipe, runs it in the platform's script engine (jsproxy.dll) and writes the answer to the
// other.

// The two pipes the child was handed.
struct ScriptChildPipes {
    HANDLE request = nullptr;
    HANDLE reply = nullptr;
};

// Whether this process was started by an installer of this same program to run a script: its
// command line is exactly the child's, its parent runs a program of this one's file name, and
// both handles the command line names are pipes that the parent made (both their ends are the
// parent's). Any other start, a user typing the switch included, is a normal start.
// Every program that can look up a proxy calls this first thing: that is also what tells the
// lookup that this program can be its own child.
bool IsScriptChildStart(ScriptChildPipes* pipes);

// Runs the one script the installer hands over and writes back the answer. Refuses, with a
// reply that says so, to run a script while its token still counts as an administrator's.
// Gives the process's exit code: 0 once a reply is written.
int RunScriptChild(const ScriptChildPipes& pipes);

// Writes the whole of one message to a pipe, as both sides do; false when the other side has gone.
bool WriteWholeMessage(HANDLE pipe, const std::string& bytes);

// Whether IsScriptChildStart was called in this process, so that it can start itself as a child.
bool ScriptChildEntryPresent();
