#include "app/global/NextCode.h"
#include "app/global/global.h"

#include "platform/os/Abort.h"

#include <QCoreApplication>

#include <stdexcept>

namespace {

KeyColumnOpener& Opener()
{
    static KeyColumnOpener opener;
    return opener;
}

}  // namespace

bool AdvanceCode(QString& code)
{
    for (qsizetype i = code.size() - 1; i >= 0; --i) {
        const QChar c = code[i];
        QChar first, last;
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            first = QLatin1Char('0');
            last = QLatin1Char('9');
        } else if (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) {
            first = QLatin1Char('A');
            last = QLatin1Char('Z');
        } else {
            return false;
        }
        if (c < last) {
            code[i] = QChar(c.unicode() + 1);
            return true;
        }
        code[i] = first;  // carry to the left
    }
    return true;  // wrapped round
}

QString NextCodeIn(KeyColumn& column, const QString& TableName, int Width)
{
    QString candidate = column.LastValue().trimmed();
    if (candidate.isEmpty())
        candidate = QStringLiteral("1");
    candidate = PadLeft(candidate, QStringLiteral("0"), Width);

    QString firstTaken;
    while (column.Contains(candidate)) {
        if (firstTaken.isNull())
            firstTaken = candidate;
        if (!AdvanceCode(candidate)) {
            ShowError(QStringLiteral("Code Incorrect ! ") + candidate);
            Abort();
        }
        // Back at the first value looked up: every code of the width is taken.
        if (candidate == firstTaken) {
            ShowError(QStringLiteral("Plus aucun code libre dans la table ") + TableName);
            Abort();
        }
    }
    return candidate;
}

void SetKeyColumnOpener(KeyColumnOpener opener)
{
    Opener() = std::move(opener);
}

QString NextCode(const QString& TableName, const QString& DatabaseName, const QString& FieldName, int Width)
{
    if (!Opener())
        throw std::logic_error("NextCode: aucun accès à la base de données n'est installé");
    std::unique_ptr<KeyColumn> column = Opener()(TableName, DatabaseName, FieldName);
    if (!column)
        throw std::runtime_error(("Table introuvable : " + TableName).toStdString());
    QString code;
    try {
        code = NextCodeIn(*column, TableName, Width);
    } catch (...) {
        column->Abandon();
        throw;
    }
    column.reset();
    QCoreApplication::processEvents();
    return code;
}
