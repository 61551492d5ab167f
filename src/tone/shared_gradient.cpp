#include "tone/shared_gradient.h"

#include <utility>

namespace corvanta {

SharedGradientTable::SharedGradientTable() : SharedGradientTable(nullptr) {}

SharedGradientTable::SharedGradientTable(const ColorScheme* scheme)
    : table_(std::make_unique<GradientTable>()), staging_(std::make_unique<GradientTable>()) {
    BuildGradientTable(scheme, *table_);
}

void SharedGradientTable::Rebuild(const ColorScheme* scheme) {
    // Building takes far longer than swapping two pointers, so readers only
    // ever wait for the swap.
    std::lock_guard rebuildLock(rebuildMutex_);
    BuildGradientTable(scheme, *staging_);
    std::lock_guard lock(mutex_);
    std::swap(table_, staging_);
}

void SharedGradientTable::Snapshot(GradientTable& out) const {
    std::lock_guard lock(mutex_);
    out = *table_;
}

}  // namespace corvanta
