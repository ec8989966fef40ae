// Turning the bootstrap connect string into one the ODBC driver manager takes.
#ifndef QUORPOLICY_DATAACCESS_DETAIL_CONNECTSTRING_H_
#define QUORPOLICY_DATAACCESS_DETAIL_CONNECTSTRING_H_

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quor::dataaccess::detail {

using OdbcAttributes = std::vector<std::pair<std::string, std::string>>;

// Reads the entry of data source `dsn` (section name compared ignoring ASCII
// case) from an odbc.ini-style file: "[name]" sections, "key = value" lines,
// ';' and '#' comment lines. Keys keep their order. Nullopt when the file
// cannot be read or has no such section.
std::optional<OdbcAttributes> readDataSource(const std::string& iniPath, std::string_view dsn);

// Writes one attribute value for a connection string, in braces when it
// holds characters that would end or confuse the value.
std::string quoteAttribute(std::string_view value);

// Builds the driver manager's connection string.
//
// A `connectString` that begins with "ODBC;" is the bootstrap form
// "ODBC;DRIVER=<d>;DSN=<n>;UID=<u>;PWD=<p>;DATABASE=<db>"; `dsn`, `user` and
// `password` replace the values inside it when not null. The result names the
// driver when DRIVER is set, else the data source: by its entry in
// `localIniPath` when that is given and defines it (so that the file works
// without ODBCINI), else by "DSN=". UID, PWD and DATABASE follow when not
// empty. Any other `connectString` is returned unchanged.
std::string buildConnectString(std::string_view connectString, const char* dsn, const char* user,
                               const char* password,
                               const std::optional<std::string>& localIniPath);

}  // namespace quor::dataaccess::detail

#endif  // QUORPOLICY_DATAACCESS_DETAIL_CONNECTSTRING_H_
