#include "common/text.h"

namespace taktor {

long FindText(const Text& text, const Text& part, long start) {
    if (text.empty() || part.empty()) {
        return 0;
    }
    if (start < 1) {
        start = 1;
    }
    if (static_cast<size_t>(start) > text.size()) {
        return 0;
    }
    const size_t at = text.find(part, static_cast<size_t>(start - 1));
    return at == Text::npos ? 0 : static_cast<long>(at) + 1;
}

long CountText(const Text& text, const Text& part) {
    if (text.empty() || part.empty()) {
        return 0;
    }
    long count = 0;
    for (size_t at = text.find(part); at != Text::npos; at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

Text MiddleText(const Text& text, long start, long length) {
    if (start < 1) {
        start = 1;
    }
    if (length <= 0 || static_cast<size_t>(start) > text.size()) {
        return Text();
    }
    return text.substr(static_cast<size_t>(start - 1), static_cast<size_t>(length));
}

Text DirectoryPart(const Text& path) {
    const size_t first = (!path.empty() && path[0] == u'"') ? 1 : 0;
    size_t end = 0;  // one past the last separator, 0 when none was seen
    for (size_t i = first; i < path.size() && path[i] != u'|'; ++i) {
        if (path[i] == u'\\' || path[i] == u'/') {
            end = i + 1;
        }
    }
    return end == 0 ? Text() : path.substr(first, end - first);
}

Text TextFromUtf8(const std::string& bytes) {
    Text out;
    out.reserve(bytes.size());
    const size_t n = bytes.size();
    size_t i = 0;
    auto byte = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
    while (i < n) {
        const unsigned char b = byte(i);
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        int extra = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            extra = 1, cp = b & 0x1F, min = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            extra = 2, cp = b & 0x0F, min = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            extra = 3, cp = b & 0x07, min = 0x10000;
        } else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        size_t k = i + 1;
        for (; k < n && k <= i + static_cast<size_t>(extra); ++k) {
            const unsigned char c = byte(k);
            if ((c & 0xC0) != 0x80) {
                break;
            }
            cp = (cp << 6) | (c & 0x3F);
        }
        const bool complete = k == i + 1 + static_cast<size_t>(extra);
        if (!complete || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            // A malformed sequence: one replacement, then go on after the bytes that looked
            // like its continuation (at least one byte).
            out.push_back(0xFFFD);
            i = complete ? k : (k > i + 1 ? k : i + 1);
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i = k;
    }
    return out;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string Utf8FromText(const Text& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

}  // namespace taktor
