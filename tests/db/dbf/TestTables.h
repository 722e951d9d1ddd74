#pragma once
// Helpers shared by the dBASE table tests.
#include <cstdlib>
#include <string>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "platform/db/dbf/DbfTable.h"

namespace kdbtest {

inline std::string pythonPath()
{
    for (const char* p : {"/usr/bin/python3", "/usr/local/bin/python3"})
        if (QFile::exists(QString::fromLatin1(p)))
            return p;
    return {};
}

// Runs a helper script of tests/db/dbf/interop; answers its standard output,
// or sets ok to false.
inline QByteArray runScript(const std::string& script, const QStringList& args, bool& ok)
{
    QProcess p;
    QStringList all;
    all << QString::fromStdString(std::string(KORVALE_DBF_TEST_DIR) + "/interop/" + script) << args;
    p.start(QString::fromStdString(pythonPath()), all);
    ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok)
        fprintf(stderr, "%s failed: %s\n", script.c_str(), p.readAllStandardError().constData());
    return p.readAllStandardOutput();
}

inline bool pythonModuleAvailable(const char* module)
{
    const std::string py = pythonPath();
    if (py.empty())
        return false;
    QProcess p;
    p.start(QString::fromStdString(py), {QStringLiteral("-c"), QStringLiteral("import %1").arg(QLatin1String(module))});
    return p.waitForFinished(30000) && p.exitCode() == 0;
}

// An open of a table by this program alone.
inline const kdb::TableOpenMode kExclusive{.exclusive = true};

// A table with one column of each kind written by the engine.
inline std::vector<kdb::DbfTable::FieldSpec> sampleFields(bool withMemo)
{
    std::vector<kdb::DbfTable::FieldSpec> f = {
        {"NOM", 'C', 20, 0, false},
        {"DN", 'D', 8, 0, false},
        {"NB", 'N', 6, 0, true},
        {"PRIX", 'N', 8, 2, false},
        {"OK", 'L', 1, 0, false},
    };
    if (withMemo)
        f.push_back({"NOTE", 'M', 10, 0, false});
    return f;
}

}  // namespace kdbtest
