// SPDX-License-Identifier: GPL-3.0-or-later
#include "mysqlauth.h"

#include <QCryptographicHash>
#include <QString>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <cmath>
#include <cstring>
#include <memory>

#ifdef TREVALO_HAVE_SODIUM
#include <sodium.h>
#endif

namespace MySqlAuth
{

static QByteArray xorBytes(const QByteArray &a, const QByteArray &b)
{
    QByteArray out(a.size(), '\0');
    for (qsizetype i = 0; i < a.size(); ++i)
        out[i] = char(a[i] ^ b[i % b.size()]);
    return out;
}

QByteArray nativeScramble(const QByteArray &password, const QByteArray &seed)
{
    if (password.isEmpty())
        return {};
    const QByteArray stage1 = QCryptographicHash::hash(password, QCryptographicHash::Sha1);
    const QByteArray stage2 = QCryptographicHash::hash(stage1, QCryptographicHash::Sha1);
    const QByteArray mix = QCryptographicHash::hash(seed.left(20) + stage2, QCryptographicHash::Sha1);
    return xorBytes(stage1, mix);
}

void oldPasswordHash(const QByteArray &password, quint32 result[2])
{
    quint32 nr = 1345345333u, add = 7, nr2 = 0x12345671u;
    for (char ch : password) {
        if (ch == ' ' || ch == '\t')
            continue;
        const quint32 c = quint8(ch);
        nr ^= (((nr & 63) + add) * c) + (nr << 8);
        nr2 += (nr2 << 8) ^ nr;
        add += c;
    }
    result[0] = nr & 0x7FFFFFFFu;
    result[1] = nr2 & 0x7FFFFFFFu;
}

QByteArray oldScramble(const QByteArray &password, const QByteArray &seed)
{
    if (password.isEmpty())
        return {};
    const QByteArray message = seed.left(8);
    quint32 hashPass[2], hashMessage[2];
    oldPasswordHash(password, hashPass);
    oldPasswordHash(message, hashMessage);
    const quint64 maxValue = 0x3FFFFFFFu;
    quint64 seed1 = (hashPass[0] ^ hashMessage[0]) % maxValue;
    quint64 seed2 = (hashPass[1] ^ hashMessage[1]) % maxValue;
    auto rnd = [&]() {
        seed1 = (seed1 * 3 + seed2) % maxValue;
        seed2 = (seed1 + seed2 + 33) % maxValue;
        return double(seed1) / double(maxValue);
    };
    QByteArray out(message.size(), '\0');
    for (qsizetype i = 0; i < out.size(); ++i)
        out[i] = char(std::floor(rnd() * 31) + 64);
    const char extra = char(std::floor(rnd() * 31));
    for (qsizetype i = 0; i < out.size(); ++i)
        out[i] = char(out[i] ^ extra);
    return out;
}

QByteArray cachingSha2Scramble(const QByteArray &password, const QByteArray &nonce)
{
    if (password.isEmpty())
        return {};
    const QByteArray p1 = QCryptographicHash::hash(password, QCryptographicHash::Sha256);
    const QByteArray p2 = QCryptographicHash::hash(p1, QCryptographicHash::Sha256);
    const QByteArray p3 = QCryptographicHash::hash(p2 + nonce.left(20), QCryptographicHash::Sha256);
    return xorBytes(p1, p3);
}

static QString opensslError(const char *what)
{
    const unsigned long code = ERR_get_error();
    char text[256] = {};
    if (code)
        ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return QLatin1String(what) + (code ? QStringLiteral(": ") + QString::fromLatin1(text) : QString());
}

QByteArray rsaEncryptPassword(
    const QByteArray &password, const QByteArray &nonce, const QByteArray &publicKeyPem, QString *error)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(publicKeyPem.constData(), int(publicKeyPem.size())), &BIO_free);
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        bio ? PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr) : nullptr, &EVP_PKEY_free);
    if (!key) {
        if (error)
            *error = opensslError("invalid public key");
        return {};
    }
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
        EVP_PKEY_CTX_new(key.get(), nullptr), &EVP_PKEY_CTX_free);
    QByteArray plain = password;
    plain.append('\0');
    plain = xorBytes(plain, nonce.left(20));
    size_t outLength = 0;
    if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) <= 0
        || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_OAEP_PADDING) <= 0
        || EVP_PKEY_encrypt(ctx.get(),
               nullptr,
               &outLength,
               reinterpret_cast<const unsigned char *>(plain.constData()),
               size_t(plain.size()))
            <= 0) {
        if (error)
            *error = opensslError("RSA encryption failed");
        return {};
    }
    QByteArray out(qsizetype(outLength), '\0');
    if (EVP_PKEY_encrypt(ctx.get(),
            reinterpret_cast<unsigned char *>(out.data()),
            &outLength,
            reinterpret_cast<const unsigned char *>(plain.constData()),
            size_t(plain.size()))
        <= 0) {
        if (error)
            *error = opensslError("RSA encryption failed");
        return {};
    }
    out.truncate(qsizetype(outLength));
    return out;
}

} // namespace MySqlAuth

bool MySqlAuth::hasEd25519()
{
#ifdef TREVALO_HAVE_SODIUM
    return true;
#else
    return false;
#endif
}

QByteArray MySqlAuth::ed25519Signature(const QByteArray &password, const QByteArray &nonce)
{
#ifdef TREVALO_HAVE_SODIUM
    if (sodium_init() < 0)
        return {};
    // RFC 8032 signing, with SHA512(password) where the seed's hash would be.
    unsigned char az[64];
    crypto_hash_sha512(az, reinterpret_cast<const unsigned char *>(password.constData()), quint64(password.size()));
    az[0] &= 248;
    az[31] &= 63;
    az[31] |= 64;
    unsigned char publicKey[32];
    if (crypto_scalarmult_ed25519_base_noclamp(publicKey, az) != 0)
        return {};

    unsigned char hash[64];
    crypto_hash_sha512_state state;
    crypto_hash_sha512_init(&state);
    crypto_hash_sha512_update(&state, az + 32, 32);
    crypto_hash_sha512_update(
        &state, reinterpret_cast<const unsigned char *>(nonce.constData()), quint64(nonce.size()));
    crypto_hash_sha512_final(&state, hash);
    unsigned char r[32];
    crypto_core_ed25519_scalar_reduce(r, hash);
    unsigned char signature[64];
    if (crypto_scalarmult_ed25519_base_noclamp(signature, r) != 0)
        return {};

    crypto_hash_sha512_init(&state);
    crypto_hash_sha512_update(&state, signature, 32);
    crypto_hash_sha512_update(&state, publicKey, 32);
    crypto_hash_sha512_update(
        &state, reinterpret_cast<const unsigned char *>(nonce.constData()), quint64(nonce.size()));
    crypto_hash_sha512_final(&state, hash);
    unsigned char k[32];
    crypto_core_ed25519_scalar_reduce(k, hash);
    unsigned char wide[64] = {};
    memcpy(wide, az, 32);
    unsigned char a[32];
    crypto_core_ed25519_scalar_reduce(a, wide);
    unsigned char ka[32];
    crypto_core_ed25519_scalar_mul(ka, k, a);
    crypto_core_ed25519_scalar_add(signature + 32, r, ka);
    sodium_memzero(az, sizeof az);
    sodium_memzero(a, sizeof a);
    return QByteArray(reinterpret_cast<const char *>(signature), 64);
#else
    Q_UNUSED(password);
    Q_UNUSED(nonce);
    return {};
#endif
}
