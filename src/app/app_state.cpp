#include "app/app_state.h"

#include <utility>

#include "app/accessible_names.h"
#include "app/main_window.h"

namespace corvanta {

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
    state.output = {w.maxWidthField, w.maxHeightField, w.jpegQualityCombo, w.outputFolderField};
    BatchWidgets batch;
    batch.window = w.mainWindow;
    batch.log = GTK_TEXT_VIEW(w.progressLog);
    batch.dropHint = w.dropHint.area;
    batch.stopButton = w.stopButton;
    batch.thumbnail = &w.thumbnailCanvas;
    batch.outputFolder = GTK_ENTRY(w.outputFolderField);
    batch.maxWidth = GTK_ENTRY(w.maxWidthField);
    batch.maxHeight = GTK_ENTRY(w.maxHeightField);
    batch.quality = GTK_COMBO_BOX(w.jpegQualityCombo);
    batch.showBatchLayout = [&w](bool on) { SetBatchLayout(w, on); };
    state.batch.Connect(std::move(batch), state.scheme.Shared());

    ConnectEditorViews(state.editor);
    state.scheme.AddView(
        [&w](const SchemeModel& model, const SchemeChange&) { DescribeScheme(w, model); });
    state.scheme.AddView([&state](const SchemeModel&, const SchemeChange& change) {
        if (change.scheme) {
            RefreshPreview(state.preview);
        }
    });
}

}  // namespace corvanta
