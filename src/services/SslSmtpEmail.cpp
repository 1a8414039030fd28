#include "services/SslSmtpEmail.h"

#include "runtime/Log.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>

namespace {

// OpenSSL's own socket BIO writes with write(), which raises SIGPIPE when the
// server has gone. This one sends with MSG_NOSIGNAL, so a peer that closes
// mid-dialogue shows as a failed write whatever the process does with the
// signal. Time-outs come from the socket's SO_RCVTIMEO/SO_SNDTIMEO; they are
// reported as failures, not as retries.
int SocketBio_Fd(BIO* bio) { return static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio))); }

int SocketBio_Write(BIO* bio, const char* data, int length)
{
    BIO_clear_retry_flags(bio);
    ssize_t sent;
    do {
        sent = send(SocketBio_Fd(bio), data, static_cast<size_t>(length), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent < 0 ? -1 : static_cast<int>(sent);
}

int SocketBio_Read(BIO* bio, char* data, int length)
{
    BIO_clear_retry_flags(bio);
    ssize_t got;
    do {
        got = recv(SocketBio_Fd(bio), data, static_cast<size_t>(length), 0);
    } while (got < 0 && errno == EINTR);
    return got < 0 ? -1 : static_cast<int>(got);
}

int SocketBio_Puts(BIO* bio, const char* text) { return SocketBio_Write(bio, text, static_cast<int>(strlen(text))); }

long SocketBio_Ctrl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

BIO_METHOD* SocketBio_Method()
{
    static BIO_METHOD* method = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        method = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "smtp socket");
        if (!method) return;
        BIO_meth_set_write(method, SocketBio_Write);
        BIO_meth_set_read(method, SocketBio_Read);
        BIO_meth_set_puts(method, SocketBio_Puts);
        BIO_meth_set_ctrl(method, SocketBio_Ctrl);
    });
    return method;
}

BIO* SocketBio_New(int fd)
{
    BIO_METHOD* method = SocketBio_Method();
    BIO* bio = method ? BIO_new(method) : nullptr;
    if (!bio) return nullptr;
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(fd)));
    BIO_set_init(bio, 1);
    return bio;
}

std::string OpenSslReason()
{
    unsigned long code = ERR_get_error();
    if (code == 0) return errno ? strerror(errno) : "connection closed";
    char text[256];
    ERR_error_string_n(code, text, sizeof(text));
    ERR_clear_error();
    return text;
}

bool IsAddressLiteral(const std::string& host)
{
    unsigned char bytes[16];
    return inet_pton(AF_INET, host.c_str(), bytes) == 1 || inet_pton(AF_INET6, host.c_str(), bytes) == 1;
}

}  // namespace

SslSmtpEmail::~SslSmtpEmail()
{
    SslSmtpEmail::Disconnect();
}

int SslSmtpEmail::Connect()
{
    int result = SmtpEmail::Connect();
    if (result != SMTP_CONNECT_OK) return result;

    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    ERR_clear_error();
    context_ = SSL_CTX_new(TLS_client_method());
    if (!context_) return FailTls("Error on creating the TLS context.", OpenSslReason());
    SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
    SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
    if (SSL_CTX_set_default_verify_paths(context_) != 1) {
        return FailTls("Error on loading the trusted certificates.", OpenSslReason());
    }
    tls_ = SSL_new(context_);
    BIO* bio = tls_ ? SocketBio_New(Socket()) : nullptr;
    if (!bio) return FailTls("Error on creating the TLS connection.", OpenSslReason());
    SSL_set_bio(tls_, bio, bio);

    const std::string& host = Host();
    bool named = !IsAddressLiteral(host);
    bool expected = named ? SSL_set_tlsext_host_name(tls_, host.c_str()) == 1 && SSL_set1_host(tls_, host.c_str()) == 1
                          : X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(tls_), host.c_str()) == 1;
    if (!expected) return FailTls("Error on setting the expected server name.", OpenSslReason());

    errno = 0;
    if (SSL_connect(tls_) != 1) {
        long verify = SSL_get_verify_result(tls_);
        if (verify != X509_V_OK) {
            return FailTls("Error on verifying the server certificate.", X509_verify_cert_error_string(verify));
        }
        return FailTls("Error on TLS handshake.", OpenSslReason());
    }
    return SMTP_CONNECT_OK;
}

int SslSmtpEmail::FailTls(const char* what, const std::string& reason)
{
    std::string error = std::string(what) + " " + reason;
    Log_Error("SslSmtpEmail::Connect:%s:%s %s", Host().c_str(), Port().c_str(), error.c_str());
    SetLastError(error);
    Disconnect();
    return SMTP_ERROR_TLS;
}

int SslSmtpEmail::Disconnect()
{
    if (tls_) {
        // close_notify only on a connection that stands; the server's answer
        // to it is not awaited.
        if (SSL_is_init_finished(tls_)) SSL_shutdown(tls_);
        SSL_free(tls_);
    }
    tls_ = nullptr;
    if (context_) SSL_CTX_free(context_);
    context_ = nullptr;
    ERR_clear_error();
    return SmtpEmail::Disconnect();
}

int SslSmtpEmail::Read(char* buffer, int length)
{
    if (!tls_) return -1;
    return SSL_read(tls_, buffer, length);
}

int SslSmtpEmail::Write(const char* buffer, int length)
{
    if (!tls_) return -1;
    return SSL_write(tls_, buffer, length);
}
