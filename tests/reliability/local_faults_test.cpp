// Faults of the local disk, with the real launcher: a destination held open without
// sharing, a read-only file, a read-only folder and a full disk. Each ends with its own
// clear message (or, where the platform allows the write, with the update done), leaves no
// temporary file, and loses nothing.
//
// The read-only folder and the full disk need mounts, which a Windows program cannot make:
// tests/reliability/local_drives_test.sh mounts them and runs these cases with
// ORVANTIS_SMALL_DRIVE (an 8 MiB tmpfs as a drive letter) and ORVANTIS_READONLY_GAME (a game
// folder whose "Data" is a read-only mount) set.
#include <gtest/gtest.h>

#include <cstdlib>

#include "launcher/text.h"
#include "tests/support/origin.h"
#include "tests/support/reliability_support.h"
#include "tests/support/temp_folder.h"

namespace orvantis::reliability {
namespace {

const std::string kPartial =
    " La actualización quedó a medias: vuelve a abrir el lanzador más tarde, o descarga el juego completo en la "
    "web (Descargas).";
const std::string kOpenHint = ". ¿El juego está abierto? Ciérralo y vuelve a abrir el lanzador.";

struct LocalFaults : ::testing::Test {
    Release release = MakeRelease(
        {{"Main.exe", Bytes(3000, 21)}, {"Data/a.bin", Bytes(120000, 22)}, {"Data/b.bin", Bytes(250000, 23)}});
    std::map<std::wstring, std::string> old = {
        {L"Main.exe", Bytes(2000, 31)}, {L"Data\\a.bin", Bytes(90000, 32)}, {L"Data\\b.bin", Bytes(200000, 33)}};
    test::Origin origin;
    std::wstring folder;
    std::string bPath;

    void SetUp() override {
        origin.Publish(release.manifest, release.objects);
        bPath = "/update/files/" + release.entries[2].sha256;
        ASSERT_FALSE(BuiltLauncher().empty()) << "OrvantisKesh.exe is not built";
    }
    void TearDown() override {
        if (!folder.empty()) test::RemoveTree(folder);
    }
    void WriteOld(const std::wstring& where) {
        CreateDirectoryW((where + L"Data").c_str(), nullptr);
        for (const auto& [name, bytes] : old) test::WriteFileBytes(where + name, bytes);
    }
    Outcome Run(const std::wstring& where) { return VerifyRun(where, L"--server " + test::Address(origin)); }

    // Every game file holds its old or its new bytes; nothing temporary is left.
    void ExpectOldOrNew(const std::wstring& where) {
        std::map<std::wstring, std::string> fresh;
        for (const auto& [path, bytes] : release.content) fresh[LocalName(path)] = bytes;
        for (const auto& [name, bytes] : ReadTree(where)) {
            if (IsLauncherFile(name)) continue;
            auto n = fresh.find(name);
            auto o = old.find(name);
            EXPECT_TRUE((n != fresh.end() && n->second == bytes) || (o != old.end() && o->second == bytes))
                << Narrow(name);
        }
        EXPECT_TRUE(Leftovers(where).empty()) << "temporary files left behind";
    }
};

TEST_F(LocalFaults, DestinationHeldOpenWithoutSharingGivesTheReplaceMessageWithoutRetry) {
    folder = test::MakeTempFolder(L"held");
    WriteOld(folder);
    OwnedHandle held = OpenFile((folder + L"Data\\b.bin").c_str(), GENERIC_READ, 0, OPEN_EXISTING);
    ASSERT_TRUE(held);
    Outcome out = Run(folder);
    held.Reset();
    EXPECT_EQ(out.lastStatus, "No se pudo reemplazar Data/b.bin" + kOpenHint + kPartial);
    EXPECT_EQ(out.exitCode, 1u);
    EXPECT_EQ(out.result, "failed");
    EXPECT_EQ(origin.Count(bPath), 1u) << "a local failure is not retried";
    EXPECT_EQ(test::ReadFileBytes(folder + L"Data\\b.bin"), old.at(L"Data\\b.bin"));
    ExpectOldOrNew(folder);
}

// Whether this platform refuses to replace a read-only file (Windows does; Wine 8 does not).
bool RefusesToReplaceReadOnly(const std::wstring& scratch) {
    std::wstring target = scratch + L"ro_probe", source = scratch + L"ro_probe.new";
    test::WriteFileBytes(target, "old");
    test::WriteFileBytes(source, "new");
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY);
    bool refused = !MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(target.c_str());
    DeleteFileW(source.c_str());
    return refused;
}

TEST_F(LocalFaults, ReadOnlyGameFileIsReplacedOnlyWhereThePlatformAllowsIt) {
    folder = test::MakeTempFolder(L"rofile");
    WriteOld(folder);
    bool refuses = RefusesToReplaceReadOnly(folder);
    SetFileAttributesW((folder + L"Data\\b.bin").c_str(), FILE_ATTRIBUTE_READONLY);
    Outcome out = Run(folder);
    if (refuses) {
        EXPECT_EQ(out.lastStatus, "No se pudo reemplazar Data/b.bin" + kOpenHint + kPartial);
        EXPECT_EQ(out.result, "failed");
        EXPECT_EQ(test::ReadFileBytes(folder + L"Data\\b.bin"), old.at(L"Data\\b.bin"));
    } else {
        printf("this platform replaces read-only files: the update goes through\n");
        EXPECT_EQ(out.lastStatus, "Actualización terminada: 3 archivos nuevos. Abriendo el juego...");
        EXPECT_EQ(out.result, "ready");
        EXPECT_EQ(test::ReadFileBytes(folder + L"Data\\b.bin"), release.content.at("Data/b.bin"));
    }
    ExpectOldOrNew(folder);
}

TEST_F(LocalFaults, ReadOnlyFolderGivesTheWriteMessage) {
    const char* given = getenv("ORVANTIS_READONLY_GAME");
    if (!given || !*given)
        GTEST_SKIP() << "a read-only folder needs a read-only mount (Wine ignores the read-only attribute of "
                        "folders, and root ignores permissions): Reliability.LocalDrives runs this case";
    std::wstring where = Wide(given);
    if (where.back() != L'\\') where += L'\\';
    // The mounted "Data" is empty and read-only; the folder around it is writable.
    test::WriteFileBytes(where + L"Main.exe", old.at(L"Main.exe"));
    old = {{L"Main.exe", old.at(L"Main.exe")}};
    Outcome out = Run(where);
    EXPECT_EQ(out.result, "failed");
    EXPECT_EQ(out.exitCode, 1u);
    // Either of the two Data files may be the first to fail.
    bool a = out.lastStatus == "No se pudo escribir Data/a.bin" + kOpenHint + kPartial;
    bool b = out.lastStatus == "No se pudo escribir Data/b.bin" + kOpenHint + kPartial;
    EXPECT_TRUE(a || b) << out.lastStatus;
    EXPECT_EQ(origin.Count(bPath) + origin.Count("/update/files/" + release.entries[1].sha256), 0u)
        << "nothing is downloaded into a folder that cannot be written";
    ExpectOldOrNew(where);
    for (const wchar_t* name : {L"Main.exe", L"OrvantisKesh.exe", L"orvantis_update.log", L"orvantis_update.cache",
                                L"orvantis_verify.result", L"config.ini"})
        DeleteFileW((where + name).c_str());
}

TEST_F(LocalFaults, FullDiskGivesTheSpaceMessageAndLeavesNoPartFile) {
    const char* given = getenv("ORVANTIS_SMALL_DRIVE");
    if (!given || !*given)
        GTEST_SKIP() << "a full disk needs a small tmpfs mapped as a Wine drive: Reliability.LocalDrives mounts "
                        "one and runs this case";
    std::wstring drive = Wide(given);
    if (drive.back() != L'\\') drive += L'\\';
    folder = drive + L"game\\";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    WriteOld(folder);
    // The drive holds 8 MiB: a 12 MiB file cannot fit.
    release = MakeRelease({{"Main.exe", Bytes(3000, 21)}, {"Data/big.bin", Bytes(12 << 20, 24)}});
    origin.Publish(release.manifest, release.objects);
    Outcome out = Run(folder);
    EXPECT_EQ(out.lastStatus, "No queda espacio o no se puede escribir en la carpeta del juego." + kPartial);
    EXPECT_EQ(out.exitCode, 1u);
    EXPECT_EQ(out.result, "failed");
    EXPECT_EQ(origin.Count("/update/files/" + release.entries[1].sha256), 1u) << "a local failure is not retried";
    EXPECT_FALSE(test::Exists(folder + L"Data\\big.bin"));
    ExpectOldOrNew(folder);
}

}  // namespace
}  // namespace orvantis::reliability
