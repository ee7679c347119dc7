#include "tools/kanalyst/tool_mode.h"

#include <algorithm>

#include "tools/kanalyst/port_list.h"

namespace kanalyst {

ToolMode ChooseMode(const std::vector<std::string>& arguments) {
    std::vector<std::string> names;
    for (const std::string& argument : arguments) {
        const bool option = !argument.empty() && (argument[0] == '/' || argument[0] == '-');
        names.push_back(option ? UpperCaseAscii(argument.substr(1)) : std::string());
    }
    std::sort(names.begin(), names.end());
    if (names == std::vector<std::string>{"REPORT"}) {
        return ToolMode::Report;
    }
    return names == std::vector<std::string>{"NOWINDOW", "REPORT"} ? ToolMode::ReportNoWindow
                                                                   : ToolMode::List;
}

}  // namespace kanalyst
