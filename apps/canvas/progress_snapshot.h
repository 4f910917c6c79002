// A picture of a dialog's progress bar as a raster front end draws it: the bar control made
// from the dialog template at the raster canvas's units, with the template's font, at a given
// position of 0 to 100, painted by the window layer.
#pragma once

#include <memory>
#include <string>

#include "raster_canvas.h"
#include "win/dialog.h"

namespace canvas {

// The painted bar `barId` of `dialog`, or null when the template has no such control. Creates
// and destroys windows on the calling thread.
std::unique_ptr<RasterCanvas> RenderProgressBar(const win::DialogTemplate& dialog, int barId,
                                                int position);
// The same written as a PNG file; false when there is no such bar or the file was not written.
bool WriteProgressBarPng(const win::DialogTemplate& dialog, int barId, int position,
                         const std::string& path);

}  // namespace canvas
