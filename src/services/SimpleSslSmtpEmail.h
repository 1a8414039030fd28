// The TLS client as the mail notifier owns it: SslSmtpEmail as it stands.
#pragma once

#include "services/SslSmtpEmail.h"

class SimpleSslSmtpEmail : public SslSmtpEmail {
public:
    using SslSmtpEmail::SslSmtpEmail;
};
