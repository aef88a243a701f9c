// Hostile manifest paths against the real launcher: each one is refused, or its file lands
// inside the game folder; nothing is ever created outside it. The game folder sits four
// levels below a folder of the test's own, which is compared before and after every run,
// and every hostile file name carries the marker "orvhx" so that a stray copy anywhere
// else the launcher could reach is found by name.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include "launcher/globals.h"
#include "launcher/text.h"
#include "manifest/safe_path.h"
#include "tests/support/origin.h"
#include "tests/support/reliability_support.h"
#include "tests/support/signing.h"
#include "tests/support/temp_folder.h"

namespace orvantis::reliability {
namespace {

const std::string kInvalid = "La actualización trae una ruta no válida y no se aplicó.";

enum class Expect { Refused, Inside, Safe };  // Safe: refused, inside, or a clear write failure

struct Hostile {
    std::string name;
    std::string path;  // raw UTF-8 bytes (may hold NUL and invalid sequences)
    Expect expect;
    size_t canonicalLength = 0;  // when set, path is made to give this length inside the run's folder
};

// A path whose canonical form, inside a game folder of folderLength characters, has the
// given length (the terminating NUL not counted).
std::string OfCanonicalLength(size_t folderLength, size_t length) {
    std::string fill;
    while (folderLength + fill.size() + 200 < length) fill += std::string(199, 'd') + "/";
    return fill + std::string(length - folderLength - fill.size() - 5, 'e') + "orvhx";
}

std::string S(const char* bytes, size_t n) { return std::string(bytes, n); }

std::vector<Hostile> Corpus() {
    std::vector<Hostile> c = {
        // Traversal in every spelling.
        {"parent", "../orvhx", Expect::Refused},
        {"grandparent", "../../orvhx", Expect::Refused},
        {"far up", "../../../../../../../../orvhx", Expect::Refused},
        {"down then up past the root", "Data/../../orvhx", Expect::Refused},
        {"down then up", "Data/../orvhx", Expect::Refused},
        {"dot dot alone", "..", Expect::Refused},
        {"dot alone", ".", Expect::Refused},
        {"dot segment", "./orvhx", Expect::Refused},
        {"inner dot segment", "Data/./orvhx", Expect::Refused},
        {"trailing dot dot", "Data/..", Expect::Refused},
        {"backslash traversal", "..\\orvhx", Expect::Refused},
        {"inner backslash traversal", "Data\\..\\..\\orvhx", Expect::Refused},
        {"mixed separators", "Data/..\\..\\orvhx", Expect::Refused},
        {"percent-encoded slash", "..%2forvhx", Expect::Inside},
        {"percent-encoded dots", "%2e%2e/orvhx", Expect::Inside},
        {"four dots", "..../orvhx", Expect::Safe},
        {"four dots alone", "....", Expect::Refused},
        {"three dots", ".../orvhx", Expect::Refused},
        {"dot dot blank", ".. /orvhx", Expect::Safe},
        {"dot dot dot blank", "... /orvhx", Expect::Safe},
        {"blank dot dot", " ../orvhx", Expect::Safe},
        {"dot dot tab", "..\t/orvhx", Expect::Refused},
        {"dot blank dot", ". ./orvhx", Expect::Safe},
        {"double slash", "Data//orvhx", Expect::Refused},
        {"trailing slash", "Data/orvhx/", Expect::Refused},
        {"empty", "", Expect::Refused},
        // Absolute and UNC forms, drive letters.
        {"rooted", "/orvhx", Expect::Refused},
        {"rooted system path", "/etc/orvhx", Expect::Refused},
        {"UNC with slashes", "//127.0.0.1/share/orvhx", Expect::Refused},
        {"UNC with backslashes", "\\\\127.0.0.1\\share\\orvhx", Expect::Refused},
        {"device namespace", "\\\\.\\C:\\orvhx", Expect::Refused},
        {"long-path prefix", "\\\\?\\C:\\orvhx", Expect::Refused},
        {"NT object path", "\\??\\C:\\orvhx", Expect::Refused},
        {"drive absolute", "C:/orvhx", Expect::Refused},
        {"drive relative", "C:orvhx", Expect::Refused},
        {"Z drive", "Z:/tmp/orvhx", Expect::Refused},
        {"URL", "file:///tmp/orvhx", Expect::Refused},
        // Alternate data streams.
        {"stream", "Main.exe:orvhx", Expect::Refused},
        {"default stream", "orvhx::$DATA", Expect::Refused},
        {"stream on a folder", "Data:orvhx/x", Expect::Refused},
        // Device names, with and without extensions.
        {"CON", "CON", Expect::Safe},
        {"con lower", "con", Expect::Safe},
        {"NUL", "NUL", Expect::Safe},
        {"PRN", "PRN", Expect::Safe},
        {"AUX in a folder", "Data/AUX", Expect::Safe},
        {"COM1", "COM1", Expect::Safe},
        {"LPT9 with extension", "LPT9.orvhx", Expect::Safe},
        {"CON with extension", "CON.orvhx", Expect::Safe},
        {"nul with extension in a folder", "Data/nul.orvhx", Expect::Safe},
        {"COM1 with a trailing dot", "COM1.", Expect::Safe},
        {"CON with a trailing blank", "CON ", Expect::Safe},
        {"CONIN$", "CONIN$", Expect::Safe},
        {"CONOUT$", "CONOUT$", Expect::Safe},
        {"COM superscript one", "COM\xC2\xB9", Expect::Safe},
        // Trailing dots and blanks.
        {"trailing dot", "orvhx.", Expect::Safe},
        {"trailing blank", "orvhx ", Expect::Safe},
        {"trailing dots and blanks", "orvhx. . .", Expect::Safe},
        {"folder with a trailing dot", "Data./orvhx", Expect::Safe},
        {"folder with a trailing blank", "Data /orvhx", Expect::Safe},
        {"leading blank", " orvhx", Expect::Safe},
        // Non-ASCII look-alikes of '/', '\', '.' and ':'.
        {"division slash", "..\xE2\x88\x95orvhx", Expect::Safe},
        {"fraction slash", "..\xE2\x81\x84orvhx", Expect::Safe},
        {"fullwidth solidus", "..\xEF\xBC\x8Forvhx", Expect::Safe},
        {"big solidus", "..\xE2\xA7\xB8orvhx", Expect::Safe},
        {"fullwidth reverse solidus", "..\xEF\xBC\xBCorvhx", Expect::Safe},
        {"yen sign", "..\xC2\xA5orvhx", Expect::Safe},
        {"fullwidth full stops", "\xEF\xBC\x8E\xEF\xBC\x8E/orvhx", Expect::Safe},
        {"two dot leader", "\xE2\x80\xA5/orvhx", Expect::Safe},
        {"one dot leaders", "\xE2\x80\xA4\xE2\x80\xA4/orvhx", Expect::Safe},
        {"fullwidth colon", "C\xEF\xBC\x9A/orvhx", Expect::Safe},
        // Overlong and invalid UTF-8.
        {"overlong slash", "..\xC0\xAForvhx", Expect::Safe},
        {"overlong dots", "\xC0\xAE\xC0\xAE/orvhx", Expect::Safe},
        {"three-byte overlong slash", "..\xE0\x80\xAForvhx", Expect::Safe},
        {"four-byte overlong slash", "..\xF0\x80\x80\xAForvhx", Expect::Safe},
        {"overlong backslash", "..\xC1\x9Corvhx", Expect::Safe},
        {"overlong colon", "C\xC0\xBAorvhx", Expect::Safe},
        {"lone continuation bytes", "\x80\x80/orvhx", Expect::Safe},
        {"encoded surrogate", "\xED\xA0\x80orvhx", Expect::Safe},
        // Embedded NUL.
        {"NUL then traversal", S("orvhx\0/../../x", 14), Expect::Refused},
        {"traversal then NUL", S("../orvhx\0", 9), Expect::Refused},
        {"NUL in a folder name", S("Da\0ta/orvhx", 11), Expect::Refused},
        // Characters Windows does not allow in names.
        {"wildcards", "orvhx*?", Expect::Safe},
        {"angle brackets and bar", "orvhx<>|", Expect::Safe},
        {"quote", "orvhx\"q", Expect::Safe},
        {"control character", "orvhx\x01", Expect::Refused},
        {"line feed", "orvhx\nx", Expect::Refused},
        // The launcher's own files.
        {"the launcher", "OrvantisKesh.exe", Expect::Safe},
        {"the launcher in capitals", "ORVANTISKESH.EXE", Expect::Safe},
        {"the hash cache", "orvantis_update.cache", Expect::Safe},
        // Plain names that must work.
        {"plain", "Data/orvhx.bin", Expect::Inside},
        {"non-ASCII letters", "Data/\xC3\xB1" "and\xC3\xBA/orvhx", Expect::Inside},
        {"dots inside names", "Data/a..b/.orvhx", Expect::Inside},
        {"deep", "a/b/c/d/e/f/g/h/i/j/k/l/m/n/o/p/orvhx", Expect::Inside},
    };
    // Long names around the limits: a 255-character name, one over it, and canonical lengths
    // of 519 (the longest accepted) and 520 characters.
    c.push_back({"name of 255", std::string(250, 'n') + "orvhx", Expect::Safe});
    c.push_back({"name of 256", std::string(251, 'n') + "orvhx", Expect::Safe});
    c.push_back({"canonical length 519", "", Expect::Safe, 519});
    c.push_back({"canonical length 520", "", Expect::Refused, 520});
    return c;
}

// JSON string contents for raw bytes: quotes and backslashes escaped, everything else raw.
std::string JsonText(const std::string& raw) {
    std::string out;
    for (char ch : raw) {
        if (ch == '"' || ch == '\\') out += '\\';
        out += ch;
    }
    return out;
}

// Names below a folder (files and folders), for before-and-after comparison.
std::vector<std::wstring> Listing(const std::wstring& folder, const std::wstring& skip) {
    std::vector<std::wstring> out;
    std::vector<std::wstring> pending = {L""};
    while (!pending.empty()) {
        std::wstring relative = pending.back();
        pending.pop_back();
        WIN32_FIND_DATAW data;
        OwnedFind find = FindFirst((folder + relative + L"*").c_str(), &data);
        if (!find) continue;
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = relative + name;
            out.push_back(path);
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && path + L"\\" != skip)
                pending.push_back(path + L"\\");
        } while (FindNextFileW(find.h, &data));
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Files named with the marker directly in places a traversal could reach.
std::vector<std::wstring> StrayMarkers() {
    std::vector<std::wstring> found;
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    for (std::wstring place : {std::wstring(L"C:\\"), std::wstring(L"C:\\users\\"), std::wstring(temp),
                               std::wstring(L"Z:\\"), std::wstring(L"Z:\\tmp\\")}) {
        WIN32_FIND_DATAW data;
        OwnedFind find = FindFirst((place + L"*orvhx*").c_str(), &data);
        if (find) {
            do found.push_back(place + data.cFileName);
            while (FindNextFileW(find.h, &data));
        }
    }
    return found;
}

// The same corpus through SafePath alone, each accepted path then created the way the
// download does it (folders below the game folder, a ".part" file, one replacing move).
TEST(HostilePaths, SafePathOnlyAcceptsWhatCanBeCreatedInside) {
    std::wstring root = test::MakeTempFolder(L"hostile");
    ASSERT_FALSE(root.empty());
    std::wstring game = root + L"p1\\p2\\p3\\game\\";
    for (const wchar_t* part : {L"p1", L"p1\\p2", L"p1\\p2\\p3", L"p1\\p2\\p3\\game"})
        CreateDirectoryW((root + part).c_str(), nullptr);
    std::wstring saved = gFolder;
    gFolder = game;
    std::vector<std::wstring> outside = Listing(root, L"p1\\p2\\p3\\game\\");
    int accepted = 0;
    for (Hostile h : Corpus()) {
        SCOPED_TRACE(h.name);
        if (h.canonicalLength) h.path = OfCanonicalLength(game.size(), h.canonicalLength);
        std::wstring out;
        bool ok = SafePath(h.path, out);
        if (h.expect == Expect::Refused) {
            EXPECT_FALSE(ok) << Narrow(out);
        }
        if (h.expect == Expect::Inside) {
            EXPECT_TRUE(ok);
        }
        if (!ok) continue;
        ++accepted;
        for (size_t p = game.size(); (p = out.find(L'\\', p + 1)) != std::wstring::npos;)
            CreateDirectoryW(out.substr(0, p).c_str(), nullptr);
        std::wstring part = out + L".part";
        OwnedHandle file = OpenFile(part.c_str(), GENERIC_WRITE, 0, CREATE_ALWAYS);
        if (!file) continue;  // not creatable: the download reports it and writes nothing
        file.Reset();
        if (!MoveFileExW(part.c_str(), out.c_str(), MOVEFILE_REPLACE_EXISTING)) DeleteFileW(part.c_str());
        EXPECT_EQ(Listing(root, L"p1\\p2\\p3\\game\\"), outside) << "created outside: " << Narrow(out);
    }
    gFolder = saved;
    test::RemoveTree(root);
    printf("SafePath: %zu hostile paths, %d accepted and created inside\n", Corpus().size(), accepted);
}

struct Verdict {
    Outcome outcome;
    std::vector<std::wstring> before, after, inside;
    bool fetched = false;
};

TEST(HostilePaths, EachIsRefusedOrLandsInsideTheGameFolder) {
    ASSERT_FALSE(BuiltLauncher().empty()) << "OrvantisKesh.exe is not built";
    ASSERT_TRUE(StrayMarkers().empty()) << "leftovers of an earlier run: " << Narrow(StrayMarkers()[0]);
    std::vector<Hostile> corpus = Corpus();

    std::vector<Verdict> verdicts(corpus.size());
    std::vector<std::wstring> roots(corpus.size());
    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (size_t i; (i = next++) < corpus.size();) {
            std::wstring root = test::MakeTempFolder(L"hostile");
            roots[i] = root;
            std::wstring game = root + L"p1\\p2\\p3\\game\\";
            for (const wchar_t* part : {L"p1", L"p1\\p2", L"p1\\p2\\p3", L"p1\\p2\\p3\\game", L"p1\\p2\\p3\\game\\Data"})
                CreateDirectoryW((root + part).c_str(), nullptr);
            std::string mainBytes = "main program";
            test::WriteFileBytes(game + L"Main.exe", mainBytes);
            std::string content = "orvhx content " + std::to_string(i);
            Entry main = test::FileEntry("Main.exe", mainBytes);
            if (corpus[i].canonicalLength) corpus[i].path = OfCanonicalLength(game.size(), corpus[i].canonicalLength);
            Entry hostile = test::FileEntry(JsonText(corpus[i].path), content);
            test::Origin origin;
            origin.Publish(test::ManifestText({main, hostile}), {mainBytes, content});
            Verdict& v = verdicts[i];
            v.before = Listing(root, L"p1\\p2\\p3\\game\\");
            v.outcome = VerifyRun(game, L"--server " + test::Address(origin), 120000);
            v.after = Listing(root, L"p1\\p2\\p3\\game\\");
            v.fetched = origin.Count("/update/files/" + hostile.sha256) > 0;
            for (const auto& [name, bytes] : ReadTree(game))
                if (bytes == content) v.inside.push_back(name);
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back(worker);
    for (auto& t : threads) t.join();

    int refused = 0, inside = 0, writeRefused = 0;
    for (size_t i = 0; i < corpus.size(); ++i) {
        SCOPED_TRACE(corpus[i].name);
        const Verdict& v = verdicts[i];
        ASSERT_TRUE(v.outcome.exited);
        // Nothing appears or disappears outside the game folder.
        EXPECT_EQ(v.before, v.after);
        EXPECT_TRUE(Leftovers(roots[i] + L"p1\\p2\\p3\\game\\").empty());
        const std::string& status = v.outcome.lastStatus;
        if (status == kInvalid) {
            ++refused;
            EXPECT_FALSE(v.fetched) << "a refused manifest downloads nothing";
            EXPECT_EQ(v.outcome.result, "failed");
        } else if (!v.inside.empty() || (v.outcome.result == "ready" && IsLauncherFile(LocalName(corpus[i].path)))) {
            // Landed inside (a launcher file of that name is then rewritten by the launcher itself).
            ++inside;
            EXPECT_EQ(v.outcome.result, "ready") << status;
            EXPECT_NE(corpus[i].expect, Expect::Refused) << "landed at " << Narrow(v.inside.empty() ? L"" : v.inside[0]);
        } else if (status.rfind("No se pudo escribir ", 0) == 0 || status.rfind("No se pudo reemplazar ", 0) == 0) {
            ++writeRefused;
            printf("refused when writing: %s\n", corpus[i].name.c_str());
            EXPECT_EQ(v.outcome.result, "failed");
            EXPECT_EQ(corpus[i].expect, Expect::Safe) << status;
        } else {
            ADD_FAILURE() << "unexpected end: " << status;
        }
        if (corpus[i].expect == Expect::Refused) {
            EXPECT_EQ(status, kInvalid);
        }
        if (corpus[i].expect == Expect::Inside) {
            EXPECT_FALSE(v.inside.empty()) << status;
        }
    }
    std::vector<std::wstring> stray = StrayMarkers();
    EXPECT_TRUE(stray.empty()) << "created outside: " << Narrow(stray.empty() ? L"" : stray[0]);
    for (const std::wstring& root : roots) test::RemoveTree(root);
    printf("hostile paths: %zu (refused %d, landed inside %d, refused when writing %d)\n", corpus.size(), refused,
           inside, writeRefused);
}

}  // namespace
}  // namespace orvantis::reliability
