// The real launcher against origins that misbehave on demand: whatever the fault, the run
// ends with a clear message and the verify-only exit code, leaves no temporary file, and
// every file in the folder holds either its old verified bytes or its new verified bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <thread>

#include "launcher/text.h"
#include "tests/support/origin.h"
#include "tests/support/reliability_support.h"
#include "tests/support/temp_folder.h"

namespace orvantis::reliability {
namespace {

const std::string kPartial =
    " La actualización quedó a medias: vuelve a abrir el lanzador más tarde, o descarga el juego completo en la "
    "web (Descargas).";
const std::string kNoConnection = "Sin conexión con la web: se juega con los archivos que tienes.";
const std::string kUpdated = "Actualización terminada: 12 archivos nuevos. Abriendo el juego...";

// Nine packed files, all needed, so the pack is fetched whole and cut.
std::vector<std::pair<std::string, std::string>> Packed() {
    std::vector<std::pair<std::string, std::string>> packed;
    for (int i = 0; i < 9; ++i) packed.push_back({"Data/Pack/p" + std::to_string(i) + ".dat", Bytes(10000 + i, 40 + i)});
    return packed;
}

// Old installation: Main.exe, a.bin, b.bin and p0.dat in older versions; the other packed files are new.
struct Installation {
    Release release = MakeRelease(
        {{"Main.exe", Bytes(3000, 1)}, {"Data/a.bin", Bytes(150000, 2)}, {"Data/b.bin", Bytes(250000, 3)}}, Packed());
    std::map<std::wstring, std::string> old = {{L"Main.exe", Bytes(2000, 11)},
                                               {L"Data\\a.bin", Bytes(100000, 12)},
                                               {L"Data\\b.bin", Bytes(200000, 13)},
                                               {L"Data\\Pack\\p0.dat", Bytes(9000, 14)},
                                               {L"Data\\notes.txt", "not in the manifest"}};

    void WriteOld(const std::wstring& folder) const {
        CreateDirectoryW((folder + L"Data").c_str(), nullptr);
        CreateDirectoryW((folder + L"Data\\Pack").c_str(), nullptr);
        for (const auto& [name, bytes] : old) test::WriteFileBytes(folder + name, bytes);
    }

    // Checks the invariant and returns the number of files compared.
    int Check(const std::wstring& folder, const std::string& what) const {
        SCOPED_TRACE(what);
        std::map<std::wstring, std::string> fresh;
        for (const auto& [path, bytes] : release.content) fresh[LocalName(path)] = bytes;
        int compared = 0;
        auto now = ReadTree(folder);
        for (const auto& [name, bytes] : now) {
            if (IsLauncherFile(name)) continue;
            auto n = fresh.find(name);
            auto o = old.find(name);
            bool isNew = n != fresh.end() && n->second == bytes;
            bool isOld = o != old.end() && o->second == bytes;
            EXPECT_TRUE(isNew || isOld) << Narrow(name) << " holds neither its old nor its new verified bytes";
            ++compared;
        }
        for (const auto& [name, bytes] : old) EXPECT_EQ(now.count(name), 1u) << Narrow(name) << " was lost";
        EXPECT_TRUE(Leftovers(folder).empty()) << "a .part or .orvantis_pack_ file was left behind";
        return compared;
    }

    bool AllNew(const std::wstring& folder) const {
        for (const auto& [path, bytes] : release.content)
            if (test::ReadFileBytes(folder + LocalName(path)) != bytes) return false;
        return true;
    }
};

enum class Where { Files, Both, FilesDown, AllDown, Manifest };

struct Row {
    const char* name;
    Where where;
    bool onPack;                    // the fault hits the pack object rather than Data/b.bin
    std::vector<test::Reply> fault;  // answers for the faulty object, the last one repeating
    bool ready;
    std::string status;  // the closing status line
};

struct RowRun {
    Row row;
    std::wstring folder;
    std::unique_ptr<test::Origin> site;
    std::unique_ptr<test::Origin> files;
    std::wstring args;
    Outcome outcome;
    uint64_t ms = 0;  // how long the launcher ran
};

test::Reply Answer(int status, const std::string& body) {
    test::Reply reply;
    reply.status = status;
    reply.body = body;
    return reply;
}

// A port on 127.0.0.1 that nothing listens on.
uint16_t ClosedPort() {
    test::Origin probe;
    uint16_t port = probe.port;
    probe.Stop();
    return port;
}

std::vector<Row> Rows(const Installation& install) {
    const std::string& b = install.release.content.at("Data/b.bin");
    test::Reply dropped = Answer(200, b);
    dropped.cutAfter = b.size() / 2;
    test::Reply error500 = Answer(500, "server error");
    test::Reply error503 = Answer(503, "busy");
    test::Reply shorter = Answer(200, b.substr(0, b.size() - 1000));
    test::Reply longer = Answer(200, b + Bytes(70000, 99));
    test::Reply wrong = Answer(200, Bytes(b.size(), 98));
    // Longer than the launcher's 30 s receive time-out, before the head or after the first
    // chunk; a later attempt is answered.
    test::Reply stalled = Answer(200, b);
    stalled.delayMs = 45000;
    test::Reply stalledBody = Answer(200, b);
    stalledBody.chunkSize = 65536;
    stalledBody.chunkDelayMs = 45000;
    test::Reply good = Answer(200, b);
    // With the launcher's own limits: a byte every 20 s never trips a 30 s receive time-out,
    // and a head of 40,000 short lines is more than the head may be.
    test::Reply drip = Answer(200, b);
    drip.dripEveryMs = 20000;
    test::Reply dripHead = drip;
    dripHead.dripHead = true;
    test::Reply flood = Answer(200, b);
    flood.floodLines = 40000;
    const std::string failB = "No se pudo descargar Data/b.bin." + kPartial;
    return {
        {"dropped mid-body, files host", Where::Files, false, {dropped}, true, kUpdated},
        {"dropped mid-body, both hosts", Where::Both, false, {dropped}, false, failB},
        {"500, files host", Where::Files, false, {error500}, true, kUpdated},
        {"500, both hosts", Where::Both, false, {error500}, false, failB},
        {"503, files host", Where::Files, false, {error503}, true, kUpdated},
        {"503, both hosts", Where::Both, false, {error503}, false, failB},
        {"short body, files host", Where::Files, false, {shorter}, true, kUpdated},
        {"short body, both hosts", Where::Both, false, {shorter}, false, failB},
        {"overlong body, files host", Where::Files, false, {longer}, true, kUpdated},
        {"overlong body, both hosts", Where::Both, false, {longer}, false, failB},
        {"wrong body of the right length, files host", Where::Files, false, {wrong}, true, kUpdated},
        {"wrong body of the right length, both hosts", Where::Both, false, {wrong}, false, failB},
        // Every packed file is published on its own too: the run fetches them one by one.
        {"wrong pack body, both hosts", Where::Both, true, {Answer(200, Bytes(90036, 97))}, true, kUpdated},
        {"pack cut short, both hosts", Where::Both, true, {[&] {
             test::Reply r = Answer(200, install.release.objects.back());
             r.cutAfter = 30000;
             return r;
         }()}, true, kUpdated},
        {"stall past the receive time-out, then answered", Where::Files, false, {stalled, good}, true, kUpdated},
        {"stall mid-body past the receive time-out, then answered", Where::Files, false, {stalledBody, good}, true,
         kUpdated},
        {"a byte every 20 s in the body, then answered", Where::Files, false, {drip, good}, true, kUpdated},
        {"a byte every 20 s in the head, then answered", Where::Files, false, {dripHead, good}, true, kUpdated},
        {"40,000 header lines, then answered", Where::Files, false, {flood, good}, true, kUpdated},
        {"a byte every 20 s in the manifest", Where::Manifest, false, {[&] {
             test::Reply r = Answer(200, install.release.manifest);
             r.dripEveryMs = 20000;
             return r;
         }()}, true, kNoConnection},
        {"files host down, site host up", Where::FilesDown, false, {}, true, kUpdated},
        {"both hosts down", Where::AllDown, false, {}, true, kNoConnection},
    };
}

TEST(FaultMatrix, EveryFaultEndsCleanlyAndLosesNothing) {
    ASSERT_FALSE(BuiltLauncher().empty()) << "OrvantisKesh.exe is not built";
    Installation install;
    const std::string bPath = "/update/files/" + install.release.entries[2].sha256;
    const std::string packPath = "/update/files/" + install.release.packSha;

    std::vector<std::unique_ptr<RowRun>> runs;
    for (const Row& row : Rows(install)) {
        auto run = std::make_unique<RowRun>();
        run->row = row;
        run->folder = test::MakeTempFolder(L"faults");
        ASSERT_FALSE(run->folder.empty());
        install.WriteOld(run->folder);
        run->site = std::make_unique<test::Origin>();
        run->files = std::make_unique<test::Origin>();
        run->site->Publish(install.release.manifest, install.release.objects);
        run->files->Publish(install.release.manifest, install.release.objects);
        const std::string& target = row.onPack ? packPath : bPath;
        if (row.where == Where::Files || row.where == Where::Both) run->files->Script(target, row.fault);
        if (row.where == Where::Both) run->site->Script(target, row.fault);
        if (row.where == Where::Manifest) run->site->Script("/update/manifest.json", row.fault);
        std::wstring site = test::Address(*run->site);
        std::wstring files = test::Address(*run->files);
        if (row.where == Where::FilesDown) files = L"127.0.0.1:" + std::to_wstring(ClosedPort());
        if (row.where == Where::AllDown) site = files = L"127.0.0.1:" + std::to_wstring(ClosedPort());
        run->args = L"--server " + site + L" --files " + files;
        runs.push_back(std::move(run));
    }

    // The rows wait out the launcher's retry schedule (up to 20 s, 32 s for a stall or a drip,
    // 20 s and more for a bad pack and its files) at the same time, so the matrix costs
    // about as long as its slowest row.
    std::vector<std::thread> threads;
    for (auto& run : runs)
        threads.emplace_back([r = run.get()] {
            uint64_t start = GetTickCount64();
            r->outcome = VerifyRun(r->folder, r->args);
            r->ms = GetTickCount64() - start;
        });
    for (auto& t : threads) t.join();

    int faultRuns = 0, compared = 0, recoveries = 0;
    for (auto& run : runs) {
        const Row& row = run->row;
        SCOPED_TRACE(row.name);
        const Outcome& out = run->outcome;
        if (!out.exited) {
            ADD_FAILURE() << "the launcher did not finish; its log:\n" << out.log;
            continue;
        }
        ++faultRuns;
        EXPECT_EQ(out.lastStatus, row.status);
        EXPECT_EQ(out.exitCode, row.ready ? 0u : 1u);
        EXPECT_EQ(out.result, row.ready ? "ready" : "failed");
        compared += install.Check(run->folder, "after the fault");
        if (row.where == Where::AllDown || row.where == Where::Manifest) {
            EXPECT_EQ(ReadTree(run->folder).count(L"config.ini"), 0u) << "nothing may be written without a manifest";
            if (row.where == Where::Manifest)
                printf("fault matrix: %s: the launcher ran %llu ms\n", row.name, static_cast<unsigned long long>(run->ms));
            continue;
        }
        if (row.ready) {
            EXPECT_TRUE(install.AllNew(run->folder));
        } else {
            // What could not be verified keeps its old bytes, or stays absent.
            if (row.onPack) {
                EXPECT_EQ(test::ReadFileBytes(run->folder + L"Data\\Pack\\p0.dat"), install.old.at(L"Data\\Pack\\p0.dat"));
                for (int i = 1; i < 9; ++i)
                    EXPECT_FALSE(test::Exists(run->folder + L"Data\\Pack\\p" + std::to_wstring(i) + L".dat"));
            } else {
                EXPECT_EQ(test::ReadFileBytes(run->folder + L"Data\\b.bin"), install.old.at(L"Data\\b.bin"));
            }
        }
        const std::string& target = row.onPack ? packPath : bPath;
        if (row.where == Where::Files) {
            // Three tries on the files host, then the site host answers.
            EXPECT_EQ(run->files->Count(target), row.fault.size() > 1 ? 2u : 3u);
            EXPECT_EQ(run->site->Count(target), row.fault.size() > 1 ? 0u : 1u);
        }
        if (row.where == Where::Both) {
            EXPECT_EQ(run->files->Count(target), 3u);
            EXPECT_EQ(run->site->Count(target), 2u);
        }
        if (row.fault.size() > 1) {
            // The second request came before the stalled answer would have: the time-out cut it.
            auto requests = run->files->Requests();
            std::vector<uint64_t> ticks;
            for (const auto& r : requests)
                if (r.path == target) ticks.push_back(r.tick);
            ASSERT_EQ(ticks.size(), 2u);
            EXPECT_LT(ticks[1] - ticks[0], 45000u);
            // Includes the 2 s wait after a failed first attempt.
            printf("fault matrix: %s: second request %llu ms after the first\n", row.name,
                   static_cast<unsigned long long>(ticks[1] - ticks[0]));
        }
        if (!row.ready) {
            // Nothing lost: once the origin behaves, the next run completes the folder.
            run->files->Script(target, {Answer(200, row.onPack ? install.release.objects.back()
                                                               : install.release.content.at("Data/b.bin"))});
            Outcome again = VerifyRun(run->folder, run->args);
            ++recoveries;
            EXPECT_EQ(again.result, "ready");
            EXPECT_EQ(again.exitCode, 0u);
            compared += install.Check(run->folder, "after the recovery run");
            EXPECT_TRUE(install.AllNew(run->folder));
        }
    }
    for (auto& run : runs) test::RemoveTree(run->folder);
    printf("fault matrix: %d fault runs, %d recovery runs, %d files compared\n", faultRuns, recoveries, compared);
}

}  // namespace
}  // namespace orvantis::reliability
