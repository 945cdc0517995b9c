// feedlet-soak: weeks of the plugin's life in minutes, in one process. The
// engine the DLL is made of runs in-process (the real user interface on
// Windows) against twenty feeds on the test server. The plugin's own
// schedule thread runs on simulated clocks that the soak moves on one
// 30-second tick at a time (soak/schedule_driver.h): after each tick the
// fetches that fell due end, every replaced document's submenu is rebuilt,
// every display setting's text is read, and the texts and the menu are
// checked against what the server sent. Every so many fetches the tray
// popup is opened (fetches then run while it is open) and closed, and the
// plugin is freed and initialised again. The process's handles, USER and
// GDI objects, private memory and live heap are sampled every so many
// fetches, each time once every feed shows its reference document, and
// printed as a table; after warm-up none may grow (soak/soak_judge.h). The exit status is 0 only when every column stayed
// flat and the plugin always showed what was served.
//
//   feedlet-soak [--fetches N] [--cycle N] [--sample N] [--popup N]
//
// --fetches: at least this many fetches in all (5,000)
// --cycle:   Free and Init every N fetches (1,000); the first cycle is warm-up
// --sample:  a sample every N fetches (250); N must divide the cycle
// --popup:   the popup every N fetches (300; 0: never)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "fetch/feed_crawler.h"
#include "http_test_server.h"
#include "platform/platform.h"
#include "plugin/plugin.h"
#include "plugin/plugin_state.h"
#include "soak/feed_mix.h"
#include "soak/process_usage.h"
#include "soak/schedule_driver.h"
#include "soak/soak_desktop.h"
#include "soak/soak_judge.h"
#include "test_util.h"

using namespace feedlet;
using namespace feedlet::soak;

namespace {

// Every wait is bounded by this: far beyond what a loaded machine, Wine or
// a sanitizer needs, so only a hang reaches it.
constexpr uint32_t kWaitMs = testing_util::kWaitMs;
// Every feed falls due at least every 600 s (20 ticks) and no pause a
// server asks for is longer: this many ticks without a fetch means the
// schedule stopped.
constexpr uint64_t kMaxIdleSteps = 100;
// The popup waits at most this many ticks for a fetch to happen while it is open.
constexpr int kPopupTicks = 60;
// Mismatches between what was served and what is shown that are printed
// one by one (all are counted).
constexpr int kMismatchesShown = 10;

struct Options {
    uint64_t fetches = 5000;
    uint64_t cycle = 1000;
    uint64_t sample = 250;
    uint64_t popup = 300;
};

bool ParseCount(const char* text, uint64_t* value) {
    if (!text || !*text) return false;
    char* end = nullptr;
    unsigned long long parsed = std::strtoull(text, &end, 10);
    if (*end || text[0] == '-') return false;
    *value = parsed;
    return true;
}

bool Parse(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; i += 2) {
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        uint64_t* target = std::strcmp(argv[i], "--fetches") == 0  ? &options->fetches
                           : std::strcmp(argv[i], "--cycle") == 0  ? &options->cycle
                           : std::strcmp(argv[i], "--sample") == 0 ? &options->sample
                           : std::strcmp(argv[i], "--popup") == 0  ? &options->popup
                                                                    : nullptr;
        if (!target || !ParseCount(value, target)) return false;
    }
    return options->fetches > 0 && options->sample > 0 && options->cycle >= options->sample &&
           options->cycle % options->sample == 0;
}

bool AllFetchesEnded() {
    for (FeedEntry* entry : Plugin().feeds.As<FeedEntry>())
        if (entry && entry->crawler && entry->crawler->workers.load() != 0) return false;
    return true;
}

class Soak {
public:
    Soak(const Options& options, TestHttpServer& server, FeedMix& mix, ScheduleDriver& driver)
        : options_(options), server_(server), mix_(mix), driver_(driver) {}

    bool Run();
    const std::vector<Sample>& samples() const { return samples_; }
    int mismatches() const { return mismatches_; }
    void PrintFigures() const;

private:
    bool Fail(const std::string& what) {
        std::printf("soak: %s (after %llu fetches)\n", what.c_str(), static_cast<unsigned long long>(mix_.Fetches()));
        return false;
    }
    // The fetches that fell due have ended and their updates reached the
    // menu; then the mix notes what each feed shows, and it is checked.
    bool Settle(bool fresh);
    bool Step();
    bool Init();
    bool Popup();
    void ReadAndCheck();
    void Mismatch(const std::string& what);
    bool TakeSample(uint64_t mark);
    double Seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    }

    const Options& options_;
    TestHttpServer& server_;
    FeedMix& mix_;
    ScheduleDriver& driver_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::vector<Sample> samples_;
    std::u16string text_;
    uint64_t step_ = 0;
    uint64_t texts_ = 0;
    uint64_t scheduled_ = 0;  // fetches the schedule's walks started
    int cycles_ = 0;
    int popups_ = 0;
    int mismatches_ = 0;
};

bool Soak::Settle(bool fresh) {
    if (!testing_util::WaitUntil(AllFetchesEnded, kWaitMs, "the fetches to end")) return Fail("a fetch never ended");
    if (!CatchUp(kWaitMs)) return Fail("the menu did not catch up with the updates");
    mix_.NoteAnswers(fresh);
    ReadAndCheck();
    return true;
}

void Soak::Mismatch(const std::string& what) {
    if (++mismatches_ <= kMismatchesShown)
        std::printf("soak: step %llu: %s\n", static_cast<unsigned long long>(step_), what.c_str());
}

// Every display setting's text, as the host reads them every second
// (measured, then filled); the feed-information texts start with the
// title of the document the plugin must show, and each submenu lists that
// document's entries.
void Soak::ReadAndCheck() {
    for (int number = 1; number <= 2; ++number) {
        for (size_t i = 0; i < FeedMix::kFeeds; ++i) {
            int setting = static_cast<int>(i) + 1;
            int size = PluginGetText(number, setting, nullptr, 0);
            text_.assign(size > 0 ? static_cast<size_t>(size) : 1, u'\0');
            int length = PluginGetText(number, setting, &text_[0], static_cast<int>(text_.size()));
            ++texts_;
            if (number != 1) continue;
            std::string title = mix_.ShownTitle(i);
            std::string shown = Utf16ToUtf8(text_.c_str(), length > 0 ? static_cast<size_t>(length) : 0,
                                            LoneSurrogates::kReplace);
            if (shown.compare(0, title.size(), title) != 0)
                Mismatch(mix_.Name(i) + " shows \"" + shown + "\", not \"" + title + "\"");
        }
    }
    if (MenuIds() < 0) return;
    for (size_t i = 0; i < FeedMix::kFeeds; ++i) {
        int entries = MenuEntries(i);
        if (entries != mix_.ShownMenuEntries(i))
            Mismatch(mix_.Name(i) + "'s submenu has " + std::to_string(entries) + " entries, not " +
                     std::to_string(mix_.ShownMenuEntries(i)));
    }
}

bool Soak::Step() {
    mix_.Serve(++step_);
    uint64_t before = mix_.Fetches();
    if (!driver_.Tick(kWaitMs)) return Fail("the schedule thread did not take its tick");
    if (!Settle(false)) return false;
    scheduled_ += mix_.Fetches() - before;
    return true;
}

// Init fetches every feed once; the documents of the last Init are gone.
bool Soak::Init() {
    PluginInit();
    return Settle(true);
}

// While the popup is open, ticks go by until some fetch has run; its
// update reaches the open menu, which only notes it, and the submenu is
// rebuilt once the popup has closed.
bool Soak::Popup() {
    uint64_t before = mix_.Fetches();
    bool opened = OpenAndClosePopup(
        [this] {
            uint64_t closed = mix_.Fetches();
            for (int i = 0; i < kPopupTicks && mix_.Fetches() == closed; ++i)
                if (!driver_.Tick(kWaitMs) || !testing_util::WaitUntil(AllFetchesEnded, kWaitMs, "the fetches to end"))
                    return false;
            return mix_.Fetches() != closed;
        },
        kWaitMs);
    if (!opened) return Fail("the popup did not open, take its fetches and close");
    ++popups_;
    if (!Settle(false)) return false;
    scheduled_ += mix_.Fetches() - before;
    return true;
}

// Every feed fetches its reference document first, so that each sample
// sees the same twenty documents and the same menu: what differs from one
// sample to the next is what the plugin kept or lost, not what the last
// fetches happened to bring.
bool Soak::TakeSample(uint64_t mark) {
    mix_.ServeReference();
    for (FeedEntry* entry : Plugin().feeds.As<FeedEntry>())
        if (entry && entry->crawler) Start(entry->crawler);
    if (!Settle(false)) return false;
    // Nothing of the server's may be counted: its connection threads are
    // joined first.
    if (!server_.WaitUntilQuiet(kWaitMs)) return Fail("the server's connections did not end");
    Sample sample;
    sample.fetches = mix_.Fetches();
    sample.seconds = Seconds();
    sample.simulated_hours = driver_.SimulatedSeconds() / 3600;
    sample.usage = ReadUsage();
    sample.menu_ids = MenuIds();
    sample.updates = Updates();
    sample.cycle = static_cast<size_t>(mark / options_.cycle);
    sample.after_init = mark % options_.cycle == 0;
    samples_.push_back(sample);
    std::vector<Sample> row(1, sample);
    std::string table = Table(row);
    // The header once, then a row per sample as it comes.
    std::fputs(samples_.size() == 1 ? table.c_str() : table.c_str() + table.find('\n') + 1, stdout);
    std::fflush(stdout);
    return true;
}

bool Soak::Run() {
    // The table's own rows are no growth of the plugin's: room for them all
    // is taken before the first sample.
    samples_.reserve(static_cast<size_t>(options_.fetches / options_.sample + 8));
    uint64_t next_cycle = options_.cycle;
    uint64_t next_sample = options_.sample;
    uint64_t next_popup = options_.popup;
    mix_.Serve(step_);
    if (!Init()) return false;
    if (!TakeSample(0)) return false;
    uint64_t last_fetches = 0, idle_steps = 0;
    while (mix_.Fetches() < options_.fetches) {
        if (!Step()) return false;
        idle_steps = mix_.Fetches() == last_fetches ? idle_steps + 1 : 0;
        last_fetches = mix_.Fetches();
        if (idle_steps >= kMaxIdleSteps) return Fail("the schedule stopped starting fetches");
        if (HasPopup() && options_.popup && mix_.Fetches() >= next_popup) {
            if (!Popup()) return false;
            while (next_popup <= mix_.Fetches()) next_popup += options_.popup;
        }
        if (mix_.Fetches() >= next_cycle) {
            if (PluginFree(false) == 0) return Fail("Free failed");
            if (!Init()) return false;
            ++cycles_;
            while (next_cycle <= mix_.Fetches()) next_cycle += options_.cycle;
        }
        if (mix_.Fetches() >= next_sample) {
            uint64_t mark = next_sample;
            while (next_sample <= mix_.Fetches()) next_sample += options_.sample;
            if (!TakeSample(mark)) return false;
        }
    }
    return true;
}

void Soak::PrintFigures() const {
    std::printf(
        "soak: %llu fetches (%llu started by the schedule's walks in %llu ticks, %.1f simulated days; the rest by "
        "Init and for the samples), %llu documents replaced and their submenus rebuilt, %llu texts read, %d "
        "Free/Init cycles, %d popups, %.1f s\n",
        static_cast<unsigned long long>(mix_.Fetches()), static_cast<unsigned long long>(scheduled_),
        static_cast<unsigned long long>(step_), static_cast<double>(driver_.SimulatedSeconds()) / 86400.0,
        static_cast<unsigned long long>(Updates()), static_cast<unsigned long long>(texts_), cycles_, popups_,
        Seconds());
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!Parse(argc, argv, &options)) {
        std::fprintf(stderr,
                     "usage: feedlet-soak [--fetches N] [--cycle N] [--sample N] [--popup N]\n"
                     "       (the sample interval must divide the cycle)\n");
        return 2;
    }
    TestHttpServer server;
    if (!server.Start()) {
        std::printf("soak: the test server did not start\n");
        return 1;
    }
    testing_util::HostFolder host;
    if (!host.ok()) {
        std::printf("soak: no host folder\n");
        return 1;
    }
    FeedMix mix(server);
    std::string folder = host.plugin_dir() + "Feedlet" + platform::kPathSeparator;
    testing_util::WriteFile(folder + "RSS.ini", mix.FeedsIni());
    testing_util::WriteFile(folder + "Setting.ini", mix.SettingsIni());

    std::printf("feedlet-soak: %zu feeds, %llu fetches, Free/Init every %llu, a sample every %llu, ", FeedMix::kFeeds,
                static_cast<unsigned long long>(options.fetches), static_cast<unsigned long long>(options.cycle),
                static_cast<unsigned long long>(options.sample));
    if (HasPopup() && options.popup)
        std::printf("the popup every %llu (%zu-bit)\n", static_cast<unsigned long long>(options.popup),
                    sizeof(void*) * 8);
    else
        std::printf("no popup (%zu-bit)\n", sizeof(void*) * 8);

    bool ran = false;
    std::vector<Sample> samples;
    int mismatches = 0;
    {
        ScheduleDriver driver(Plugin().schedule);
        InstallDesktop();
        Soak soak(options, server, mix, driver);
        ran = soak.Run();
        PluginFree(false);
        RemoveDesktop();
        soak.PrintFigures();
        samples = soak.samples();
        mismatches = soak.mismatches();
    }
    server.Stop();
    // Everything the run made is gone now: whatever a leak checker finds
    // was lost.
    bool leaked = false;
    std::string leaks = CheckForLeaks(&leaked);

    std::printf("%s", UsageSources().c_str());
    Limits limits;
    limits.judge_private = PrivateMemoryIsMeaningful();
    Verdict verdict = Judge(samples, limits);
    for (const std::string& line : verdict.lines) std::printf("  %s\n", line.c_str());
    if (mismatches) std::printf("soak: %d times the plugin did not show what was served\n", mismatches);
    if (!leaks.empty()) std::printf("soak: %s\n", leaks.c_str());
    bool passed = ran && verdict.flat && mismatches == 0 && !leaked;
    std::printf("soak: %s\n", passed ? "FLAT" : "FAILED");
    return passed ? 0 : 1;
}
