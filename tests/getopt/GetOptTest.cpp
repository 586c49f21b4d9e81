#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "getopt/GetOptFixtures.h"
#include "kovra/C_GetOpt.h"

using getopttest::ArgVector;
using getopttest::ToolTable;
using kovra::C_GetOpt;
using Texts = std::vector<std::wstring>;

namespace {

// A parser with the tool's lead and silenced diagnostics (their texts are
// checked in GetOptMessagesTest.cpp).
C_GetOpt DashParser() {
    C_GetOpt parser;
    parser.setoptchar('-');
    parser.opterr() = 0;
    return parser;
}

}  // namespace

TEST(GetOpt, StartsWithTheClassicState) {
    C_GetOpt parser;
    EXPECT_EQ(nullptr, parser.optarg());
    EXPECT_EQ(1, parser.optind());
    EXPECT_EQ(1, parser.opterr());
    EXPECT_EQ(0, parser.optopt());
    EXPECT_EQ('/', parser.getoptchar());
    parser.setoptchar('-');
    EXPECT_EQ('-', parser.getoptchar());
}

// --- The tool's long-option table -------------------------------------------

TEST(GetOptToolTable, EveryEntryIsFoundByItsWholeName) {
    ToolTable table;
    for (int i = 0; i < ToolTable::kCount; ++i) {
        const C_GetOpt::option& entry = table.entries()[i];
        SCOPED_TRACE(entry.name);
        std::wstring element = std::wstring(L"--") + entry.name;
        ArgVector args{element.c_str(), L"value"};
        C_GetOpt parser = DashParser();
        table.flag = -1;
        int index = -1;
        EXPECT_EQ(0, parser.getopt_long(args.argc(), args.argv(), "", table.entries(), &index));
        EXPECT_EQ(i, index);
        EXPECT_EQ(0, table.flag);
        if (entry.has_arg) {
            EXPECT_EQ(args.Original(2), parser.optarg());
            EXPECT_EQ(3, parser.optind());
            EXPECT_EQ(-1, parser.getopt_long(args.argc(), args.argv(), "", table.entries(), &index));
        } else {
            EXPECT_EQ(nullptr, parser.optarg());
            EXPECT_EQ(2, parser.optind());
            EXPECT_EQ(-1, parser.getopt_long(args.argc(), args.argv(), "", table.entries(), &index));
            EXPECT_EQ((Texts{element, L"value"}), args.Current());
            EXPECT_EQ(2, parser.optind());
        }
    }
}

TEST(GetOptToolTable, DelayTakesTheNextElementWhateverItLooksLike) {
    ToolTable table;
    for (const wchar_t* value : {L"5", L"-5", L"--nul", L"-"}) {
        SCOPED_TRACE(value);
        ArgVector args{L"--delay", value, L"--hide"};
        C_GetOpt parser = DashParser();
        int index = -1;
        EXPECT_EQ(0, parser.getopt_long(args.argc(), args.argv(), "", table.entries(), &index));
        EXPECT_EQ(3, index);
        EXPECT_EQ(args.Original(2), parser.optarg());
        EXPECT_EQ(3, parser.optind());
        EXPECT_EQ(0, parser.getopt_long(args.argc(), args.argv(), "", table.entries(), &index));
        EXPECT_EQ(15, index);
        EXPECT_EQ(-1, parser.getopt_long(args.argc(), args.argv(), "", table.entries(), &index));
    }
}

TEST(GetOptToolTable, NamesMatchOnlyWholeAndCaseSensitively) {
    ToolTable table;
    for (const wchar_t* element :
         {L"--del", L"--DELAY", L"--delay=5", L"--managed", L"--nul2", L"--Nul", L"--", L"--flush3", L"---nul"}) {
        SCOPED_TRACE(element);
        ArgVector args{element, L"5"};
        C_GetOpt parser = DashParser();
        int index = 77;
        EXPECT_EQ('?', parser.getopt_long(args.argc(), args.argv(), "", table.entries(), &index));
        EXPECT_EQ(77, index);
        EXPECT_EQ(nullptr, parser.optarg());
        EXPECT_EQ('-', parser.optopt());
        EXPECT_EQ(2, parser.optind());
        // Parsing goes on after an unknown name; the value is a plain word.
        EXPECT_EQ(-1, parser.getopt_long(args.argc(), args.argv(), "", table.entries(), &index));
        EXPECT_EQ(2, parser.optind());
    }
}

TEST(GetOptToolTable, MissingValueEndsParsingWithoutMovingAnything) {
    ToolTable table;
    ArgVector args{L"stray", L"--nul", L"--out"};
    C_GetOpt parser = DashParser();
    int index = -1;
    EXPECT_EQ(0, parser.getopt_long(args.argc(), args.argv(), "", table.entries(), &index));
    EXPECT_EQ(6, index);
    parser.optopt() = 'q';
    EXPECT_EQ('?', parser.getopt_long(args.argc(), args.argv(), "", table.entries(), &index));
    EXPECT_EQ(1, index);
    EXPECT_EQ(0, parser.optopt());
    EXPECT_EQ(nullptr, parser.optarg());
    EXPECT_EQ(args.argc(), parser.optind());  // never past the vector
    const Texts afterError = args.Current();
    EXPECT_EQ((Texts{L"--nul", L"stray", L"--out"}), afterError);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(-1, parser.getopt_long(args.argc(), args.argv(), "", table.entries(), &index));
        EXPECT_EQ(afterError, args.Current());
    }
}

TEST(GetOptToolTable, ShortOptionsAndLoneDashesWithTheEmptyOptionString) {
    ToolTable table;
    ArgVector args{L"-", L"--nul", L"-x", L"--hide"};
    C_GetOpt parser = DashParser();
    int index = -1;
    EXPECT_EQ(0, parser.getopt_long(args.argc(), args.argv(), "", table.entries(), &index));
    EXPECT_EQ(6, index);
    EXPECT_EQ('?', parser.getopt_long(args.argc(), args.argv(), "", table.entries(), &index));
    EXPECT_EQ('x', parser.optopt());
    EXPECT_EQ(4, parser.optind());
    EXPECT_EQ(0, parser.getopt_long(args.argc(), args.argv(), "", table.entries(), &index));
    EXPECT_EQ(15, index);
    EXPECT_EQ(-1, parser.getopt_long(args.argc(), args.argv(), "", table.entries(), &index));
    EXPECT_EQ((Texts{L"--nul", L"-x", L"--hide", L"-"}), args.Current());
    EXPECT_EQ(4, parser.optind());
}

// The pass before "--task" as the tool runs it: element 0 is a null
// placeholder and a stray word ends up behind the options.
TEST(GetOptToolTable, StrayWordMovesBehindTheOptions) {
    ToolTable table;
    ArgVector args{L"--nul", L"stray", L"--out", L"daemon.log", L"--nologo"};
    args.argv()[0] = nullptr;
    C_GetOpt parser = DashParser();
    int index = -1;
    struct Step {
        int index;
        const wchar_t* value;
        int optind;
    };
    const Step steps[] = {{6, nullptr, 2}, {1, L"daemon.log", 5}, {5, nullptr, 6}};
    for (const Step& step : steps) {
        EXPECT_EQ(0, parser.getopt_long(args.argc(), args.argv(), "", table.entries(), &index));
        EXPECT_EQ(step.index, index);
        if (step.value == nullptr) {
            EXPECT_EQ(nullptr, parser.optarg());
        } else {
            ASSERT_NE(nullptr, parser.optarg());
            EXPECT_EQ(std::wstring(step.value), parser.optarg());
        }
        EXPECT_EQ(step.optind, parser.optind());
    }
    EXPECT_EQ(-1, parser.getopt_long(args.argc(), args.argv(), "", table.entries(), &index));
    EXPECT_EQ((Texts{L"--nul", L"--out", L"daemon.log", L"--nologo", L"stray"}), args.Current());
    EXPECT_EQ(5, parser.optind());
    EXPECT_EQ(nullptr, args.argv()[0]);
}

// --- Long-option tables in general ------------------------------------------

TEST(GetOptLong, ResultIsValUnlessAFlagTakesIt) {
    int flag = 0;
    const C_GetOpt::option table[] = {{L"alpha", 0, nullptr, 'A'},
                                      {L"beta", 1, &flag, 7},
                                      {L"alpha", 0, nullptr, 'Z'},  // shadowed: the first match wins
                                      {L"日本", 0, nullptr, 300},
                                      {nullptr, 0, nullptr, 0}};
    ArgVector args{L"--alpha", L"--beta", L"b", L"--日本"};
    C_GetOpt parser = DashParser();
    int index = -1;
    EXPECT_EQ('A', parser.getopt_long(args.argc(), args.argv(), "", table, &index));
    EXPECT_EQ(0, index);
    EXPECT_EQ(0, parser.getopt_long(args.argc(), args.argv(), "", table, nullptr));
    EXPECT_EQ(7, flag);
    EXPECT_EQ(args.Original(3), parser.optarg());
    EXPECT_EQ(300, parser.getopt_long(args.argc(), args.argv(), "", table, &index));
    EXPECT_EQ(3, index);
    EXPECT_EQ(-1, parser.getopt_long(args.argc(), args.argv(), "", table, &index));
}

TEST(GetOptLong, WithoutATableEveryLongOptionIsInvalid) {
    ArgVector args{L"--in", L"x"};
    C_GetOpt parser = DashParser();
    EXPECT_EQ('?', parser.getopt_long(args.argc(), args.argv(), "in", nullptr, nullptr));
    EXPECT_EQ(-1, parser.getopt_long(args.argc(), args.argv(), "in", nullptr, nullptr));
}

// --- Permutation, for both entry points ---------------------------------------

class GetOptBothModes : public ::testing::TestWithParam<bool> {
protected:
    int Next(C_GetOpt& parser, ArgVector& args, const char* optstring) {
        return GetParam() ? parser.getopt_long(args.argc(), args.argv(), optstring, nullptr, nullptr)
                          : parser.getopt(args.argc(), args.argv(), optstring);
    }
};

INSTANTIATE_TEST_SUITE_P(Modes, GetOptBothModes, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("getopt_long") : std::string("getopt");
                         });

TEST_P(GetOptBothModes, OptionMovesAheadOfTheWordBeforeIt) {
    ArgVector args{L"a", L"-x", L"b"};
    C_GetOpt parser = DashParser();
    EXPECT_EQ('x', Next(parser, args, "x"));
    EXPECT_EQ(3, parser.optind());
    EXPECT_EQ((Texts{L"a", L"-x", L"b"}), args.Current());
    EXPECT_EQ(-1, Next(parser, args, "x"));
    EXPECT_EQ((Texts{L"-x", L"a", L"b"}), args.Current());
    EXPECT_EQ(2, parser.optind());
}

TEST_P(GetOptBothModes, OptionAndItsSeparateValueMoveTogether) {
    ArgVector args{L"a", L"-o", L"v", L"b"};
    C_GetOpt parser = DashParser();
    EXPECT_EQ('o', Next(parser, args, "o:"));
    EXPECT_EQ(args.Original(3), parser.optarg());
    EXPECT_EQ(4, parser.optind());
    EXPECT_EQ(-1, Next(parser, args, "o:"));
    EXPECT_EQ((Texts{L"-o", L"v", L"a", L"b"}), args.Current());
    EXPECT_EQ(3, parser.optind());
}

TEST_P(GetOptBothModes, OptionsKeepTheirOrderAndSoDoTheWords) {
    ArgVector args{L"a", L"b", L"-x", L"c", L"-o", L"v", L"d", L"-y"};
    C_GetOpt parser = DashParser();
    EXPECT_EQ('x', Next(parser, args, "xo:y"));
    EXPECT_EQ(4, parser.optind());
    EXPECT_EQ('o', Next(parser, args, "xo:y"));
    EXPECT_EQ(7, parser.optind());
    EXPECT_EQ((Texts{L"-x", L"a", L"b", L"c", L"-o", L"v", L"d", L"-y"}), args.Current());
    EXPECT_EQ('y', Next(parser, args, "xo:y"));
    EXPECT_EQ(9, parser.optind());
    EXPECT_EQ((Texts{L"-x", L"-o", L"v", L"a", L"b", L"c", L"d", L"-y"}), args.Current());
    EXPECT_EQ(-1, Next(parser, args, "xo:y"));
    const Texts final{L"-x", L"-o", L"v", L"-y", L"a", L"b", L"c", L"d"};
    EXPECT_EQ(final, args.Current());
    EXPECT_EQ(5, parser.optind());
    // Asking again after the end moves nothing.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(-1, Next(parser, args, "xo:y"));
        EXPECT_EQ(final, args.Current());
        EXPECT_EQ(5, parser.optind());
    }
}

TEST_P(GetOptBothModes, InvalidOptionsMoveLikeValidOnes) {
    ArgVector args{L"a", L"-z", L"b"};
    C_GetOpt parser = DashParser();
    EXPECT_EQ('?', Next(parser, args, ""));
    EXPECT_EQ('z', parser.optopt());
    EXPECT_EQ(nullptr, parser.optarg());
    EXPECT_EQ(3, parser.optind());
    EXPECT_EQ(-1, Next(parser, args, ""));
    EXPECT_EQ((Texts{L"-z", L"a", L"b"}), args.Current());
    EXPECT_EQ(2, parser.optind());
}

TEST_P(GetOptBothModes, NoOptionsAtAll) {
    {
        ArgVector args{};
        C_GetOpt parser = DashParser();
        EXPECT_EQ(-1, Next(parser, args, "x"));
        EXPECT_EQ(1, parser.optind());
    }
    {
        ArgVector args{L"a", L"-", L"b"};
        C_GetOpt parser = DashParser();
        EXPECT_EQ(-1, Next(parser, args, "x"));
        EXPECT_EQ(-1, Next(parser, args, "x"));
        EXPECT_EQ(1, parser.optind());
        EXPECT_EQ((Texts{L"a", L"-", L"b"}), args.Current());
    }
}

TEST_P(GetOptBothModes, MissingValueEndsParsing) {
    ArgVector args{L"a", L"-x", L"-o"};
    C_GetOpt parser = DashParser();
    EXPECT_EQ('x', Next(parser, args, "xo:"));
    EXPECT_EQ('?', Next(parser, args, "xo:"));
    EXPECT_EQ('o', parser.optopt());
    EXPECT_EQ(nullptr, parser.optarg());
    EXPECT_EQ(args.argc(), parser.optind());  // never past the vector
    const Texts afterError{L"-x", L"a", L"-o"};
    EXPECT_EQ(afterError, args.Current());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(-1, Next(parser, args, "xo:"));
        EXPECT_EQ(afterError, args.Current());
    }
}

TEST_P(GetOptBothModes, LettersMatchTheLastEqualByteOfTheOptionString) {
    // "a:a": the last 'a' wins, and nothing follows it, so no value.
    ArgVector args{L"-a", L"v"};
    C_GetOpt parser = DashParser();
    EXPECT_EQ('a', Next(parser, args, "a:a"));
    EXPECT_EQ(nullptr, parser.optarg());
    EXPECT_EQ(-1, Next(parser, args, "a:a"));
    EXPECT_EQ(2, parser.optind());
}

TEST_P(GetOptBothModes, ColonAndWideLookalikesAreNeverLetters) {
    // U+FF58 and U+0178 share their low byte with 'X' and 'x'.
    for (const wchar_t* element : {L"-:", L"-\xFF58", L"-\x0178"}) {
        SCOPED_TRACE(static_cast<unsigned>(element[1]));
        ArgVector args{element};
        C_GetOpt parser = DashParser();
        EXPECT_EQ('?', Next(parser, args, "o:xX"));
        EXPECT_EQ(static_cast<char>(element[1] & 0xFF), parser.optopt());
        EXPECT_EQ(-1, Next(parser, args, "o:xX"));
    }
}

TEST_P(GetOptBothModes, DefaultLeadIsSlash) {
    ArgVector args{L"-x", L"/x", L"/"};
    C_GetOpt parser;
    parser.opterr() = 0;
    EXPECT_EQ('x', Next(parser, args, "x"));
    EXPECT_EQ(-1, Next(parser, args, "x"));
    EXPECT_EQ((Texts{L"/x", L"-x", L"/"}), args.Current());
    EXPECT_EQ(2, parser.optind());
}

TEST_P(GetOptBothModes, LetterTakesElementsOfNonOptionLook) {
    ArgVector args{L"-o", L"-x", L"-x"};
    C_GetOpt parser = DashParser();
    EXPECT_EQ('o', Next(parser, args, "o:x"));
    EXPECT_EQ(args.Original(2), parser.optarg());
    EXPECT_EQ('x', Next(parser, args, "o:x"));
    EXPECT_EQ(-1, Next(parser, args, "o:x"));
    EXPECT_EQ(4, parser.optind());
}

// --- getopt only ---------------------------------------------------------------

TEST(GetOptShort, LongerElementsAreWords) {
    ArgVector args{L"-abc", L"-x", L"--name"};
    C_GetOpt parser = DashParser();
    EXPECT_EQ('x', parser.getopt(args.argc(), args.argv(), "abcx"));
    EXPECT_EQ(-1, parser.getopt(args.argc(), args.argv(), "abcx"));
    EXPECT_EQ((Texts{L"-x", L"-abc", L"--name"}), args.Current());
    EXPECT_EQ(2, parser.optind());
}

TEST(GetOptShort, DoubleLeadIsTheLeadAsALetter) {
    {
        ArgVector args{L"--"};
        C_GetOpt parser = DashParser();
        EXPECT_EQ('-', parser.getopt(args.argc(), args.argv(), "-"));
    }
    {
        ArgVector args{L"--"};
        C_GetOpt parser = DashParser();
        EXPECT_EQ('?', parser.getopt(args.argc(), args.argv(), "x"));
        EXPECT_EQ('-', parser.optopt());
    }
}

// --- Clusters (getopt_long) -----------------------------------------------------

namespace {

int NextLong(C_GetOpt& parser, ArgVector& args, const char* optstring) {
    return parser.getopt_long(args.argc(), args.argv(), optstring, nullptr, nullptr);
}

}  // namespace

TEST(GetOptCluster, LettersComeOneByOne) {
    ArgVector args{L"w", L"-ab"};
    C_GetOpt parser = DashParser();
    EXPECT_EQ('a', NextLong(parser, args, "ab"));
    EXPECT_EQ(3, parser.optind());
    EXPECT_EQ('b', NextLong(parser, args, "ab"));
    EXPECT_EQ(nullptr, parser.optarg());
    EXPECT_EQ(3, parser.optind());
    EXPECT_EQ(-1, NextLong(parser, args, "ab"));
    EXPECT_EQ((Texts{L"-ab", L"w"}), args.Current());
    EXPECT_EQ(2, parser.optind());
}

TEST(GetOptCluster, ValueJoinedToTheLetter) {
    ArgVector args{L"-ob", L"-xofile", L"next"};
    C_GetOpt parser = DashParser();
    EXPECT_EQ('o', NextLong(parser, args, "xo:"));
    EXPECT_EQ(args.Original(1) + 2, parser.optarg());
    EXPECT_EQ(2, parser.optind());
    EXPECT_EQ('x', NextLong(parser, args, "xo:"));
    EXPECT_EQ('o', NextLong(parser, args, "xo:"));
    EXPECT_EQ(args.Original(2) + 3, parser.optarg());
    EXPECT_EQ(3, parser.optind());
    EXPECT_EQ(-1, NextLong(parser, args, "xo:"));
    EXPECT_EQ(3, parser.optind());
}

TEST(GetOptCluster, ValueLetterAtTheEndDoesNotTakeTheNextElement) {
    ArgVector args{L"-xo", L"next", L"-x"};
    C_GetOpt parser = DashParser();
    EXPECT_EQ('x', NextLong(parser, args, "xo:"));
    parser.optopt() = 0;
    EXPECT_EQ('?', NextLong(parser, args, "xo:"));
    EXPECT_EQ('o', parser.optopt());
    EXPECT_EQ(nullptr, parser.optarg());
    // Parsing goes on after this error; "next" is a plain word.
    EXPECT_EQ('x', NextLong(parser, args, "xo:"));
    EXPECT_EQ(-1, NextLong(parser, args, "xo:"));
    EXPECT_EQ((Texts{L"-xo", L"-x", L"next"}), args.Current());
    EXPECT_EQ(3, parser.optind());
}

TEST(GetOptCluster, InvalidLetters) {
    {
        // Invalid later letter, cluster not last: an ordinary invalid option.
        ArgVector args{L"-az", L"b"};
        C_GetOpt parser = DashParser();
        EXPECT_EQ('a', NextLong(parser, args, "a"));
        EXPECT_EQ('?', NextLong(parser, args, "a"));
        EXPECT_EQ('z', parser.optopt());
        EXPECT_EQ(-1, NextLong(parser, args, "a"));
        EXPECT_EQ(2, parser.optind());
    }
    {
        // Invalid first letter: the rest of the cluster is still handled.
        ArgVector args{L"-za"};
        C_GetOpt parser = DashParser();
        EXPECT_EQ('?', NextLong(parser, args, "a"));
        EXPECT_EQ('z', parser.optopt());
        EXPECT_EQ('a', NextLong(parser, args, "a"));
        EXPECT_EQ(-1, NextLong(parser, args, "a"));
    }
    {
        // Invalid later letter of the last element; a silenced parser stays
        // silenced (opterr is left at 0).
        ArgVector args{L"-azq"};
        C_GetOpt parser = DashParser();
        EXPECT_EQ('a', NextLong(parser, args, "a"));
        EXPECT_EQ('?', NextLong(parser, args, "a"));
        EXPECT_EQ('z', parser.optopt());
        EXPECT_EQ(nullptr, parser.optarg());
        EXPECT_EQ('?', NextLong(parser, args, "a"));
        EXPECT_EQ('q', parser.optopt());
        EXPECT_EQ(0, parser.opterr());
        EXPECT_EQ(-1, NextLong(parser, args, "a"));
    }
}

TEST(GetOptCluster, SlashLeadCarriesLongOptionsAndClusters) {
    const C_GetOpt::option table[] = {{L"name", 0, nullptr, 'N'}, {nullptr, 0, nullptr, 0}};
    ArgVector args{L"-x", L"//name", L"/xy"};
    C_GetOpt parser;
    parser.opterr() = 0;
    EXPECT_EQ('N', parser.getopt_long(args.argc(), args.argv(), "xy", table, nullptr));
    EXPECT_EQ('x', parser.getopt_long(args.argc(), args.argv(), "xy", table, nullptr));
    EXPECT_EQ('y', parser.getopt_long(args.argc(), args.argv(), "xy", table, nullptr));
    EXPECT_EQ(-1, parser.getopt_long(args.argc(), args.argv(), "xy", table, nullptr));
    EXPECT_EQ((Texts{L"//name", L"/xy", L"-x"}), args.Current());
    EXPECT_EQ(3, parser.optind());
}
