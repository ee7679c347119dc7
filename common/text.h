// UTF-16 text and the text operations shared by the whole configurator.
#pragma once

#include <string>

namespace taktor {

// All user-visible and device text is UTF-16, as the Windows user interface takes it.
using Text = std::u16string;

// 1-based position of the first occurrence of part at or after start, 0 when there is none or
// either text is empty. A start below 1 counts as 1; a start past the end finds nothing.
long FindText(const Text& text, const Text& part, long start = 1);

// Number of non-overlapping occurrences of part; 0 when either text is empty.
long CountText(const Text& text, const Text& part);

// Up to length characters from the 1-based start. A start below 1 counts as 1, a negative length
// as 0; a start beyond the end gives the empty text.
Text MiddleText(const Text& text, long start, long length);

// The path up to and including its last '\' or '/', or the empty text. A leading double quote is
// skipped and the scan stops at the first '|'.
Text DirectoryPart(const Text& path);

// UTF-8 to UTF-16, each malformed sequence becoming U+FFFD (as the Windows conversion does
// without MB_ERR_INVALID_CHARS). A byte-order mark is kept as U+FEFF.
Text TextFromUtf8(const std::string& bytes);

// Appends one code point (at most U+10FFFF) as UTF-8.
void AppendUtf8(std::string& out, char32_t codePoint);

// UTF-16 to UTF-8, unpaired surrogates becoming U+FFFD.
std::string Utf8FromText(const Text& text);

}  // namespace taktor
