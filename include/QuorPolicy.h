// QuorPolicy: the policy library of the mail-security gateway.
//
// Including this header gives every exported class of the library and of the
// two libraries it ships with (QuorDataAccess and QuorCommon).
#ifndef QUORPOLICY_INCLUDE_QUORPOLICY_H_
#define QUORPOLICY_INCLUDE_QUORPOLICY_H_

#include "QuorExport.h"
#include "PolicyLog.h"
#include "QuorHome.h"
#include "QuorCommonUtil.h"

#endif  // QUORPOLICY_INCLUDE_QUORPOLICY_H_
