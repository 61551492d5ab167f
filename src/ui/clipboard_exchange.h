// Schemes as one line of text on the CLIPBOARD selection: a right click on
// the info icon copies the current scheme, Ctrl+9 pastes one after asking.
#pragma once

#include "app/app_state.h"

namespace corvanta {

constexpr const char* kPasteTitle = "Clipboard data";
constexpr const char* kPasteQuestion = "Paste from clipboard ?";

// Puts "!dd " and the nine slots on the clipboard and hands the text to the
// clipboard manager, so that it stays available after the program ends.
void CopySchemeToClipboard(AppState& state);

// Asks the clipboard's owner for its text and returns at once; when the text
// arrives and holds exactly nine "0x" items, asks "Paste from clipboard ?"
// and on Yes makes them the current scheme. The selected slot and the
// preset list's selection stay. While one paste is under way (waiting for
// the owner or for the answer) a second request is ignored.
void PasteSchemeFromClipboard(AppState& state);

}  // namespace corvanta
