// Where settings.ini is looked for.
#include "persistence/settings_location.h"

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace dittix::persistence {
namespace {

TEST(SettingsLocation, BesideAWritableExecutableDirectory) {
    test::TempDir exe;
    test::TempDir user;
    EXPECT_EQ(resolveSettingsPath(exe.path(), user.path()), exe.file("settings.ini"));
}

TEST(SettingsLocation, UserFolderWhenExecutableDirectoryCannotBeWritten) {
    test::TempDir root;
    // A directory that does not exist stands in for one that cannot be written: permission bits
    // do not stop the root user the tests may run as.
    const auto exe = root.file("not-there");
    EXPECT_EQ(resolveSettingsPath(exe, root.file("user")), root.file("user") / "settings.ini");
}

TEST(SettingsLocation, ExistingFileBesideExecutableWinsEvenIfReadOnly) {
    test::TempDir root;
    std::filesystem::create_directory(root.file("exe"));
    test::writeBytes(root.file("exe") / "settings.ini", "[Settings]\n");
    EXPECT_FALSE(isWritableDirectory(root.file("missing")));
    EXPECT_EQ(resolveSettingsPath(root.file("exe"), root.file("user")),
              root.file("exe") / "settings.ini");
}

TEST(SettingsLocation, NoUserFolderKnownFallsBackBesideExecutable) {
    test::TempDir root;
    EXPECT_EQ(resolveSettingsPath(root.file("missing"), {}), root.file("missing") / "settings.ini");
}

TEST(SettingsLocation, SharedProgramFoldersKeepSettingsPerUserEvenWhenWritable) {
    // Root can write to /usr/bin; an installed program must still not put its file there.
    struct Row {
        const char* dir;
        bool shared;
    };
    for (const Row& row :
         {Row{"/usr/bin", true}, Row{"/usr/bin/", true}, Row{"/usr/local/bin", true},
          Row{"/usr/../usr/games", true}, Row{"/usr", false},
          Row{"/usr/bin/dittix-portable", false}, Row{"/opt/dittix", false}, Row{"", false}}) {
        EXPECT_EQ(isSharedProgramDirectory(row.dir), row.shared) << row.dir;
    }
    test::TempDir user;
    if (!std::filesystem::exists("/usr/bin/settings.ini")) {
        EXPECT_EQ(resolveSettingsPath("/usr/bin", user.path()), user.file("settings.ini"));
    }
}

TEST(SettingsLocation, UserFolderFollowsXdgConfigHome) {
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string restore = saved ? saved : "";
    setenv("XDG_CONFIG_HOME", "/tmp/xdg-test", 1);
    EXPECT_EQ(userConfigDirectory(), std::filesystem::path("/tmp/xdg-test/dittix"));
    setenv("XDG_CONFIG_HOME", "relative/not/allowed", 1);
    EXPECT_NE(userConfigDirectory(), std::filesystem::path("relative/not/allowed/dittix"));
    if (saved) {
        setenv("XDG_CONFIG_HOME", restore.c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_HOME");
    }
}

TEST(SettingsLocation, EnsureParentDirectoryCreatesTheUserFolder) {
    test::TempDir root;
    const auto file = root.file("a") / "b" / "settings.ini";
    EXPECT_TRUE(ensureParentDirectory(file));
    EXPECT_TRUE(isWritableDirectory(root.file("a") / "b"));
}

TEST(SettingsLocation, ExecutableDirectoryIsFound) {
    const auto dir = executableDirectory();
    EXPECT_FALSE(dir.empty());
    EXPECT_TRUE(std::filesystem::is_directory(dir));
}

}  // namespace
}  // namespace dittix::persistence
