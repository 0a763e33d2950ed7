#include "certificateauthority.h"

#include <memory>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <QDir>
#include <QHostAddress>
#include <QSaveFile>
#include <QUrl>
#include <tuple>

namespace calmcove {

namespace {

template <typename T, void (*Free)(T*)> struct Freer
{
    void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Freer<X509, X509_free>>;
using Extension = std::unique_ptr<X509_EXTENSION, Freer<X509_EXTENSION, X509_EXTENSION_free>>;
using Bio = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;
using Number = std::unique_ptr<BIGNUM, Freer<BIGNUM, BN_free>>;

constexpr long caLifetime = 10L * 365 * 24 * 3600;
constexpr long serverLifetime = 825L * 24 * 3600;

QString openSslMessage(const char* what)
{
    const unsigned long code = ERR_get_error();
    char text[256] = {};
    if (code != 0)
        ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return QStringLiteral("Cannot make the certificates: %1 failed%2.")
        .arg(QLatin1String(what),
             code ? QStringLiteral(" (%1)").arg(QLatin1String(text)) : QString());
}

bool addExtension(X509* certificate, X509* issuer, int nid, const char* value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    const Extension extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

bool setName(X509_NAME* name, const QByteArray& commonName)
{
    const auto add = [name](const char* field, const QByteArray& value) {
        return X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                          reinterpret_cast<const unsigned char*>(value.constData()),
                                          static_cast<int>(value.size()), -1, 0) == 1;
    };
    return add("O", "Calmcove development") && add("CN", commonName);
}

// A version 3 certificate for `key`, valid from an hour ago (clocks drift) for `lifetime`
// seconds, with a random 127-bit serial number.
Certificate newCertificate(EVP_PKEY* key, const QByteArray& commonName, long lifetime)
{
    Certificate certificate(X509_new());
    if (!certificate || X509_set_version(certificate.get(), 2) != 1)
        return {};
    const Number serial(BN_new());
    if (!serial || BN_rand(serial.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) != 1 ||
        !BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate.get())))
        return {};
    if (!X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600) ||
        !X509_gmtime_adj(X509_getm_notAfter(certificate.get()), lifetime))
        return {};
    if (X509_set_pubkey(certificate.get(), key) != 1 ||
        !setName(X509_get_subject_name(certificate.get()), commonName))
        return {};
    return certificate;
}

PackResult<Done> writePem(const QString& path, const QByteArray& pem, bool secret)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return packFailure(QStringLiteral("Cannot write %1: %2.").arg(path, file.errorString()));
    if (secret && !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner))
        return packFailure(QStringLiteral("Cannot protect %1.").arg(path));
    if (file.write(pem) != pem.size() || !file.commit())
        return packFailure(QStringLiteral("Cannot write %1: %2.").arg(path, file.errorString()));
    return Done{};
}

QByteArray bioContents(BIO* bio)
{
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return QByteArray(data, static_cast<qsizetype>(size));
}

QByteArray certificatePem(X509* certificate)
{
    const Bio bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_X509(bio.get(), certificate) != 1)
        return {};
    return bioContents(bio.get());
}

QByteArray keyPem(EVP_PKEY* key)
{
    const Bio bio(BIO_new(BIO_s_mem()));
    if (!bio ||
        PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return {};
    return bioContents(bio.get());
}

} // namespace

PackResult<CertificateAuthorityFiles> makeCertificateAuthority(const QString& directory,
                                                               const QString& host)
{
    const QString trimmedHost = host.trimmed();
    if (trimmedHost.isEmpty() || trimmedHost.contains(QLatin1Char(',')) ||
        trimmedHost.contains(QLatin1Char(' ')))
        return packFailure(QStringLiteral("\"%1\" is not a host name or address.").arg(host));
    QHostAddress address;
    const bool isAddress = address.setAddress(trimmedHost);
    QByteArray alternativeNames = (isAddress ? QByteArray("IP:") + address.toString().toLatin1()
                                             : QByteArray("DNS:") + QUrl::toAce(trimmedHost));
    if (isAddress && address.isLoopback())
        alternativeNames += ",DNS:localhost";
    if (!isAddress && QUrl::toAce(trimmedHost).isEmpty())
        return packFailure(QStringLiteral("\"%1\" is not a host name or address.").arg(host));

    const Key caKey(EVP_EC_gen("P-256"));
    const Key serverKey(EVP_EC_gen("P-256"));
    if (!caKey || !serverKey)
        return packFailure(openSslMessage("key generation"));

    // A distinct name per CA, so that several local CAs never shadow each other in a trust
    // store.
    unsigned char nonce[4];
    RAND_bytes(nonce, sizeof nonce);
    const QByteArray caName =
        "Calmcove local CA " +
        QByteArray(reinterpret_cast<const char*>(nonce), sizeof nonce).toHex();
    const Certificate ca = newCertificate(caKey.get(), caName, caLifetime);
    if (!ca || X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get())) != 1 ||
        !addExtension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE,pathlen:0") ||
        !addExtension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign") ||
        !addExtension(ca.get(), ca.get(), NID_subject_key_identifier, "hash") ||
        X509_sign(ca.get(), caKey.get(), EVP_sha256()) == 0)
        return packFailure(openSslMessage("signing the CA certificate"));

    const Certificate server =
        newCertificate(serverKey.get(), trimmedHost.toUtf8().left(64), serverLifetime);
    if (!server || X509_set_issuer_name(server.get(), X509_get_subject_name(ca.get())) != 1 ||
        !addExtension(server.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE") ||
        !addExtension(server.get(), ca.get(), NID_key_usage, "critical,digitalSignature") ||
        !addExtension(server.get(), ca.get(), NID_ext_key_usage, "serverAuth") ||
        !addExtension(server.get(), ca.get(), NID_subject_alt_name, alternativeNames.constData()) ||
        !addExtension(server.get(), ca.get(), NID_subject_key_identifier, "hash") ||
        !addExtension(server.get(), ca.get(), NID_authority_key_identifier, "keyid:always") ||
        X509_sign(server.get(), caKey.get(), EVP_sha256()) == 0)
        return packFailure(openSslMessage("signing the server certificate"));

    if (!QDir().mkpath(directory))
        return packFailure(QStringLiteral("Cannot create the folder %1.").arg(directory));
    const QDir dir(directory);
    const CertificateAuthorityFiles files{
        .caCertificate = dir.absoluteFilePath(QStringLiteral("ca.pem")),
        .caKey = dir.absoluteFilePath(QStringLiteral("ca-key.pem")),
        .serverCertificate = dir.absoluteFilePath(QStringLiteral("server.pem")),
        .serverKey = dir.absoluteFilePath(QStringLiteral("server-key.pem")),
    };
    const QByteArray pems[] = {certificatePem(ca.get()), keyPem(caKey.get()),
                               certificatePem(server.get()), keyPem(serverKey.get())};
    for (const QByteArray& pem : pems)
        if (pem.isEmpty())
            return packFailure(openSslMessage("PEM encoding"));
    for (const auto& [path, pem, secret] :
         {std::tuple{files.caKey, pems[1], true}, std::tuple{files.serverKey, pems[3], true},
          std::tuple{files.caCertificate, pems[0], false},
          std::tuple{files.serverCertificate, pems[2], false}}) {
        if (PackResult<Done> written = writePem(path, pem, secret); !written)
            return packFailure(written.message());
    }
    return files;
}

} // namespace calmcove
