#include "QuorHome.h"

#include <cstdlib>

const char* getQuorHome() { return std::getenv("QUOR_HOME"); }
