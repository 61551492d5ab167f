#include "ui/clipboard_exchange.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "scheme/scheme_text.h"
#include "ui/confirm_dialog.h"
#include "ui/preview_image.h"
#include "ui/scheme_editor.h"

namespace corvanta {
namespace {

// Travels through the clipboard request. The state may be gone by the time
// the owner answers (the window closed meanwhile); the token tells.
struct PasteRequest {
    std::weak_ptr<AppState*> owner;
};

GtkClipboard* SchemeClipboard(const AppState& state) {
    GdkDisplay* display = state.widgets.mainWindow != nullptr
                              ? gtk_widget_get_display(state.widgets.mainWindow)
                              : gdk_display_get_default();
    return gtk_clipboard_get_for_display(display, GDK_SELECTION_CLIPBOARD);
}

void PasteText(AppState& state, std::string_view text) {
    // The parser counts the markers in one pass and stops at a tenth, so a
    // megabyte of text costs one scan and no copy.
    const std::optional<ColorScheme> pasted = ParseSchemeText(text);
    if (!pasted) {
        return;
    }
    if (!AskYesNo(kPasteTitle, kPasteQuestion)) {
        return;
    }
    state.scheme = *pasted;
    RebuildGradientTable(state);
    ShowSlotComponents(state);
    DrawSwatchRow(state);
    RefreshPreview(state);
}

void OnClipboardText(GtkClipboard*, const gchar* text, gpointer data) {
    const std::unique_ptr<PasteRequest> request(static_cast<PasteRequest*>(data));
    const std::shared_ptr<AppState*> owner = request->owner.lock();
    if (!owner || *owner == nullptr) {
        return;
    }
    AppState& state = **owner;
    // No text (an empty clipboard, pictures, an owner that never answered)
    // counts as the empty text.
    PasteText(state, text != nullptr ? std::string_view(text) : std::string_view());
    state.pasteInProgress = false;
}

}  // namespace

void CopySchemeToClipboard(AppState& state) {
    GtkClipboard* clipboard = SchemeClipboard(state);
    const std::string text = FormatSchemeText(state.scheme);
    gtk_clipboard_set_text(clipboard, text.c_str(), -1);
    // Every target may be stored; the manager keeps the text after we exit.
    gtk_clipboard_set_can_store(clipboard, nullptr, 0);
    gtk_clipboard_store(clipboard);
}

void PasteSchemeFromClipboard(AppState& state) {
    if (state.pasteInProgress) {
        return;
    }
    // Asked without waiting: a slow or stuck owner never holds up the
    // window thread, and GTK gives up on an owner that stops answering.
    auto request = std::make_unique<PasteRequest>();
    request->owner = state.aliveToken;
    state.pasteInProgress = true;
    gtk_clipboard_request_text(SchemeClipboard(state), OnClipboardText, request.release());
}

}  // namespace corvanta
