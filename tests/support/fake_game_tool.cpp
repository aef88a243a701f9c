// A stand-in for Main.exe: records how it was started, in "fake_game.record" beside itself,
// as two UTF-8 lines: the command line and the working folder.
#include <cstdio>
#include <string>

#include "launcher/options.h"
#include "launcher/text.h"
#include "launcher/win.h"

int wmain() {
    using namespace orvantis;
    wchar_t cwd[32768] = {};
    GetCurrentDirectoryW(32768, cwd);
    std::string record = Narrow(GetCommandLineW()) + "\n" + Narrow(cwd) + "\n";
    // Written under another name and then renamed, so a reader never sees half a record.
    std::wstring folder = FolderOf(ModulePath());
    std::wstring part = folder + L"fake_game.record.part";
    FILE* f = _wfopen(part.c_str(), L"wb");
    if (!f) return 2;
    fwrite(record.data(), 1, record.size(), f);
    fclose(f);
    return MoveFileExW(part.c_str(), (folder + L"fake_game.record").c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 3;
}
