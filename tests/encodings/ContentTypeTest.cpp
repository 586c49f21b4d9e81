#include <windows.h>
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "kovra/C_String.h"
#include "kovra/common/System.h"

using kovra::C_String;
using kovra::common::System;

namespace {
std::string ContentType(const std::string& extension) {
    return System::getContentType(C_String(extension.c_str())).GetString();
}
}  // namespace

// The keys go to HKEY_CLASSES_ROOT of the test run's own Wine prefix and are
// removed again.
TEST(ContentType, IsReadFromTheExtensionsClassKey) {
    const std::string base = ".vrek-test-" + std::to_string(GetCurrentProcessId());
    const std::string longType = "application/x-vrek-a-type-name-longer-than-thirty-two-bytes";
    const DWORD number = 7;
    struct Row {
        const char* suffix;
        DWORD kind;
        const void* data;
        DWORD size;
        std::string type;
    } rows[] = {
        {"-short", REG_SZ, "text/x-vrek", 12, "text/x-vrek"},
        {"-long", REG_SZ, longType.c_str(), static_cast<DWORD>(longType.size() + 1), longType},  // read twice
        {"-unterminated", REG_SZ, "text/plain", 10, "text/plain"},
        {"-number", REG_DWORD, &number, sizeof number, ""},
        {"-bare", REG_NONE, nullptr, 0, ""},  // a key without the value
    };
    for (const Row& row : rows) {
        std::string name = base + row.suffix;
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &key, nullptr));
        if (row.data) {
            EXPECT_EQ(ERROR_SUCCESS,
                      RegSetValueExA(key, "Content Type", 0, row.kind, static_cast<const BYTE*>(row.data), row.size));
        }
        RegCloseKey(key);
        EXPECT_EQ(row.type, ContentType(name)) << name;
        RegDeleteKeyA(HKEY_CLASSES_ROOT, name.c_str());
    }
    EXPECT_EQ("", ContentType(base + "-missing"));
    EXPECT_EQ("", ContentType(""));
}

TEST(Clock, CurrentTimeMillisAgreesWithTheRuntimesClock) {
    __time64_t before = _time64(nullptr);
    int64_t now = System::currentTimeMillis();
    __time64_t after = _time64(nullptr);
    EXPECT_GE(now / 1000, before);
    EXPECT_LE(now / 1000, after);
}
