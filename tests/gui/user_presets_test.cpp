// Corvanta.dat as the window reads and writes it, and Ctrl+1 .. Ctrl+8.
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/routing.h"
#include "dialog_answerer.h"
#include "gui_harness.h"
#include "scheme/folder_key_file.h"
#include "scheme/preset_store.h"
#include "ui/user_presets.h"

namespace corvanta::testing {
namespace {

std::string EntryText(GtkWidget* entry) {
    return gtk_entry_get_text(GTK_ENTRY(entry));
}

std::vector<std::uint8_t> Bytes(const StoredSettings& settings, const PresetTable& table) {
    const auto bytes = SerializePresetStore(settings, table);
    return {bytes.begin(), bytes.end()};
}

bool Written(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::trunc);
    out << text;
    return out.good();
}

// A window whose preset store lives in a fresh temporary folder.
class UserPresetsTest : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        State().presetStore.path = StoreFile();
    }
    std::string StoreFile() const { return dir_.File(kPresetStoreFileName); }
    void Load() { LoadPresetStore(State().presetStore, State().output, Model().Presets()); }
    void Save() {
        SavePresetStore(State().presetStore, State().output);
        ASSERT_TRUE(WaitForPresetStore(State().presetStore, std::chrono::seconds(10)));
    }
    void WriteStore(const std::vector<std::uint8_t>& bytes) const {
        std::ofstream out(StoreFile(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    std::vector<std::uint8_t> ReadStore() const {
        std::ifstream in(StoreFile(), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::string ListName(int row) {
        GtkTreeModel* model = gtk_tree_view_get_model(GTK_TREE_VIEW(Widgets().presetList));
        GtkTreeIter iter;
        gchar* name = nullptr;
        if (gtk_tree_model_iter_nth_child(model, &iter, nullptr, row)) {
            gtk_tree_model_get(model, &iter, 0, &name, -1);
        }
        std::string copy = name != nullptr ? name : "";
        g_free(name);
        return copy;
    }
    int Quality() { return gtk_combo_box_get_active(GTK_COMBO_BOX(Widgets().jpegQualityCombo)); }

    TempDir dir_;
};

TEST_F(UserPresetsTest, LoadFillsTheFieldsSilentlyAndKeepsTheBuiltInNames) {
    PresetTable table = MakePresetTable();
    // Names a hand or another program may have left: zero bytes, bytes
    // above ASCII, no padding.
    table.rows[21].name.fill('\0');
    table.rows[22].name.fill('\xFF');
    table.rows[27].slots = {0xFF0000FF, 0, 0, 0, 0x12345678, 0, 0, 0, 0xFFFFFFFF};
    WriteStore(Bytes({-1, 100000, 7}, table));
    gtk_combo_box_set_active(GTK_COMBO_BOX(Widgets().jpegQualityCombo), 0);
    Load();
    EXPECT_EQ(EntryText(Widgets().maxWidthField), "-1");  // the digit filter did not see it
    // Wider than the five-character field: clamped, not cut to "10000".
    EXPECT_EQ(EntryText(Widgets().maxHeightField), "99999");
    EXPECT_EQ(Quality(), 1);  // anything but 0 is "High"
    EXPECT_EQ(Model().Presets().rows[27].slots, table.rows[27].slots);
    EXPECT_EQ(Model().Presets().rows[22].name, table.rows[22].name);
    for (int n = 1; n <= 8; ++n) {
        EXPECT_EQ(ListName(20 + n), "User preset " + std::to_string(n) + "           ");
    }
    EXPECT_EQ(ListName(0).substr(0, 4), "Gray");

    // The names go back to the file exactly as they came.
    Save();
    EXPECT_EQ(ReadStore(), Bytes({-1, 99999, 1}, table));
}

TEST_F(UserPresetsTest, QualityZeroIsMediumAndAnEmptiedFieldIsSavedAsZero) {
    WriteStore(Bytes({0, 640, 0}, MakePresetTable()));
    Load();
    EXPECT_EQ(EntryText(Widgets().maxWidthField), "0");
    EXPECT_EQ(EntryText(Widgets().maxHeightField), "640");
    EXPECT_EQ(Quality(), 0);
    gtk_entry_set_text(GTK_ENTRY(Widgets().maxHeightField), "");
    Save();
    EXPECT_EQ(ReadStore(), Bytes({0, 0, 0}, MakePresetTable()));
    EXPECT_EQ(SizeFieldTextFor(-2147483647 - 1), "-9999");
    EXPECT_EQ(SizeFieldTextFor(99999), "99999");
    EXPECT_EQ(QualityItemFor(-1), 1);
    EXPECT_EQ(StoredSizeOf("99999999999"), 2147483647);
    EXPECT_EQ(StoredSizeOf("-99999999999"), -2147483647 - 1);
}

TEST_F(UserPresetsTest, TheOutputFolderComesBackInTheNextRunAndAnUnchangedOneIsNotWritten) {
    const std::string keys = dir_.File("Corvanta.ini");
    gtk_entry_set_text(GTK_ENTRY(Widgets().outputFolderField), "/pictures/out/");
    Save();
    EXPECT_EQ(ReadRememberedFolder(keys), "/pictures/out/");
    EXPECT_EQ(ReadStore().size(), kPresetStoreSize);  // the store keeps its own format

    gtk_entry_set_text(GTK_ENTRY(Widgets().outputFolderField), "");
    Load();
    EXPECT_EQ(EntryText(Widgets().outputFolderField), "/pictures/out/");
    // Another window chose a folder meanwhile; this one changed nothing.
    ASSERT_TRUE(Written(keys, "[Output]\nFolder=/elsewhere/\n"));
    Save();
    EXPECT_EQ(ReadRememberedFolder(keys), "/elsewhere/");
}

TEST_F(UserPresetsTest, AMissingOrForeignFileChangesNothing) {
    Load();  // no file yet
    EXPECT_EQ(EntryText(Widgets().maxWidthField), "8192");
    const std::vector<std::uint8_t> foreign{'C', 'V', '1', '1', 1, 0, 0, 0};
    WriteStore(foreign);
    Load();
    Save();
    EXPECT_EQ(EntryText(Widgets().maxWidthField), "8192");
    EXPECT_EQ(Quality(), 1);
    EXPECT_EQ(ReadStore(), foreign);
}

TEST_F(UserPresetsTest, CtrlNAsksAndYesStoresTheSlotsOnly) {
    const ColorScheme scheme{0xFF0000FF, 0, 0x80FFFFFF, 0, 0, 0, 0, 0, 0x00000001};
    Model().Replace(scheme);
    Model().SelectSlot(2);
    const PresetTable before = Model().Presets();
    {
        DialogAnswerer no("User presets", GTK_RESPONSE_NO);
        RouteShortcut(State(), kShortcutFirstUserPreset + 4);  // Ctrl+5
        ASSERT_EQ(no.Answered().size(), 1u);
        EXPECT_EQ(no.Answered()[0].text, "Overwrite user preset 5 ?");
        EXPECT_EQ(no.Answered()[0].type, GTK_MESSAGE_INFO);
        EXPECT_TRUE(no.Answered()[0].modal);
        EXPECT_FALSE(no.Answered()[0].hasParent);
    }
    {
        DialogAnswerer closed("User presets", GTK_RESPONSE_DELETE_EVENT);
        StoreUserPreset(Model(), State().presetStore, 5);
        EXPECT_EQ(closed.Answered().size(), 1u);
    }
    EXPECT_EQ(std::memcmp(&Model().Presets(), &before, sizeof before), 0);

    {
        DialogAnswerer yes("User presets", GTK_RESPONSE_YES);
        RouteShortcut(State(), kShortcutFirstUserPreset + 2);  // Ctrl+3
        ASSERT_EQ(yes.Answered().size(), 1u);
        EXPECT_EQ(yes.Answered()[0].text, "Overwrite user preset 3 ?");
    }
    EXPECT_EQ(Model().Presets().rows[23].slots, scheme);
    EXPECT_EQ(Model().Presets().rows[23].name, before.rows[23].name);
    PresetTable want = MakePresetTable();
    want.rows[23].slots = scheme;
    // In the file at once, not only at the close.
    EXPECT_TRUE(PumpUntil([&] { return ReadStore() == Bytes({8192, 8192, 1}, want); }));
    EXPECT_EQ(Scheme(), scheme);
    EXPECT_EQ(Model().SelectedSlot(), 2);
    EXPECT_EQ(ListName(23), "User preset 3           ");
    for (int row = 0; row < kPresetRows; ++row) {
        if (row != 23) {
            EXPECT_EQ(Model().Presets().rows[row].slots, before.rows[row].slots) << row;
        }
    }

    // Choosing the row applies the stored colours, empty slots included.
    Model().Replace(MakePresetTable().rows[0].slots);
    GtkTreePath* path = gtk_tree_path_new_from_indices(23, -1);
    gtk_tree_selection_select_path(gtk_tree_view_get_selection(GTK_TREE_VIEW(Widgets().presetList)),
                                   path);
    gtk_tree_path_free(path);
    EXPECT_EQ(Scheme(), scheme);
    EXPECT_EQ(PixelAt(Widgets().swatchRow, 8, 10), (Rgb{255, 0, 0}));
    EXPECT_EQ(PixelAt(Widgets().swatchRow, 19 * 2 + 8, 10), (Rgb{255, 255, 255}));
    EXPECT_EQ(PixelAt(Widgets().swatchRow, 19 * 1 + 2, 4), (Rgb{176, 176, 176}));  // a cross
    EXPECT_EQ(PixelAt(Widgets().swatchRow, 19 * 8 + 2, 4), (Rgb{176, 176, 176}));  // alpha 0

    gtk_entry_set_text(GTK_ENTRY(Widgets().maxWidthField), "640");
    Save();
    EXPECT_EQ(ReadStore(), Bytes({640, 8192, 1}, want));
}

// A write that is refused (another kind of file under the name) is said
// once per run, in a message box like the others, and the file stays.
TEST_F(UserPresetsTest, ARefusedWriteIsSaidOnceAndTheFileStays) {
    const std::vector<std::uint8_t> foreign{'n', 'o', 't', ' ', 'o', 'u', 'r', 's'};
    WriteStore(foreign);
    DialogAnswerer answerer("User presets", GTK_RESPONSE_YES);  // OK for the notice
    Load();
    for (int shortcut : {0, 1}) {
        RouteShortcut(State(), kShortcutFirstUserPreset + shortcut);  // Ctrl+1, Ctrl+2
        PumpFor(300);
    }
    Save();
    PumpFor(200);
    ASSERT_EQ(answerer.Answered().size(), 3u);
    const DialogAnswerer::Seen& notice = answerer.Answered()[1];
    EXPECT_EQ(notice.text,
              "Presets will not be saved: " + StoreFile() + " is not a Corvanta preset file");
    EXPECT_EQ(notice.type, GTK_MESSAGE_INFO);
    EXPECT_FALSE(notice.hasParent);
    EXPECT_EQ(ReadStore(), foreign);
}

}  // namespace
}  // namespace corvanta::testing
