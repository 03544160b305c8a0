#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <string>

#include "linux_test_support.h"
#include "platform/linux/linux_platform.h"
#include "platform/platform.h"

namespace {

const char Key[] = "Software\\Vantor\\Quellstorm";
const char Section[] = "[Software\\\\Vantor\\\\Quellstorm] 1700000000\n#time=1d9c0a4b3e2f1a0\n";

struct RegistryCase {
    const char* name;
    std::string text;
    bool found;
    std::string value; // the bytes stored, terminator included
};

std::string Repeat(char c, size_t count) { return std::string(count, c); }

std::string Hex(size_t count) {
    std::string list;
    for (size_t i = 0; i < count; ++i) list += i == 0 ? "41" : ",41";
    return list;
}

const RegistryCase Cases[] = {
    {"plain string", std::string(Section) + "\"DataDir\"=\"C:\\\\Games\\\\Quellstorm\\\\\"\n", true,
     std::string("C:\\Games\\Quellstorm\\\0", 21)},
    {"escapes", std::string(Section) + "\"DataDir\"=\"a\\\"b\\\\c\\n\\r\\t\\0d\\]\"\n", true,
     std::string("a\"b\\c\n\r\t\0d]\0", 12)},
    {"octal escapes take three digits at most", std::string(Section) + "\"DataDir\"=\"\\1011\\7\"\n", true,
     std::string("A1\a\0", 4)},
    {"x escapes are UTF-16 units", std::string(Section) + "\"DataDir\"=\"\\x30b2\\x30fc\\x30e0\\x41\\x5c\"\n", true,
     std::string("\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0" "A\\\0", 12)},
    {"x escape stops after four digits", std::string(Section) + "\"DataDir\"=\"\\x00e9e\"\n", true,
     std::string("\xC3\xA9" "e\0", 4)},
    {"surrogate pair", std::string(Section) + "\"DataDir\"=\"\\xd83c\\xdfae!\"\n", true,
     std::string("\xF0\x9F\x8E\xAE!\0", 6)},
    {"lone surrogates become U+FFFD", std::string(Section) + "\"DataDir\"=\"\\xd83cx\\xdfae\"\n", true,
     std::string("\xEF\xBF\xBDx\xEF\xBF\xBD\0", 8)},
    {"UTF-8 typed into the file stays", std::string(Section) + "\"DataDir\"=\"C:\\\\ゲーム\"\n", true,
     std::string("C:\\ゲーム\0", 13)},
    {"str(2) is not expanded", std::string(Section) + "\"DataDir\"=str(2):\"%SystemDrive%\\\\Games\"\n", true,
     std::string("%SystemDrive%\\Games\0", 20)},
    {"hex(2) over several lines is UTF-16 text",
     std::string(Section) + "\"DataDir\"=hex(2):43,00,3a,00,5c,00,\\\n  47,00,\\\r\n  00,00\n", true,
     std::string("C:\\G\0", 5)},
    {"hex(1) with a surrogate pair", std::string(Section) + "\"DataDir\"=hex(1):3c,d8,ae,df,00,00\n", true,
     std::string("\xF0\x9F\x8E\xAE\0", 5)},
    {"hex(7) keeps its separators", std::string(Section) + "\"DataDir\"=hex(7):61,00,00,00,62,00,00,00,00,00\n",
     true, std::string("a\0b\0\0", 5)},
    {"hex takes the bytes as they are", std::string(Section) + "\"DataDir\"=hex:43,3a,\\\n  5c,ff\n", true,
     std::string("C:\\\xFF", 4)},
    {"hex(3) takes the bytes as they are", std::string(Section) + "\"DataDir\"=hex(3):43,00\n", true,
     std::string("C\0", 2)},
    {"dword is its four bytes", std::string(Section) + "\"DataDir\"=dword:00003a43\n", true,
     std::string("C:\0\0", 4)},
    {"key and value names ignore case",
     "[software\\\\VANTOR\\\\quellstorm]\n\"datadir\"=\"C:\\\\q\"\n", true, std::string("C:\\q\0", 5)},
    {"the first value of the key wins",
     std::string(Section) + "\"Data\"=\"no\"\n@=\"no\"\n\"DataDir2\"=\"no\"\n\"DataDir\"=\"yes\"\n\"DataDir\"=\"no\"\n",
     true, std::string("yes\0", 4)},
    {"keys with similar names are others",
     "[Software\\\\Vantor\\\\QuellstormX]\n\"DataDir\"=\"no\"\n[Software\\\\Vantor\\\\Quellstorm\\\\Sub]\n"
     "\"DataDir\"=\"no\"\n[Software\\\\Vantor\\\\Quellstor]\n\"DataDir\"=\"no\"\n[Software\\\\Vantor\\\\Quellstorm]\n"
     "\"DataDir\"=\"yes\"\n",
     true, std::string("yes\0", 4)},
    {"CRLF line ends and no final line end",
     "[Software\\\\Vantor\\\\Quellstorm] 1\r\n\"DataDir\"=\"C:\\\\q\"", true, std::string("C:\\q\0", 5)},
    {"259 characters and the terminator fit", std::string(Section) + "\"DataDir\"=\"" + Repeat('a', 259) + "\"\n",
     true, Repeat('a', 259) + std::string(1, '\0')},
    {"260 hex bytes fit", std::string(Section) + "\"DataDir\"=hex:" + Hex(260) + "\n", true, Repeat('A', 260)},

    {"no such key", "[Software\\\\Vantor\\\\Other]\n\"DataDir\"=\"C:\\\\q\"\n", false, ""},
    {"no such value", std::string(Section) + "\"Data\"=\"C:\\\\q\"\n@=\"C:\\\\q\"\n", false, ""},
    {"the value belongs to the next key",
     std::string(Section) + "\"Other\"=\"x\"\n[Software\\\\Vantor\\\\Other]\n\"DataDir\"=\"C:\\\\q\"\n", false, ""},
    {"a value before any key", "\"DataDir\"=\"C:\\\\q\"\n", false, ""},
    {"260 characters and the terminator do not fit",
     std::string(Section) + "\"DataDir\"=\"" + Repeat('a', 260) + "\"\n", false, ""},
    {"three-byte characters past the capacity",
     std::string(Section) + "\"DataDir\"=\"" + Repeat('a', 257) + "\\x30b2\"\n", false, ""},
    {"261 hex bytes do not fit", std::string(Section) + "\"DataDir\"=hex:" + Hex(261) + "\n", false, ""},
    {"unterminated string", std::string(Section) + "\"DataDir\"=\"C:\\\\q\n\"Other\"=\"x\"\n", false, ""},
    {"backslash at the end of a string's line", std::string(Section) + "\"DataDir\"=\"C:\\\n", false, ""},
    {"bad hex byte", std::string(Section) + "\"DataDir\"=hex:43,zz\n", false, ""},
    {"hex list ending in a comma", std::string(Section) + "\"DataDir\"=hex:43,\n", false, ""},
    {"unknown value type", std::string(Section) + "\"DataDir\"=qword:0\n", false, ""},
    {"key name without its closing bracket", "[Software\\\\Vantor\\\\Quellstorm\n\"DataDir\"=\"C:\\\\q\"\n", false,
     ""},
};

class RegistryParse : public testing::TestWithParam<RegistryCase> {};

TEST_P(RegistryParse, StoresTheValueAsRegQueryValueExADoes) {
    const RegistryCase& c = GetParam();
    // The text sits in a buffer of its exact size and the value's buffer is
    // followed by guard bytes: a sanitizer or the guards see any overrun.
    std::unique_ptr<char[]> text(new char[c.text.size()]);
    std::memcpy(text.get(), c.text.data(), c.text.size());
    char buffer[260 + 16];
    std::memset(buffer, 0x7E, sizeof buffer);
    const bool found = FindRegistryValue(text.get(), c.text.size(), Key, "DataDir", buffer, 260);
    ASSERT_EQ(found, c.found);
    if (found) {
        EXPECT_EQ(std::string(buffer, c.value.size()), c.value);
    }
    for (size_t i = 260; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], 0x7E) << "written past the capacity at " << i;
}

INSTANTIATE_TEST_SUITE_P(Snippets, RegistryParse, testing::ValuesIn(Cases),
                         [](const testing::TestParamInfo<RegistryCase>& case_info) {
                             std::string name;
                             for (const char c : std::string(case_info.param.name))
                                 name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

// Every prefix of every snippet: a file cut anywhere is read within its bounds.
TEST(RegistryParse, ReadsNoFurtherThanTheTextAtAnyCut) {
    for (const RegistryCase& c : Cases) {
        for (size_t size = 0; size <= c.text.size(); ++size) {
            std::unique_ptr<char[]> text(new char[size]);
            std::memcpy(text.get(), c.text.data(), size);
            char buffer[260];
            FindRegistryValue(text.get(), size, Key, "DataDir", buffer, sizeof buffer);
        }
    }
}

// The file itself: $WINEPREFIX/user.reg, or $HOME/.wine/user.reg.
class UserRegFile : public testing::Test {
  protected:
    TempDir dir;
    void SetUp() override {
        unsetenv("WINEPREFIX");
        setenv("HOME", dir.path.c_str(), 1);
    }
    void TearDown() override { unsetenv("WINEPREFIX"); }
    bool Read(std::string* value) {
        char buffer[260] = {};
        const bool found = PlatformReadUserSetting(Key, "DataDir", buffer, sizeof buffer);
        *value = buffer;
        return found;
    }
};

TEST_F(UserRegFile, ComesFromWinePrefixOrElseHomeWine) {
    WriteText(dir.path / "prefix" / "user.reg", UserRegWithDataDir("D:\\Prefix"));
    WriteText(dir.path / ".wine" / "user.reg", UserRegWithDataDir("D:\\Home"));
    std::string value;
    setenv("WINEPREFIX", (dir.path / "prefix").c_str(), 1);
    ASSERT_TRUE(Read(&value));
    EXPECT_EQ(value, "D:\\Prefix");
    setenv("WINEPREFIX", "", 1);
    ASSERT_TRUE(Read(&value));
    EXPECT_EQ(value, "D:\\Home");
    unsetenv("WINEPREFIX");
    ASSERT_TRUE(Read(&value));
    EXPECT_EQ(value, "D:\\Home");
}

TEST_F(UserRegFile, MissingFileIsNotInstalled) {
    std::string value;
    EXPECT_FALSE(Read(&value));
}

TEST_F(UserRegFile, FileTooLargeToReadIsNotInstalled) {
    // The value sits at the start, so reading only part of the file would find it.
    const fs::path path = dir.path / ".wine" / "user.reg";
    WriteText(path, UserRegWithDataDir("C:\\q"));
    ASSERT_EQ(truncate(path.c_str(), 33 << 20), 0);
    std::string value;
    EXPECT_FALSE(Read(&value));
}

} // namespace
