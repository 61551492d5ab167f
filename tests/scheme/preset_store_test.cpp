#include "scheme/preset_store.h"

#include <sys/stat.h>
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
