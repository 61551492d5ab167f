#include "app/app_state.h"

namespace corvanta {

void RebuildGradientTable(AppState& state) {
    // The worker maps with the shared table; the preview keeps a copy of the
    // same table, so both always show the same scheme.
    state.sharedGradient.Rebuild(&state.scheme);
    state.sharedGradient.Snapshot(state.gradient);
}

const GradientTable& CurrentGradient(const AppState& state) {
    return state.gradient;
}

}  // namespace corvanta
