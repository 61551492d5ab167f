#include "app/handler_seams.h"

namespace corvanta {

void StoreUserPreset(AppState&, int) {}
void LoadPresetStore(AppState&) {}
void SavePresetStore(AppState&) {}

void CopySchemeToClipboard(AppState&) {}
void PasteSchemeFromClipboard(AppState&) {}

void ShowHelpWindow(AppState&) {}
void ShowCreditsWindow(AppState&) {}

}  // namespace corvanta
