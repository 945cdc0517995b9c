// The update intervals the dialogs offer: the feed manager's interval list
// and the display setting dialog's period list are filled from this one
// table, in this order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/ui_text.h"

namespace feedlet {

struct IntervalChoice {
    UiText text;
    uint32_t seconds;
};

extern const IntervalChoice kIntervalTable[];
constexpr size_t kIntervalCount = 9;

// The table row with these seconds, or -1 when none has them.
int IntervalIndex(uint32_t seconds);

}  // namespace feedlet
