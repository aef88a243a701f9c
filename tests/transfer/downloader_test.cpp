#include "transfer/downloader.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "launcher/owned.h"
#include "tests/support/holder.h"
#include "tests/support/launcher_probe.h"
#include "tests/transfer/transfer_fixture.h"
#include "transfer/plan.h"

namespace orvantis {
namespace {

using test::Content;
using test::Listing;
using test::ObjectPath;
using test::Fixed;
using test::Reply;

const std::wstring kPackMessage = L"No se pudo guardar un paquete. Revisa el espacio disponible y vuelve a intentar.";

std::string Numbered(const char* prefix, size_t i) {
    std::string name = prefix;
    name += std::to_string(i);
    return name;
}

// A pack object: a few bytes of padding, then each file's bytes in order.
struct Pack {
    std::string bytes = "PACK";
    std::vector<Entry> entries;
    std::vector<std::string> contents;

    void Add(const std::string& path, const std::string& content) {
        Entry e = test::FileEntry(path, content);
        e.offset = bytes.size();
        bytes += content;
        entries.push_back(e);
        contents.push_back(content);
    }
    // Call once all files are in.
    void Seal() {
        std::string name = test::HexSha256(bytes);
        for (Entry& e : entries) {
            e.pack = name;
            e.packSize = bytes.size();
        }
    }
    std::string Url() const { return ObjectPath(entries.front().pack); }
    std::wstring File() const { return L".orvantis_pack_" + Wide(entries.front().pack); }
};

struct DownloaderTest : test::TransferTest {
    std::wstring Local(const std::string& path) {
        std::wstring local = folder + Wide(path);
        for (wchar_t& c : local)
            if (c == L'/') c = L'\\';
        return local;
    }
    void Need(const Entry& e) { job.files.push_back({e, Local(e.path)}); }
    // Puts the pack on the files host and plans its entries, which make one work item.
    void ServeAndPlan(const Pack& pack) {
        files.Serve(pack.Url(), pack.bytes);
        for (const Entry& e : pack.entries) Need(e);
        PlanDownloads(job);
    }
    std::vector<uint8_t> Installed(std::initializer_list<int> ones) {
        std::vector<uint8_t> out(job.files.size(), 0);
        for (int i : ones) out[i] = 1;
        return out;
    }
};

TEST_F(DownloaderTest, PackFilesAllInstalled) {
    Pack pack;
    for (size_t i = 0; i < 10; ++i) pack.Add(Numbered("Data/Pack/f", i) + ".dat", Content(1000 + i * 7000, uint32_t(i)));
    pack.Seal();
    ServeAndPlan(pack);
    ASSERT_EQ(job.work.size(), 1u);

    Downloader(&job);
    EXPECT_EQ(job.failed.load(), 0);
    EXPECT_EQ(job.filesDone.load(), 10);
    EXPECT_EQ(job.installed, std::vector<uint8_t>(10, 1));
    for (size_t i = 0; i < 10; ++i) EXPECT_EQ(test::ReadFileBytes(job.files[i].second), pack.contents[i]) << i;
    EXPECT_EQ(Listing(folder).size(), 10u);  // no pack file, no ".part"
    EXPECT_EQ(files.Requests().size(), 1u);
    EXPECT_EQ(job.bytesDone.load(), int64_t(pack.bytes.size()));
}

TEST_F(DownloaderTest, EmptyFileInsidePack) {
    Pack pack;
    for (size_t i = 0; i < 8; ++i) pack.Add(Numbered("p", i), i == 3 ? "" : Content(500, uint32_t(i)));
    pack.Seal();
    ServeAndPlan(pack);
    ASSERT_EQ(job.work.size(), 1u);
    Downloader(&job);
    EXPECT_EQ(job.failed.load(), 0);
    EXPECT_EQ(job.filesDone.load(), 8);
    bool ok = false;
    EXPECT_EQ(test::ReadFileBytes(Local("p3"), &ok), "");
    EXPECT_TRUE(ok);
}

TEST_F(DownloaderTest, ThirdFileOfPackBad) {
    Pack pack;
    for (size_t i = 0; i < 9; ++i) pack.Add(Numbered("d/f", i), Content(3000, uint32_t(i)));
    pack.Seal();
    pack.entries[2].sha256 = test::HexSha256("something else");
    ServeAndPlan(pack);
    ASSERT_EQ(job.work.size(), 1u);

    Downloader(&job);
    EXPECT_EQ(job.failed.load(), 1);
    EXPECT_EQ(job.error, kPackMessage);
    EXPECT_EQ(job.filesDone.load(), 2);
    EXPECT_EQ(job.installed, Installed({0, 1}));
    EXPECT_EQ(Listing(folder), (std::vector<std::wstring>{L"d\\f0", L"d\\f1"}));
    // The pack's bytes were received, so they stay counted.
    EXPECT_EQ(job.bytesDone.load(), int64_t(pack.bytes.size()));
}

// Neither the pack nor its first file can be had: the failure names that file, and the
// run stops there as it would for any file.
TEST_F(DownloaderTest, PackThatCannotBeDownloaded) {
    Pack pack;
    for (size_t i = 0; i < 8; ++i) pack.Add(Numbered("f", i), Content(100, uint32_t(i)));
    pack.Seal();
    Entry loose = test::FileEntry("loose.txt", "after the pack");
    files.Serve(ObjectPath(loose.sha256), "after the pack");
    for (const Entry& e : pack.entries) Need(e);
    PlanDownloads(job);
    job.files.push_back({loose, Local("loose.txt")});  // an item that must never be taken
    job.installed.push_back(0);
    job.work.push_back({8});

    Downloader(&job);
    EXPECT_EQ(job.failed.load(), 1);
    EXPECT_EQ(job.error, L"No se pudo descargar f0.");
    EXPECT_EQ(job.filesDone.load(), 0);
    EXPECT_TRUE(Listing(folder).empty());
    EXPECT_EQ(files.Count(pack.Url()), 1u);  // 404: straight to the site host
    EXPECT_EQ(site.Count(pack.Url()), 2u);
    EXPECT_EQ(files.Count(ObjectPath(pack.entries[0].sha256)), 1u);
    EXPECT_EQ(site.Count(ObjectPath(pack.entries[0].sha256)), 2u);
    EXPECT_EQ(files.Count(ObjectPath(pack.entries[1].sha256)), 0u);
    EXPECT_EQ(files.Count(ObjectPath(loose.sha256)), 0u);
}

// Whatever the servers do to the pack on every attempt, its files arrive one by one as
// the stand-alone objects they are also published as.
TEST_F(DownloaderTest, PackTheServersSpoilFallsBackToItsFiles) {
    Pack pack;
    for (size_t i = 0; i < 9; ++i) pack.Add(Numbered("Data/Pack/f", i) + ".dat", Content(3000 + i, uint32_t(i)));
    pack.Seal();
    Reply cut = Fixed(200, pack.bytes);
    cut.cutAfter = pack.bytes.size() / 2;
    Reply drip = Fixed(200, pack.bytes);
    drip.dripEveryMs = 200;
    Reply silent;
    silent.dropBeforeStatus = true;
    struct Row {
        const char* name;
        Reply reply;
    } rows[] = {
        {"wrong bytes", Fixed(200, Content(pack.bytes.size(), 77))},
        {"overlong", Fixed(200, pack.bytes + "more")},
        {"cut short", cut},
        {"no answer", silent},
        {"a byte at a time", drip},
        {"not found", Fixed(404)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::Origin filesHost, siteHost;
        gFiles = Endpoint{L"127.0.0.1", filesHost.port, false};
        gSite = Endpoint{L"127.0.0.1", siteHost.port, false};
        filesHost.Script(pack.Url(), {row.reply});
        siteHost.Script(pack.Url(), {row.reply});
        for (size_t i = 0; i < pack.entries.size(); ++i)
            filesHost.Serve(ObjectPath(pack.entries[i].sha256), pack.contents[i]);
        Job run;
        InitializeCriticalSection(&run.lock);
        for (const Entry& e : pack.entries) run.files.push_back({e, Local(e.path)});
        PlanDownloads(run);
        ASSERT_EQ(run.work.size(), 1u);
        Downloader(&run);
        DeleteCriticalSection(&run.lock);

        EXPECT_EQ(run.failed.load(), 0) << Narrow(run.error);
        EXPECT_EQ(run.filesDone.load(), 9);
        EXPECT_EQ(run.installed, std::vector<uint8_t>(9, 1));
        for (size_t i = 0; i < 9; ++i)
            EXPECT_TRUE(test::ReadFileBytes(run.files[i].second) == pack.contents[i]) << "f" << i << " differs";
        EXPECT_EQ(filesHost.Count(pack.Url()) + siteHost.Count(pack.Url()), row.reply.status == 404 ? 3u : 5u);
        for (const Entry& e : pack.entries) EXPECT_EQ(filesHost.Count(ObjectPath(e.sha256)), 1u);
        EXPECT_EQ(Listing(folder).size(), 9u);  // no pack file, no ".part"
        for (size_t i = 0; i < 9; ++i) DeleteFileW(run.files[i].second.c_str());
    }
}

// The folder refusing the pack's file is no reason to ask the servers for more.
TEST_F(DownloaderTest, PackTheFolderCannotTakeDoesNotFallBack) {
    Pack pack;
    for (size_t i = 0; i < 8; ++i) pack.Add(Numbered("f", i), Content(100, uint32_t(i)));
    pack.Seal();
    ServeAndPlan(pack);
    for (size_t i = 0; i < pack.entries.size(); ++i) files.Serve(ObjectPath(pack.entries[i].sha256), pack.contents[i]);
    test::WriteFileBytes(folder + pack.File() + L".part", "held");
    {
        OwnedHandle held = OpenFile((folder + pack.File() + L".part").c_str(), GENERIC_READ, 0, OPEN_EXISTING);
        ASSERT_TRUE(held);
        Downloader(&job);
    }
    EXPECT_EQ(job.failed.load(), 1);
    EXPECT_EQ(job.error, L"No se pudo escribir " + pack.File() + test::kGameOpen);
    EXPECT_EQ(job.filesDone.load(), 0);
    EXPECT_EQ(files.Requests().size(), 0u);
    EXPECT_EQ(site.Requests().size(), 0u);
}

// Two entries with one path in two packs: while one cut writes the ".part", a second
// writer must fail rather than mix its bytes into the same file.
TEST_F(DownloaderTest, CutRefusesPartFileOpenedByAnotherWriter) {
    Pack pack;
    for (size_t i = 0; i < 8; ++i) pack.Add(Numbered("f", i), Content(100, uint32_t(i)));
    pack.Seal();
    ServeAndPlan(pack);
    {
        // The other writer shares everything, as an unshared "wb" open would.
        OwnedHandle other = OpenFile(Local("f4.part").c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, CREATE_ALWAYS);
        ASSERT_TRUE(other);
        Downloader(&job);
    }
    EXPECT_EQ(job.failed.load(), 1);
    EXPECT_EQ(job.error, kPackMessage);
    EXPECT_EQ(job.installed, Installed({0, 1, 2, 3}));
    EXPECT_FALSE(test::Exists(Local("f4")));
    EXPECT_FALSE(test::Exists(folder + pack.File()));
}

// A scanner holds a file it has just seen for a moment: a file the cut replaces, or the pack
// file the download is renamed onto. The cut waits for it.
TEST_F(DownloaderTest, CutWaitsForFilesAScannerHoldsForAMoment) {
    Pack pack;
    for (size_t i = 0; i < 8; ++i) pack.Add(Numbered("f", i), Content(100 + i, uint32_t(i)));
    pack.Seal();
    ServeAndPlan(pack);
    test::WriteFileBytes(Local("f5"), "the old f5");
    test::WriteFileBytes(folder + pack.File(), "an old pack file");
    test::Holder five, packFile;
    test::Holder::Now(five, Local("f5"), 400);
    test::Holder::Now(packFile, folder + pack.File(), 400);
    ASSERT_TRUE(five.held && packFile.held);
    Downloader(&job);
    EXPECT_EQ(job.failed.load(), 0) << Narrow(job.error);
    EXPECT_EQ(job.installed, Installed({0, 1, 2, 3, 4, 5, 6, 7}));
    for (size_t i = 0; i < 8; ++i)
        EXPECT_TRUE(test::ReadFileBytes(Local(Numbered("f", i))) == pack.contents[i]) << "f" << i << " differs";
    EXPECT_FALSE(test::Exists(folder + pack.File()));
    EXPECT_EQ(files.Count(pack.Url()), 1u);
}

TEST(IsPackName, OnlyTheNamesOfPacksAndTheirPartFiles) {
    const std::wstring hex(64, L'a');
    struct Row {
        std::wstring name;
        bool pack;
    } rows[] = {
        {L".orvantis_pack_" + hex, true},
        {L".orvantis_pack_" + hex + L".part", true},
        {L".orvantis_pack_0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef", true},
        {L".orvantis_pack_" + std::wstring(64, L'A'), false},
        {L".orvantis_pack_" + hex.substr(1), false},
        {L".orvantis_pack_" + hex + L"0", false},
        {L".orvantis_pack_" + hex + L".bak", false},
        {L".orvantis_pack_" + hex + L".part.part", false},
        {L".ORVANTIS_PACK_" + hex, false},
        {L"x.orvantis_pack_" + hex, false},
        {L".orvantis_pack_notes.txt", false},
        {L".orvantis_pack_", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(Narrow(row.name));
        EXPECT_EQ(IsPackName(row.name), row.pack);
    }
}

// A closed run leaves pack files of up to 16 MiB that nothing else would ever remove.
TEST_F(DownloaderTest, PackLeftoversAreRemovedAndNothingElse) {
    const std::wstring a = L".orvantis_pack_" + std::wstring(64, L'a'), b = L".orvantis_pack_" + std::wstring(64, L'b');
    test::WriteFileBytes(folder + a, Content(100000, 1));
    test::WriteFileBytes(folder + b + L".part", "part of a pack");
    SetFileAttributesW((folder + b + L".part").c_str(), FILE_ATTRIBUTE_READONLY);
    const std::vector<std::wstring> kept = {L".orvantis_pack_notes.txt", a + L".bak", L"Data\\" + a, L"mine.part",
                                            L"Main.exe"};
    CreateDirectoryW((folder + L"Data").c_str(), nullptr);
    for (const std::wstring& name : kept) test::WriteFileBytes(folder + name, "keep");
    RemovePackLeftovers();
    EXPECT_FALSE(test::Exists(folder + a));
    EXPECT_FALSE(test::Exists(folder + b + L".part"));
    for (const std::wstring& name : kept) EXPECT_EQ(test::ReadFileBytes(folder + name), "keep") << Narrow(name);
    EXPECT_EQ(Listing(folder).size(), kept.size());
}

struct WorkerRow {
    const char* name;
    size_t items;
    size_t workers;
};

// Every answer is held until the test opens its gate, so a worker that has asked is stuck
// with its item: the requests that arrive while nothing has been answered are one per
// running worker, and no more can come until the gate opens.
TEST_F(DownloaderTest, OneWorkerPerItemUpToEight) {
    const WorkerRow rows[] = {{"three items", 3, 3}, {"twenty items", 20, 8}};
    for (const WorkerRow& row : rows) {
        SCOPED_TRACE(row.name);
        test::Origin host;
        gFiles = Endpoint{L"127.0.0.1", host.port, false};
        Job run;
        InitializeCriticalSection(&run.lock);
        for (size_t i = 0; i < row.items; ++i) {
            std::string content = Content(2000, uint32_t(100 + i));
            Entry e = test::FileEntry(Numbered("w/", i), content);
            Reply reply = Fixed(200, content);
            reply.gate = 1;
            host.Script(ObjectPath(e.sha256), {reply});
            run.files.push_back({e, Local(e.path)});
        }
        PlanDownloads(run);
        int32_t workers = -1;
        std::thread downloads([&] { workers = RunDownloads(run); });
        bool allAsked = test::WaitUntil([&] { return host.Requests().size() >= row.workers; }, 60000);
        size_t whileHeld = host.Requests().size();
        host.Open(1);
        downloads.join();
        DeleteCriticalSection(&run.lock);
        EXPECT_TRUE(allAsked) << "only " << whileHeld << " workers asked within 60 s";
        EXPECT_EQ(whileHeld, row.workers) << "requests while every answer was held";
        EXPECT_EQ(workers, int32_t(row.workers));
        EXPECT_EQ(run.failed.load(), 0);
        EXPECT_EQ(run.filesDone.load(), int32_t(row.items));
        EXPECT_EQ(run.installed, std::vector<uint8_t>(row.items, 1));
        EXPECT_EQ(host.Requests().size(), row.items);
    }
}

// Workers whose servers drip forever end with the schedule, so the driver's wait for them
// ends too, and the failure is the file's.
TEST_F(DownloaderTest, WorkersOnDrippingServersEndAndTheWaitForThemWithThem) {
    for (size_t i = 0; i < 3; ++i) {
        std::string content = Content(100000, uint32_t(50 + i));
        Entry e = test::FileEntry(Numbered("drip/", i), content);
        Reply drip = Fixed(200, content);
        drip.dripEveryMs = 300;
        files.Script(ObjectPath(e.sha256), {drip});
        site.Script(ObjectPath(e.sha256), {drip});
        Need(e);
    }
    PlanDownloads(job);
    EXPECT_EQ(RunDownloads(job), 3);
    EXPECT_EQ(job.failed.load(), 1);
    EXPECT_EQ(job.error.rfind(L"No se pudo descargar drip/", 0), 0u) << Narrow(job.error);
    EXPECT_EQ(job.filesDone.load(), 0);
    EXPECT_EQ(job.bytesDone.load(), 0);
    EXPECT_TRUE(Listing(folder).empty());
}

TEST_F(DownloaderTest, NoWorkStartsNoWorker) {
    PlanDownloads(job);
    EXPECT_EQ(RunDownloads(job), 0);
    EXPECT_EQ(job.failed.load(), 0);
}

// Item 0 fails while seven workers wait for their bodies: they stop after their first chunk,
// give their bytes back, and nobody takes items 8 and up. The order is made by gates, not by
// delays: the failure is let go once all eight have asked, the bodies once it has happened.
TEST_F(DownloaderTest, FirstFailureStopsEveryWorker) {
    Entry bad = test::FileEntry("bad.bin", "never served");
    Reply refusal = Fixed(500);
    refusal.gate = 1;
    files.Script(ObjectPath(bad.sha256), {refusal});
    site.Script(ObjectPath(bad.sha256), {refusal});
    Need(bad);
    for (size_t i = 1; i < 20; ++i) {
        std::string content = Content(1 << 20, uint32_t(i));
        Entry e = test::FileEntry(Numbered("slow/", i), content);
        Reply reply = Fixed(200, content);
        reply.gate = 2;
        reply.chunkSize = 16384;
        reply.chunkDelayMs = 100;  // about 6 s for the whole body, should a worker not stop
        files.Script(ObjectPath(e.sha256), {reply});
        Need(e);
    }
    PlanDownloads(job);
    int32_t workers = -1;
    std::thread downloads([&] { workers = RunDownloads(job); });
    bool allAsked = test::WaitUntil([&] { return files.Requests().size() >= 8; }, 60000);
    files.Open(1);
    site.Open(1);
    bool failed = test::WaitUntil([&] { return job.failed.load() > 0; }, 60000);
    files.Open(2);
    downloads.join();
    ASSERT_TRUE(allAsked) << "the eight workers did not all ask within 60 s";
    ASSERT_TRUE(failed) << "the refused item did not fail within 60 s";
    EXPECT_EQ(workers, 8);

    EXPECT_EQ(job.failed.load(), 1);
    EXPECT_EQ(job.error, L"No se pudo descargar bad.bin.");
    EXPECT_EQ(job.filesDone.load(), 0);
    EXPECT_EQ(job.installed, std::vector<uint8_t>(20, 0));
    EXPECT_EQ(job.bytesDone.load(), 0);
    EXPECT_TRUE(Listing(folder).empty());
    std::set<std::string> asked;
    for (auto& r : files.Requests()) asked.insert(r.path);
    for (size_t i = 1; i < 20; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(asked.count(ObjectPath(job.files[i].first.sha256)), i < 8 ? 1u : 0u);
    }
}

}  // namespace
}  // namespace orvantis
