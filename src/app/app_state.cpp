#include "app/app_state.h"

namespace corvanta {

AppState::AppState() : aliveToken(std::make_shared<AppState*>(this)) {}

void ConnectParts(AppState& state) {
    MainWidgets& w = state.widgets;
    state.editor.widgets = {&w.swatchRow, &w.paletteCanvas, w.redField,
                            w.greenField, w.blueField,      w.presetList};
    state.editor.model = &state.scheme;
    state.preview.canvas = &w.previewCanvas;
    state.preview.table = &state.scheme.Table();
    state.preview.frame = state.images.previewFrame.get();
    state.preview.defaultPicture = state.images.defaultPreview.get();
    state.clipboard.model = &state.scheme;
    state.clipboard.window = w.mainWindow;
    state.output = {w.maxWidthField, w.maxHeightField, w.jpegQualityCombo};

    ConnectEditorViews(state.editor);
    state.scheme.AddView([&state](const SchemeModel&, const SchemeChange& change) {
        if (change.scheme) {
            RefreshPreview(state.preview);
        }
    });
}

}  // namespace corvanta
