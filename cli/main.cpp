#include "cli/commands.h"

#include <iostream>

int main(int argc, char** argv)
{
    return ombri::cli::run(argc, argv, std::cout, std::cerr);
}
