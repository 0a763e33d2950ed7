#include "releasesignature.h"

#include <QFile>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

namespace calmcove {

namespace {

struct KeyFree
{
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextFree
{
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct BioFree
{
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Context = std::unique_ptr<EVP_MD_CTX, ContextFree>;
using Bio = std::unique_ptr<BIO, BioFree>;

Key publicKeyFromDer(const QByteArray& der)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(der.constData());
    Key key(d2i_PUBKEY(nullptr, &bytes, long(der.size())));
    if (key && EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519)
        key.reset();
    return key;
}

QByteArray pemText(EVP_PKEY* key, bool privateKey)
{
    Bio bio(BIO_new(BIO_s_mem()));
    const int written = privateKey ? PEM_write_bio_PKCS8PrivateKey(bio.get(), key, nullptr, nullptr,
                                                                   0, nullptr, nullptr)
                                   : PEM_write_bio_PUBKEY(bio.get(), key);
    if (written != 1)
        return {};
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, size);
}

} // namespace

QByteArray ed25519PublicKeyFromText(const QString& text)
{
    QByteArray body;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        if (!trimmed.startsWith(QLatin1String("-----")))
            body += trimmed.toLatin1();
    }
    const auto decoded =
        QByteArray::fromBase64Encoding(body, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty() || !publicKeyFromDer(decoded.decoded))
        return {};
    return decoded.decoded;
}

bool verifyEd25519FileSignature(const QByteArray& publicKey, const QString& path,
                                const QByteArray& signature)
{
    const Key key = publicKeyFromDer(publicKey);
    if (!key || signature.size() != 64)
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() == 0)
        return false;
    // Ed25519 signs the whole message in one pass; a mapping spares a copy of the archive.
    const uchar* bytes = file.map(0, file.size());
    if (!bytes)
        return false;
    const Context context(EVP_MD_CTX_new());
    const bool valid =
        context && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
        EVP_DigestVerify(context.get(),
                         reinterpret_cast<const unsigned char*>(signature.constData()),
                         size_t(signature.size()), bytes, size_t(file.size())) == 1;
    file.unmap(const_cast<uchar*>(bytes));
    return valid;
}

Expected<QByteArray, QString> signFileWithEd25519(const QString& keyPath, const QString& path)
{
    QFile keyFile(keyPath);
    if (!keyFile.open(QIODevice::ReadOnly))
        return QStringLiteral("Could not read %1: %2").arg(keyPath, keyFile.errorString());
    const QByteArray pem = keyFile.readAll();
    Bio bio(BIO_new_mem_buf(pem.constData(), int(pem.size())));
    const Key key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519)
        return QStringLiteral("%1 is no Ed25519 private key in PEM form").arg(keyPath);

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() == 0)
        return QStringLiteral("Could not read %1").arg(path);
    const uchar* bytes = file.map(0, file.size());
    if (!bytes)
        return QStringLiteral("Could not read %1: %2").arg(path, file.errorString());
    QByteArray signature(64, '\0');
    size_t length = size_t(signature.size());
    const Context context(EVP_MD_CTX_new());
    const bool signed_ =
        context && EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                       bytes, size_t(file.size())) == 1;
    file.unmap(const_cast<uchar*>(bytes));
    if (!signed_ || length != 64)
        return QStringLiteral("Could not sign %1").arg(path);
    return signature;
}

Expected<Ed25519KeyPair, QString> generateEd25519KeyPair()
{
    const Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    if (!key)
        return QStringLiteral("Could not make an Ed25519 key");
    Ed25519KeyPair pair{pemText(key.get(), true), pemText(key.get(), false)};
    if (pair.privateKeyPem.isEmpty() || pair.publicKeyPem.isEmpty())
        return QStringLiteral("Could not write the Ed25519 key as PEM");
    return pair;
}

} // namespace calmcove
