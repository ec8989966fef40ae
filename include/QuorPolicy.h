// QuorPolicy: the policy library of the mail-security gateway.
//
// Including this header gives every exported class of the library and of the
// two libraries it ships with (QuorDataAccess and QuorCommon).
#ifndef QUORPOLICY_INCLUDE_QUORPOLICY_H_
#define QUORPOLICY_INCLUDE_QUORPOLICY_H_

#include "QuorExport.h"
#include "QuorErrC.h"

// Data access and logging
#include "PolicyLog.h"
#include "ZoDataAccess.h"

// Interned strings

// Address lists and matching

// Common runtime
#include "QuorCommonUtil.h"
#include "QuorHome.h"
#include "ConfigFile.h"
#include "GlobalSetting.h"
#include "LogMsg.h"
#include "QuorCrypt.h"
#include "QuorMutex.h"
#include "QuorThread.h"
#include "ZoObjectPool.h"
#include "ZoResbundle.h"
#include "ZoTimer.h"

// Database units of work and blobs
#include "Blob.h"
#include "RdbmsInterface.h"

// Vocabulary: actions, filters, tokens
#include "NamedObjMgrForPolicy.h"
#include "QuorAction.h"
#include "QuorFilter.h"
#include "TokenMap.h"

// Policy objects

// Policy server settings and rule order
#include "QuorPolicyServerInterface.h"
#include "miscUtils.h"

#endif  // QUORPOLICY_INCLUDE_QUORPOLICY_H_
