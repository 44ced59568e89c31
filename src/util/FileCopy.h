#pragma once
// File copies that never leave a half-written file under the real name.
#include <QString>
#include <QStringList>

// Copies src into a fresh hidden file in the folder of dst and returns its path,
// or an empty text on any failure (nothing is left behind then). The caller renames it.
QString StageFileCopy(const QString& src, const QString& dst);
// A complete copy under the real name or nothing; an existing dst is never replaced.
bool CopyFileNoOverwrite(const QString& src, const QString& dst);
// A complete copy of src replaces dst (made beside it first, then renamed).
bool ReplaceWithCopy(const QString& src, const QString& dst);
// The SHA-256 of a file's bytes, lower-case hex; empty when it cannot be read.
QString FileSha256(const QString& file);
// Whether two files hold the same bytes (false when either cannot be read).
bool SameFileBytes(const QString& a, const QString& b);
// Where a copy of src goes in folder dir under name: that name when it is free,
// holds the same bytes, or holds the start of src (a log that has grown since);
// otherwise the first "stem_N.ext" that is free or the same, so that a different
// file of that name is never replaced.
QString ChooseStoreTarget(const QString& dir, const QString& name, const QString& src);
// dir + name and the "stem_N.ext" names ChooseStoreTarget may have given it.
QStringList StoreNameVariants(const QString& dir, const QString& name);
