// Addresses and list patterns in the form the lists compare them.
//
// Mail systems write one mailbox in several ways that a byte comparison
// tells apart: a trailing dot of the domain ("x@example.com."), a domain in
// Unicode (U-labels, in any case) or in its ASCII form (A-labels, "xn--"),
// and, with a quoted local part, "@" signs before the one that starts the
// domain. The policy service brings every address to one form before it asks
// the matcher, and the list reader brings every pattern to the same form, so
// that the forms of one mailbox decide alike.
//
// The form: the domain is what follows the last "@"; trailing dots are
// dropped; every label holding a byte above 0x7F is mapped by IDNA (UTS #46,
// non-transitional, host name rules: case folded, normalised) to its A-label;
// a label that IDNA refuses, and every ASCII label, is kept as written (the
// matcher compares ASCII without regard to case). The ideographic and full-width full
// stops separate labels as "." does.
//
// Thread safety: every function may be called from any number of threads.
#ifndef QUORPOLICY_LISTS_ADDRESSNORM_H_
#define QUORPOLICY_LISTS_ADDRESSNORM_H_

#include <optional>
#include <string>
#include <string_view>

namespace quor::lists {

// `domain` in the form described above ("Bücher.Example." gives
// "xn--bcher-kva.example"; "*.Example." gives "*.Example").
std::string canonicalDomain(std::string_view domain);

// An address of a request in the compared form. An "@" inside the local part
// (a quoted local part, which the SMTP server passes on unquoted) becomes a
// line feed, which no list pattern can hold: such a local part is never taken
// for a listed user, and only patterns with "*" for the user part can match
// it. An address without "@" is returned unchanged.
std::string normalizeAddress(std::string_view address);

// A list pattern in the compared form: the domain after the last "@" as
// canonicalDomain gives it, the rest unchanged. "*" and patterns without "@"
// are returned unchanged. Applying it twice gives what applying it once does.
std::string normalizePattern(std::string_view pattern);

// The address without its extension: "user+tag@d" with `delimiters` "+"
// gives "user@d". The local part is cut at the first of the delimiter
// characters that follows at least one other character. Empty when the local
// part has no extension or `delimiters` is empty.
std::optional<std::string> withoutExtension(std::string_view address, std::string_view delimiters);

}  // namespace quor::lists

#endif  // QUORPOLICY_LISTS_ADDRESSNORM_H_
