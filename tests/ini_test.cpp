// One suite for both INI implementations: natively it exercises our own
// reader and writer, under Wine the system's private-profile functions, on
// the same files with the same expectations.
#include <gtest/gtest.h>

#include <string>

#include "platform/ini.h"
#include "test_util.h"

using namespace feedlet::platform;

namespace {

class IniTest : public ::testing::Test {
protected:
    std::string Path(const char* name) { return dir.path() + name; }
    std::string Read(const std::string& file, const char* section, const char* key,
                     const char* def = "DEFAULT", size_t size = 256) {
        std::string buffer(size, '\x7F');
        size_t n = IniReadString(file.c_str(), section, key, def, &buffer[0], size);
        EXPECT_EQ(buffer[n], 0);
        return buffer.substr(0, n);
    }
    TempDir dir;
};

TEST_F(IniTest, ValuesAreTrimmedAndUnquoted) {
    std::string file = Path("values.ini");
    WriteFile(file,
              "[Main]\r\n"
              "plain=value\r\n"
              "  padded  =   spaced out   \r\n"
              "tabbed\t=\tx\t\r\n"
              "quoted=\"  keep blanks  \"\r\n"
              "single='x'\r\n"
              "unbalanced=\"open\r\n"
              "lonequote=\"\r\n"
              "emptyquotes=\"\"\r\n"
              "empty=\r\n"
              "equals=a=b\r\n"
              "inner=say \"hi\" now\r\n");
    struct {
        const char* key;
        const char* expected;
    } rows[] = {
        {"plain", "value"},           {"padded", "spaced out"},     {"tabbed", "x"},
        {"quoted", "  keep blanks  "}, {"single", "x"},              {"unbalanced", "\"open"},
        {"lonequote", "\""},          {"emptyquotes", ""},          {"empty", ""},
        {"equals", "a=b"},            {"inner", "say \"hi\" now"},  {"missing", "DEFAULT"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.key);
        EXPECT_EQ(Read(file, "Main", row.key), row.expected);
    }
}

TEST_F(IniTest, ANulByteEndsAValue) {
    // Values are C strings: a NUL byte in a mangled file ends the value, so
    // a value that starts with one reads as empty, like a missing one would
    // for the reading loops (an empty URL ends the feed list).
    // Not "nul.ini": NUL is a device name on Windows.
    std::string file = Path("zero-bytes.ini");
    const char bytes[] = "[S]\r\nmid=ab\0cd\r\nlead=\0abc\r\nquoted=\"\0x\"\r\nnumber=12\0" "34\r\nafter=ok\r\n";
    WriteFile(file, std::string(bytes, sizeof bytes - 1));
    EXPECT_EQ(Read(file, "S", "mid"), "ab");
    EXPECT_EQ(Read(file, "S", "lead"), "");
    EXPECT_EQ(Read(file, "S", "quoted"), "\"");
    EXPECT_EQ(IniReadInt(file.c_str(), "S", "number", 99), 12);
    EXPECT_EQ(IniReadInt(file.c_str(), "S", "lead", 99), 99);  // empty: the default
    EXPECT_EQ(Read(file, "S", "after"), "ok");
}

TEST_F(IniTest, NamesIgnoreCaseAndTheFirstMatchWins) {
    std::string file = Path("names.ini");
    WriteFile(file,
              "[MAIN]\r\nInfoNum=5\r\ndup=first\r\ndup=second\r\n"
              "[Other]\r\nk=other\r\n"
              "[main]\r\nonlylater=x\r\nInfoNum=6\r\n");
    EXPECT_EQ(Read(file, "main", "infonum"), "5");
    EXPECT_EQ(Read(file, "Main", "DUP"), "first");
    EXPECT_EQ(Read(file, "other", "K"), "other");
    EXPECT_EQ(IniReadInt(file.c_str(), "Main", "InfoNum", 10), 5);
}

TEST_F(IniTest, MissingFileSectionOrKeyGiveTheDefault) {
    std::string file = Path("absent.ini");
    EXPECT_EQ(Read(file, "Main", "Key"), "DEFAULT");
    EXPECT_EQ(Read(file, "Main", "Key", nullptr), "");
    EXPECT_EQ(IniReadInt(file.c_str(), "Main", "Key", 1800), 1800);
    WriteFile(file, "[Main]\r\nKey=1\r\n");
    EXPECT_EQ(Read(file, "Nope", "Key"), "DEFAULT");
    EXPECT_EQ(Read(file, "Main", "Nope"), "DEFAULT");
}

TEST_F(IniTest, ValuesAreCutToTheBuffer) {
    std::string file = Path("cut.ini");
    WriteFile(file, "[S]\r\nk=0123456789\r\n");
    EXPECT_EQ(Read(file, "S", "k", "", 5), "0123");
    EXPECT_EQ(Read(file, "S", "k", "", 11), "0123456789");
    EXPECT_EQ(Read(file, "S", "k", "", 1), "");
}

TEST_F(IniTest, IntegersTakeSignDecimalAndHex) {
    std::string file = Path("ints.ini");
    WriteFile(file,
              "[N]\r\nhex=0x5\r\nHEX=0XfF\r\nneg=-12\r\npos=+7\r\ntrail=42abc\r\nnone=abc\r\n"
              "empty=\r\nbare=0x\r\nbig=4294967295\r\nwrap=70000\r\n");
    struct {
        const char* key;
        int32_t expected;
    } rows[] = {
        {"hex", 5},  {"HEX", 5},     {"neg", -12}, {"pos", 7},    {"trail", 42},      {"none", 0},
        {"empty", 99}, {"bare", 0}, {"big", -1}, {"wrap", 70000}, {"missing", 99},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.key);
        EXPECT_EQ(IniReadInt(file.c_str(), "N", row.key, 99), row.expected);
    }
}

TEST_F(IniTest, CodePage932BytesPassThrough) {
    std::string file = Path("japanese.ini");
    // 表示 has 0x5C as the trail byte of its first character; 設定001 is a
    // typical section content.
    const char* display = "\x95\x5C\x8E\xA6";
    const char* name = "\x90\xDD\x92\xE8" "001";
    ASSERT_TRUE(IniWriteString(file.c_str(), "Info000", "Name", name));
    ASSERT_TRUE(IniWriteString(file.c_str(), "Info000", "Target", display));
    EXPECT_EQ(Read(file, "Info000", "Name"), name);
    EXPECT_EQ(Read(file, "Info000", "Target"), display);
    WriteFile(Path("raw.ini"), std::string("[TimeZone001]\r\nName=") + "\x93\x8C\x8B\x9E" + "\r\n");
    EXPECT_EQ(Read(Path("raw.ini"), "TimeZone001", "Name"), "\x93\x8C\x8B\x9E");
}

TEST_F(IniTest, WritesCreateReplaceAndDelete) {
    std::string file = Path("sub.ini");
    ASSERT_TRUE(IniWriteString(file.c_str(), "RSS000", "URL", "http://a/"));
    ASSERT_TRUE(IniWriteString(file.c_str(), "RSS000", "Interval", "1800"));
    ASSERT_TRUE(IniWriteString(file.c_str(), "RSS001", "URL", "http://b/"));
    ASSERT_TRUE(IniWriteString(file.c_str(), "RSS000", "Flag", "0x1"));
    EXPECT_EQ(Read(file, "RSS000", "URL"), "http://a/");
    EXPECT_EQ(Read(file, "RSS000", "Flag"), "0x1");
    EXPECT_EQ(IniReadInt(file.c_str(), "RSS000", "Flag", 0), 1);
    EXPECT_EQ(Read(file, "RSS001", "URL"), "http://b/");

    ASSERT_TRUE(IniWriteString(file.c_str(), "rss000", "url", "http://c/"));  // replace, any case
    EXPECT_EQ(Read(file, "RSS000", "URL"), "http://c/");

    IniWriteString(file.c_str(), "RSS000", "Interval", nullptr);  // delete
    EXPECT_EQ(Read(file, "RSS000", "Interval"), "DEFAULT");
    IniWriteString(file.c_str(), "RSS000", "Interval", nullptr);  // deleting again is harmless
    EXPECT_EQ(Read(file, "RSS000", "Flag"), "0x1");

    ASSERT_TRUE(IniWriteString(file.c_str(), "RSS002", "URL", ""));  // empty, not deleted
    EXPECT_EQ(Read(file, "RSS002", "URL"), "");

    // Quotes written by the caller protect blanks at either end.
    ASSERT_TRUE(IniWriteString(file.c_str(), "Item000", "Split", "\" \""));
    EXPECT_EQ(Read(file, "Item000", "Split"), " ");

    std::string bytes = ReadFile(file);
    EXPECT_NE(bytes.find("\r\n"), std::string::npos);
    EXPECT_EQ(bytes.find("\n\n"), std::string::npos);
    for (size_t i = bytes.find('\n'); i != std::string::npos; i = bytes.find('\n', i + 1))
        ASSERT_EQ(bytes[i - 1], '\r') << "bare LF at " << i;
}

TEST_F(IniTest, DeletingWhatIsNotThereWritesNothing) {
    std::string missing = Path("missing.ini");
    EXPECT_TRUE(IniWriteString(missing.c_str(), "S", "k", nullptr));
    EXPECT_TRUE(IniWriteString(missing.c_str(), "S", nullptr, nullptr));
    EXPECT_FALSE(DirectoryHasEntry(dir.path().c_str(), "missing.ini"));  // not created
    std::string nowhere = dir.path() + "no" + kPathSeparator + "such.ini";
    EXPECT_FALSE(IniWriteString(nowhere.c_str(), "S", "k", nullptr));
    EXPECT_FALSE(IniWriteString(nowhere.c_str(), "S", "k", "v"));

    // A null key deletes the whole section, matched ignoring case.
    std::string file = Path("sections.ini");
    ASSERT_TRUE(IniWriteString(file.c_str(), "A", "k", "v"));
    ASSERT_TRUE(IniWriteString(file.c_str(), "B", "k", "w"));
    EXPECT_TRUE(IniWriteString(file.c_str(), "A", "z", nullptr));
    EXPECT_TRUE(IniWriteString(file.c_str(), "C", nullptr, nullptr));
    EXPECT_TRUE(IniWriteString(file.c_str(), "b", nullptr, nullptr));
    EXPECT_EQ(Read(file, "B", "k"), "DEFAULT");
    EXPECT_EQ(Read(file, "A", "k"), "v");
    EXPECT_EQ(ReadFile(file), "[A]\r\nk=v\r\n");
}

TEST_F(IniTest, NullNamesGiveTheDefaultOrFail) {
    std::string file = Path("names.ini");
    ASSERT_TRUE(IniWriteString(file.c_str(), "S", "k", "v"));
    // (The system's functions would list the keys or sections, or use win.ini.)
    EXPECT_EQ(Read(file, "S", nullptr), "DEFAULT");
    EXPECT_EQ(Read(file, nullptr, "k"), "DEFAULT");
    char buffer[8] = "x";
    EXPECT_EQ(IniReadString(nullptr, "S", "k", "d", buffer, sizeof buffer), 1u);
    EXPECT_STREQ(buffer, "d");
    EXPECT_EQ(IniReadString(file.c_str(), "S", "k", nullptr, nullptr, 8), 0u);
    EXPECT_EQ(IniReadString(file.c_str(), "S", "missing", nullptr, buffer, sizeof buffer), 0u);
    EXPECT_STREQ(buffer, "");
    EXPECT_FALSE(IniWriteString(nullptr, "S", "k", "v"));
    EXPECT_FALSE(IniWriteString(file.c_str(), nullptr, "k", "v"));
    EXPECT_EQ(Read(file, "S", "k"), "v");
}

}  // namespace

