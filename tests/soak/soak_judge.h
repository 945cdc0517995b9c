// The soak's samples, the table it prints and its verdict: after warm-up no
// count may grow by more than 5 and no memory figure by more than 2 %.
//
// What a sample is compared with. The soak frees and initialises the plugin
// every so many fetches; the first of these cycles is warm-up (heaps,
// caches and the system's own tables reach their working size). Within a
// cycle the figures move a little with what the plugin holds at the moment
// and, under Wine, with what its X11 side hands back to the system now and
// then. So the first cycle after warm-up sets the level, the highest figure
// of its samples, and every later sample may exceed that level by at most
// 5 objects or 2 % of memory. A leak adds up from one cycle to the next, so
// however little it takes per fetch or per cycle, a long enough run shows
// it.
//
// Under Wine the private memory also holds what Wine's own DLLs keep in
// their heap (its WinINet keeps a little of every fetch; wine_counts.h):
// that heap has a column of its own and is taken out of the private memory
// before it is judged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "soak/process_usage.h"

namespace feedlet {
namespace soak {

struct Sample {
    uint64_t fetches = 0;
    double seconds = 0;            // real time since the soak began
    int64_t simulated_hours = 0;   // time as the plugin's schedule saw it
    Usage usage;
    int64_t menu_ids = -1;         // menu commands in use (-1: no menu)
    uint64_t updates = 0;          // documents replaced (each rebuilds its submenu)
    size_t cycle = 0;              // the Free/Init cycle it was taken in (0: warm-up)
    bool after_init = false;       // taken right after a Free/Init
};

struct Limits {
    int64_t objects = 5;        // handles, USER and GDI objects
    double memory = 0.02;       // private and heap memory, as a fraction
    bool judge_private = true;  // false where the figure says nothing (process_usage.h)
};

struct Verdict {
    bool flat = true;
    // One line per figure: its range after warm-up and its level, or where
    // it grew beyond it.
    std::vector<std::string> lines;
};

Verdict Judge(const std::vector<Sample>& samples, const Limits& limits);

// The samples as a table, one row each, with a header; "n/a" for a figure
// the platform does not give.
std::string Table(const std::vector<Sample>& samples);

}  // namespace soak
}  // namespace feedlet
