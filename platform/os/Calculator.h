#pragma once
#include <QString>
#include <QStringList>

namespace kos {

// The desktop calculators looked for, in order of preference.
QStringList CalculatorCandidates();

// Full path of the first candidate found on the search path (PATH when
// searchPaths is empty); empty when none is installed.
QString FindCalculator(const QStringList& searchPaths = {});

enum class CalculatorStart {
    Started,
    NotFound,  // no calculator installed (or its file went away)
    OutOfMemory,  // the system could not make a new process
    CannotRun  // the file found is not a program this system can run
};

// Starts the first calculator found, detached from this process.
CalculatorStart StartCalculator(const QStringList& searchPaths = {});

}  // namespace kos
