#pragma once

// A local certificate authority for development servers and tests: a fresh CA and a
// server certificate it signed for one host, so that clients trusting only that CA can
// talk HTTPS to a pack server on this machine.

#include "tools/pack/packresult.h"

#include <QString>

namespace calmcove {

struct CertificateAuthorityFiles
{
    QString caCertificate;     // ca.pem: the certificate clients trust
    QString caKey;             // ca-key.pem (mode 0600)
    QString serverCertificate; // server.pem: the server's certificate
    QString serverKey;         // server-key.pem (mode 0600)
};

// Makes new P-256 keys, a self-signed CA certificate (10 years) and a server certificate
// (825 days) whose subject alternative name is `host` (an IP address or a DNS name; for
// 127.0.0.1 also "localhost"), and writes the four PEM files into `directory`, creating it
// and replacing earlier files there. Blocking; any thread.
PackResult<CertificateAuthorityFiles> makeCertificateAuthority(const QString& directory,
                                                               const QString& host);

} // namespace calmcove
