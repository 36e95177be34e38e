#pragma once

// Comparisons of the operator's texts: names that must differ by more than letter case and
// accents, searches that find "José" from "jose", and lists sorted the way people read them
// ("Pizza 9" before "Pizza 10"). The objects below hold what a comparison needs in one locale;
// they are built once per search or sort and thrown away afterwards, nothing is cached between
// calls.

#include <memory>
#include <string>
#include <string_view>

namespace pizzacore {

// The locale the texts of this process are searched and sorted in, as a locale identifier such
// as "es_ES": the first of LC_ALL, LC_COLLATE and LANG that is set and not empty, without its
// codeset and modifier ("es_ES.UTF-8@euro" gives "es_ES"). The whole system speaks Spanish, so
// when nothing is set, or the locale is C or POSIX, it is "es_ES".
std::string textLocale();
// The same choice over given values; a null or empty value counts as not set.
std::string textLocale(const char* lcAll, const char* lcCollate, const char* lang);

// Whether the two texts are equal when letter case and diacritics are ignored, under no
// locale's rules: "Postres", "postres" and "Póstres" are all equal. Canonically equivalent texts
// (a precomposed "é" and "e" followed by a combining accent) are equal too.
bool equalIgnoringCaseAndDiacritics(std::string_view a, std::string_view b);

// Case- and diacritic-insensitive containment in one locale. `folded` reduces a text to the form
// in which containment is a plain substring test; fold every text once, then test as often as
// needed with `contains`. A matcher remembers the folded forms of the Latin letters it has met,
// so it is meant for one search at a time: make one per search.
class InsensitiveMatcher {
public:
    explicit InsensitiveMatcher(std::string_view locale);
    ~InsensitiveMatcher();
    InsensitiveMatcher(InsensitiveMatcher&&) noexcept;
    InsensitiveMatcher& operator=(InsensitiveMatcher&&) noexcept;
    InsensitiveMatcher(const InsensitiveMatcher&) = delete;
    InsensitiveMatcher& operator=(const InsensitiveMatcher&) = delete;

    // The text case-folded under the locale's rules (Turkish and Azerbaijani keep the dotted and
    // the dotless i apart), decomposed canonically and stripped of its combining marks. Meant for
    // containment tests only, never for display. Bytes that are not valid UTF-8 become U+FFFD.
    std::string folded(std::string_view text);
    // The same, written into `out` (replacing its content) so that one buffer serves many texts.
    void fold(std::string_view text, std::string& out);

    // Whether `foldedText` contains `foldedQuery`; both come from `folded`.
    static bool contains(std::string_view foldedText, std::string_view foldedQuery);

    // The two steps in one, for a single test.
    bool textContains(std::string_view text, std::string_view query);

private:
    struct Latin;
    std::unique_ptr<Latin> latin_;
    bool turkic_ = false;
};

// Case-insensitive containment in one locale with accents kept significant: "jose" finds "JOSE"
// and "Jose" but not "José". Used where the operator looks for a name exactly as it was written
// apart from letter case. Canonically equivalent texts (a precomposed "é" and "e" followed by a
// combining accent) contain each other.
class CaseInsensitiveMatcher {
public:
    explicit CaseInsensitiveMatcher(std::string_view locale);

    // The text case-folded under the locale's rules (Turkish and Azerbaijani keep the dotted and
    // the dotless i apart) and composed canonically (NFC). Meant for containment tests only, never
    // for display. Bytes that are not valid UTF-8 become U+FFFD.
    std::string folded(std::string_view text) const;

    // Whether `foldedText` contains `foldedQuery`; both come from `folded`. A query never matches
    // half of a composed letter: "e" is not found in the folded "é".
    static bool contains(std::string_view foldedText, std::string_view foldedQuery);

    // The two steps in one, for a single test.
    bool textContains(std::string_view text, std::string_view query) const;

private:
    bool turkic_ = false;
};

// The order in which names are listed: case-insensitive, numbers inside the text compared by
// value ("Pizza 9" before "Pizza 10"), letters in the locale's alphabetical order. Creating one
// loads the locale's collation rules, which is costly: create one per sort, not per comparison.
class NaturalOrder {
public:
    explicit NaturalOrder(std::string_view locale);
    ~NaturalOrder();
    NaturalOrder(NaturalOrder&&) noexcept;
    NaturalOrder& operator=(NaturalOrder&&) noexcept;
    NaturalOrder(const NaturalOrder&) = delete;
    NaturalOrder& operator=(const NaturalOrder&) = delete;

    // Negative when `a` comes first, zero when the two rank equal, positive otherwise.
    int compare(std::string_view a, std::string_view b) const;
    // A byte string whose plain byte order is the order of `compare`; to sort many texts, make
    // each key once and compare the keys.
    std::string key(std::string_view text) const;

private:
    struct Rules;
    std::unique_ptr<Rules> rules_;
};

} // namespace pizzacore
