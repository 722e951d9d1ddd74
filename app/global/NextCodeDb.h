#pragma once
#include <QString>

// NextCode on the practice database. The key column is read with
// "SELECT <field> FROM <table> ORDER BY <field>". Two programs sharing the
// data directory must not be given the same code: each allocation takes an
// allocation lock on the table file, held until the caller has written its
// row and calls ReleaseCodeAllocation() (or until the next allocation of
// this program, or its end). Another program's allocation waits for it.
void InstallDatabaseKeyColumns();

// The same allocation lock for a key the caller computes itself (a MAX + 1
// number): waits for another program's allocation, then holds the lock of
// TableName in DatabaseName until ReleaseCodeAllocation().
void TakeCodeAllocation(const QString& TableName, const QString& DatabaseName);

// The row carrying the last allocated code is written (or abandoned).
void ReleaseCodeAllocation();

// How long an allocation waits for another program's (milliseconds).
void SetCodeAllocationTimeout(int ms);

// Offset of the allocation lock in a table file: beyond any data and apart
// from the engine's own locks.
quint64 CodeAllocationLockOffset();
