// Small text helpers shared by the connection-string and statement parsers.
#ifndef QUORPOLICY_DATAACCESS_DETAIL_TEXTUTIL_H_
#define QUORPOLICY_DATAACCESS_DETAIL_TEXTUTIL_H_

#include <cctype>
#include <string_view>

namespace quor::dataaccess::detail {

// `s` without leading and trailing white space (C locale).
inline std::string_view trim(std::string_view s) {
  size_t b = 0;
  while (b < s.size() && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  size_t e = s.size();
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

}  // namespace quor::dataaccess::detail

#endif  // QUORPOLICY_DATAACCESS_DETAIL_TEXTUTIL_H_
