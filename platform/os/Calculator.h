#pragma once
#include <QString>
#include <QStringList>

namespace kos {

// The desktop calculators looked for, in order of preference.
QStringList CalculatorCandidates();

// Full path of the first candidate found on the search path (PATH when
// searchPaths is empty); empty when none is installed.
QString FindCalculator(const QStringList& searchPaths = {});

enum class CalculatorStart { Started, NotFound, Failed };

// Starts the first calculator found, detached from this process.
CalculatorStart StartCalculator(const QStringList& searchPaths = {});

} // namespace kos
