// Byte-string value types and the operations every other module is written in.
//
// Conventions shared by every operation here:
//  * `Text` holds GBK bytes and, by convention, no zero byte. Positions are
//    1-based byte positions; a failed search yields -1.
//  * A byte below 0x80 is a character by itself; a byte of 0x80 or above
//    starts a two-byte character whose second byte is the next byte, whatever
//    its value. "Character-aware" operations step over such a pair as one
//    unit, so a match never starts on a second byte. Positions and lengths are
//    still counted in bytes.
//  * A space is the byte 0x20 or the full-width space 0xA1 0xA1, nothing else.
//  * Case-insensitive comparison folds the ASCII letters A-Z / a-z only, byte
//    by byte (second bytes of two-byte characters included).
//  * Out-of-range positions and counts give the empty value or -1; no
//    operation reads or writes outside its arguments.
//  * A text whose last byte is 0x80 or above (a cut two-byte character): a
//    character-aware walk ends when it reaches that byte without testing it,
//    so no match, delimiter or space starts there (a match that starts
//    earlier may still end on it, when the pattern ends in the same byte).
//    Operations that copy text copy the byte unchanged: TrimBothEnds and
//    RemoveAllSpaces keep it, ToLowerCase leaves it alone, SplitText and
//    ReplaceSubtext keep it in the last piece / the copied rest, and
//    ToInteger stops reading there. No operation reads past the end.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zivorna {

// GBK bytes without zero bytes. The empty string is the initial value.
using Text = std::string;
// A counted sequence of bytes of any value, zero bytes included.
using ByteSet = std::vector<std::uint8_t>;
// An ordered array of texts numbered from 1 (element i is stored at [i - 1]).
using TextArray = std::vector<Text>;

// --- Queries and extraction (bytes only, not character-aware) ---

// Number of bytes. TextLength("abc") == 3.
[[nodiscard]] int TextLength(std::string_view text);
// First `count` bytes; whole text when count exceeds the length; empty when
// count <= 0. TextLeft("abc", 5) == "abc".
[[nodiscard]] Text TextLeft(std::string_view text, int count);
// Last `count` bytes, same bounds. TextRight("abc", 2) == "bc".
[[nodiscard]] Text TextRight(std::string_view text, int count);
// At most `count` bytes from 1-based `start`; empty when start < 1 (it is not
// moved up), start > length or count <= 0. TextMid("abcdef", 5, 10) == "ef".
[[nodiscard]] Text TextMid(std::string_view text, int start, int count);

// --- Searches ---

// First occurrence of `pattern` at or after `start` (values <= 1 mean 1),
// character-aware. An empty pattern is found at 1 whenever anything is
// searched. FindText("abcabc", "c", 4) == 6.
[[nodiscard]] int FindText(std::string_view text, std::string_view pattern, int start = 1,
                           bool ignoreCase = false);
// Last occurrence lying wholly within bytes 1 .. start-1 (whole text when
// `start` is left out; nothing when start <= 1). Occurrences may overlap.
// FindTextReverse("a.b.c", ".", 4) == 2.
[[nodiscard]] int FindTextReverse(std::string_view text, std::string_view pattern,
                                  std::optional<int> start = std::nullopt,
                                  bool ignoreCase = false);
// First exact occurrence of `pattern` at or after `start` (<= 1 means 1);
// -1 for an empty pattern or a start beyond the end. Not character-aware.
[[nodiscard]] int FindBytes(const ByteSet& bytes, const ByteSet& pattern, int start = 1);

// --- Transformations (character-aware) ---

// Replaces occurrences of `pattern` scanning left to right from `start`
// (<= 1 means 1), at most `count` of them (negative: all; 0: none). The
// inserted replacement is never searched again.
// ReplaceSubtext("aaa", "aa", "b") == "ba".
[[nodiscard]] Text ReplaceSubtext(std::string_view text, std::string_view pattern,
                                  std::string_view replacement = {}, int start = 1,
                                  int count = -1, bool caseSensitive = true);
// Pieces between delimiters (exact comparison). No empty piece after a final
// delimiter; an empty delimiter gives the whole text; `count` limits the
// number of pieces (left out: no limit; a given negative count counts as 0).
// SplitText("a;;b;", ";") == {"a", "", "b"}.
[[nodiscard]] TextArray SplitText(std::string_view text, std::string_view delimiter = ",",
                                  std::optional<int> count = std::nullopt);
// Removes leading and trailing spaces (0x20, 0xA1 0xA1); tabs, CR, LF stay.
[[nodiscard]] Text TrimBothEnds(std::string_view text);
// Removes every space (0x20, 0xA1 0xA1) wherever it stands.
[[nodiscard]] Text RemoveAllSpaces(std::string_view text);
// Lower-cases one-byte A-Z; both bytes of two-byte characters stay as they are.
[[nodiscard]] Text ToLowerCase(std::string_view text);

// --- Building texts ---

namespace internal {
Text ConcatViews(std::initializer_list<std::string_view> parts);
}
// Joins two or more texts in order. ConcatText("a", "", "b") == "ab".
template <class... Parts>
[[nodiscard]] Text ConcatText(const Parts&... parts) {
  return internal::ConcatViews({std::string_view(parts)...});
}
// The one-byte text holding `code`; the empty text for 0 (and for values
// outside 1..255).
[[nodiscard]] Text CharFromCode(int code);
// `count` spaces; empty when count < 1.
[[nodiscard]] Text BlankText(int count);
// Negative, zero or positive by unsigned byte-wise order; a prefix orders first.
[[nodiscard]] int CompareText(std::string_view a, std::string_view b);

// --- Conversions ---

// Decimal integer at the start of the text after full-width folding and
// leading white space, one optional sign, 32-bit wrap-around; 0 when no digit.
// ToInteger(" 8080") == 8080, ToInteger("2147483648") == -2147483648.
[[nodiscard]] std::int32_t ToInteger(std::string_view text);
// The text's bytes, no terminating zero.
[[nodiscard]] ByteSet TextToBytes(std::string_view text);
// The bytes before the first zero byte (all of them when there is none).
[[nodiscard]] Text BytesToText(const ByteSet& bytes);

// --- Byte sets ---

[[nodiscard]] int BytesLength(const ByteSet& bytes);
// First `count` bytes; all when count exceeds the length; empty when <= 0.
[[nodiscard]] ByteSet BytesLeft(const ByteSet& bytes, int count);
// `count` zero bytes; empty when count <= 0.
[[nodiscard]] ByteSet BlankBytes(int count);
[[nodiscard]] ByteSet ConcatBytes(const ByteSet& first, const ByteSet& second);

// --- Integers and arrays ---

template <class... Ints>
[[nodiscard]] constexpr std::int32_t BitOr(Ints... values) {
  return static_cast<std::int32_t>((0u | ... | static_cast<std::uint32_t>(values)));
}
[[nodiscard]] int ArraySize(const TextArray& array);
// Appends a copy of `text` as the new last member.
void AppendToArray(TextArray& array, std::string_view text);
// Member `index` (1-based). Reading outside 1..ArraySize is a caller error;
// this accessor returns the empty text there instead of reading out of bounds.
[[nodiscard]] const Text& ArrayMember(const TextArray& array, int index);

}  // namespace zivorna
