// QUOR::TokenMap<ScanToken>: the scan tokens that actions fill in for the
// scanner (QuorAction::fillInTokenMap).
//
// One ordered map from token to text. A token may collect several values,
// joined by a separator character that each caller chooses. The map owns its
// texts; entries are added or extended, never removed one by one.
//
// Thread safety: none. One thread fills and reads a map.
#ifndef QUORPOLICY_INCLUDE_TOKENMAP_H_
#define QUORPOLICY_INCLUDE_TOKENMAP_H_

#include <cstdint>
#include <map>
#include <string>

#include "QuorExport.h"

namespace QUOR {

// The scan tokens. Their values are defined by the scanner; this library
// uses them only as map keys, so any 32-bit value is a valid token.
enum ScanToken : std::int32_t {};

// Instantiated, and exported, for ScanToken only.
template <class Token>
class QUORPOLICY_API TokenMap {
 public:
  TokenMap();
  TokenMap(const TokenMap& other);
  // Empties the map and copies every entry of `other`; assigning a map to
  // itself changes nothing.
  TokenMap& operator=(const TokenMap& other);
  ~TokenMap();

  // Stores a copy of `text` under `token` when the token is absent;
  // otherwise appends `separator` and then `text` to the stored value, even
  // when that value is empty. Returns true. A null `text` is refused: false,
  // and the map is unchanged.
  bool AddAppendToken(Token token, const char* text, char separator);

  // The token's value, or an empty text (never null) when the token is
  // absent. The pointer stays valid until the entry is changed or the map is
  // assigned or destroyed.
  const char* GetToken(Token token);

 private:
  std::map<Token, std::string> _tokens;
};

extern template class TokenMap<ScanToken>;

}  // namespace QUOR

#endif  // QUORPOLICY_INCLUDE_TOKENMAP_H_
