// Forced into every Windows compilation. The library declares std::string and std::wstring as
// instantiated inside itself, so the first use of either links its whole instantiation object
// (about 35 KB each, most of it members the program never calls). The library's own switch for
// its checked mode turns those declarations off for basic_string only: each member is then
// compiled where it is used, and unused ones are dropped with their sections.
#include <bits/c++config.h>
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE -1
