// The cost of one scheme change in the running window: rebuilding the
// gradient table and refreshing the preview, alone and as the preset list
// does it (with the fields and the swatch row). Needs a display:
//   xvfb-run -a build/bench/corvanta_window_bench
#include <benchmark/benchmark.h>
#include <gtk/gtk.h>

#include "app/program.h"
#include "ui/preview_image.h"
#include "ui/scheme_editor.h"

namespace corvanta {
namespace {

AppState& Window() {
    static std::unique_ptr<AppState> state = StartProgram("corvanta");
    return *state;
}

void BM_RebuildAndRefreshPreview(benchmark::State& run) {
    AppState& state = Window();
    const PresetTable presets = MakePresetTable();
    int row = 2;
    for (auto _ : run) {
        state.scheme.Replace(presets.rows[static_cast<std::size_t>(row)].slots);
        row = row == 19 ? 2 : row + 1;
    }
}
BENCHMARK(BM_RebuildAndRefreshPreview);

void BM_ApplySelectedPreset(benchmark::State& run) {
    AppState& state = Window();
    GtkTreeSelection* selection =
        gtk_tree_view_get_selection(GTK_TREE_VIEW(state.widgets.presetList));
    int row = 2;
    for (auto _ : run) {
        GtkTreePath* path = gtk_tree_path_new_from_indices(row, -1);
        gtk_tree_selection_select_path(selection, path);  // the list's own event applies it
        gtk_tree_path_free(path);
        row = row == 19 ? 2 : row + 1;
    }
}
BENCHMARK(BM_ApplySelectedPreset);

}  // namespace
}  // namespace corvanta

int main(int argc, char** argv) {
    if (!gtk_init_check(&argc, &argv)) {
        return 1;  // no display
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
