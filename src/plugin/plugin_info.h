// The two fixed records the host reads to learn what the plugin offers. Their
// layout is the host's ABI: sizes and offsets are asserted below.
#pragma once

#include <cstddef>
#include <cstdint>

namespace feedlet {

struct PluginInfo {
    char name[32];
    char version[16];
    char description[256];
    char copyright[128];
    char homepage[256];
    char email[256];
    int32_t function_count;
    int32_t host_word1;
    int32_t host_word2;
};
static_assert(sizeof(PluginInfo) == 956, "PluginInfo is a fixed 956-byte record");
static_assert(offsetof(PluginInfo, function_count) == 944, "PluginInfo layout");

struct FuncInfo {
    char name[32];
    char description[256];
    int32_t setting_count;
    int32_t host_word1;
    int32_t host_word2;
};
static_assert(sizeof(FuncInfo) == 300, "FuncInfo is a fixed 300-byte record");
static_assert(offsetof(FuncInfo, setting_count) == 288, "FuncInfo layout");

constexpr int kFunctionInfo = 1;  // feed information (Info settings)
constexpr int kFunctionItem = 2;  // article information (Item settings)

// The records as they stand now (the settings counts change once, in Init).
const PluginInfo& CurrentPluginInfo();
// The record of function 1 or 2, or null for any other number.
FuncInfo* FunctionInfo(int number);
// Restores both settings counts to their value at load (1000).
void ResetFunctionInfo();

}  // namespace feedlet
