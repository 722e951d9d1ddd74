#pragma once

class QPrinter;

namespace kui {

// The application's current printer: the one chosen in the printer setup
// dialog of the main window, used by every printed document.
QPrinter& CurrentPrinter();

}  // namespace kui
