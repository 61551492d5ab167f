#include "scheme/preset_store.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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
        ::chmod(dir_.c_str(), 0755);
        std::remove(path_.c_str());
        ::rmdir(dir_.c_str());
    }
    void WriteBytes(const std::vector<std::uint8_t>& bytes) {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    std::vector<std::uint8_t> ReadBytes() {
        std::ifstream in(path_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::string dir_;
    std::string path_;
};

std::vector<std::uint8_t> ValidFile() {
    PresetTable table = MakePresetTable();
    table.rows[23].slots = {0xFF000000, 0, 0, 0, 0xFF008D00, 0, 0, 0, 0xFFFFFFFF};
    const StoredSettings settings{1920, -5, 0};
    const auto bytes = SerializePresetStore(settings, table);
    return {bytes.begin(), bytes.end()};
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
    EXPECT_FALSE(LoadPresetStoreFile(path_, settings, table));  // no file yet
    EXPECT_EQ(settings.maxWidth, 8192);

    settings = {0, 640, 0};
    table.rows[25].slots = {0, 0xFF0000FF, 0, 0x11223344, 0, 0, 0, 0, 0};
    table.rows[25].name[0] = '\0';  // odd names travel through unchanged
    table.rows[25].name[1] = static_cast<char>(0xE9);
    ASSERT_TRUE(SavePresetStoreFile(path_, settings, table));
    EXPECT_EQ(ReadBytes().size(), 496u);

    StoredSettings loaded;
    PresetTable reloaded = MakePresetTable();
    ASSERT_TRUE(LoadPresetStoreFile(path_, loaded, reloaded));
    EXPECT_EQ(loaded.maxWidth, 0);
    EXPECT_EQ(loaded.maxHeight, 640);
    EXPECT_EQ(loaded.qualityIndex, 0);
    EXPECT_EQ(reloaded.rows[25].slots, table.rows[25].slots);
    EXPECT_EQ(reloaded.rows[25].name, table.rows[25].name);
    EXPECT_EQ(reloaded.rows[0].slots, MakePresetTable().rows[0].slots);  // built-ins untouched
}

TEST_F(PresetStoreFile, EmptyAndLongerFilesAreRewrittenToExactly496Bytes) {
    WriteBytes({});
    StoredSettings settings;
    PresetTable table = MakePresetTable();
    EXPECT_FALSE(LoadPresetStoreFile(path_, settings, table));
    ASSERT_TRUE(SavePresetStoreFile(path_, settings, table));
    EXPECT_EQ(ReadBytes().size(), 496u);

    std::vector<std::uint8_t> longer = ValidFile();
    longer.resize(4000, 0x5A);
    WriteBytes(longer);
    ASSERT_TRUE(LoadPresetStoreFile(path_, settings, table));
    EXPECT_EQ(settings.maxWidth, 1920);
    ASSERT_TRUE(SavePresetStoreFile(path_, settings, table));
    const std::vector<std::uint8_t> saved = ReadBytes();
    EXPECT_EQ(saved, ValidFile());
}

TEST_F(PresetStoreFile, ForeignFilesAreNeverReadNorOverwritten) {
    for (const std::vector<std::uint8_t>& foreign :
         {std::vector<std::uint8_t>{'n', 'o', 't', ' ', 'o', 'u', 'r', 's'},
          std::vector<std::uint8_t>{'C', 'V'}}) {
        WriteBytes(foreign);
        StoredSettings settings;
        PresetTable table = MakePresetTable();
        EXPECT_FALSE(LoadPresetStoreFile(path_, settings, table));
        EXPECT_FALSE(SavePresetStoreFile(path_, settings, table));
        EXPECT_EQ(ReadBytes(), foreign);
    }
}

TEST_F(PresetStoreFile, NonRegularFilesAndUnwritableFoldersFailQuietly) {
    ASSERT_EQ(::mkfifo(path_.c_str(), 0644), 0);
    StoredSettings settings;
    PresetTable table = MakePresetTable();
    EXPECT_FALSE(LoadPresetStoreFile(path_, settings, table));  // must not block on the FIFO
    EXPECT_FALSE(SavePresetStoreFile(path_, settings, table));
    std::remove(path_.c_str());

    if (::geteuid() != 0) {  // root may write anywhere
        ASSERT_EQ(::chmod(dir_.c_str(), 0555), 0);
        EXPECT_FALSE(SavePresetStoreFile(path_, settings, table));
    }
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
            const bool sent = ::write(pipeFds[1], path.data(), path.size()) ==
                              static_cast<ssize_t>(path.size());
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
    ASSERT_TRUE(SavePresetStoreFile(Beside(), StoredSettings{}, MakePresetTable()));
    ASSERT_TRUE(SavePresetStoreFile(InConfig(), StoredSettings{}, MakePresetTable()));
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
    EXPECT_FALSE(LoadPresetStoreFile(InConfig(), settings, table));
    settings.maxWidth = 640;
    table.rows[kFirstUserPresetRow].slots[4] = 0xFF123456;
    ASSERT_TRUE(SavePresetStoreFile(InConfig(), settings, table));
    StoredSettings read;
    PresetTable readTable = MakePresetTable();
    ASSERT_TRUE(LoadPresetStoreFile(InConfig(), read, readTable));
    EXPECT_EQ(read.maxWidth, 640);
    EXPECT_EQ(readTable.rows[kFirstUserPresetRow].slots, table.rows[kFirstUserPresetRow].slots);
    EXPECT_EQ(::access(Beside().c_str(), F_OK), -1);  // nothing beside the program
}

}  // namespace
}  // namespace corvanta
