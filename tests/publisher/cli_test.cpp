#include "publisher/cli.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <regex>

#include "tests/publisher/http_get.h"
#include "tests/publisher/scratch.h"

namespace orvantis {
namespace {

using test::ReadFile;
using test::WriteFile;

class Cli : public test::Scratch {
protected:
    std::string out, err;
    int Run(const std::vector<std::string>& args) {
        FILE* o = tmpfile();
        FILE* e = tmpfile();
        int code = RunCommand(args, o, e);
        out = Slurp(o);
        err = Slurp(e);
        return code;
    }
    static std::string Slurp(FILE* f) {
        fflush(f);
        rewind(f);
        std::string s;
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) s.append(buffer, n);
        fclose(f);
        return s;
    }
};

TEST_F(Cli, KeygenBuildVerifyRoundTrip) {
    std::string key = dir + "/release.pem";
    ASSERT_EQ(Run({"keygen", key}), 0) << err;
    ASSERT_TRUE(std::regex_match(out, std::regex("04[0-9a-f]{128}\n")));
    std::string publicHex = out.substr(0, 130);
    EXPECT_EQ(Run({"keygen", key}), 1);

    WriteFile(game + "/Main.exe", "exe");
    for (int i = 0; i < 10; ++i) WriteFile(game + "/Data/f" + std::to_string(i), test::Bytes(i, 100));
    ASSERT_EQ(Run({"build", game, origin, "--key", key}), 0) << err;
    EXPECT_TRUE(std::regex_search(out, std::regex("Files: 11 .*\n(.*\n)*Time: [0-9.]+ s\n"))) << out;
    EXPECT_NE(out.find("Longest path: 8 characters (Main.exe): it fits game folders of up to 510 characters\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("in 1 packs"), std::string::npos) << out;

    ASSERT_EQ(Run({"verify", origin, "--public", publicHex}), 0) << err;
    EXPECT_NE(out.find("OK: signature valid, 11 files"), std::string::npos);
    EXPECT_TRUE(std::regex_search(out, std::regex("\nRelease: [0-9]+\n"))) << out;
    EXPECT_NE(out.find("Longest path: 8 characters (Main.exe): it fits game folders of up to 510 characters\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(Run({"verify", origin, "--key", test::DevKey()}), 1);
    EXPECT_NE(err.find("wrong: manifest.json.sig: not a valid signature"), std::string::npos) << err;

    WriteFile(game + "/Data/bad:name", "x");
    EXPECT_EQ(Run({"build", game, origin, "--key", key}), 1);
    EXPECT_NE(err.find("refused: Data/bad:name: contains a colon"), std::string::npos) << err;
}

TEST_F(Cli, RejectsCommandLinesItCannotUnderstand) {
    const std::vector<std::string> rows[] = {
        {},
        {"publish"},
        {"keygen"},
        {"build", "game"},
        {"build", "game", "origin"},
        {"verify", "origin"},
        {"verify", "origin", "--key", "k", "--public", "04"},
        {"serve", "origin", "--port", "70000"},
        {"serve", "origin", "--port"},
        {"serve", "origin", "--rate", "0"},
        {"serve", "origin", "--rate", "-64"},
        {"serve", "origin", "--rate", "fast"},
        {"serve", "origin", "--rate", "2000000000"},
        {"build", "g", "o", "--key", "k", "--force"},
        {"diff", "old.json"},
        {"build", "g", "o", "--key", "k", "--release", "0"},
        {"build", "g", "o", "--key", "k", "--release", "-5"},
        {"build", "g", "o", "--key", "k", "--release", "12abc"},
        {"build", "g", "o", "--key", "k", "--release", "18446744073709551616"},
    };
    for (const auto& args : rows) {
        SCOPED_TRACE(args.empty() ? "(nothing)" : args[0] + " ...");
        EXPECT_EQ(Run(args), 2);
        EXPECT_NE(err.find("usage:"), std::string::npos);
    }
}

TEST_F(Cli, BuildTakesAReleaseNumberAndVerifyAndDiffShowIt) {
    WriteFile(game + "/Main.exe", "exe");
    ASSERT_EQ(Run({"build", game, origin, "--key", test::DevKey(), "--release", "18446744073709551615"}), 0) << err;
    EXPECT_NE(out.find("Release: 18446744073709551615 (the origin served no numbered release before)\n"),
              std::string::npos)
        << out;
    std::string first = dir + "/first.json";
    WriteFile(first, ReadFile(origin + "/update/manifest.json"));
    ASSERT_EQ(Run({"verify", origin, "--key", test::DevKey()}), 0) << err;
    EXPECT_NE(out.find("Release: 18446744073709551615\n"), std::string::npos) << out;

    // No number above the largest: the build says how to go on.
    WriteFile(game + "/Data/new", "new");
    EXPECT_EQ(Run({"build", game, origin, "--key", test::DevKey()}), 1);
    EXPECT_NE(err.find("has no number above it; give one with --release N"), std::string::npos) << err;
    ASSERT_EQ(Run({"build", game, origin, "--key", test::DevKey(), "--release", "7"}), 0) << err;
    EXPECT_NE(err.find("warning: release 7 is not above the origin's current release 18446744073709551615"),
              std::string::npos)
        << err;
    ASSERT_EQ(Run({"diff", first, origin}), 0) << err;
    EXPECT_NE(out.find("Release: 18446744073709551615 -> 7\nwarning: launchers that have accepted release "
                       "18446744073709551615 refuse this manifest\n"),
              std::string::npos)
        << out;
}

TEST_F(Cli, DiffForecastsFromTwoManifestsAndRefusesOneTheLauncherWouldNot) {
    WriteFile(game + "/Main.exe", "exe");
    for (int i = 0; i < 10; ++i) WriteFile(game + "/Data/f" + std::to_string(i), test::Bytes(i, 100));
    ASSERT_EQ(Run({"build", game, origin, "--key", test::DevKey()}), 0) << err;
    std::string first = origin + "/first.json";
    WriteFile(first, ReadFile(origin + "/update/manifest.json"));
    WriteFile(game + "/Data/f3", "changed");
    WriteFile(game + "/Data/new", "new");
    ASSERT_EQ(Run({"build", game, origin, "--key", test::DevKey()}), 0) << err;
    std::string built = out;

    ASSERT_EQ(Run({"diff", first, origin}), 0) << err;
    EXPECT_NE(out.find("Changed: 1 files, added: 1, removed: 0\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Update: 2 files, 2 requests (0 whole packs, 2 objects), 10 bytes"), std::string::npos) << out;
    // build said the same, from the manifest the origin served before it.
    EXPECT_NE(built.find(out.substr(out.find("Changed:"))), std::string::npos) << built;

    WriteFile(dir + "/bad.json", "{\"files\":[{\"path\":\"../x\",\"size\":1,\"sha256\":\"" + std::string(64, 'a') + "\"}]}");
    EXPECT_EQ(Run({"diff", first, dir + "/bad.json"}), 1);
    EXPECT_NE(err.find("The launcher would refuse"), std::string::npos) << err;
    EXPECT_EQ(Run({"diff", dir + "/missing.json", first}), 1);
    EXPECT_NE(err.find("no manifest there"), std::string::npos) << err;
}

// The real program, as an operator starts it: port 0, the port read from its first line.
TEST_F(Cli, ServeAsAChildProcessPrintsItsPortAndLogsRequests) {
    WriteFile(game + "/Main.exe", "exe");
    ASSERT_EQ(Run({"build", game, origin, "--key", test::DevKey()}), 0) << err;
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(pipeFds[1], 1);
        close(pipeFds[0]);
        execl(ORVANTIS_PUBLISH_EXE, "orvantis-publish", "serve", origin.c_str(), "--port", "0", (char*)nullptr);
        _exit(127);
    }
    close(pipeFds[1]);
    FILE* output = fdopen(pipeFds[0], "r");
    char line[512] = {};
    ASSERT_NE(fgets(line, sizeof line, output), nullptr);
    std::cmatch m;
    ASSERT_TRUE(std::regex_match(line, m, std::regex("Serving .* on http://127\\.0\\.0\\.1:([0-9]+)\n"))) << line;
    int port = std::stoi(m[1].str());

    test::Answer a = test::HttpGet(port, "/update/manifest.json");
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(a.Header("x-orvantis-signature"), ReadFile(origin + "/update/manifest.json.sig"));
    ASSERT_NE(fgets(line, sizeof line, output), nullptr);
    EXPECT_EQ(std::string(line), "GET /update/manifest.json 200 " + std::to_string(a.body.size()) + "\n");

    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    fclose(output);
}

}  // namespace
}  // namespace orvantis
