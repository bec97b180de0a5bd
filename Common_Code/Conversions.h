#pragma once
// Number and text conversions shared by the console, the command interpreter, the
// configuration store and the mesh reader. Text is Windows-1250 bytes; nothing here
// changes the character set. Failures come back as result codes or booleans; nothing is
// recorded in the error trace. Pure functions, callable from any thread.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// White space: tab, line feed, vertical tab, carriage return and space (not form feed).
constexpr bool IsSpace(unsigned char c) { return c == 9 || c == 10 || c == 11 || c == 13 || c == 32; }
constexpr bool IsSpace(char c) { return IsSpace(static_cast<unsigned char>(c)); }

// Digits of value in base (2..36); digits past 9 are letters, capital when upperCase.
std::string ToText(std::int32_t value, int base = 10, bool upperCase = true);
std::string ToText(std::uint32_t value, int base = 10, bool upperCase = true);

// printf's "%.<precision><letter>" of value; the whole text, however long.
std::string FormatFloat(double value, char letter, int precision);

// atof's reading of text, narrowed to float: leading white space, sign, digits, fraction,
// exponent, hexadecimal, inf and nan; stops at the first byte that does not fit; 0 when
// there is no number. Never fails.
float ToFloat(std::string_view text);

// Result codes of ParseInt and ParseUnsigned.
inline constexpr int kParseOk = 0;
inline constexpr int kParseMalformed = -1;
inline constexpr int kParseOverflow = -2;

// Signed integer in base with an optional leading sign; a lone sign gives 0.
int ParseInt(std::string_view text, std::int32_t& out, int base = 10);

// Unsigned integer in base, no sign; out holds the partial value after a failure.
int ParseUnsigned(std::string_view text, std::uint32_t& out, int base = 10);

// "0", "f", "false" and "1", "t", "true", in any case; false (out unchanged) otherwise.
bool ParseBool(std::string_view text, bool& out);

// Windows-1250 lower-casing, byte by byte.
void ToLower(std::string& text);
std::string LowerCopy(std::string_view text);

// Removes white space from both ends.
void Trim(std::string& text);

// Every non-overlapping occurrence of pattern, left to right, replaced; an empty pattern
// changes nothing.
std::string ReplaceAll(std::string_view text, std::string_view pattern, std::string_view replacement);

// Line-break styles of ConvertLineBreaks.
inline constexpr int kBreaksUnchanged = 0;
inline constexpr int kBreaksCrLf = 1;
inline constexpr int kBreaksLf = 2;
inline constexpr int kBreaksCr = 3;

// Each CR LF, lone LF and lone CR becomes the style's break (any other style removes
// them). Two carriage returns in a row are two line breaks.
std::string ConvertLineBreaks(std::string_view text, int style);

// Takes the next command-line argument from position on: a bare word up to white space,
// or a double-quoted text without its quotes. position moves past it (to the length plus
// one when it ran to the end). False when nothing but white space remains.
bool NextArgument(std::string_view text, std::size_t& position, std::string& out);
