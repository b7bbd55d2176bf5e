#include "app/portable/stage2_command.h"

std::wstring BuildStage2CommandLine(const std::wstring& stage2Path, const std::wstring& language)
{
    std::wstring line;
    line.reserve(stage2Path.size() + language.size() + 3);
    line += L'"';
    line += stage2Path;
    line += L"\" ";
    line += language;
    return line;
}
