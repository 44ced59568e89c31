#pragma once
// File copies that never leave a half-written file under the real name.
#include <QString>

// Copies src into a fresh hidden file in the folder of dst and returns its path,
// or an empty text on any failure (nothing is left behind then). The caller renames it.
QString StageFileCopy(const QString& src, const QString& dst);
// A complete copy under the real name or nothing; an existing dst is never replaced.
bool CopyFileNoOverwrite(const QString& src, const QString& dst);
