// Why a generation of lists could not be loaded.
//
// Loading throws one of these and leaves nothing behind; the text says what
// went wrong and names the file (and, for a malformed file, the line). The
// caller decides what each kind means to it (the command line turns them into
// exit statuses; the service keeps the lists it has).
#ifndef QUORPOLICY_LISTS_LOADERROR_H_
#define QUORPOLICY_LISTS_LOADERROR_H_

#include <stdexcept>
#include <string>

namespace quor::lists {

class LoadError : public std::runtime_error {
 public:
  enum Kind {
    NotFound,   // a file cannot be opened
    Malformed,  // a line is malformed, or the file fails to read part-way
    Refused,    // a file is still being written, or would shrink its list
    Cancelled,  // the caller asked the load to stop
    Failed,     // a pattern tree could not be made
  };

  LoadError(Kind kind, const std::string& text) : std::runtime_error(text), _kind(kind) {}
  Kind kind() const { return _kind; }

 private:
  Kind _kind;
};

}  // namespace quor::lists

#endif  // QUORPOLICY_LISTS_LOADERROR_H_
