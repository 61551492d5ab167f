#include "scheme/preset_store.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "common/program_directory.h"
#include "scheme/folder_key_file.h"

namespace corvanta {
namespace {

class PresetStoreFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/corvanta-store-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        path_ = dir_ + "/" + kPresetStoreFileName;
    }
    void TearDown() override {
        ASSERT_EQ(std::system(("chmod -R u+rwx " + dir_ + "; rm -rf " + dir_).c_str()), 0);
    }
    void WriteBytes(const std::vector<std::uint8_t>& bytes, const std::string& path = {}) {
        std::ofstream out(path.empty() ? path_ : path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    std::vector<std::uint8_t> ReadBytes(const std::string& path = {}) {
        std::ifstream in(path.empty() ? path_ : path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::string dir_;
    std::string path_;
};

PresetTable ValidTable() {
    PresetTable table = MakePresetTable();
    table.rows[23].slots = {0xFF000000, 0, 0, 0, 0xFF008D00, 0, 0, 0, 0xFFFFFFFF};
    return table;
}

std::vector<std::uint8_t> Bytes(const StoredSettings& settings, const PresetTable& table) {
    const auto bytes = SerializePresetStore(settings, table);
    return {bytes.begin(), bytes.end()};
}

std::vector<std::uint8_t> ValidFile() {
    return Bytes({1920, -5, 0}, ValidTable());
}

PresetStoreChange SettingsChange(const StoredSettings& settings) {
    PresetStoreChange change;
    change.settings = settings;
    return change;
}

StoreStatus Update(const std::string& path, const StoredSettings& settings = {}) {
    return UpdatePresetStoreFile(path, SettingsChange(settings)).status;
}

// Whether check() holds in a child process, run as the unprivileged
// "nobody" when asNobody and this is root.
bool InChild(bool asNobody, const std::function<bool()>& check) {
    const pid_t child = ::fork();
    if (child == 0) {
        constexpr uid_t kNobody = 65534;
        const bool as = !asNobody || ::geteuid() != 0 ||
                        (::setresgid(kNobody, kNobody, kNobody) == 0 &&
                         ::setresuid(kNobody, kNobody, kNobody) == 0);
        ::_exit(as && check() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(PresetStoreBytes, LayoutIsLittleEndianWithTheMagicFirst) {
    const std::vector<std::uint8_t> bytes = ValidFile();
    ASSERT_EQ(bytes.size(), 496u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "CV10");
    EXPECT_EQ(bytes[4], 0x80);  // 1920 = 0x780
    EXPECT_EQ(bytes[5], 0x07);
    EXPECT_EQ(bytes[8], 0xFB);  // -5
    EXPECT_EQ(bytes[11], 0xFF);
    EXPECT_EQ(bytes[12], 0);
    // User preset 3 starts at 16 + 2 * 60: its name, then slot 4 = 00 8D 00 FF.
    EXPECT_EQ(std::string(bytes.begin() + 136, bytes.begin() + 160), "User preset 3           ");
    EXPECT_EQ(bytes[160 + 16], 0x00);
    EXPECT_EQ(bytes[160 + 17], 0x8D);
    EXPECT_EQ(bytes[160 + 19], 0xFF);
}

TEST(PresetStoreBytes, ShortFilesReadMissingFieldsAsZeroAndKeepTheRest) {
    std::vector<std::uint8_t> bytes = ValidFile();
    // Cut inside the maximum width: the low byte 0x80 survives, height and quality read 0.
    {
        StoredSettings settings;
        PresetTable table = MakePresetTable();
        ASSERT_TRUE(ApplyPresetStoreBytes(bytes.data(), 5, settings, table));
        EXPECT_EQ(settings.maxWidth, 0x80);
        EXPECT_EQ(settings.maxHeight, 0);
        EXPECT_EQ(settings.qualityIndex, 0);
        EXPECT_EQ(table.rows[23].slots[4], 0u);  // no preset bytes: rows keep what they had
    }
    // Cut inside user preset 3's slot 4: the low two bytes arrive, the rest keep old content.
    {
        StoredSettings settings;
        PresetTable table = MakePresetTable();
        table.rows[23].slots[4] = 0xAABBCCDD;
        table.rows[28].slots[0] = 0x12345678;
        ASSERT_TRUE(ApplyPresetStoreBytes(bytes.data(), 160 + 18, settings, table));
        EXPECT_EQ(settings.maxHeight, -5);
        EXPECT_EQ(table.rows[23].slots[0], 0xFF000000u);
        EXPECT_EQ(table.rows[23].slots[4], 0xAABB8D00u);
        EXPECT_EQ(table.rows[28].slots[0], 0x12345678u);
    }
    // Shorter than the magic, or another magic: nothing changes.
    StoredSettings settings;
    PresetTable table = MakePresetTable();
    EXPECT_FALSE(ApplyPresetStoreBytes(bytes.data(), 3, settings, table));
    bytes[3] = '1';
    EXPECT_FALSE(ApplyPresetStoreBytes(bytes.data(), bytes.size(), settings, table));
    EXPECT_EQ(settings.maxWidth, 8192);
}

TEST_F(PresetStoreFile, FirstRunCreatesTheFileAndARestartReadsItBack) {
    StoredSettings settings;
    PresetTable table = MakePresetTable();
    EXPECT_EQ(LoadPresetStoreFile(path_, settings, table).status, StoreStatus::kMissing);
    EXPECT_EQ(settings.maxWidth, 8192);

    PresetStoreChange change = SettingsChange({0, 640, 0});
    change.userPresets[4] = ColorScheme{0, 0xFF0000FF, 0, 0x11223344, 0, 0, 0, 0, 0};
    ASSERT_EQ(UpdatePresetStoreFile(path_, change).status, StoreStatus::kDone);
    EXPECT_EQ(ReadBytes().size(), 496u);

    ASSERT_EQ(LoadPresetStoreFile(path_, settings, table).status, StoreStatus::kDone);
    EXPECT_EQ(settings.maxWidth, 0);
    EXPECT_EQ(settings.maxHeight, 640);
    EXPECT_EQ(settings.qualityIndex, 0);
    EXPECT_EQ(table.rows[25].slots, *change.userPresets[4]);
    EXPECT_EQ(table.rows[25].name, MakePresetTable().rows[25].name);
    EXPECT_EQ(table.rows[0].slots, MakePresetTable().rows[0].slots);  // built-ins untouched
}

TEST_F(PresetStoreFile, EmptyAndLongerFilesAreRewrittenToExactly496Bytes) {
    WriteBytes({});
    StoredSettings settings;
    PresetTable table = MakePresetTable();
    EXPECT_EQ(LoadPresetStoreFile(path_, settings, table).status, StoreStatus::kMissing);
    ASSERT_EQ(Update(path_, settings), StoreStatus::kDone);
    EXPECT_EQ(ReadBytes().size(), 496u);

    std::vector<std::uint8_t> longer = ValidFile();
    longer.resize(4000, 0x5A);
    WriteBytes(longer);
    ASSERT_EQ(LoadPresetStoreFile(path_, settings, table).status, StoreStatus::kDone);
    EXPECT_EQ(settings.maxWidth, 1920);
    ASSERT_EQ(Update(path_, settings), StoreStatus::kDone);
    EXPECT_EQ(ReadBytes(), ValidFile());
}

TEST_F(PresetStoreFile, ForeignFilesAreNeverReadNorOverwritten) {
    for (const std::vector<std::uint8_t>& foreign :
         {std::vector<std::uint8_t>{'n', 'o', 't', ' ', 'o', 'u', 'r', 's'},
          std::vector<std::uint8_t>{'C', 'V'}}) {
        WriteBytes(foreign);
        StoredSettings settings;
        PresetTable table = MakePresetTable();
        EXPECT_EQ(LoadPresetStoreFile(path_, settings, table).status, StoreStatus::kForeign);
        EXPECT_EQ(Update(path_, settings), StoreStatus::kForeign);
        EXPECT_EQ(ReadBytes(), foreign);
    }
}

// What cannot be read at start-up says why and is never written over: a
// FIFO (read without blocking), a folder, a file the user may not read.
TEST_F(PresetStoreFile, AStoreThatCannotBeReadSaysWhyAndStaysAsItIs) {
    ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);  // for "nobody"
    const auto stamp = [&] {
        struct stat info {};
        ::lstat(path_.c_str(), &info);
        return std::make_tuple(info.st_ino, info.st_mtim.tv_sec, info.st_mtim.tv_nsec);
    };
    for (const std::string reason :
         {" is not a regular file", " is a folder", ": Permission denied"}) {
        std::filesystem::remove_all(path_);
        const bool permission = reason[0] == ':';
        WriteBytes(ValidFile());
        ASSERT_EQ(permission ? ::chmod(path_.c_str(), 0222)
                             : ::unlink(path_.c_str()) |
                                   (reason == " is a folder" ? ::mkdir(path_.c_str(), 0777)
                                                             : ::mkfifo(path_.c_str(), 0666)),
                  0);
        const auto before = stamp();
        const auto check = [&] {
            StoredSettings settings;
            PresetTable table = MakePresetTable();
            const StoreResult read = LoadPresetStoreFile(path_, settings, table);
            return read.status == StoreStatus::kFailed && read.reason == path_ + reason &&
                   Update(path_) == StoreStatus::kFailed;
        };
        EXPECT_TRUE(InChild(permission, check)) << reason;
        EXPECT_EQ(stamp(), before) << reason;
    }
}

// A write that cannot finish leaves the old file byte for byte and nothing
// beside it: under a file-size limit, and on a full file system (a small
// tmpfs of a child's own; not tried where none may be mounted).
TEST_F(PresetStoreFile, AWriteThatCannotFinishLeavesTheOldFileByteForByte) {
    for (const bool fullDisk : {false, true}) {
        const auto check = [&] {
            if (fullDisk && (::unshare(CLONE_NEWNS) != 0 ||
                             ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                             ::mount("tmpfs", dir_.c_str(), "tmpfs", 0, "size=64k") != 0)) {
                return std::printf("not tried: a full file system\n") > 0;
            }
            WriteBytes(ValidFile());
            std::ofstream filler(dir_ + "/filler");
            while (fullDisk && filler.write(std::string(4096, 'x').data(), 4096).flush()) {
            }
            struct rlimit limit {};
            std::signal(SIGXFSZ, SIG_IGN);
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = fullDisk ? limit.rlim_cur : 100;
            return ::setrlimit(RLIMIT_FSIZE, &limit) == 0 &&
                   Update(path_) == StoreStatus::kFailed &&
                   std::distance(std::filesystem::directory_iterator(dir_), {}) == 2 &&
                   ReadBytes() == ValidFile();
        };
        EXPECT_TRUE(InChild(false, check)) << (fullDisk ? "full file system" : "file-size limit");
    }
}

// A link is written through to its target (made when missing); in a folder
// that may not be written, a file that may is rewritten in place, and a
// missing one cannot be made.
TEST_F(PresetStoreFile, ALinkIsWrittenThroughAndAClosedFolderRewritesInPlace) {
    ASSERT_EQ(::symlink("target.dat", path_.c_str()), 0);
    ASSERT_EQ(Update(path_, {640, 480, 0}), StoreStatus::kDone);
    EXPECT_TRUE(std::filesystem::is_symlink(path_));
    EXPECT_EQ(ReadBytes(dir_ + "/target.dat"), Bytes({640, 480, 0}, MakePresetTable()));

    ASSERT_EQ(::unlink(path_.c_str()), 0);
    WriteBytes(ValidFile());
    struct stat before {};
    ASSERT_EQ(
        ::stat(path_.c_str(), &before) | ::chmod(path_.c_str(), 0666) | ::chmod(dir_.c_str(), 0555),
        0);
    EXPECT_TRUE(InChild(true, [&] {
        return Update(path_, {640, 480, 0}) == StoreStatus::kDone &&
               Update(dir_ + "/new.dat") == StoreStatus::kFailed;
    }));
    struct stat after {};
    ASSERT_EQ(::stat(path_.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(ReadBytes(), Bytes({640, 480, 0}, ValidTable()));
}

}  // namespace
}  // namespace corvanta

namespace corvanta {
namespace {

// A program folder, the user's configuration folder and the folder an
// installed program would run from, all inside one temporary folder.
class PresetStorePlace : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/corvanta-place-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
        places_.programDirectory = root_ + "/portable/";
        places_.installedProgramDirectory = root_ + "/usr/bin/";
        places_.configDirectory = root_ + "/home/.config";
        ASSERT_EQ(::mkdir(places_.programDirectory.c_str(), 0755), 0);
        ASSERT_EQ(std::system(("mkdir -p " + places_.installedProgramDirectory).c_str()), 0);
        ::chmod(root_.c_str(), 0755);  // the unprivileged run below must reach into it
    }
    void TearDown() override {
        ::chmod(places_.programDirectory.c_str(), 0755);
        ASSERT_EQ(std::system(("rm -rf " + root_).c_str()), 0);
    }
    std::string Beside() const { return places_.programDirectory + kPresetStoreFileName; }
    std::string InConfig() const {
        return places_.configDirectory + "/corvanta/" + kPresetStoreFileName;
    }

    // PresetStorePath as a user who may not write the program folder: as
    // root, run by the unprivileged "nobody" in a child process.
    std::string PathAsAnotherUser() const {
        if (::geteuid() != 0) {
            return PresetStorePath(places_);
        }
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) {
            return "pipe failed";
        }
        const pid_t child = ::fork();
        if (child == 0) {
            constexpr uid_t kNobody = 65534;
            if (::setresgid(kNobody, kNobody, kNobody) != 0 ||
                ::setresuid(kNobody, kNobody, kNobody) != 0) {
                ::_exit(1);
            }
            const std::string path = PresetStorePath(places_);
            const bool sent =
                ::write(pipeFds[1], path.data(), path.size()) == static_cast<ssize_t>(path.size());
            ::_exit(sent ? 0 : 1);
        }
        ::close(pipeFds[1]);
        std::string path;
        char buffer[256];
        for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
            path.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(pipeFds[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? path : "child failed";
    }

    std::string root_;
    PresetStorePlaces places_;
};

TEST_F(PresetStorePlace, APortableCopyKeepsItsFileBesideItself) {
    EXPECT_EQ(PresetStorePath(places_), Beside());  // a folder the user may write
    // A file already there wins, even in a folder the user may not write,
    // and even when the configuration folder has one too.
    ASSERT_EQ(Update(Beside()), StoreStatus::kDone);
    ASSERT_EQ(Update(InConfig()), StoreStatus::kDone);
    ASSERT_EQ(::chmod(places_.programDirectory.c_str(), 0555), 0);
    EXPECT_EQ(PathAsAnotherUser(), Beside());
}

TEST_F(PresetStorePlace, AnInstalledProgramKeepsItInTheUsersConfigurationFolder) {
    // A folder the user may not write.
    ASSERT_EQ(::chmod(places_.programDirectory.c_str(), 0555), 0);
    EXPECT_EQ(PathAsAnotherUser(), InConfig());
    // The installed programs' folder, even for root, who may write it.
    PresetStorePlaces installed = places_;
    installed.programDirectory = places_.installedProgramDirectory;
    EXPECT_EQ(PresetStorePath(installed), InConfig());

    // Nothing there yet: reading changes nothing; the first save makes the
    // folders, and the next start reads what it wrote.
    StoredSettings settings;
    PresetTable table = MakePresetTable();
    EXPECT_EQ(LoadPresetStoreFile(InConfig(), settings, table).status, StoreStatus::kMissing);
    settings.maxWidth = 640;
    table.rows[kFirstUserPresetRow].slots[4] = 0xFF123456;
    PresetStoreChange change = SettingsChange(settings);
    change.userPresets[0] = table.rows[kFirstUserPresetRow].slots;
    ASSERT_EQ(UpdatePresetStoreFile(InConfig(), change).status, StoreStatus::kDone);
    StoredSettings read;
    PresetTable readTable = MakePresetTable();
    ASSERT_EQ(LoadPresetStoreFile(InConfig(), read, readTable).status, StoreStatus::kDone);
    EXPECT_EQ(read.maxWidth, 640);
    EXPECT_EQ(readTable.rows[kFirstUserPresetRow].slots, table.rows[kFirstUserPresetRow].slots);
    EXPECT_EQ(::access(Beside().c_str(), F_OK), -1);  // nothing beside the program
}

// A relative XDG_CONFIG_HOME would put the file under the folder the
// program happens to start in: it is ignored, as the XDG rules say.
TEST_F(PresetStorePlace, ARelativeConfigHomeIsIgnored) {
    EXPECT_TRUE(InChild(false, [] {
        ::setenv("HOME", "/home/someone", 1);
        bool ignored = true;
        for (const char* relative : {"relcfg", "./relcfg", ""}) {
            ::setenv("XDG_CONFIG_HOME", relative, 1);
            ignored = ignored && UserConfigDirectory() == "/home/someone/.config";
        }
        ::setenv("XDG_CONFIG_HOME", "/elsewhere", 1);
        return ignored && UserConfigDirectory() == "/elsewhere";
    }));
}

// ---- the output folder's key file ---------------------------------------------------

TEST_F(PresetStoreFile, TheOutputFolderRoundTripsBesideTheStoreKeepingOtherKeysAndForeignFiles) {
    const std::string keys = FolderKeyFilePath(path_);
    EXPECT_EQ(keys, dir_ + "/Corvanta.ini");
    EXPECT_EQ(ReadRememberedFolder(keys), std::nullopt);

    // Only the folder changes: the key file is written, the store is not made.
    PresetStoreChange folderOnly;
    folderOnly.outputFolder = "/srv/Bilder m\u00fcde/";
    EXPECT_EQ(UpdatePresetStoreFile(path_, folderOnly).status, StoreStatus::kDone);
    EXPECT_EQ(ReadRememberedFolder(keys), "/srv/Bilder m\u00fcde/");
    EXPECT_FALSE(std::filesystem::exists(path_));

    // Another program's keys stay; the store beside it keeps its 496 bytes.
    WriteBytes({'#', ' ', 'n', '\n', '[', 'O', 't', 'h', 'e', 'r', ']', '\n', 'a', '=', '1', '\n'},
               keys);
    WriteBytes(ValidFile());
    PresetStoreChange both = SettingsChange({800, 600, 1});
    both.outputFolder = "/out/";
    EXPECT_EQ(UpdatePresetStoreFile(path_, both).status, StoreStatus::kDone);
    EXPECT_EQ(ReadRememberedFolder(keys), "/out/");
    const std::vector<std::uint8_t> text = ReadBytes(keys);
    EXPECT_NE(std::string(text.begin(), text.end()).find("[Other]\na=1"), std::string::npos);
    EXPECT_EQ(ReadBytes().size(), kPresetStoreSize);

    // A file that is no key file is never written over.
    const std::vector<std::uint8_t> junk{0xFF, 0x00, '[', '[', '\n', 0x80};
    WriteBytes(junk, keys);
    EXPECT_EQ(ReadRememberedFolder(keys), std::nullopt);
    EXPECT_EQ(UpdatePresetStoreFile(path_, folderOnly).status, StoreStatus::kFailed);
    EXPECT_EQ(ReadBytes(keys), junk);
}

}  // namespace
}  // namespace corvanta
