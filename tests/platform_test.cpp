// The platform layer's contracts, run against both implementations: natively
// (POSIX) and under Wine (Win32).
#include <gtest/gtest.h>

#include <cstdint>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/platform.h"
#include "test_util.h"

using namespace feedlet;
using namespace feedlet::platform;

namespace {

// Whether another thread's zero-wait probe gets the mutex (it lets go at once).
bool AnotherThreadGets(Mutex& mutex) {
    WorkerGroup group;
    std::atomic<int> probe{-1};
    struct Ctx {
        Mutex* mutex;
        std::atomic<int>* probe;
    } ctx{&mutex, &probe};
    bool started = group.Start(
        [](void* raw) {
            auto* c = static_cast<Ctx*>(raw);
            bool got = c->mutex->TryLock();
            if (got) c->mutex->Unlock();
            c->probe->store(got ? 1 : 0);
        },
        &ctx);
    EXPECT_TRUE(started);
    EXPECT_TRUE(group.WaitIdle(kWaitMs)) << "the probing thread did not return";
    return probe.load() == 1;
}

TEST(PlatformThreadsTest, MutexIsRecursiveAndProbesWithoutWaiting) {
    Mutex mutex;
    EXPECT_FALSE(mutex.Lock());  // not created yet
    ASSERT_TRUE(mutex.Create());
    ASSERT_TRUE(mutex.Lock());
    EXPECT_TRUE(mutex.TryLock());  // the owner may take it again
    EXPECT_FALSE(AnotherThreadGets(mutex));  // held by us: another thread's probe fails at once
    mutex.Unlock();
    EXPECT_FALSE(AnotherThreadGets(mutex));  // one level is still held
    mutex.Unlock();
    EXPECT_TRUE(AnotherThreadGets(mutex));
    EXPECT_TRUE(mutex.Close());
    EXPECT_FALSE(mutex.Close());
}

// Shutdown closes a mutex it holds: the close ends every level of the hold,
// and a mutex created again afterwards is free. Every Mutex is a lock of its
// own, whatever else exists: holding one never blocks another (the plugin's
// locks used to be named, and so shared with whatever else used the name).
TEST(PlatformThreadsTest, ClosingAHeldMutexEndsTheHold) {
    Mutex mutex, other;
    ASSERT_TRUE(mutex.Create());
    ASSERT_TRUE(other.Create());
    ASSERT_TRUE(mutex.Lock());
    ASSERT_TRUE(mutex.Lock());
    EXPECT_TRUE(AnotherThreadGets(other)) << "two mutexes must never be one lock";
    EXPECT_TRUE(mutex.Close());
    EXPECT_FALSE(mutex.IsCreated());
    EXPECT_FALSE(mutex.Lock());
    EXPECT_FALSE(mutex.TryLock());
    mutex.Unlock();  // harmless
    EXPECT_FALSE(mutex.Close());

    ASSERT_TRUE(mutex.Create());
    EXPECT_TRUE(AnotherThreadGets(mutex)) << "the closed mutex's levels came back";
    EXPECT_TRUE(AnotherThreadGets(other));

    // A mutex closed by a thread that does not hold it stays free as well.
    mutex.Unlock();  // not held: nothing happens
    EXPECT_TRUE(mutex.TryLock());
    mutex.Unlock();
    EXPECT_TRUE(mutex.Close());
}

TEST(PlatformThreadsTest, WorkerGroupCountsUntilEveryWorkerReturns) {
    WorkerGroup group;
    Event release;
    std::atomic<int> finished{0};
    struct Ctx {
        Event* release;
        std::atomic<int>* finished;
    } ctx{&release, &finished};
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(group.Start(
            [](void* raw) {
                auto* c = static_cast<Ctx*>(raw);
                c->release->Wait(kWaitMs);
                c->finished->fetch_add(1);
            },
            &ctx));
    }
    EXPECT_EQ(group.Live(), 8u);
    EXPECT_FALSE(group.WaitIdle(20));
    release.Set();
    ASSERT_TRUE(group.WaitIdle(kWaitMs)) << "the released workers did not return";
    EXPECT_EQ(finished.load(), 8);
    EXPECT_EQ(group.Live(), 0u);
}

TEST(PlatformThreadsTest, EventWaitTimesOutUntilSet) {
    Event event;
    EXPECT_FALSE(event.Wait(1));
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Wait(0));  // stays set
    EXPECT_TRUE(event.Wait(kWaitMs));
    event.Reset();
    EXPECT_FALSE(event.Wait(0));
}

TEST(PlatformFilesTest, ReadWholeFile) {
    TempDir dir;
    std::string path = dir.path() + "feed.xml";
    WriteFile(path, std::string("ab\0cd", 5));

    unsigned char* data = nullptr;
    size_t length = 0;
    ASSERT_EQ(ReadWholeFile(path.c_str(), 1024, 3, &data, &length), FileStatus::kOk);
    ASSERT_EQ(length, 5u);
    EXPECT_EQ(std::memcmp(data, "ab\0cd\0\0\0", 8), 0);  // data, then three zero bytes
    free(data);

    EXPECT_EQ(ReadWholeFile(path.c_str(), 4, 3, &data, &length), FileStatus::kTooLarge);
    EXPECT_EQ(data, nullptr);
    std::string missing = dir.path() + "missing.xml";
    EXPECT_EQ(ReadWholeFile(missing.c_str(), 1024, 3, &data, &length), FileStatus::kNotFound);
    std::string missing_folder = dir.path() + "none" + kPathSeparator + "feed.xml";
    EXPECT_EQ(ReadWholeFile(missing_folder.c_str(), 1024, 3, &data, &length), FileStatus::kNotFound);
    std::string under_a_file = path + kPathSeparator + "feed.xml";  // feed.xml is no folder
    EXPECT_EQ(ReadWholeFile(under_a_file.c_str(), 1024, 3, &data, &length), FileStatus::kNotFound);
    EXPECT_EQ(ReadWholeFile(nullptr, 1024, 3, &data, &length), FileStatus::kError);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(length, 0u);

    std::string empty = dir.path() + "empty.xml";
    WriteFile(empty, "");
    ASSERT_EQ(ReadWholeFile(empty.c_str(), 1024, 3, &data, &length), FileStatus::kOk);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(data[0], 0);
    free(data);

    // A folder is not a readable file.
    EXPECT_NE(ReadWholeFile(dir.path().c_str(), 1024, 3, &data, &length), FileStatus::kOk);
}

TEST(PlatformFilesTest, FoldersAndEntries) {
    TempDir dir;
    EXPECT_FALSE(DirectoryHasEntry(dir.path().c_str(), "Feedlet"));
    std::string folder = dir.path() + "Feedlet";
    EXPECT_TRUE(CreateFolder(folder.c_str()));
    EXPECT_TRUE(DirectoryHasEntry(dir.path().c_str(), "Feedlet"));
    EXPECT_TRUE(CreateFolder(folder.c_str()));  // it exists already
    std::string nested = dir.path() + "no" + kPathSeparator + "such";
    EXPECT_FALSE(CreateFolder(nested.c_str()));
    EXPECT_FALSE(CreateFolder(nullptr));
    EXPECT_FALSE(DirectoryHasEntry(nullptr, "Feedlet"));
    EXPECT_FALSE(DirectoryHasEntry(dir.path().c_str(), nullptr));
}

TEST(PlatformFilesTest, LastPathSeparatorNeverStopsInsideACharacter) {
    EXPECT_EQ(LastPathSeparator(nullptr), nullptr);
    EXPECT_EQ(LastPathSeparator("plain"), nullptr);
#ifdef _WIN32
    // Under the Japanese ANSI code page, the second byte of ソ (83 5C), 表
    // (95 5C) and 能 (94 5C) is the backslash's byte.
    struct Row {
        const char* path;
        size_t expected;  // offset of the last real separator
    } rows[] = {
        {"C:\\\x83\x5C\\Plugins", 5},         // C:\ソ\Plugins
        {"C:\\Q\\\x83\x5C", 4},               // C:\Q\ソ: the trail byte is not a separator
        {"C:\\\x95\x5C\x94\x5C\\x", 7},     // C:\表能\x
        {"\x83\x5C", SIZE_MAX},                 // ソ alone has none
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        const char* found = LastPathSeparator(row.path);
        if (row.expected == SIZE_MAX) {
            EXPECT_EQ(found, nullptr);
        } else {
            ASSERT_NE(found, nullptr);
            EXPECT_EQ(static_cast<size_t>(found - row.path), row.expected);
        }
    }
#else
    const char* path = "/a/b/c";
    EXPECT_EQ(LastPathSeparator(path), path + 4);
#endif
}

TEST(PlatformFilesTest, PluginDirectoryOverrideEndsWithSeparator) {
    std::string saved = PluginDirectory();
    SetPluginDirectory("somewhere");
    EXPECT_EQ(std::string(PluginDirectory()), std::string("somewhere") + kPathSeparator);
    SetPluginDirectory(saved.c_str());
}

TEST(PlatformClockTest, ClockReadings) {
    CalendarFields now = SystemTimeUtc();
    EXPECT_GE(now.year, 2024);
    EXPECT_GE(now.month, 1);
    EXPECT_LE(now.month, 12);
    // The tick count moves on: the schedule measures its ticks with it. How
    // far it moves in a given sleep depends on the machine, so only that it
    // moves is checked.
    uint32_t before = TickCount();
    EXPECT_TRUE(WaitUntil([&] { return TickCount() != before; }, kWaitMs, "the tick count to advance"));
}

TEST(PlatformClockTest, FormatTimeUsesTheCurrentLocale) {
    CalendarFields fields;
    fields.year = 2011;
    fields.month = 5;
    fields.day = 1;
    fields.hour = 10;
    fields.weekday = 0;
    fields.yearday = 120;
    char16_t buffer[64];
    ASSERT_GT(FormatTime(buffer, 64, u"%Y/%m/%d %H %j %w", fields), 0u);
    EXPECT_EQ(std::u16string(buffer), u"2011/05/01 10 121 0");
    // Locale names come out as real characters: never code page bytes
    // widened one by one (as Wine's wcsftime does with Japanese names).
    fields.hour = 15;
    ASSERT_GT(FormatTime(buffer, 64, u"%p|%A|%a", fields), 0u);
    for (const char16_t* p = buffer; *p; ++p) EXPECT_FALSE(*p >= 0x80 && *p <= 0xFF) << std::hex << *p;
    // Too small a buffer gives an empty text, never an overrun; so do
    // patterns that are not ASCII, too long, or missing.
    buffer[0] = u'#';
    EXPECT_EQ(FormatTime(buffer, 4, u"%Y/%m/%d", fields), 0u);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(FormatTime(buffer, 11, u"%Y/%m/%d", fields), 10u);  // exactly fits
    EXPECT_EQ(FormatTime(buffer, 10, u"%Y/%m/%d", fields), 0u);
    buffer[0] = u'#';
    EXPECT_EQ(FormatTime(buffer, 64, u"%Y\u5E74", fields), 0u);
    EXPECT_EQ(buffer[0], 0);
    std::u16string long_pattern(256, u'x');
    EXPECT_EQ(FormatTime(buffer, 64, long_pattern.c_str(), fields), 0u);
    EXPECT_EQ(FormatTime(buffer, 64, nullptr, fields), 0u);
    EXPECT_EQ(FormatTime(nullptr, 64, u"%Y", fields), 0u);
}

}  // namespace
