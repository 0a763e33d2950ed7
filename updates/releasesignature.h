#pragma once

// Ed25519 signatures of release archives (OpenSSL 3 EVP): the program checks them with the
// vendor's public key compiled into the build; the release tool makes them.

#include "model/expected.h"

#include <QByteArray>
#include <QString>

namespace calmcove {

// Reads a public key given as a PEM document ("-----BEGIN PUBLIC KEY-----") or as the
// base64 of its SubjectPublicKeyInfo alone (the PEM's body on one line). Empty when the
// text is no Ed25519 public key.
QByteArray ed25519PublicKeyFromText(const QString& text);

// Whether `signature` (64 raw bytes) is the Ed25519 signature by `publicKey` (the DER
// SubjectPublicKeyInfo from ed25519PublicKeyFromText) of the whole file at `path`. The
// file is mapped, not copied. False on any failure. Blocking; any thread.
bool verifyEd25519FileSignature(const QByteArray& publicKey, const QString& path,
                                const QByteArray& signature);

// Signs the whole file at `path` with the Ed25519 private key in the PEM file `keyPath`
// (PKCS#8). The 64-byte signature, or the reason it could not be made.
Expected<QByteArray, QString> signFileWithEd25519(const QString& keyPath, const QString& path);

// Makes a new Ed25519 key pair: the PKCS#8 private key and the SubjectPublicKeyInfo public
// key, both as PEM text.
struct Ed25519KeyPair
{
    QByteArray privateKeyPem;
    QByteArray publicKeyPem;
};
Expected<Ed25519KeyPair, QString> generateEd25519KeyPair();

} // namespace calmcove
