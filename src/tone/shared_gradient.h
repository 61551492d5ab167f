// The gradient table shared by the window thread, which rebuilds it after
// every scheme change, and the conversion threads, which map with it. A
// mapping always works on a private copy taken under the lock, so a rebuild
// in the middle of a batch reaches the next image, never half of one.
#pragma once

#include <memory>
#include <mutex>

#include "scheme/gradient_table.h"

namespace corvanta {

class SharedGradientTable {
  public:
    // Starts as the table of no scheme (a black-to-white ramp).
    SharedGradientTable();
    explicit SharedGradientTable(const ColorScheme* scheme);
    SharedGradientTable(const SharedGradientTable&) = delete;
    SharedGradientTable& operator=(const SharedGradientTable&) = delete;

    // Rebuilds the table from scheme (nullptr: no scheme).
    void Rebuild(const ColorScheme* scheme);

    // Copies the whole table into out in one consistent state.
    void Snapshot(GradientTable& out) const;

  private:
    mutable std::mutex mutex_;
    std::unique_ptr<GradientTable> table_;    // 64 KiB: kept off the stack
    std::unique_ptr<GradientTable> staging_;  // built outside the lock, then swapped in
    std::mutex rebuildMutex_;                 // serialises rebuilds that share staging_
};

}  // namespace corvanta
