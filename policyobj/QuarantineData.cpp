// Quarantine areas: the administrator's own areas plus the shared "OPP:" area.
#include <cstring>

#include "PolicyLog.h"
#include "QuorNamedObj.h"
#include "RdbmsInterface.h"
#include "policyobj/detail/Statement.h"

using quor::policyobj::detail::guardStatement;
using quor::policyobj::detail::parseIntColumn;
using quor::policyobj::detail::Statement;

namespace {
constexpr size_t kAreaStatementSize = 512;
}  // namespace

QuorErrC QuorNamedObj::getOPPQuarantineArea(RdbmsInterface&, QuarantineData& area) {
  Statement stmt(kAreaStatementSize);
  return guardStatement(
      QuorErr::kDataAccessFailed,
      [&](const char* text) {
        PolicyLog::log(PolicyLog::Error, "QuorNamedObj::getOPPQuarantineArea: Exception \"%s\" thrown for statement %s",
                       text, stmt.text());
      },
      [&]() -> QuorErrC {
        stmt.load("ui_GetNamedObjByType.sql", static_cast<int>(QuarantineArea));
        // The shared area is read outside the caller's unit of work.
        QUOR::RdbmsInterface local;
        local.executeSQL(stmt.text());
        while (local.fetchNextRow() == 0) {
          const char* name = local.getColVal("Name");
          if (name == nullptr) {
            PolicyLog::log(PolicyLog::Error, "QuorNamedObj::getOPPQuarantineArea: could not retrieve Name for statement %s",
                           stmt.text());
            continue;
          }
          if (std::strncmp(name, "OPP:", 4) != 0) continue;
          area.name = name;
          const char* idText = local.getColVal("ID");
          int id = 0;
          if (!parseIntColumn(idText, id)) {
            PolicyLog::log(PolicyLog::Error,
                           "QuorNamedObj::getOPPQuarantineArea: could not retrieve ID from %s for statement %s",
                           idText != nullptr ? idText : "NULL string", stmt.text());
            return QuorErr::kMissingData;
          }
          area.id = static_cast<std::uint32_t>(id);
          const char* content = local.getColVal("Content");
          if (content == nullptr) {
            PolicyLog::log(PolicyLog::Error,
                           "QuorNamedObj::getOPPQuarantineArea: could not retrieve Content for statement %s",
                           stmt.text());
            continue;
          }
          area.content = content;
          return QuorErr::kSuccess;
        }
        return QuorErr::kMissingData;
      });
}

bool QuorNamedObj::getEditableQuanantineData(RdbmsInterface& db, unsigned int adminId,
                                             std::vector<QuarantineData>& areas) {
  std::vector<SummaryNamedObject> summaries;
  if (!getIds(db, adminId, QuarantineArea, summaries)) return false;
  areas.reserve(areas.size() + summaries.size() + 1);
  for (const SummaryNamedObject& summary : summaries) {
    QuarantineData area;
    area.id = summary.id;
    area.name = summary.name;
    area.editable = summary.editable;
    areas.push_back(std::move(area));
  }
  QuarantineData shared;
  if (getOPPQuarantineArea(db, shared) == QuorErr::kSuccess) {
    shared.editable = false;
    areas.push_back(std::move(shared));
  }
  for (QuarantineData& area : areas) {
    std::string ignoredName;
    if (!getBlob(db, area.id, area.content, ignoredName)) return false;
  }
  return true;
}
