// Corvanta.dat may hold anything: short, long, foreign or hand-edited bytes.
#include <cstddef>
#include <cstdint>

#include "scheme/preset_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    corvanta::StoredSettings settings;
    corvanta::PresetTable table = corvanta::MakePresetTable();
    if (corvanta::ApplyPresetStoreBytes(data, size, settings, table)) {
        // Whatever was read must survive a save and a reload unchanged.
        const auto bytes = corvanta::SerializePresetStore(settings, table);
        corvanta::StoredSettings again;
        corvanta::PresetTable reloaded = corvanta::MakePresetTable();
        if (!corvanta::ApplyPresetStoreBytes(bytes.data(), bytes.size(), again, reloaded) ||
            again.maxWidth != settings.maxWidth || again.maxHeight != settings.maxHeight ||
            again.qualityIndex != settings.qualityIndex) {
            __builtin_trap();
        }
        for (int row = 0; row < corvanta::kPresetRows; ++row) {
            const auto& a = table.rows[static_cast<std::size_t>(row)];
            const auto& b = reloaded.rows[static_cast<std::size_t>(row)];
            if (a.name != b.name || a.slots != b.slots) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
