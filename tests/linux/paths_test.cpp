#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "linux_test_support.h"
#include "platform/linux/linux_platform.h"
#include "platform/platform.h"

namespace {

// A prefix with C: (relative link), D: (absolute link elsewhere), E: (a link
// to nothing) and Z: (the host's root, as Wine sets it up), and an old
// installation whose names differ in letter case from the update's.
class PathMapping : public testing::Test {
  protected:
    TempDir dir;
    fs::path prefix = dir.path / "prefix";
    fs::path drive_c;
    fs::path saved_cwd = fs::current_path();

    void SetUp() override {
        drive_c = MakePrefix(prefix);
        fs::create_directories(dir.path / "elsewhere" / "sub");
        fs::create_directory_symlink(dir.path / "elsewhere", prefix / "dosdevices" / "d:");
        fs::create_directory_symlink(dir.path / "missing", prefix / "dosdevices" / "e:");
        fs::create_directory_symlink("/", prefix / "dosdevices" / "z:");
        WriteText(drive_c / "Games" / "Quellstorm" / "Quellstorm.exe", "old");
        WriteText(drive_c / "Games" / "Quellstorm" / "SINARIO" / "system" / "203I_CON.MES", "old");
        fs::create_directories(drive_c / "Both" / "Data");
        fs::create_directories(drive_c / "Both" / "DATA");
        setenv("WINEPREFIX", prefix.c_str(), 1);
    }
    void TearDown() override {
        fs::current_path(saved_cwd);
        unsetenv("WINEPREFIX");
    }

    // The host path for `path`, or "(unmapped)".
    std::string Map(const std::string& path) {
        char host[PATH_MAX];
        return MapWindowsPath(path.c_str(), host, sizeof host) ? std::string(host) : "(unmapped)";
    }
    std::string Drive(const std::string& rest) { return (prefix / "dosdevices").string() + "/" + rest; }
};

TEST_F(PathMapping, DriveLettersAndLetterCase) {
    const struct {
        const char* path;
        const char* host; // below dosdevices, or null when the path cannot be mapped
    } cases[] = {
        {"C:\\Games\\Quellstorm\\Quellstorm.exe", "c:/Games/Quellstorm/Quellstorm.exe"},
        // Existing components are found whatever their case...
        {"c:\\GAMES\\quellstorm\\sinario\\SYSTEM\\203i_con.MES", "c:/Games/Quellstorm/SINARIO/system/203I_CON.MES"},
        // ...and new ones keep the spelling they were given, below an existing one or a new one.
        {"C:\\games\\Quellstorm\\New Dir\\File.Txt", "c:/Games/Quellstorm/New Dir/File.Txt"},
        {"C:\\Games\\sinario\\202egr_0.MES", "c:/Games/sinario/202egr_0.MES"},
        // Of two spellings the exact one wins; with neither, the smaller in byte order.
        {"C:\\Both\\Data", "c:/Both/Data"},
        {"C:\\Both\\DATA", "c:/Both/DATA"},
        {"C:\\Both\\data", "c:/Both/DATA"},
        {"C:/Games//Quellstorm\\", "c:/Games/Quellstorm"},
        {"C:\\Games\\..\\Games\\.\\Quellstorm", "c:/Games/Quellstorm"},
        {"C:\\..\\..\\Games", "c:/Games"},
        {"C:Games", "c:/Games"},
        {"C:\\", "c:"},
        {"d:\\Sub\\x", "d:/sub/x"},
        {"\\\\server\\share\\x", nullptr},
        {"//server/share/x", nullptr},
        {"Q:\\x", nullptr},
        {"E:\\x", nullptr},
    };
    for (const auto& c : cases) EXPECT_EQ(Map(c.path), c.host ? Drive(c.host) : "(unmapped)") << c.path;
}

TEST_F(PathMapping, LeadingBackslashAndRelativePathsUseTheDriveOfTheCurrentDirectory) {
    // Both C: and Z: hold drive_c; C:'s root is the longer match.
    fs::current_path(drive_c / "Games");
    EXPECT_EQ(Map("\\Games\\quellstorm\\quellstorm.EXE"), Drive("c:/Games/Quellstorm/Quellstorm.exe"));
    EXPECT_EQ(Map("Quellstorm\\Quellstorm.exe"), Drive("c:/Games/Quellstorm/Quellstorm.exe"));
    EXPECT_EQ(Map("..\\Both"), Drive("c:/Both"));
    EXPECT_EQ(Map("\\"), Drive("c:"));

    fs::current_path(dir.path / "elsewhere" / "sub");
    EXPECT_EQ(Map("\\x"), Drive("d:/x"));
    EXPECT_EQ(Map("y"), Drive("d:/sub/y"));

    // Only Z: holds the test's own directory.
    fs::current_path(dir.path);
    const std::string below_root = fs::canonical(dir.path).string().substr(1);
    EXPECT_EQ(Map("\\x"), Drive("z:/x"));
    EXPECT_EQ(Map("y"), Drive("z:/" + below_root + "/y"));
}

TEST_F(PathMapping, OfTwoDrivesWithOneRootTheEarlierLetterHoldsTheCurrentDirectory) {
    fs::create_directory_symlink("../drive_c", prefix / "dosdevices" / "b:");
    fs::current_path(drive_c);
    EXPECT_EQ(Map("\\x"), Drive("b:/x"));
}

TEST_F(PathMapping, NoDriveHoldingTheCurrentDirectoryMeansNoMapping) {
    fs::remove(prefix / "dosdevices" / "z:");
    fs::current_path(dir.path);
    EXPECT_EQ(Map("\\x"), "(unmapped)");
    EXPECT_EQ(Map("x"), "(unmapped)");
    EXPECT_EQ(Map("C:\\x"), Drive("c:/x"));
}

TEST_F(PathMapping, PathTooLongForTheHostBufferIsNotMapped) {
    EXPECT_EQ(Map("C:\\" + std::string(PATH_MAX, 'a')), "(unmapped)");
    char small[16];
    EXPECT_FALSE(MapWindowsPath("C:\\Games", small, sizeof small));
}

TEST_F(PathMapping, ExistenceAndDirectoriesFollowTheMapping) {
    EXPECT_TRUE(PlatformPathExists("c:\\games\\quellstorm\\QUELLSTORM.EXE"));
    EXPECT_TRUE(PlatformPathExists("C:\\Games\\Quellstorm\\sinario"));
    EXPECT_FALSE(PlatformPathExists("C:\\Games\\Quellstorm\\Quellstorm.ex"));
    EXPECT_FALSE(PlatformPathExists("\\\\server\\share\\Quellstorm.exe"));

    // An existing directory in another case is not made a second time.
    PlatformMakeDirectory("C:\\Games\\Quellstorm\\sinario");
    PlatformMakeDirectory("C:\\Games\\Quellstorm\\sinario\\New");
    EXPECT_FALSE(fs::exists(drive_c / "Games" / "Quellstorm" / "sinario"));
    EXPECT_TRUE(fs::is_directory(drive_c / "Games" / "Quellstorm" / "SINARIO" / "New"));
}

} // namespace
