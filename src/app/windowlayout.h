// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's position and size, kept between program runs.
#pragma once

#include <optional>

class QSettings;

struct WindowLayout {
    std::optional<int> posX;
    std::optional<int> posY;
    std::optional<int> width;  ///< client width
    std::optional<int> height; ///< client height
};

/**
 * Reads "Layout/PosX", "PosY", "Width", "Height" in this order; the first value that is
 * missing or not a number ends the reading, the ones before it stay. Nothing when the
 * group does not exist.
 */
WindowLayout readWindowLayout(QSettings &settings);

/// Writes all four values; a failure is ignored (the layout is a convenience).
void writeWindowLayout(QSettings &settings, int posX, int posY, int width, int height);
