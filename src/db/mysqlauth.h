// SPDX-License-Identifier: GPL-3.0-or-later
// Password answers of the MySQL login plugins.
#pragma once

#include <QByteArray>

/**
 * The password algorithms a MySQL or MariaDB server may ask for during the login. All take
 * the password as the bytes the server hashed (UTF-8) and the seed ("scramble") the server
 * sent; an empty password always gives an empty answer. Called by MySqlWire's login loop.
 */
namespace MySqlAuth
{

/// mysql_native_password: SHA1(pw) XOR SHA1(seed ‖ SHA1(SHA1(pw))), 20 bytes.
QByteArray nativeScramble(const QByteArray &password, const QByteArray &seed);

/// mysql_old_password (servers before 4.1): 8 bytes made from the first 8 bytes of the seed.
QByteArray oldScramble(const QByteArray &password, const QByteArray &seed);

/// The two 31-bit words of the old password hash (what the server stores as 16 hex digits).
void oldPasswordHash(const QByteArray &password, quint32 result[2]);

/// caching_sha2_password fast path: SHA256(pw) XOR SHA256(SHA256(SHA256(pw)) ‖ nonce), 32 bytes.
QByteArray cachingSha2Scramble(const QByteArray &password, const QByteArray &nonce);

/**
 * caching_sha2_password full path without TLS: (password ‖ 0) XOR the nonce repeated,
 * encrypted with the server's RSA public key (PEM) and OAEP padding. Returns an empty array
 * and sets *error when the key cannot be read or the encryption fails.
 */
QByteArray rsaEncryptPassword(
    const QByteArray &password, const QByteArray &nonce, const QByteArray &publicKeyPem, QString *error);

/// True when this build can answer MariaDB's ed25519 login (it needs libsodium).
bool hasEd25519();

/**
 * client_ed25519 (MariaDB): the 64-byte Ed25519 signature of the server's nonce with the key
 * that the password makes, where the password takes the place of the usual 32-byte seed
 * (the secret scalar comes from SHA512(password)). Also for an empty password. Empty when the
 * build has no Ed25519.
 */
QByteArray ed25519Signature(const QByteArray &password, const QByteArray &nonce);

} // namespace MySqlAuth
