// The suite's last check: no file that any caster of the black-box run wrote
// (daily logs, user logs, dumps, stdout, stderr, as the harness kept them)
// holds a password the suite used. The passwords are those each run noted in
// its "secrets.txt" (accounts, relay credentials, the mail password), the list of
// support/TestSecrets.h, and the "-i" credentials of the relay and mail
// configuration files in the test sources; a relay's credentials are also
// looked for in the Base64 form of its Authorization line.
#include "blackbox/NtripTexts.h"
#include "support/Files.h"
#include "support/TestEnv.h"
#include "support/TestSecrets.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Shorter passwords ("pw1") are looked for as whole words only: as part of a
// longer word they would be found by chance. One or two characters ("s" of a
// test's "s:s") say nothing: any text holds them.
const size_t kWordOnlyBelow = 6;
const size_t kShortest = 3;

bool WordChar(char c) { return isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-'; }

bool Holds(const std::string& text, const std::string& secret, size_t* where)
{
    for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 1)) {
        bool whole = (at == 0 || !WordChar(text[at - 1])) &&
                     (at + secret.size() == text.size() || !WordChar(text[at + secret.size()]));
        if (secret.size() >= kWordOnlyBelow || whole) {
            *where = at;
            return true;
        }
    }
    return false;
}

void AddCredentials(const std::string& credentials, std::set<std::string>* secrets)
{
    secrets->insert(credentials);
    size_t colon = credentials.find(':');
    if (colon == std::string::npos) return;
    secrets->insert(credentials.substr(colon + 1));
    secrets->insert(NtripTexts::Base64(credentials));
}

// "-i user:password" tokens of a relay list or mail configuration text.
void AddFromConfigText(const std::string& text, std::set<std::string>* secrets)
{
    std::istringstream in(text);
    std::string token;
    bool next = false;
    while (in >> token) {
        if (next) AddCredentials(token, secrets);
        next = token == "-i";
    }
}

std::string Around(const std::string& text, size_t at)
{
    size_t from = at > 60 ? at - 60 : 0;
    std::string out;
    for (char c : text.substr(from, 160)) out += isprint(static_cast<unsigned char>(c)) ? c : '.';
    return out;
}

}  // namespace

TEST(BlackboxSecretScan, NoFileACasterWroteHoldsAPassword)
{
    const std::string root = TestOutputDir();
    std::error_code ec;
    if (root.empty() || !fs::is_directory(root, ec)) GTEST_SKIP() << "no kept black-box outputs under " << root;

    std::set<std::string> secrets(std::begin(TestSecrets::kAll), std::end(TestSecrets::kAll));
    AddCredentials(std::string(TestSecrets::kRelayUser) + ":" + TestSecrets::kRelayPassword, &secrets);
    const std::string sources = TestSourceDir() + "/tests";
    for (auto it = fs::recursive_directory_iterator(sources, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        std::string name = it->path().filename().string();
        bool config = name == "RelayAccount.list" || name == "RelaySmtp.conf" || it->path().extension() == ".list";
        if (it->is_regular_file() && config) AddFromConfigText(ReadFile(it->path().string()), &secrets);
    }

    std::vector<std::string> files;
    int runs = 0;
    for (const auto& run : fs::directory_iterator(root, ec)) {
        if (!run.is_directory()) continue;
        ++runs;
        for (const std::string& line : SplitLines(ReadFile((run.path() / "secrets.txt").string()))) {
            if (!line.empty()) secrets.insert(line);
            if (line.find(':') != std::string::npos) AddCredentials(line, &secrets);
        }
        for (auto it = fs::recursive_directory_iterator(run.path(), ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_regular_file() && it->path().filename() != "secrets.txt") files.push_back(it->path().string());
        }
    }
    for (auto it = secrets.begin(); it != secrets.end();) {
        it = it->size() < kShortest ? secrets.erase(it) : std::next(it);
    }

    int hits = 0;
    for (const std::string& file : files) {
        std::string text = ReadFile(file);
        for (const std::string& secret : secrets) {
            size_t at = 0;
            if (!Holds(text, secret, &at)) continue;
            if (++hits <= 20) ADD_FAILURE() << "password \"" << secret << "\" in " << file << ": ..." << Around(text, at) << "...";
        }
    }
    EXPECT_EQ(hits, 0);
    std::cout << "scanned " << files.size() << " files of " << runs << " caster runs for " << secrets.size()
              << " passwords" << std::endl;
}
