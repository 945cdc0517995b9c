#include "core/ui_text.h"

#include <climits>
#include <cstring>

#include "platform/platform.h"

namespace feedlet {

size_t ConvertUiText(const char16_t* text, char* out, size_t capacity) noexcept {
    if (!out || capacity == 0) return 0;
    int room = capacity > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(capacity);
    int written = text ? platform::Utf16ToMultiByte(platform::kCodePageShiftJis, text, -1, out, room) : 0;
    // The terminator is converted with the text, so a whole conversion
    // writes at least it; anything less left no text or part of one.
    if (written <= 0 || out[written - 1] != 0) {
        std::memset(out, 0, capacity);
        return 0;
    }
    return static_cast<size_t>(written) - 1;
}

}  // namespace feedlet
