#pragma once

// The reading of an envelope in any JSON form, one piece at a time. A first pass follows the
// whole text as JSON, holding only a few bytes of it, and notes the four fields and the SHA-256
// of the decoded payload; only when everything is right does a second pass decode the payload
// into memory. A file that is not an envelope therefore costs a buffer of one piece, however
// large it is, and a genuine one little more than its document.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace pizzacore::Envelope {

// The document bytes of an envelope held in memory, in whatever form JSON allows; see unwrap.
// With `journal`, also gives the envelope's "journal" value there (0 when absent).
std::string unwrapScanned(std::string_view envelope, std::int64_t* journal = nullptr);

} // namespace pizzacore::Envelope
