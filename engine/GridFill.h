// How the settings record is shown in the settings grid: the text of every
// value cell, as the grid is filled after a settings report. The save
// sequence reads the same cells back, so a grid filled from a record and
// saved unchanged sends nothing.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "SettingsRecord.h"

namespace pelmora {

struct GridCellUpdate {
    int row;
    int column;
    std::optional<std::string> text;  // empty: the cell keeps its text
    bool makeReadOnly = false;        // the intercom row when the module reports 2
};

// Left half rows 1-3, 5-13, 15-17, 19-33 (column 1), then right half rows
// 1-7, 9-14, 16-21 (column 3). Texts are GBK. Caller holds the settings lock.
std::vector<GridCellUpdate> GridCellsFromSettings(const AlarmSettings& settings);

}  // namespace pelmora
