#include "app/app_state.h"

namespace corvanta {

void RebuildGradientTable(AppState& state) {
    BuildGradientTable(&state.scheme, state.gradient);
}

const GradientTable& CurrentGradient(const AppState& state) {
    return state.gradient;
}

}  // namespace corvanta
