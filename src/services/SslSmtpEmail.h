// The SMTP client over implicit TLS: the handshake follows the TCP connect at
// once (no STARTTLS). The server's certificate must verify against the
// system's trusted certificates (OpenSSL's default paths, so SSL_CERT_FILE
// and SSL_CERT_DIR apply) and match the host name (or address) the client was
// given, which is also sent as SNI. A handshake that fails or a certificate
// that does not verify ends the attempt before anything, the password above
// all, is sent.
#pragma once

#include "services/SmtpEmail.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

class SslSmtpEmail : public SmtpEmail {
public:
    using SmtpEmail::SmtpEmail;
    ~SslSmtpEmail() override;

protected:
    int Read(char* buffer, int length) override;
    int Write(const char* buffer, int length) override;
    // SmtpEmail::Connect's results, or SMTP_ERROR_TLS (logged).
    int Connect() override;
    int Disconnect() override;

private:
    int FailTls(const char* what, const std::string& reason);

    SSL_CTX* context_ = nullptr;
    SSL* tls_ = nullptr;
};
