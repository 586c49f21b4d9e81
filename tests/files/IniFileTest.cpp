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
using testsupport::TempDir;
using testsupport::WriteFileBytes;

namespace {

// What differs between the narrow and the wide settings file, for tests
// written once: texts are given as bytes (narrow) or UTF-8 (wide).
template <typename Ini>
struct Kind;

template <>
struct Kind<C_IniFile> {
    using Str = C_String;
    using Unit = char;
    static std::string FileBytes(const std::string& text) { return text; }
    static Str S(const std::string& text) { return Str(text.c_str()); }
    static std::string Text(const Str& s) { return std::string(s.GetString(), s.Length()); }
    static std::string FromUnits(const std::basic_string<Unit>& units) { return units; }
};

template <>
struct Kind<C_WIniFile> {
    using Str = C_WString;
    using Unit = wchar_t;
    static std::string FileBytes(const std::string& text) { return filestest::Utf16Bytes(text); }
    static Str S(const std::string& text) { return Str(testsupport::Widen(text).c_str()); }
    static std::string Text(const Str& s) { return testsupport::Narrow(s.GetString()); }
    static std::string FromUnits(const std::basic_string<Unit>& units) { return testsupport::Narrow(units); }
};

template <typename Ini>
class IniFileTest : public ::testing::Test {
protected:
    using K = Kind<Ini>;
    // A settings file holding `text`, opened.
    std::wstring Prepare(Ini& ini, const std::string& text, const wchar_t* name = L"s.ini") {
        std::wstring path = dir_.File(name);
        WriteFileBytes(path, K::FileBytes(text));
        EXPECT_EQ(1, ini.Open(path.c_str()));
        return path;
    }
    std::string Get(Ini& ini, const char* key) { return K::Text(ini.GetStr(K::S(key))); }
    TempDir dir_;
};

using IniKinds = ::testing::Types<C_IniFile, C_WIniFile>;
TYPED_TEST_SUITE(IniFileTest, IniKinds);

}  // namespace

TYPED_TEST(IniFileTest, WhichLinesDefineAKey) {
    using K = Kind<TypeParam>;
    struct Row {
        std::string file;
        const char* key;
        bool defined;
        std::string value;
    } rows[] = {
        {"a=1", "a", true, "1"},
        {"#a = 1\r\n", "a", false, ""},
        {" a = 1\r\n", "a", false, ""},
        {"a==  x\r\n", "a", true, "x"},
        {"a =\r\n", "a", true, ""},
        {"a\r\na = 2\r\n", "a", true, "2"},
        {"a = 1\r\na = 2\r\n", "a", true, "1"},
        {"key = 1\r\n", "k", false, ""},
        {"A = 1\r\n", "a", false, ""},
        {"a b = 1\r\n", "a", true, "1"},
        {"a\t= tab \r\n", "a", true, "tab "},
        {"x = 1\rb = 2\n", "b", true, "2"},
        {"b = 1\r\n", "", false, ""},
    };
    for (const Row& row : rows) {
        TypeParam ini;
        this->Prepare(ini, row.file);
        ini.ClearLastError();
        EXPECT_EQ(row.value, this->Get(ini, row.key)) << row.file;
        EXPECT_EQ(row.defined ? 0 : 1, ini.IsLastError()) << row.file;
        EXPECT_EQ(row.defined ? 1 : 0, ini.IsExistStr(K::S(row.key))) << row.file;
        EXPECT_EQ(0, ini.IsLastError()) << "IsExistStr leaves the flag clear";
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
        {"a = 100\r\nb = 2\r\n", "set a 9", "a = 9\r\nb = 2\r\n"},
        {"a==  x\r\nb = 2\r\n", "set a yy", "a==  yy\r\nb = 2\r\n"},
        {"a = 1\r\n\r\n\n\r\nb = 2\r\n", "del a", "b = 2\r\n"},
        {"x = 0\r\na = 1\r\nb = 2", "del b", "x = 0\r\na = 1\r\n"},
        {"a = 1\r\nb = 2\r\n", "delall|set c 3", "c = 3\r\n"},
        {"a = 1\r\n", "delall|commit", ""},
        {"a = 1\r\n", "set a 2|rollback", "a = 1\r\n"},
        {"# c\r\na = 1\r\n", "set b 2|set a 3|del b", "# c\r\na = 3\r\n"},
    };
    for (const Row& row : rows) {
        std::wstring path;
        {
            TypeParam ini;
            path = this->Prepare(ini, row.file);
            std::stringstream script(row.script);
            std::string step;
            while (std::getline(script, step, '|')) {
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

TYPED_TEST(IniFileTest, ReadsSeeThePendingChange) {
    using K = Kind<TypeParam>;
    TypeParam ini;
    std::wstring path = this->Prepare(ini, "a = 1\r\nb = 2\r\nn = 12abc\r\ne =\r\n");
    ini.SetStr(K::S("a"), 5);
    EXPECT_EQ("5", this->Get(ini, "a"));
    EXPECT_TRUE(testsupport::SameBytes(K::FileBytes("a = 1\r\nb = 2\r\nn = 12abc\r\ne =\r\n"), ReadFileBytes(path)));
    EXPECT_EQ(1, ini.DeleteStr(K::S("b")));
    EXPECT_EQ("", this->Get(ini, "b"));
    EXPECT_EQ(1, ini.IsLastError());
    EXPECT_EQ(12, ini.GetInt(K::S("n")));
    EXPECT_EQ(-1, ini.GetInt(K::S("e"))) << "an empty value";
    EXPECT_EQ(0, ini.IsLastError()) << "GetInt clears the flag first";
    EXPECT_EQ(-1, ini.GetInt(K::S("none")));
    EXPECT_EQ(1, ini.IsLastError());
    EXPECT_EQ(0, ini.DeleteStr(K::S("none")));
    EXPECT_EQ(1, ini.DeleteAllStr());
    EXPECT_EQ("", this->Get(ini, "n"));
    EXPECT_EQ(0, ini.IsExistStr(K::S("a")));
    EXPECT_EQ(1, ini.RollBack());
    EXPECT_EQ(0, ini.RollBack());
    ini.ClearLastError();
    EXPECT_EQ(0, ini.Commit());
    EXPECT_EQ(1, ini.IsLastError());
    EXPECT_EQ("12abc", this->Get(ini, "n")) << "after the roll-back";
    ini.SetStr(7, 8);
    EXPECT_EQ(8, ini.GetInt(7));
    ini.ClearAll();
    EXPECT_EQ(0, ini.IsCommit());
    EXPECT_EQ("", ReadFileBytes(path));
}

TYPED_TEST(IniFileTest, KeysAndValuesThatWouldNotReadBackAreRefused) {
    using K = Kind<TypeParam>;
    TypeParam ini;
    std::wstring path = this->Prepare(ini, "a = 1\r\n");
    const char* badKeys[] = {"", "a b", "a\tb", "a=b", "#a", "a\r\nb"};
    for (const char* key : badKeys) {
        ini.ClearLastError();
        ini.SetStr(K::S(key), K::S("1"));
        EXPECT_EQ(1, ini.IsLastError()) << key;
        EXPECT_EQ(0, ini.IsCommit()) << key;
    }
    ini.SetStr(K::S("b"), K::S("1\r\nevil = 1"));
    EXPECT_EQ(0, ini.IsCommit()) << "a value may not inject a line";
    ini.Close();
    EXPECT_EQ(K::FileBytes("a = 1\r\n"), ReadFileBytes(path));
}

TYPED_TEST(IniFileTest, CloseAndOpenCommitThePendingChangeToItsOwnFile) {
    using K = Kind<TypeParam>;
    TypeParam ini;
    std::wstring first = this->Prepare(ini, "", L"first.ini");
    ini.SetStr(K::S("a"), K::S("1"));
    std::wstring second = this->Prepare(ini, "", L"second.ini");
    EXPECT_EQ(K::FileBytes("a = 1\r\n"), ReadFileBytes(first));
    ini.SetStr(K::S("b"), K::S("2"));
    EXPECT_EQ(1, ini.Close());
    EXPECT_EQ(K::FileBytes("b = 2\r\n"), ReadFileBytes(second));
    EXPECT_EQ(0, ini.IsCommit());
}

TYPED_TEST(IniFileTest, LockingTwiceAndModificationTime) {
    TypeParam ini;
    this->Prepare(ini, "");
    EXPECT_EQ(0, ini.Lock(0)) << "an empty file";
    ini.Unlock();
    this->Prepare(ini, "a = 1\r\n");
    EXPECT_EQ(0, ini.Lock(0));
    EXPECT_EQ(1, ini.IsLocked());
    EXPECT_EQ(3, ini.Lock(0));
    ini.Unlock();
    EXPECT_EQ(0, ini.IsLocked());
    EXPECT_EQ(0, ini.Lock(-1));
    long long age = static_cast<long long>(time(nullptr)) - ini.GetLastModified().Get();
    EXPECT_TRUE(age >= -5 && age < 600) << age;
}

TEST(WIniFile, AFileOfOddLengthGetsWholeUnitsAppended) {
    TempDir dir;
    std::wstring path = dir.File(L"odd.ini");
    WriteFileBytes(path, filestest::Utf16Bytes("a = 1\r\n") + "\x01");
    {
        C_WIniFile ini(path.c_str());
        ini.SetStr(C_WString(L"b"), C_WString(L"2"));
    }
    C_WIniFile ini(path.c_str());
    EXPECT_EQ(L"2", std::wstring(ini.GetStr(C_WString(L"b")).GetString()));
    EXPECT_EQ(filestest::Utf16Bytes("a = 1\r\nb = 2\r\n"), ReadFileBytes(path));
}

// Random sequences of changes against a model that knows the exact file.
template <typename Ini>
struct Model {
    using K = Kind<Ini>;
    std::string prefix = "# settings\r\n";
    std::vector<std::pair<std::string, std::string>> lines;
    int kind = 0;  // 0 none, 1 set, 2 delete, 3 delete all
    std::string key, value;

    std::vector<std::pair<std::string, std::string>>::iterator Find(const std::string& k) {
        for (auto it = lines.begin(); it != lines.end(); ++it)
            if (it->first == k) return it;
        return lines.end();
    }
    void Apply() {
        auto it = Find(key);
        if (kind == 1 && it != lines.end()) it->second = value;
        if (kind == 1 && it == lines.end()) lines.emplace_back(key, value);
        if (kind == 2) lines.erase(it);
        if (kind == 3) prefix.clear(), lines.clear();
        kind = 0;
    }
    bool Get(const std::string& k, std::string* v) {
        if (kind == 3 || (kind != 0 && k == key && kind == 2)) return false;
        if (kind == 1 && k == key) return *v = value, true;
        auto it = Find(k);
        return it != lines.end() ? (*v = it->second, true) : false;
    }
    std::string File() const {
        std::string text = prefix;
        for (const auto& line : lines) text += line.first + " = " + line.second + "\r\n";
        return K::FileBytes(text);
    }
};

TYPED_TEST(IniFileTest, RandomChangesMatchAModel) {
    using K = Kind<TypeParam>;
    using Unit = typename K::Unit;
    const char* keys[] = {"a", "b", "k", "key", "long_key_name", "x1"};
    // Blanks and "=" inside values, and bytes above 127 (narrow) or Japanese
    // characters (wide).
    std::basic_string<Unit> units = {'v', 'Z', '0', ' ', '=', '-'};
    units += static_cast<Unit>(sizeof(Unit) == 1 ? 0x82 : 0x3042);
    units += static_cast<Unit>(sizeof(Unit) == 1 ? 0xA0 : 0x6F22);
    for (unsigned seed = 1; seed <= 20; ++seed) {
        std::mt19937 random(seed);
        auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
        TypeParam ini;
        std::wstring path = this->Prepare(ini, "# settings\r\n");
        Model<TypeParam> model;
        for (int step = 0; step < 150; ++step) {
            std::string key = keys[pick(6)];
            int op = pick(100);
            SCOPED_TRACE("seed " + std::to_string(seed) + ", step " + std::to_string(step) + ", op " +
                         std::to_string(op) + ", key " + key);
            if (op < 40) {
                std::basic_string<Unit> value;
                for (int n = pick(30); n > 0; --n) value += units[pick(static_cast<int>(units.size()))];
                if (!value.empty() && (value[0] == ' ' || value[0] == '=')) value[0] = 'v';
                if (model.kind) model.Apply();
                ini.SetStr(K::S(key), K::S(K::FromUnits(value)));
                model.kind = 1, model.key = key, model.value = K::FromUnits(value);
            } else if (op < 55) {
                if (model.kind) model.Apply();
                bool present = model.Find(key) != model.lines.end();
                ASSERT_EQ(present ? 1 : 0, ini.DeleteStr(K::S(key)));
                if (present) model.kind = 2, model.key = key;
            } else if (op < 60) {
                if (model.kind) model.Apply();
                ASSERT_EQ(1, ini.DeleteAllStr());
                model.kind = 3;
            } else if (op < 75) {
                ASSERT_EQ(model.kind ? 1 : 0, ini.Commit());
                if (model.kind) model.Apply();
            } else if (op < 85) {
                ASSERT_EQ(model.kind ? 1 : 0, ini.RollBack());
                model.kind = 0;
            } else if (op < 90) {
                ini.Close();
                if (model.kind) model.Apply();
                ASSERT_EQ(1, ini.Open(path.c_str()));
            } else {
                for (const char* k : keys) {
                    std::string expected;
                    bool defined = model.Get(k, &expected);
                    ASSERT_EQ(defined ? 1 : 0, ini.IsExistStr(K::S(k))) << k;
                    ASSERT_EQ(expected, K::Text(ini.GetStr(K::S(k)))) << k;
                }
            }
            ASSERT_EQ(model.kind ? 1 : 0, ini.IsCommit());
            if (!model.kind) {
                ASSERT_TRUE(testsupport::SameBytes(model.File(), ReadFileBytes(path)));
            }
        }
    }
}
