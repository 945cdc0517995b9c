// The soak's verdict: a run that leaks must fail, whichever column shows it
// and however slowly, and a flat run must pass whatever its figures do
// within a cycle or during warm-up.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "soak/soak_judge.h"

using namespace feedlet::soak;

namespace {

// A run of cycles of `per_cycle` samples each, the first cycle warm-up, every
// figure flat: 100 handles, 40 USER, 30 GDI, 20,000 KiB private, 5,000 KiB
// heap; within a cycle the memory rises a little (what a cycle holds).
std::vector<Sample> FlatRun(size_t cycles, size_t per_cycle) {
    std::vector<Sample> run;
    for (size_t c = 0; c < cycles; ++c) {
        for (size_t p = 0; p < per_cycle; ++p) {
            Sample s;
            s.fetches = (c * per_cycle + p) * 250;
            s.cycle = c;
            s.after_init = p == 0;
            s.usage.handles = 100;
            s.usage.user = 40;
            s.usage.gdi = 30;
            s.usage.private_kib = 20000 + static_cast<int64_t>(p) * 300;
            s.usage.heap_kib = 5000 + static_cast<int64_t>(p) * 60;
            run.push_back(s);
        }
    }
    return run;
}

std::string LineOf(const Verdict& verdict, const std::string& column) {
    for (const std::string& line : verdict.lines)
        if (line.compare(0, column.size() + 1, column + ":") == 0) return line;
    return "";
}

TEST(SoakJudgeTest, AFlatRunPassesThoughMemoryMovesWithinACycle) {
    std::vector<Sample> run = FlatRun(6, 4);
    // Within a cycle the private memory rises by 900 KiB (4.5 %), more than
    // the limit, and falls back at the next Free/Init: the level is the
    // highest figure of the first cycle after warm-up.
    Verdict verdict = Judge(run, Limits());
    EXPECT_TRUE(verdict.flat);
    std::string line = LineOf(verdict, "private KiB");
    EXPECT_NE(line.find("level 20,900, limit +418 (2 %): flat"), std::string::npos) << line;
    EXPECT_NE(LineOf(verdict, "handles").find("100 to 100"), std::string::npos) << LineOf(verdict, "handles");
}

TEST(SoakJudgeTest, GrowthDuringWarmUpIsNotJudged) {
    std::vector<Sample> run = FlatRun(3, 4);
    for (Sample& s : run)
        if (s.cycle == 0) s.usage.handles = 50 + static_cast<int64_t>(s.fetches / 10);
    EXPECT_TRUE(Judge(run, Limits()).flat);
}

TEST(SoakJudgeTest, EachCountMayRiseByFiveAndNoMore) {
    struct Row {
        int64_t Usage::*figure;
        const char* column;
    } rows[] = {{&Usage::handles, "handles"}, {&Usage::user, "USER"}, {&Usage::gdi, "GDI"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.column);
        std::vector<Sample> run = FlatRun(4, 2);
        run.back().usage.*row.figure += 5;
        EXPECT_TRUE(Judge(run, Limits()).flat) << "+5 is within the limit";
        run.back().usage.*row.figure += 1;
        Verdict verdict = Judge(run, Limits());
        EXPECT_FALSE(verdict.flat) << "+6 is growth";
        std::string line = LineOf(verdict, row.column);
        EXPECT_NE(line.find("GROWS"), std::string::npos) << line;
        // It says where.
        std::string level = std::to_string(run.front().usage.*row.figure);
        std::string grown = std::to_string(run.back().usage.*row.figure);
        EXPECT_NE(line.find("level " + level + ", limit +5: GROWS, " + grown + " at 1,750 fetches"), std::string::npos)
            << line;
    }
}

TEST(SoakJudgeTest, MemoryMayRiseByTwoPercentAndNoMore) {
    // The levels: 20,300 KiB private (limit +406) and 5,060 KiB heap
    // (limit +101).
    for (int64_t Usage::*figure : {&Usage::private_kib, &Usage::heap_kib}) {
        std::vector<Sample> run = FlatRun(5, 2);
        Sample& late = run[run.size() - 2];
        int64_t level = run[3].usage.*figure;
        late.usage.*figure = level + level / 50;
        EXPECT_TRUE(Judge(run, Limits()).flat) << level;
        late.usage.*figure += 1;
        EXPECT_FALSE(Judge(run, Limits()).flat) << level;
    }
}

TEST(SoakJudgeTest, OnlyTheFirstCycleAfterWarmUpSetsTheLevel) {
    // A high figure later on is growth, not a new level; a low one is no
    // failure.
    std::vector<Sample> run = FlatRun(5, 2);
    run[4].usage.gdi = 20;
    EXPECT_TRUE(Judge(run, Limits()).flat);
    run[5].usage.gdi = 36;
    run[7].usage.gdi = 36;
    Verdict verdict = Judge(run, Limits());
    EXPECT_FALSE(verdict.flat);
    EXPECT_NE(LineOf(verdict, "GDI").find("20 to 36 after warm-up; level 30"), std::string::npos)
        << LineOf(verdict, "GDI");
    // A run that ends within the cycle that sets the level judges nothing.
    std::vector<Sample> short_run = FlatRun(2, 3);
    verdict = Judge(short_run, Limits());
    EXPECT_FALSE(verdict.flat);
    EXPECT_NE(LineOf(verdict, "handles").find("too short"), std::string::npos) << LineOf(verdict, "handles");
}

TEST(SoakJudgeTest, ASlowLeakShowsOnceItAddsUp) {
    // One handle per cycle: within the limit for five cycles after the one
    // that sets the level, growth by the seventh.
    std::vector<Sample> run = FlatRun(8, 4);
    for (Sample& s : run) s.usage.handles += static_cast<int64_t>(s.fetches / 1000);
    Verdict verdict = Judge(run, Limits());
    EXPECT_FALSE(verdict.flat);
    EXPECT_NE(LineOf(verdict, "handles").find("GROWS"), std::string::npos);
}

TEST(SoakJudgeTest, MissingFiguresAndUnjudgedMemory) {
    std::vector<Sample> run = FlatRun(3, 2);
    for (Sample& s : run) {
        s.usage.user = -1;
        s.usage.gdi = -1;
    }
    // The private memory grows, but where it says nothing it is not judged.
    run.back().usage.private_kib *= 2;
    Limits limits;
    limits.judge_private = false;
    Verdict verdict = Judge(run, limits);
    EXPECT_TRUE(verdict.flat);
    EXPECT_EQ(LineOf(verdict, "USER"), "USER: n/a");
    EXPECT_NE(LineOf(verdict, "private KiB").find("not judged"), std::string::npos);
    EXPECT_FALSE(Judge(run, Limits()).flat);
}

TEST(SoakJudgeTest, WinesOwnHeapIsTakenOutOfThePrivateMemory) {
    // Wine's heap grows by 200 KiB every 250 fetches, and the private
    // memory with it: 8 % by the end, Wine's and not the plugin's.
    std::vector<Sample> run = FlatRun(5, 2);
    for (Sample& s : run) {
        int64_t wine = 100 + static_cast<int64_t>(s.fetches / 250) * 200;
        s.usage.wine_heap_kib = wine;
        s.usage.private_kib += wine;
    }
    Verdict verdict = Judge(run, Limits());
    EXPECT_TRUE(verdict.flat);
    EXPECT_NE(LineOf(verdict, "private KiB less Wine KiB").find("flat"), std::string::npos);
    std::string wine = LineOf(verdict, "Wine KiB");
    EXPECT_NE(wine.find("about 819 bytes per fetch"), std::string::npos) << wine;
    EXPECT_NE(wine.find("not judged"), std::string::npos) << wine;
    // Growth of its own still shows.
    run.back().usage.private_kib += 500;
    EXPECT_FALSE(Judge(run, Limits()).flat);
}

TEST(SoakJudgeTest, ARunWithoutWarmSamplesCannotPass) {
    std::vector<Sample> run = FlatRun(1, 4);
    Verdict verdict = Judge(run, Limits());
    EXPECT_FALSE(verdict.flat);
    ASSERT_EQ(verdict.lines.size(), 1u);
    EXPECT_NE(verdict.lines[0].find("too short"), std::string::npos);
    EXPECT_FALSE(Judge({}, Limits()).flat);
}

TEST(SoakJudgeTest, TheTableHasARowPerSampleAndSaysNA) {
    std::vector<Sample> run = FlatRun(2, 2);
    run[0].usage.gdi = -1;
    run[0].menu_ids = -1;
    run[1].usage.private_kib = 1234567;
    std::string table = Table(run);
    size_t rows = 0;
    for (char c : table) rows += c == '\n';
    EXPECT_EQ(rows, 5u) << table;
    EXPECT_NE(table.find("n/a"), std::string::npos) << table;
    EXPECT_NE(table.find("1,234,567"), std::string::npos) << table;
    EXPECT_NE(table.find("warm-up"), std::string::npos) << table;
    EXPECT_NE(table.find("after Free/Init"), std::string::npos) << table;
}

}  // namespace
