#include <iostream>

#include "tools/layoutdump/LayoutDump.h"

int main(int argc, char** argv) { return LayoutDumpMain(argc, argv, std::cout, std::cerr); }
