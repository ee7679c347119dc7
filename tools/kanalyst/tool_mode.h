// What Kanalyst is asked to do by its arguments.
#pragma once

#include <string>
#include <vector>

namespace kanalyst {

enum class ToolMode {
    List,            // write listport.txt, as the configurator expects
    Report,          // write the cable report and show it
    ReportNoWindow,  // write the cable report and show nothing
};

// The mode for the arguments after the program name: "/report" or "-report" (any letter case),
// optionally with "/nowindow" in either form and order. No argument, or any other one, keeps
// the plain listing, so that a stray argument never keeps listport.txt from being written.
ToolMode ChooseMode(const std::vector<std::string>& arguments);

}  // namespace kanalyst
