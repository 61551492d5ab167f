#include "ui/clipboard_exchange.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "scheme/scheme_text.h"
#include "ui/confirm_dialog.h"

namespace corvanta {
namespace {

// Travels through the clipboard request. The exchange may be gone by the
// time the owner answers (the window closed meanwhile); the token tells.
struct PasteRequest {
    Watch<ClipboardExchange> owner;
};

GtkClipboard* SchemeClipboard(const ClipboardExchange& exchange) {
    GdkDisplay* display = exchange.window != nullptr ? gtk_widget_get_display(exchange.window)
                                                     : gdk_display_get_default();
    return gtk_clipboard_get_for_display(display, GDK_SELECTION_CLIPBOARD);
}

void PasteText(ClipboardExchange& exchange, std::string_view text) {
    // The parser counts the markers in one pass and stops at a tenth, so a
    // megabyte of text costs one scan and no copy.
    const std::optional<ColorScheme> pasted = ParseSchemeText(text);
    if (!pasted) {
        return;
    }
    if (!AskYesNo(_(kPasteTitle), _(kPasteQuestion))) {
        return;
    }
    exchange.model->Replace(*pasted);
}

void OnClipboardText(GtkClipboard*, const gchar* text, gpointer data) {
    const std::unique_ptr<PasteRequest> request(static_cast<PasteRequest*>(data));
    ClipboardExchange* owner = Alive(request->owner);
    if (owner == nullptr) {
        return;
    }
    ClipboardExchange& exchange = *owner;
    // No text (an empty clipboard, pictures, an owner that never answered)
    // counts as the empty text.
    PasteText(exchange, text != nullptr ? std::string_view(text) : std::string_view());
    exchange.pasteInProgress = false;
}

}  // namespace

void CopySchemeToClipboard(ClipboardExchange& exchange) {
    GtkClipboard* clipboard = SchemeClipboard(exchange);
    const std::string text = FormatSchemeText(exchange.model->Scheme());
    gtk_clipboard_set_text(clipboard, text.c_str(), -1);
    // Every target may be stored; the manager keeps the text after we exit.
    gtk_clipboard_set_can_store(clipboard, nullptr, 0);
    gtk_clipboard_store(clipboard);
}

void PasteSchemeFromClipboard(ClipboardExchange& exchange) {
    if (exchange.pasteInProgress) {
        return;
    }
    // Asked without waiting: a slow or stuck owner never holds up the
    // window thread, and GTK gives up on an owner that stops answering.
    auto request = std::make_unique<PasteRequest>();
    request->owner = exchange.lifetime.Watch();
    exchange.pasteInProgress = true;
    gtk_clipboard_request_text(SchemeClipboard(exchange), OnClipboardText, request.release());
}

}  // namespace corvanta
