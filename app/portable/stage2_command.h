#pragma once
#include <string>

// The second stage's command line: its path in double quotes, one space, the language code.
// Built at its full length; a path longer than the platform's path limit is the platform's to
// refuse, not ours to cut.
std::wstring BuildStage2CommandLine(const std::wstring& stage2Path, const std::wstring& language);
