#include "app/handler_seams.h"

namespace corvanta {

void HandleFileDrop(AppState&, const std::vector<std::string>&) {}
void ChooseOutputFolder(AppState&) {}
void RequestStop(AppState&) {}
bool WorkerAlive(const AppState&) {
    return false;
}

void StoreUserPreset(AppState&, int) {}
void LoadPresetStore(AppState&) {}
void SavePresetStore(AppState&) {}

void CopySchemeToClipboard(AppState&) {}
void PasteSchemeFromClipboard(AppState&) {}

void ShowHelpWindow(AppState&) {}
void ShowCreditsWindow(AppState&) {}

}  // namespace corvanta
