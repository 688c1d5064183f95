#pragma once

#include <QString>

namespace orv {

// Files that hold patient data, settings or keys belong to the user alone: folders 0700, files
// 0600 (on Windows the user's profile folders already keep others out: both do nothing there).

// Creates `folder` with its missing parents and restricts it to its owner. False when it cannot
// be created.
bool makePrivateFolder(const QString &folder);
// Creates `file` empty, for its owner only, when it does not exist (so that whatever writes it
// later keeps that mode), and restricts it to its owner when it does. False when it cannot.
bool makePrivateFile(const QString &file);

} // namespace orv
