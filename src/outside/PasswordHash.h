#pragma once

#include <QString>

namespace orv {

// Argon2id password hashes in libsodium's self-describing string form ("$argon2id$v=19$...").
QString hashPassword(const QString &password);
bool verifyPassword(const QString &hash, const QString &password);

} // namespace orv
