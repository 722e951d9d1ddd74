#pragma once
// The schema Descriptor of the practice database: nine table blocks, one
// string per line, as the table checker reads it.
#include <QStringList>

QStringList SchemaText();
