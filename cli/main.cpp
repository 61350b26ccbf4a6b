#include <unistd.h>

#include <iostream>

#include "cli/convert_tool.h"

int main(int argc, char** argv) {
    return pitchloom::runConvertTool(argc, argv, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
}
