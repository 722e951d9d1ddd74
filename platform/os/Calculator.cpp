#include "platform/os/Calculator.h"

#include <QProcess>
#include <QStandardPaths>

namespace kos {

QStringList CalculatorCandidates()
{
    return {QStringLiteral("gnome-calculator"), QStringLiteral("kcalc"),   QStringLiteral("galculator"),
            QStringLiteral("qalculate-gtk"),    QStringLiteral("mate-calc"), QStringLiteral("xcalc")};
}

QString FindCalculator(const QStringList& searchPaths)
{
    for (const QString& name : CalculatorCandidates()) {
        const QString path = QStandardPaths::findExecutable(name, searchPaths);
        if (!path.isEmpty())
            return path;
    }
    return {};
}

CalculatorStart StartCalculator(const QStringList& searchPaths)
{
    const QString path = FindCalculator(searchPaths);
    if (path.isEmpty())
        return CalculatorStart::NotFound;
    return QProcess::startDetached(path, {}) ? CalculatorStart::Started : CalculatorStart::Failed;
}

} // namespace kos
