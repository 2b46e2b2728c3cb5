// The flags' one definition; see the header for who raises and lowers them.
#include "units/ControllerFlags.h"

std::atomic<int> runInProgressFlag{0};
std::atomic<int> listRebuildFlag{0};
