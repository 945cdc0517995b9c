#include "soak/soak_judge.h"

#include <algorithm>
#include <cstdio>

namespace feedlet {
namespace soak {

namespace {

int64_t Handles(const Usage& u) { return u.handles; }
int64_t User(const Usage& u) { return u.user; }
int64_t Gdi(const Usage& u) { return u.gdi; }
int64_t Heap(const Usage& u) { return u.heap_kib; }
// What Wine's own DLLs keep in their heap is part of the private memory,
// and no part of the plugin's: it is taken out.
int64_t PrivateOfThePlugin(const Usage& u) {
    if (u.private_kib < 0 || u.wine_heap_kib < 0) return u.private_kib;
    return u.private_kib - u.wine_heap_kib;
}

struct Column {
    const char* name;
    int64_t (*figure)(const Usage&);
    bool memory;
};

constexpr Column kColumns[] = {
    {"handles", Handles, false}, {"USER", User, false},
    {"GDI", Gdi, false},         {"private KiB", PrivateOfThePlugin, true},
    {"heap KiB", Heap, true},
};

// 1234567 as "1,234,567".
std::string Grouped(int64_t value) {
    std::string digits = std::to_string(value < 0 ? -value : value);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return value < 0 ? "-" + out : out;
}

std::string Figure(int64_t value) { return value < 0 ? "n/a" : Grouped(value); }

// The first cycle after warm-up in which the figure is given: it sets the
// level. 0 when there is none.
size_t LevelCycle(const Column& column, const std::vector<Sample>& samples) {
    size_t level_cycle = 0;
    for (const Sample& sample : samples)
        if (sample.cycle > 0 && column.figure(sample.usage) >= 0 && (!level_cycle || sample.cycle < level_cycle))
            level_cycle = sample.cycle;
    return level_cycle;
}

std::string Judged(const Column& column, const std::vector<Sample>& samples, const Limits& limits, bool* flat) {
    std::string line = std::string(column.name) + ": ";
    size_t level_cycle = LevelCycle(column, samples);
    if (!level_cycle) return line + "n/a";
    int64_t level = INT64_MIN, low = INT64_MAX, high = INT64_MIN;
    bool judged = false;
    for (const Sample& sample : samples) {
        int64_t value = column.figure(sample.usage);
        if (sample.cycle < level_cycle || value < 0) continue;
        low = std::min(low, value);
        high = std::max(high, value);
        if (sample.cycle == level_cycle) level = std::max(level, value);
        else judged = true;
    }
    // The most a figure may rise above the level.
    int64_t allowance = column.memory ? static_cast<int64_t>(static_cast<double>(level) * limits.memory)
                                      : limits.objects;
    line += Grouped(low) + " to " + Grouped(high) + " after warm-up; level " + Grouped(level) + ", limit +" +
            Grouped(allowance) + (column.memory ? " (" + std::to_string(static_cast<int>(limits.memory * 100 + 0.5)) +
                                                      " %)"
                                                : std::string()) +
            ": ";
    if (!judged) {
        *flat = false;
        return line + "no sample after the cycle that sets the level: too short to judge";
    }
    const Sample* worst = nullptr;
    for (const Sample& sample : samples) {
        int64_t value = column.figure(sample.usage);
        if (sample.cycle <= level_cycle || value < 0 || value <= level + allowance) continue;
        if (!worst || value > column.figure(worst->usage)) worst = &sample;
    }
    if (!worst) return line + "flat";
    *flat = false;
    return line + "GROWS, " + Grouped(column.figure(worst->usage)) + " at " +
           Grouped(static_cast<int64_t>(worst->fetches)) + " fetches";
}

// Wine's own heap over the warm samples, as a line saying how much it grew
// per fetch (not judged: it is Wine's). False when no sample has it.
bool WineHeapGrowth(const std::vector<Sample>& samples, std::string* line) {
    const Sample* first = nullptr;
    const Sample* last = nullptr;
    for (const Sample& s : samples) {
        if (s.cycle == 0 || s.usage.wine_heap_kib < 0) continue;
        if (!first) first = &s;
        last = &s;
    }
    if (!first) return false;
    if (!line) return true;
    int64_t grown = last->usage.wine_heap_kib - first->usage.wine_heap_kib;
    uint64_t fetches = last->fetches - first->fetches;
    char per_fetch[32];
    std::snprintf(per_fetch, sizeof per_fetch, "%.0f",
                  fetches ? static_cast<double>(grown) * 1024.0 / static_cast<double>(fetches) : 0.0);
    *line = "Wine KiB: " + Grouped(first->usage.wine_heap_kib) + " to " + Grouped(last->usage.wine_heap_kib) +
            " after warm-up, about " + per_fetch +
            " bytes per fetch: committed by Wine's own DLLs' heap, not judged (taken out of the private memory)";
    return true;
}

}  // namespace

Verdict Judge(const std::vector<Sample>& samples, const Limits& limits) {
    Verdict verdict;
    bool any_warm = std::any_of(samples.begin(), samples.end(), [](const Sample& s) { return s.cycle > 0; });
    if (!any_warm) {
        verdict.flat = false;
        verdict.lines.push_back("no sample after warm-up: the run was too short to judge");
        return verdict;
    }
    for (const Column& column : kColumns) {
        bool is_private = column.figure == PrivateOfThePlugin;
        if (is_private && !limits.judge_private) {
            verdict.lines.push_back(std::string(column.name) + ": not judged here (the sanitizer's allocator and "
                                                               "shadow memory make it grow; the heap figure counts)");
            continue;
        }
        std::string line = Judged(column, samples, limits, &verdict.flat);
        if (is_private && WineHeapGrowth(samples, nullptr))
            line.insert(line.find(':'), " less Wine KiB");
        verdict.lines.push_back(line);
    }
    std::string wine;
    if (WineHeapGrowth(samples, &wine)) verdict.lines.push_back(wine);
    return verdict;
}

std::string Table(const std::vector<Sample>& samples) {
    std::string out;
    char row[256];
    std::snprintf(row, sizeof row, "%9s %7s %9s %8s %6s %6s %12s %10s %9s %9s %8s  %s\n", "fetches", "sim. h",
                  "elapsed s", "handles", "USER", "GDI", "private KiB", "heap KiB", "Wine KiB", "menu ids", "updates",
                  "");
    out += row;
    for (const Sample& s : samples) {
        char elapsed[32];
        std::snprintf(elapsed, sizeof elapsed, "%.1f", s.seconds);
        const char* note = s.cycle == 0 ? "warm-up" : s.after_init ? "after Free/Init" : "";
        std::snprintf(row, sizeof row, "%9s %7s %9s %8s %6s %6s %12s %10s %9s %9s %8s  %s\n",
                      Grouped(static_cast<int64_t>(s.fetches)).c_str(), Grouped(s.simulated_hours).c_str(), elapsed,
                      Figure(s.usage.handles).c_str(), Figure(s.usage.user).c_str(), Figure(s.usage.gdi).c_str(),
                      Figure(s.usage.private_kib).c_str(), Figure(s.usage.heap_kib).c_str(),
                      Figure(s.usage.wine_heap_kib).c_str(), Figure(s.menu_ids).c_str(),
                      Grouped(static_cast<int64_t>(s.updates)).c_str(), note);
        out += row;
    }
    return out;
}

}  // namespace soak
}  // namespace feedlet
