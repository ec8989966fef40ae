#include "TokenMap.h"

namespace QUOR {

namespace {
// Answer for absent tokens; callers may hold the pointer indefinitely.
constexpr char kNoValue[] = "";
}  // namespace

template <class Token>
TokenMap<Token>::TokenMap() = default;

template <class Token>
TokenMap<Token>::TokenMap(const TokenMap& other) = default;

template <class Token>
TokenMap<Token>& TokenMap<Token>::operator=(const TokenMap& other) {
  if (this != &other) {
    _tokens.clear();
    _tokens.insert(other._tokens.begin(), other._tokens.end());
  }
  return *this;
}

template <class Token>
TokenMap<Token>::~TokenMap() = default;

template <class Token>
bool TokenMap<Token>::AddAppendToken(Token token, const char* text, char separator) {
  if (text == nullptr) return false;
  auto [it, inserted] = _tokens.try_emplace(token, text);
  if (!inserted) {
    it->second.push_back(separator);
    it->second.append(text);
  }
  return true;
}

template <class Token>
const char* TokenMap<Token>::GetToken(Token token) {
  const auto it = _tokens.find(token);
  return it == _tokens.end() ? kNoValue : it->second.c_str();
}

template class TokenMap<ScanToken>;

}  // namespace QUOR
