#pragma once

#include <string>
#include <string_view>

namespace shenbao {

// Checks the head of a request as it came over the wire (request line, header lines, the empty
// line that ends them), before any HTTP library reads meaning into it. A head that two readers
// could take in two ways is refused whole:
//
// - every line ends in CR LF; no bare CR or bare LF anywhere;
// - a header line is a name of token characters, a colon straight after it, and a value of
//   visible characters, blanks and tabs: no blank or tab before the colon, no line that starts
//   with a blank or tab (an obs-fold continuing the one before);
// - Content-Length is digits only, and stated once (or repeated with the same value);
// - Transfer-Encoding, when present, is a lone "chunked", stated once.
//
// Answers "" for a sound head, else the reason, for the log.
std::string request_head_fault(std::string_view head);

}  // namespace shenbao
