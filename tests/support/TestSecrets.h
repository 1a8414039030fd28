// Passwords the tests give the caster by ways the black-box harness does not
// see on its own (accounts it adds are noted by VorlaneInstance itself).
// Tests take them from here, and the suite's last check (blackbox/
// SecretScanTest.cpp) looks for every one of them in everything a caster of
// the suite wrote. Each is long and odd enough that a hit is never chance.
#pragma once

namespace TestSecrets {

// A relay account of "RelayAccount.list": user and password.
const char* const kRelayUser = "relayacct";
const char* const kRelayPassword = "Relay-Secret-8341";
// The mail account of "RelaySmtp.conf".
const char* const kMailPassword = "Mail-Secret-2719";
// An upstream caster's account that a test's fake upstream checks.
const char* const kUpstreamPassword = "Upstream-Secret-4406";

const char* const kAll[] = {kRelayPassword, kMailPassword, kUpstreamPassword};

}  // namespace TestSecrets
