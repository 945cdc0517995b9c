// qvhost: a console stand-in for the Quorvel host. It loads the plugin the way
// the host does (LoadLibrary, GetProcAddress of the eight exports) and drives
// it from the command line, printing UTF-8.
//
//   qvhost [--plugin PATH] info
//   qvhost [--plugin PATH] version         the file's version resource (the plugin is not loaded)
//   qvhost [--plugin PATH] [--wait SECONDS] [--until-shown] print
//       Init, wait (with --until-shown only until every setting has a
//       text, at most SECONDS), print every setting's line, Free
//   qvhost [--plugin PATH] setting F S      Init, ShowSetting(F, S, NULL), print its result, Free
//   qvhost [--plugin PATH] window           Init, the clock window until it is closed, Free
//   qvhost [--plugin PATH] [--wait SECONDS] exit       Init, wait, ExitProcess without Free
//   qvhost [--plugin PATH] [--wait SECONDS] reload N   N times: load, Init, wait, Free, unload
//   qvhost [--plugin PATH] [--wait SECONDS] cycle N    load once; N times: Init, every text, Free;
//       every cycle must give the texts of the first (the first waits SECONDS
//       for its fetches, the others until their texts come, at most 20 s)
//
// Screenshots of the plugin's windows are taken by another program,
// qvshoot (shoot/), which loads the plugin the same way.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "file_version.h"
#include "host_plugin.h"
#include "host_window.h"

using namespace qvhost;

namespace {

void Write(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// Line breaks and tabs inside a text would break the one-line-per-setting
// format, so they are written as escapes.
std::string EscapeLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else out += c;
    }
    return out;
}

void Field(const std::string& key, const std::string& value) { Write(key + "\t" + value + "\n"); }

int CommandInfo(const Plugin& plugin) {
    PluginInfo info;
    std::memset(&info, 0xCC, sizeof info);
    plugin.get_info(&info);
    Field("plugin.name", Cp932ToUtf8(info.name, sizeof info.name));
    Field("plugin.version", Cp932ToUtf8(info.version, sizeof info.version));
    Field("plugin.description", Cp932ToUtf8(info.description, sizeof info.description));
    Field("plugin.copyright", Cp932ToUtf8(info.copyright, sizeof info.copyright));
    Field("plugin.url", Cp932ToUtf8(info.homepage, sizeof info.homepage));
    Field("plugin.mail", Cp932ToUtf8(info.email, sizeof info.email));
    Field("plugin.functions", std::to_string(info.function_count));
    Field("plugin.word1", std::to_string(info.host_word1));
    Field("plugin.word2", std::to_string(info.host_word2));
    for (int number = 1; number <= 2; ++number) {
        FuncInfo func = FunctionInfo(plugin, number);
        std::string prefix = "func" + std::to_string(number) + ".";
        Field(prefix + "name", Cp932ToUtf8(func.name, sizeof func.name));
        Field(prefix + "description", Cp932ToUtf8(func.description, sizeof func.description));
        Field(prefix + "settings", std::to_string(func.setting_count));
        Field(prefix + "word1", std::to_string(func.host_word1));
        Field(prefix + "word2", std::to_string(func.host_word2));
    }
    return 0;
}

// The plugin file's version resource, read without loading the plugin.
int CommandVersion(const std::string& path) {
    VersionFields fields;
    std::string error;
    if (!ReadFileVersion(path, &fields, &error)) {
        std::fprintf(stderr, "qvhost: %s\n", error.c_str());
        return 1;
    }
    for (const auto& field : fields) Field(field.first, field.second);
    return 0;
}

// One line per display setting of both functions: F<TAB>S<TAB>name<TAB>text.
std::vector<std::string> SettingLines(const Plugin& plugin) {
    std::vector<std::string> lines;
    for (int number = 1; number <= 2; ++number) {
        int count = FunctionInfo(plugin, number).setting_count;
        for (int setting = 1; setting <= count; ++setting) {
            lines.push_back(std::to_string(number) + "\t" + std::to_string(setting) + "\t" +
                            EscapeLine(Utf8(SettingName(plugin, number, setting))) + "\t" +
                            EscapeLine(Utf8(SettingText(plugin, number, setting))) + "\n");
        }
    }
    return lines;
}

int CommandPrint(const Plugin& plugin, double wait_seconds, bool until_shown) {
    plugin.init();
    if (!until_shown) {
        PumpMessages(wait_seconds);
    } else {
        DWORD start = GetTickCount();
        while (!EverySettingShown(plugin) && GetTickCount() - start < wait_seconds * 1000) PumpMessages(0.1);
    }
    for (const std::string& line : SettingLines(plugin)) Write(line);
    std::fflush(stdout);
    plugin.free();
    return 0;
}

// A host that restarts the plugin without unloading it (or loads it again
// while one of its threads still holds it): Free must leave nothing that the
// next Init adds to or reads, so every cycle gives the first one's texts.
int CommandCycle(const Plugin& plugin, double wait_seconds, int times) {
    std::vector<std::string> first;
    for (int cycle = 1; cycle <= times; ++cycle) {
        plugin.init();
        std::vector<std::string> lines;
        if (cycle == 1) {
            PumpMessages(wait_seconds);
            lines = first = SettingLines(plugin);
        } else {
            // This cycle's start-up fetches, waited for until its texts come.
            DWORD start = GetTickCount();
            while ((lines = SettingLines(plugin)) != first && GetTickCount() - start < 20000) PumpMessages(0.02);
        }
        plugin.free();
        if (lines != first) {
            std::fprintf(stderr, "qvhost: cycle %d gave other texts than the first:\n", cycle);
            for (const std::string& line : lines) std::fputs(line.c_str(), stderr);
            return 1;
        }
    }
    for (const std::string& line : first) Write(line);
    std::printf("cycled %d times, the same %u texts each time\n", times, static_cast<unsigned>(first.size()));
    return 0;
}

int CommandSetting(const Plugin& plugin, int number, int setting) {
    plugin.init();
    std::printf("%d\n", plugin.show_setting(number, setting, nullptr));
    std::fflush(stdout);
    plugin.free();
    return 0;
}

int CommandWindow(const Plugin& plugin) {
    plugin.init();
    HWND window = CreateHostWindow(plugin, 40, 40);
    if (!window) {
        std::fprintf(stderr, "qvhost: the window could not be created\n");
        plugin.free();
        return 1;
    }
    std::printf("qvhost window: right-click it for the plugin settings and each display setting "
                "(or double-click a line); close it to end\n");
    std::fflush(stdout);
    RunHostWindow(window);
    plugin.free();
    return 0;
}

// A host that ends while fetches run and never calls Free: the system ends
// the other threads, then the plugin's detach runs.
int CommandExit(const Plugin& plugin, double wait_seconds) {
    plugin.init();
    PumpMessages(wait_seconds);
    std::printf("exiting without Free\n");
    std::fflush(stdout);
    ExitProcess(0);
}

// Free and unload right after the start-up burst of fetches, again and again:
// no plugin thread may still be running the plugin's code once it is gone.
int CommandReload(const std::string& path, double wait_seconds, int times) {
    for (int i = 0; i < times; ++i) {
        Plugin plugin;
        if (!LoadPlugin(path, &plugin)) return 1;
        plugin.init();
        if (wait_seconds > 0) PumpMessages(wait_seconds);
        plugin.free();
        FreeLibrary(plugin.module);
        // The plugin's threads let go of the module as they end; once they
        // have, it must really be gone, or the next load would find the old
        // instance with its state already freed.
        DWORD start = GetTickCount();
        while (GetModuleHandleA(path.c_str())) {
            if (GetTickCount() - start > 5000) {
                std::fprintf(stderr, "qvhost: the plugin stayed loaded after cycle %d\n", i + 1);
                return 1;
            }
            Sleep(1);
        }
    }
    std::printf("reloaded %d times\n", times);
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: qvhost [--plugin PATH] [--wait SECONDS] [--until-shown] info|version|print|setting F S|\n"
                 "              window|exit|reload N|cycle N\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // UTF-8 lines with plain LF ends
    HostOptions options = ReadHostOptions(argc, argv, 3);
    const std::string& plugin_path = options.plugin_path;
    double wait_seconds = options.wait_seconds;
    int i = options.next;
    if (i >= argc) return Usage();
    std::string command = argv[i];
    if (command == "version") return CommandVersion(plugin_path);
    if (command == "reload" && i + 1 < argc) return CommandReload(plugin_path, wait_seconds, Number(argv[i + 1], 0));

    Plugin plugin;
    if (!LoadPlugin(plugin_path, &plugin)) return 1;
    int rc;
    if (command == "info") {
        rc = CommandInfo(plugin);
    } else if (command == "print") {
        rc = CommandPrint(plugin, wait_seconds, options.until_shown);
    } else if (command == "cycle" && i + 1 < argc) {
        rc = CommandCycle(plugin, wait_seconds, Number(argv[i + 1], 0));
    } else if (command == "exit") {
        rc = CommandExit(plugin, wait_seconds);
    } else if (command == "setting" && i + 2 < argc) {
        rc = CommandSetting(plugin, Number(argv[i + 1], 0), Number(argv[i + 2], 0));
    } else if (command == "window") {
        rc = CommandWindow(plugin);
    } else {
        rc = Usage();
    }
    std::fflush(stdout);
    FreeLibrary(plugin.module);
    return rc;
}
