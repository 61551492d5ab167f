// Schemes as one line of text on the CLIPBOARD selection: a right click on
// the info icon copies the current scheme, Ctrl+9 pastes one after asking.
#pragma once

#include <memory>

#include <gtk/gtk.h>

#include "common/i18n.h"
#include "ui/lifetime.h"
#include "ui/scheme_model.h"

namespace corvanta {

constexpr const char* kPasteTitle = N_("Clipboard data");
constexpr const char* kPasteQuestion = N_("Paste from clipboard ?");

// The clipboard exchange's part of the program.
struct ClipboardExchange {
    ClipboardExchange() = default;
    ClipboardExchange(const ClipboardExchange&) = delete;
    ClipboardExchange& operator=(const ClipboardExchange&) = delete;

    SchemeModel* model = nullptr;
    GtkWidget* window = nullptr;  // whose display's clipboard is used; none: the default display
    // A paste waits for the clipboard's owner or for the user.
    bool pasteInProgress = false;
    // An answer arriving after the exchange is gone finds it over.
    Lifetime<ClipboardExchange> lifetime{this};
};

// Puts "!dd " and the nine slots on the clipboard and hands the text to the
// clipboard manager, so that it stays available after the program ends.
void CopySchemeToClipboard(ClipboardExchange& exchange);

// Asks the clipboard's owner for its text and returns at once; when the text
// arrives and holds exactly nine "0x" items, asks "Paste from clipboard ?"
// and on Yes makes them the current scheme. The selected slot and the
// preset list's selection stay. While one paste is under way (waiting for
// the owner or for the answer) a second request is ignored.
void PasteSchemeFromClipboard(ClipboardExchange& exchange);

}  // namespace corvanta
