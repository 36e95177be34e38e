#pragma once

#include <string>
#include <string_view>

namespace pizzacore {

// The form under which names are compared ignoring letter case and accents, as Spanish readers
// do: "Postres", "POSTRES" and "Póstres" all give "postres", "Ñandú" gives "nandu". The text is
// case-folded (full Unicode folding; Spanish has no language-specific case mappings), decomposed
// canonically (NFD) and stripped of its non-spacing marks, which are the accents, the tilde and
// the diaeresis. The result is UTF-8 meant only for equality and containment tests, never for
// display. Bytes that are not valid UTF-8 each become U+FFFD.
std::string foldedForComparison(std::string_view text);

} // namespace pizzacore
