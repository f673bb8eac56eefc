// The layoutdump tool's entry, callable from tests.
#pragma once

#include <ostream>

// layoutdump [--size WxH] [--window L,T,R,B | --menu-bar] SCENE [NAME=VALUE ...]
// layoutdump --list
// Prints the scene's nodes with their rectangles and visibility, then any
// check findings. Returns 0, 1 when the checks found problems or the layout
// panicked, 2 on a usage error.
int LayoutDumpMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err);
