// Statement text helpers of the data-access library: cutting a text into
// single statements, and setting printf-style arguments into a statement.
#ifndef QUORPOLICY_DATAACCESS_DETAIL_SQLTEXT_H_
#define QUORPOLICY_DATAACCESS_DETAIL_SQLTEXT_H_

#include <cstdarg>
#include <string>
#include <string_view>
#include <vector>

namespace quor::dataaccess::detail {

// Cuts `text` at every ';' that is outside '...' and "..." literals,
// dollar-quoted bodies ($$...$$ or $tag$...$tag$), "--" line comments and
// "/* */" block comments, and outside the BEGIN ... END body of a
// "CREATE TRIGGER" statement (SQLite's form). Comments are left out (each becomes one blank),
// pieces are trimmed of surrounding white space, empty pieces are dropped
// and the ';' itself is not kept.
std::vector<std::string> splitStatements(std::string_view text);

// Sets the arguments into `format`: %d and %i (int), %u (unsigned int), %s
// (text; null gives ""), %% (a literal '%'). Returns false with `error`
// describing the first conversion it does not know; `out` is then undefined.
bool formatStatement(std::string_view format, va_list args, std::string& out, std::string& error);

}  // namespace quor::dataaccess::detail

#endif  // QUORPOLICY_DATAACCESS_DETAIL_SQLTEXT_H_
