#pragma once
#include <cstddef>
#include <string>

// The longest command line Windows starts, its terminating zero not counted.
constexpr size_t kMaxCommandLineChars = 32766;

// The second stage's command line: its path in double quotes, one space, the language code, and
// then, after one more space, what the deployer passed after "--", exactly as given. Built at its
// full length; a line longer than the platform takes is the caller's to refuse, not ours to cut.
std::wstring BuildStage2CommandLine(const std::wstring& stage2Path, const std::wstring& language,
                                    const std::wstring& extraArguments = std::wstring());
