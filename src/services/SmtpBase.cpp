#include "services/SmtpBase.h"

SmtpBase::~SmtpBase() = default;
