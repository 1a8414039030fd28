// Passwords the tests give the caster by ways the black-box harness does not
// see on its own. Accounts it adds, "-i" credentials of a "RelayAccount.list"
// and the password of a "RelaySmtp.conf" in a caster's folder are noted by
// VorlaneInstance itself.
// Tests take them from here, and the suite's last check (blackbox/
// SecretScanTest.cpp) looks for every one of them in everything a caster of
// the suite wrote. Each is long and odd enough that a hit is never chance.
#pragma once

namespace TestSecrets {

// A relay account of "RelayAccount.list": user and password.
const char* const kRelayUser = "relayacct";
const char* const kRelayPassword = "Relay-Secret-8341";
// A shared relay account's password, for an upstream that refuses it.
const char* const kUpstreamPassword = "Upstream-Secret-4406";

const char* const kAll[] = {kRelayPassword, kUpstreamPassword};

}  // namespace TestSecrets
