#include "tools/kanalyst/tool_mode.h"

#include "tools/kanalyst/port_list.h"

namespace kanalyst {

ToolMode ChooseMode(const std::vector<std::string>& arguments) {
    bool report = false;
    bool noWindow = false;
    for (const std::string& argument : arguments) {
        if (argument.empty() || (argument[0] != '/' && argument[0] != '-')) {
            return ToolMode::List;
        }
        const std::string name = UpperCaseAscii(argument.substr(1));
        if (name == "REPORT" && !report) {
            report = true;
        } else if (name == "NOWINDOW" && !noWindow) {
            noWindow = true;
        } else {
            return ToolMode::List;
        }
    }
    if (!report) {
        return ToolMode::List;
    }
    return noWindow ? ToolMode::ReportNoWindow : ToolMode::Report;
}

}  // namespace kanalyst
