#include "app/portable/stage2_command.h"

std::wstring BuildStage2CommandLine(const std::wstring& stage2Path, const std::wstring& language,
                                    const std::wstring& extraArguments)
{
    std::wstring line;
    line.reserve(stage2Path.size() + language.size() + extraArguments.size() + 4);
    line += L'"';
    line += stage2Path;
    line += L"\" ";
    line += language;
    if (!extraArguments.empty()) {
        line += L' ';
        line += extraArguments;
    }
    return line;
}
