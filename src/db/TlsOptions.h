#pragma once

#include <QString>

namespace db {

// How a connection uses TLS. Required encrypts without checking who answers; VerifyCa also
// checks the server's certificate against the CA file; VerifyIdentity checks, besides, that
// the certificate names the host connected to.
enum class TlsMode { Off, Required, VerifyCa, VerifyIdentity };

struct TlsOptions {
    TlsMode mode = TlsMode::Off;
    QString caFile;    // PEM file of the CA that signed the server's certificate
    QString certFile;  // client certificate, for accounts that REQUIRE X509
    QString keyFile;   // its private key

    friend bool operator==(const TlsOptions&, const TlsOptions&) = default;
};

// The mode as the server dialogs name it: "Off", "Required", "Verify the CA", "Verify the CA
// and the host name".
QString tlsModeName(TlsMode mode);

// Why these settings cannot protect a connection, for the user; empty when they can. A mode
// that verifies the CA needs the CA's file: without one the client library checks nothing.
QString tlsSettingsProblem(const TlsOptions& tls);

}  // namespace db
