// The clipboard exchange against a real second X client: xclip reads what
// the window copied and offers the texts the window pastes.
#include <string>

#include "app/routing.h"
#include "dialog_answerer.h"
#include "gui_harness.h"
#include "scheme/scheme_text.h"
#include "ui/clipboard_exchange.h"
#include "ui/scheme_editor.h"
#include "x_clients.h"

namespace corvanta::testing {
namespace {

std::string EntryText(GtkWidget* entry) {
    return gtk_entry_get_text(GTK_ENTRY(entry));
}

class ClipboardTest : public MainWindowTest {
  protected:
    // Ctrl+9 with the answer given; returns how many dialogs were shown.
    std::size_t Paste(GtkResponseType answer = GTK_RESPONSE_YES) {
        DialogAnswerer answerer("Clipboard data", answer);
        RouteShortcut(State(), kShortcutPaste);
        EXPECT_TRUE(PumpUntil([&] { return !State().clipboard.pasteInProgress; }, 30000));
        for (const DialogAnswerer::Seen& seen : answerer.Answered()) {
            EXPECT_EQ(seen.text, "Paste from clipboard ?");
            EXPECT_EQ(seen.type, GTK_MESSAGE_INFO);
            EXPECT_TRUE(seen.modal);
            EXPECT_FALSE(seen.hasParent);
        }
        return answerer.Answered().size();
    }
    // The paste must leave the scheme exactly as it was.
    void ExpectIgnored(const std::string& text) {
        OfferClipboard(text, dir_.Path());
        const ColorScheme before = Scheme();
        EXPECT_EQ(Paste(), 0u) << text.substr(0, 60);
        EXPECT_EQ(Scheme(), before);
    }

    TempDir dir_;
};

TEST_F(ClipboardTest, AnotherClientReadsTheCopiedLine) {
    Model().Replace({});
    CopySchemeToClipboard(State().clipboard);
    const std::string empty = ReadClipboard();
    EXPECT_EQ(empty.size(), 102u);
    EXPECT_EQ(empty,
              "!dd 0x00000000,0x00000000,0x00000000,0x00000000,0x00000000,0x00000000,"
              "0x00000000,0x00000000,0x00000000");
    // Every bit of every slot, alpha included, in lower case.
    Model().Replace(
        {0xFF000000, 0x00ABCDEF, 0x80FFFFFF, 0x1, 0, 0xFFFFFFFF, 0x7F00FF00, 0xDEADBEEF, 0x10});
    CopySchemeToClipboard(State().clipboard);
    EXPECT_EQ(ReadClipboard(),
              "!dd 0xff000000,0x00abcdef,0x80ffffff,0x00000001,0x00000000,0xffffffff,"
              "0x7f00ff00,0xdeadbeef,0x00000010");
}

TEST_F(ClipboardTest, CopyThenPasteRestoresEverySlotAndKeepsTheSelections) {
    const ColorScheme copied{0xFF000000, 0x00ABCDEF, 0x80FFFFFF, 0x1,       0,
                             0xFFFFFFFF, 0x7F00FF00, 0xDEADBEEF, 0xFF336699};
    Model().Replace(copied);
    CopySchemeToClipboard(State().clipboard);
    // Something else in the editor meanwhile: another slot, emptied colours.
    Model().Replace({});
    Model().SelectSlot(8);
    EXPECT_EQ(Paste(GTK_RESPONSE_NO), 1u);
    EXPECT_EQ(Scheme(), ColorScheme{});
    EXPECT_EQ(Paste(GTK_RESPONSE_DELETE_EVENT), 1u);
    EXPECT_EQ(Scheme(), ColorScheme{});

    EXPECT_EQ(Paste(), 1u);
    EXPECT_EQ(Scheme(), copied);
    EXPECT_EQ(Model().SelectedSlot(), 8);
    EXPECT_EQ(EntryText(Widgets().redField), "153");  // slot 8: 0xFF336699
    EXPECT_EQ(EntryText(Widgets().greenField), "102");
    EXPECT_EQ(EntryText(Widgets().blueField), "51");
    EXPECT_EQ(PixelAt(Widgets().swatchRow, 19 * 8 + 8, 10), (Rgb{153, 102, 51}));
    GradientTable want{};
    BuildGradientTable(&copied, want);
    EXPECT_EQ(Model().Table(), want);
    GtkTreeModel* model = nullptr;
    GtkTreeIter iter;
    ASSERT_TRUE(gtk_tree_selection_get_selected(
        gtk_tree_view_get_selection(GTK_TREE_VIEW(Widgets().presetList)), &model, &iter));
    GtkTreePath* path = gtk_tree_model_get_path(model, &iter);
    EXPECT_EQ(gtk_tree_path_get_indices(path)[0], 0);  // still "Gray"
    gtk_tree_path_free(path);
}

TEST_F(ClipboardTest, ItemsAreFoundInsideProseAndShortItemsReadWhatIsThere) {
    OfferClipboard(
        "My scheme:\n0xFF0000FF 0xFF00FF00\n  0xFFFF0000, then 0x12345678 and 0xAbCdEf01\n"
        "0x00000000 0xff, 0xZZ 0x7fffffff99 -- end",
        dir_.Path());
    EXPECT_EQ(Paste(), 1u);
    EXPECT_EQ(Scheme(), (ColorScheme{0xFF0000FF, 0xFF00FF00, 0xFFFF0000, 0x12345678, 0xABCDEF01, 0,
                                     0xFF, 0, 0x7FFFFFFF}));
}

TEST_F(ClipboardTest, TextsWithoutExactlyNineItemsAreIgnoredWithoutAQuestion) {
    const std::string nine = FormatSchemeText(MakePresetTable().rows[5].slots);
    ExpectIgnored(nine + ",0x00000000");
    std::string upper = nine;
    for (char& c : upper) {
        c = c == 'x' ? 'X' : c;
    }
    ExpectIgnored(upper);
    ExpectIgnored("0x1 0x2 0x3 0x4 0x5 0x6 0x7 0x8");
    ExpectIgnored("");
    // Not text at all: a picture's bytes under an image target only.
    OfferClipboard(nine, dir_.Path(), "image/png");
    const ColorScheme before = Scheme();
    EXPECT_EQ(Paste(), 0u);
    EXPECT_EQ(Scheme(), before);
}

TEST_F(ClipboardTest, AMegabyteOfTextIsReadInFull) {
    // Nine items spread over a megabyte, the last near its very end.
    std::string text(1 << 20, 'a');
    for (int k = 0; k < 9; ++k) {
        const std::size_t at = k == 8 ? text.size() - 12 : static_cast<std::size_t>(k) * 120000;
        text.replace(at, 10, "0x0000000" + std::to_string(k + 1));
    }
    OfferClipboard(text, dir_.Path());
    EXPECT_EQ(Paste(), 1u);
    EXPECT_EQ(Scheme(), (ColorScheme{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    // A megabyte of items is no scheme.
    std::string many;
    while (many.size() < (1u << 20)) {
        many += "0xffffffff,";
    }
    ExpectIgnored(many);
}

TEST_F(ClipboardTest, ASecondCtrl9WhileTheFirstWaitsIsIgnored) {
    OfferClipboard(FormatSchemeText(MakePresetTable().rows[7].slots), dir_.Path());
    DialogAnswerer yes("Clipboard data", GTK_RESPONSE_YES);
    RouteShortcut(State(), kShortcutPaste);
    RouteShortcut(State(), kShortcutPaste);
    EXPECT_TRUE(PumpUntil([&] { return !State().clipboard.pasteInProgress; }, 30000));
    PumpFor(200);
    EXPECT_EQ(yes.Answered().size(), 1u);
    EXPECT_EQ(Scheme(), MakePresetTable().rows[7].slots);
}

}  // namespace
}  // namespace corvanta::testing
