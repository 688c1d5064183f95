#pragma once

#include <QString>

namespace orv {

// Why a file name from the list or the database cannot name a file inside a folder ("" when it
// can): it is empty, holds "..", a separator, a drive or a NUL, or is ".".
QString unsafeFileNameReason(const QString &fileName);
// The same for a relative folder stored with "\" between its components: it is absolute, or a
// component is empty, ".", "..", or holds "/", a drive or a NUL.
QString unsafeRelativeFolderReason(const QString &folder);

} // namespace orv
