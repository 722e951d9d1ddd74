#include "platform/ui/Printer.h"

#include <QPrinter>

namespace kui {

QPrinter& CurrentPrinter()
{
    // Kept for the whole run; never destroyed after the application object.
    static QPrinter* printer = new QPrinter(QPrinter::HighResolution);
    return *printer;
}

}  // namespace kui
