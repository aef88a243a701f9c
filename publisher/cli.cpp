#include "publisher/cli.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "manifest/json.h"
#include "publisher/build.h"
#include "publisher/forecast.h"
#include "publisher/keys.h"
#include "publisher/manifest_text.h"
#include "publisher/objects.h"
#include "publisher/path_rules.h"
#include "publisher/published.h"
#include "publisher/serve.h"
#include "publisher/verify.h"

namespace orvantis {
namespace {

const char kUsage[] =
    "usage:\n"
    "  orvantis-publish keygen KEY.pem\n"
    "  orvantis-publish build GAME_DIR ORIGIN_DIR --key KEY.pem [--release N]\n"
    "  orvantis-publish verify ORIGIN_DIR (--key KEY.pem | --public HEX)\n"
    "  orvantis-publish diff OLD_MANIFEST NEW_MANIFEST   (manifest files or origin folders)\n"
    "  orvantis-publish serve ORIGIN_DIR [--port N] [--rate KIB_PER_SECOND]\n";

struct Line {
    std::vector<std::string> positional;
    std::string key, publicHex, port, rate, release;
    std::string error;
};

Line Parse(const std::vector<std::string>& args) {
    Line line;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string* value = a == "--key"      ? &line.key
                             : a == "--public" ? &line.publicHex
                             : a == "--port"   ? &line.port
                             : a == "--rate"   ? &line.rate
                             : a == "--release" ? &line.release
                                               : nullptr;
        if (value) {
            if (i + 1 >= args.size()) {
                line.error = a + " needs a value";
                return line;
            }
            *value = args[++i];
        } else if (a.size() > 1 && a[0] == '-') {
            line.error = "unknown option " + a;
            return line;
        } else {
            line.positional.push_back(a);
        }
    }
    return line;
}

int Usage(FILE* err, const std::string& why) {
    fprintf(err, "error: %s\n%s", why.c_str(), kUsage);
    return 2;
}

int Keygen(const Line& line, FILE* out, FILE* err) {
    if (line.positional.size() != 1) return Usage(err, "keygen takes one file name");
    std::string publicHex, error;
    if (!GenerateKey(line.positional[0], publicHex, error)) {
        fprintf(err, "error: %s\n", error.c_str());
        return 1;
    }
    fprintf(err, "Wrote %s (keep it offline). Build the launcher with:\n  -DORVANTIS_MANIFEST_KEY=%s\n",
            line.positional[0].c_str(), publicHex.c_str());
    fprintf(out, "%s\n", publicHex.c_str());
    return 0;
}

// Digits only, 1 to 2^64 - 1.
bool ReleaseNumber(const std::string& text, uint64_t& value) {
    if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    value = strtoull(text.c_str(), nullptr, 10);
    return errno == 0 && value > 0;
}

std::string ReleaseText(const ReleaseField& release) {
    if (!release.present) return "none";
    return release.valid ? std::to_string(release.value) : "not a valid number";
}

int Build(const Line& line, FILE* out, FILE* err) {
    if (line.positional.size() != 2 || line.key.empty())
        return Usage(err, "build takes GAME_DIR ORIGIN_DIR --key KEY.pem [--release N]");
    BuildOptions options{line.positional[0], line.positional[1], line.key, isatty(fileno(err)) == 1};
    if (!line.release.empty() && !ReleaseNumber(line.release, options.release))
        return Usage(err, "--release takes a number from 1 to 18446744073709551615");
    BuildReport report = BuildRelease(options);
    for (const std::string& note : report.notes) fprintf(err, "%s\n", note.c_str());
    if (!report.problems.empty()) {
        for (const std::string& problem : report.problems) fprintf(err, "refused: %s\n", problem.c_str());
        fprintf(err, "Nothing was published; the origin's manifest is unchanged.\n");
        if (report.objectsWritten > 0)
            fprintf(err, "The %zu objects written stay in the store, where no manifest names them yet.\n",
                    report.objectsWritten);
        return 1;
    }
    fputs(BuildSummary(report).c_str(), out);
    return 0;
}

int Verify(const Line& line, FILE* out, FILE* err) {
    if (line.positional.size() != 1 || line.key.empty() == line.publicHex.empty())
        return Usage(err, "verify takes ORIGIN_DIR and one of --key KEY.pem or --public HEX");
    VerifyOptions options{line.positional[0], line.key, line.publicHex, isatty(fileno(err)) == 1};
    VerifyReport report = VerifyRelease(options);
    for (const std::string& problem : report.problems) fprintf(err, "wrong: %s\n", problem.c_str());
    if (!report.problems.empty()) {
        fprintf(err, "%zu problems; the launcher would not install this release as it is.\n", report.problems.size());
        return 1;
    }
    fprintf(out, "OK: signature valid, %zu files, %zu objects and %zu packs intact\n", report.entries, report.objects,
            report.packs);
    fprintf(out, "Release: %s%s\n", ReleaseText(report.release).c_str(),
            report.release.present ? "" : " (made by an older build: launchers cannot tell it from an older release)");
    fputs(report.longestPath.c_str(), out);
    return 0;
}

// A manifest file, or the manifest an origin folder serves.
bool ReadManifestArgument(const std::string& path, std::string& body) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        PublishedPair pair;
        if (!ReadPublished(path, pair)) return false;
        body = pair.body;
        return true;
    }
    return ReadWholeFile(path, body);
}

int Diff(const Line& line, FILE* out, FILE* err) {
    if (line.positional.size() != 2) return Usage(err, "diff takes OLD_MANIFEST NEW_MANIFEST");
    const std::string& oldPath = line.positional[0];
    const std::string& newPath = line.positional[1];
    std::string oldBody, newBody;
    for (const auto& [path, body] : {std::pair{&oldPath, &oldBody}, std::pair{&newPath, &newBody}}) {
        if (!ReadManifestArgument(*path, *body)) {
            fprintf(err, "error: %s: no manifest there\n", path->c_str());
            return 1;
        }
    }
    std::vector<Entry> before, after;
    if (!Json(oldBody).Files(before)) {
        fprintf(err, "error: %s: the launcher's reader cannot read it\n", oldPath.c_str());
        return 1;
    }
    std::vector<std::string> problems = CheckManifest(newBody, after);
    if (!problems.empty()) {
        for (const std::string& problem : problems) fprintf(err, "wrong: %s\n", problem.c_str());
        fprintf(err, "The launcher would refuse %s: it downloads nothing from it.\n", newPath.c_str());
        return 1;
    }
    ReleaseField oldRelease = ReleaseOf(oldBody), newRelease = ReleaseOf(newBody);
    fprintf(out, "Release: %s -> %s\n", ReleaseText(oldRelease).c_str(), ReleaseText(newRelease).c_str());
    if (oldRelease.valid && (!newRelease.valid || newRelease.value < oldRelease.value))
        fprintf(out, "warning: launchers that have accepted release %llu refuse this manifest\n",
                (unsigned long long)oldRelease.value);
    fputs(ForecastText(ForecastRelease(before, after), false, newBody.size()).c_str(), out);
    std::vector<std::string> paths;
    for (const Entry& e : after) paths.push_back(e.path);
    fputs(LongestPathText(paths).c_str(), out);
    return 0;
}

int ServeCommand(const Line& line, FILE* out, FILE* err) {
    if (line.positional.size() != 1) return Usage(err, "serve takes ORIGIN_DIR [--port N] [--rate KIB_PER_SECOND]");
    int port = 0;
    if (!line.port.empty()) {
        char* end = nullptr;
        long value = strtol(line.port.c_str(), &end, 10);
        if (*end || value < 0 || value > 65535) return Usage(err, "--port takes a number from 0 to 65535");
        port = int(value);
    }
    long long rate = 0;
    if (!line.rate.empty()) {
        char* end = nullptr;
        long long value = strtoll(line.rate.c_str(), &end, 10);
        // Up to 1 TiB/s, so that the byte rate cannot overflow.
        if (*end || line.rate[0] == '-' || value < 1 || value > (1LL << 30))
            return Usage(err, "--rate takes a number of KiB per second from 1 to 1073741824");
        rate = value * 1024;
    }
    return Serve(line.positional[0], port, rate, out);
}

}  // namespace

int RunCommand(const std::vector<std::string>& args, FILE* out, FILE* err) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        fputs(kUsage, args.empty() ? err : out);
        return args.empty() ? 2 : 0;
    }
    Line line = Parse(args);
    if (!line.error.empty()) return Usage(err, line.error);
    const std::string& command = args[0];
    if (command == "keygen") return Keygen(line, out, err);
    if (command == "build") return Build(line, out, err);
    if (command == "verify") return Verify(line, out, err);
    if (command == "diff") return Diff(line, out, err);
    if (command == "serve") return ServeCommand(line, out, err);
    return Usage(err, "unknown command " + command);
}

}  // namespace orvantis
