// The controller's reply through the system's ANSI code page.
#include <windows.h>

#include "link/reply.h"

namespace taktor {

Text AnsiBytesToText(const std::uint8_t* bytes, int count) {
    if (count <= 0) {
        return Text();
    }
    const char* source = reinterpret_cast<const char*>(bytes);
    const int length = MultiByteToWideChar(CP_ACP, 0, source, count, nullptr, 0);
    if (length <= 0) {
        return Text();
    }
    Text text(static_cast<size_t>(length), u'\0');
    MultiByteToWideChar(CP_ACP, 0, source, count, reinterpret_cast<wchar_t*>(&text[0]), length);
    return text;
}

}  // namespace taktor
