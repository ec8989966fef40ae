// Statement files: a dialect folder holds only its overrides, the rest is
// read from the shared folder "common" beside it.
#include <gtest/gtest.h>

#include <string>

#include "ZoDataAccess.h"
#include "dataaccess/DbBackends.h"

namespace quor::test {
namespace {

std::string loaded(const std::string& dir, const char* file) {
  char buffer[128] = "untouched";
  try {
    ZoSqlLoader(dir.c_str()).loadSQL(buffer, sizeof buffer, file, 7);
  } catch (const char* failure) {
    return std::string("thrown: ") + failure;
  }
  return buffer;
}

TEST(StatementFolders, DialectOverridesCommonAndMissingFilesNameTheDialectFolder) {
  TempDir root;
  const std::string sql = root.path() + "/sql";
  writeFile(sql + "/common/ui_Shared.sql", "SELECT %d FROM shared");
  writeFile(sql + "/common/ui_Both.sql", "SELECT 'common'");
  writeFile(sql + "/pgsql/ui_Both.sql", "SELECT 'pgsql' || %d");
  writeFile(sql + "/pgsql/ui_Own.sql", "SELECT 'own'");
  writeFile(sql + "/common/ui_Folder.sql/x", "");  // a folder, not a file
  struct Case {
    const char* dir;
    const char* file;
    std::string want;
  };
  const std::string missing = "thrown: ZoSqlLoader::loadSQL: cannot open statement file ";
  const Case cases[] = {
      {"/pgsql", "ui_Shared.sql", "SELECT 7 FROM shared"},
      {"/pgsql", "ui_Both.sql", "SELECT 'pgsql' || 7"},
      {"/pgsql", "ui_Own.sql", "SELECT 'own'"},
      {"\\sqlite\\", "ui_Both.sql", "SELECT 'common'"},  // no sqlite folder at all
      {"/pgsql", "ui_None.sql", missing + "ui_None.sql (" + sql + "/pgsql/ui_None.sql)"},
      {"/pgsql", "ui_Folder.sql", missing + "ui_Folder.sql (" + sql + "/pgsql/ui_Folder.sql)"},
      {"/common", "ui_Own.sql", missing + "ui_Own.sql (" + sql + "/common/ui_Own.sql)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.dir) + " " + c.file);
    EXPECT_EQ(c.want, loaded(sql + c.dir, c.file));
  }
}

}  // namespace
}  // namespace quor::test
