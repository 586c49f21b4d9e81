#include <gtest/gtest.h>

#include <ctime>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "FilesTest.h"
#include "kovra/C_IniFile.h"
#include "kovra/C_WIniFile.h"

using namespace kovra;
using testsupport::ReadFileBytes;

namespace {

// What differs between the narrow and the wide settings file, for tests
// written once: texts are given as bytes (narrow) or UTF-8 (wide).
template <typename Ini>
struct Kind;

template <>
struct Kind<C_IniFile> {
    using Unit = char;
    static std::string FileBytes(const std::string& text) { return text; }
    static C_String S(const std::string& text) { return C_String(text.c_str()); }
    static std::string Text(const C_String& s) { return testsupport::Bytes(s); }
    static std::string FromUnits(const std::string& units) { return units; }
};

template <>
struct Kind<C_WIniFile> {
    using Unit = wchar_t;
    static std::string FileBytes(const std::string& text) { return filestest::Utf16Bytes(text); }
    static C_WString S(const std::string& text) { return C_WString(testsupport::Widen(text).c_str()); }
    static std::string Text(const C_WString& s) { return testsupport::Narrow(s.GetString()); }
    static std::string FromUnits(const std::wstring& units) { return testsupport::Narrow(units); }
};

template <typename Ini>
class IniFileTest : public ::testing::Test {
protected:
    using K = Kind<Ini>;
    // Opens a settings file that holds `text`.
    std::wstring Prepare(Ini& ini, const std::string& text, const wchar_t* name = L"s.ini") {
        std::wstring path = dir_.File(name);
        testsupport::WriteFileBytes(path, K::FileBytes(text));
        EXPECT_EQ(1, ini.Open(path.c_str()));
        return path;
    }
    std::string Get(Ini& ini, const char* key) { return K::Text(ini.GetStr(K::S(key))); }
    testsupport::TempDir dir_;
};

using IniKinds = ::testing::Types<C_IniFile, C_WIniFile>;
TYPED_TEST_SUITE(IniFileTest, IniKinds);

}  // namespace

TYPED_TEST(IniFileTest, WhichLinesDefineAKey) {
    struct Row {
        std::string file;
        const char* key;
        const char* value;  // null: not defined
    } rows[] = {{"a=1", "a", "1"},
                {"#a = 1\r\n", "a", nullptr},
                {" a = 1\r\n", "a", nullptr},
                {"a==  x\r\n", "a", "x"},
                {"a =\r\n", "a", ""},
                {"a\r\na = 2\r\n", "a", "2"},
                {"a = 1\r\na = 2", "a", "1"},
                {"key = 1\r\n", "k", nullptr},
                {"A = 1\r\n", "a", nullptr},
                {"a b = 1\r\n", "a", "1"},
                {"a\t= tab \r\n", "a", "tab "},
                {"x = 1\rb = 2\n", "b", "2"}};
    for (const Row& row : rows) {
        TypeParam ini;
        this->Prepare(ini, row.file);
        EXPECT_EQ(row.value ? row.value : "", this->Get(ini, row.key)) << row.file;
        EXPECT_EQ(row.value ? 0 : 1, ini.IsLastError()) << row.file;
    }
}

TYPED_TEST(IniFileTest, ChangesReachTheFileAsWholeLines) {
    using K = Kind<TypeParam>;
    struct Row {
        std::string file;
        const char* script;  // "set KEY VALUE", "del KEY", "delall", "commit", "rollback", separated by "|"
        std::string expected;
    } rows[] = {
        {"", "set a 1|commit", "a = 1\r\n"},
        {"a=1", "set b 2", "a=1\r\nb = 2\r\n"},
        {"a = 1\r\nb = 2\r\n", "set a 100", "a = 100\r\nb = 2\r\n"},
        {"a==  100\r\nb = 2\r\n", "set a 9", "a==  9\r\nb = 2\r\n"},
        {"a = 1\r\n\r\n\n\r\nb = 2\r\n", "del a", "b = 2\r\n"},
        {"x = 0\r\na = 1\r\nb = 2", "del b", "x = 0\r\na = 1\r\n"},
        {"a = 1\r\nb = 2\r\n", "delall|set c 3", "c = 3\r\n"},
        {"a = 1\r\n", "set a 2|rollback", "a = 1\r\n"},
        {"# c\r\na = 1\r\n", "set b 2|set a 3|del b", "# c\r\na = 3\r\n"},
    };
    for (const Row& row : rows) {
        std::wstring path;
        {
            TypeParam ini;
            path = this->Prepare(ini, row.file);
            std::stringstream script(row.script);
            for (std::string step; std::getline(script, step, '|');) {
                std::stringstream words(step);
                std::string op, key, value;
                words >> op >> key >> value;
                int result = 1;
                if (op == "set") ini.SetStr(K::S(key), K::S(value));
                if (op == "del") result = ini.DeleteStr(K::S(key));
                if (op == "delall") result = ini.DeleteAllStr();
                if (op == "commit") result = ini.Commit();
                if (op == "rollback") result = ini.RollBack();
                EXPECT_EQ(1, result) << row.script << ": " << step;
            }
            EXPECT_EQ(0, ini.IsLastError()) << row.script;
        }  // the destructor commits
        EXPECT_TRUE(testsupport::SameBytes(K::FileBytes(row.expected), ReadFileBytes(path))) << row.script;
    }
}

TYPED_TEST(IniFileTest, ReadsSeeThePendingChangeFailuresSetTheFlagOpenCommits) {
    using K = Kind<TypeParam>;
    TypeParam ini;
    std::wstring path = this->Prepare(ini, "a = 1\r\nn = 12abc\r\ne =\r\n");
    ini.SetStr(K::S("a"), 5);
    EXPECT_EQ("5", this->Get(ini, "a"));
    EXPECT_EQ(K::FileBytes("a = 1\r\nn = 12abc\r\ne =\r\n"), ReadFileBytes(path)) << "not yet committed";
    EXPECT_EQ(1, ini.DeleteStr(K::S("a")));
    EXPECT_EQ("", this->Get(ini, "a"));
    EXPECT_EQ(1, ini.IsLastError());
    EXPECT_EQ(12, ini.GetInt(K::S("n")));
    EXPECT_EQ(-1, ini.GetInt(K::S("e"))) << "an empty value";
    EXPECT_EQ(0, ini.IsLastError()) << "GetInt clears the flag first";
    EXPECT_EQ(1, ini.DeleteAllStr());
    EXPECT_EQ(0, ini.IsExistStr(K::S("n")));
    EXPECT_EQ(1, ini.RollBack());
    EXPECT_EQ(0, ini.RollBack());
    EXPECT_EQ(0, ini.Commit());
    EXPECT_EQ(1, ini.IsExistStr(K::S("n")));
    EXPECT_EQ(0, ini.IsLastError()) << "IsExistStr leaves the flag clear";
    for (const char* key : {"", "a b", "a\tb", "a=b", "#a", "a\r\nb"}) {
        ini.SetStr(K::S(key), K::S("1"));
        EXPECT_EQ(0, ini.IsCommit()) << "refused key " << key;
    }
    ini.SetStr(K::S("b"), K::S("1\r\nevil = 1"));
    EXPECT_EQ(0, ini.IsCommit()) << "a value may not inject a line";
    EXPECT_EQ(1, ini.IsLastError());
    ini.ClearAll();
    EXPECT_EQ("", ReadFileBytes(path));
    ini.SetStr(K::S("c"), K::S("3"));
    this->Prepare(ini, "", L"other.ini");
    EXPECT_EQ(K::FileBytes("c = 3\r\n"), ReadFileBytes(path)) << "Open commits to the file the change was made for";
}

TYPED_TEST(IniFileTest, LocksEvenAnEmptyFileOnceAndTellsTheModificationTime) {
    TypeParam ini;
    this->Prepare(ini, "");
    EXPECT_EQ(0, ini.Lock(0));
    EXPECT_EQ(3, ini.Lock(0));
    ini.Unlock();
    EXPECT_EQ(0, ini.IsLocked());
    EXPECT_EQ(0, ini.Lock(-1));
    long long age = static_cast<long long>(time(nullptr)) - ini.GetLastModified().Get();
    EXPECT_TRUE(age >= -5 && age < 600) << age;
}

TEST(WIniFile, AFileOfOddLengthGetsWholeUnitsAppended) {
    testsupport::TempDir dir;
    std::wstring path = dir.File(L"odd.ini");
    testsupport::WriteFileBytes(path, filestest::Utf16Bytes("a = 1\r\n") + "\x01");
    C_WIniFile(path.c_str()).SetStr(C_WString(L"b"), C_WString(L"2"));
    EXPECT_EQ(filestest::Utf16Bytes("a = 1\r\nb = 2\r\n"), ReadFileBytes(path));
}

// Random sequences of changes against a model that knows the exact file.
TYPED_TEST(IniFileTest, RandomChangesMatchAModel) {
    using K = Kind<TypeParam>;
    using Unit = typename K::Unit;
    using Lines = std::vector<std::pair<std::string, std::string>>;
    const char* keys[] = {"a", "b", "k", "key", "long_key_name", "x1"};
    // Blanks and "=" inside values; bytes above 127 or Japanese characters.
    std::basic_string<Unit> units = {'v', 'Z', '0', ' ', '=', '-'};
    units += static_cast<Unit>(sizeof(Unit) == 1 ? 0x82 : 0x3042);
    units += static_cast<Unit>(sizeof(Unit) == 1 ? 0xA0 : 0x6F22);
    for (unsigned seed = 1; seed <= 20; ++seed) {
        std::mt19937 random(seed);
        auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
        TypeParam ini;
        std::wstring path = this->Prepare(ini, "# settings\r\n");
        std::string prefix = "# settings\r\n";
        Lines lines;   // the committed file after the prefix
        int kind = 0;  // pending: 0 none, 1 set, 2 delete, 3 delete all
        std::string key, value;
        auto find = [&](const std::string& k) {
            auto it = lines.begin();
            while (it != lines.end() && it->first != k) ++it;
            return it;
        };
        auto apply = [&]() {
            auto it = find(key);
            if (kind == 1 && it != lines.end()) it->second = value;
            if (kind == 1 && it == lines.end()) lines.emplace_back(key, value);
            if (kind == 2) lines.erase(it);
            if (kind == 3) prefix.clear(), lines.clear();
            kind = 0;
        };
        for (int step = 0; step < 150; ++step) {
            std::string k = keys[pick(6)];
            size_t op = pick(100);
            SCOPED_TRACE("seed " + std::to_string(seed) + ", step " + std::to_string(step) + ", key " + k);
            if (op < 40) {
                std::basic_string<Unit> text;
                for (size_t n = pick(30); n > 0; --n) text += units[pick(units.size())];
                if (!text.empty() && (text[0] == ' ' || text[0] == '=')) text[0] = 'v';
                apply();
                ini.SetStr(K::S(k), K::S(K::FromUnits(text)));
                kind = 1, key = k, value = K::FromUnits(text);
            } else if (op < 60) {
                apply();
                bool all = op >= 55, present = find(k) != lines.end();
                ASSERT_EQ(all || present ? 1 : 0, all ? ini.DeleteAllStr() : ini.DeleteStr(K::S(k)));
                if (all || present) kind = all ? 3 : 2, key = k;
            } else if (op < 85) {
                ASSERT_EQ(kind ? 1 : 0, op < 75 ? ini.Commit() : ini.RollBack());
                if (op < 75) apply();
                kind = 0;
            } else if (op < 90) {
                ini.Close();
                apply();
                ASSERT_EQ(1, ini.Open(path.c_str()));
            } else {
                auto it = find(k);
                bool gone = kind == 3 || (kind == 2 && k == key);
                bool defined = !gone && ((kind == 1 && k == key) || it != lines.end());
                std::string expected = !defined ? "" : kind == 1 && k == key ? value : it->second;
                ASSERT_EQ(expected, K::Text(ini.GetStr(K::S(k))));
                ASSERT_EQ(defined ? 1 : 0, ini.IsExistStr(K::S(k)));
            }
            ASSERT_EQ(kind ? 1 : 0, ini.IsCommit());
            if (kind) continue;
            std::string text = prefix;
            for (const auto& line : lines) text += line.first + " = " + line.second + "\r\n";
            ASSERT_TRUE(testsupport::SameBytes(K::FileBytes(text), ReadFileBytes(path)));
        }
    }
}
