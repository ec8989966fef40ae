// getQuorHome: where the gateway is installed.
#ifndef QUORPOLICY_INCLUDE_QUORHOME_H_
#define QUORPOLICY_INCLUDE_QUORHOME_H_

#include "QuorExport.h"

// Returns the value of the environment variable QUOR_HOME, the installation
// root, or null when it is not set. The text belongs to the environment.
QUORPOLICY_API const char* getQuorHome();

#endif  // QUORPOLICY_INCLUDE_QUORHOME_H_
