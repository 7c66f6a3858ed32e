// Adds a whole profile folder through the archive facade, as a backup run does, and
// prints the wall time, the peak resident memory and what the progress hook saw.
// With --verify, reads a written archive back as a backup run checks it; with
// --extract, restores a whole archive into an empty folder.
//
//   bench_archive [--reuse EARLIER_ARCHIVE] PROFILE_FOLDER ARCHIVE [LEVEL [PASSWORD]]
//   bench_archive --verify ARCHIVE [PASSWORD]
//   bench_archive --extract ARCHIVE TARGET_FOLDER [PASSWORD]

#include "archive/ArchiveVerify.h"
#include "archive/ZipFactory.h"
#include "config/Environment.h"
#include "config/SharedState.h"
#include "engine/ArchiveSetup.h"
#include "engine/DatabaseCheck.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace tessarin;

namespace {

// Answers nothing, counts what a window would draw.
class TCountingUserInterface : public TQuietUserInterface {
public:
    long Pumps = 0;
    long TaskTexts = 0;
    long Positions = 0;
    int LastPosition = -1;

    void WarningBox(const std::string&, const std::string& t) override
    {
        std::fprintf(stderr, "warning: %s\n", t.c_str());
    }
    void ErrorBox(const std::string&, const std::string& t) override
    {
        std::fprintf(stderr, "error: %s\n", t.c_str());
    }
    void SetTaskText(const std::string&) override { ++TaskTexts; }
    void SetProgressPosition(int position) override
    {
        ++Positions;
        LastPosition = position;
    }
    void ProcessEvents() override { ++Pumps; }
};

long PeakRssKiB()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The environment of the run: the real system's but for the program folder.
TEnvironment g_environment = SystemEnvironment();
const TCurrentEnvironment g_current(g_environment);

// A program folder of its own, holding the Backup.ini with the level to measure.
std::string PrepareProgramFolder(const std::string& level)
{
    char programTemplate[] = "/tmp/bench-archive-XXXXXX";
    if (::mkdtemp(programTemplate) == nullptr)
        std::exit(2);
    const std::string program = std::string(programTemplate) + "/";
    std::ofstream(program + "Backup.ini") << "[General]\ncompressionLevel=" << level << "\n";
    g_environment.Folders.Program = program;
    g_environment.Language = std::make_shared<Tl10n>(program + "Default.lng");
    return program;
}

int Extract(const std::string& archive, const std::string& target, const std::string& password)
{
    const std::string program = PrepareProgramFolder("9");
    TSharedState state(g_environment);
    state.Operation = TOperation::Restore;
    TCountingUserInterface ui;
    const auto start = std::chrono::steady_clock::now();
    int files = 0;
    std::size_t problems = 0;
    {
        TZipFactory zip(archive, password, WithTrailingSeparator(target), EngineZipSetup(state, ui),
                        ui);
        files = zip.ExtractFolder("", "*.*");
        problems = zip.Problems().size();
        for (const auto& problem : zip.Problems())
            std::fprintf(stderr, "not extracted: %s\n", ProblemText(problem).c_str());
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::error_code ec;
    fs::remove_all(program, ec);
    std::printf("files %d seconds %.2f peak_rss_kib %ld pumps %ld problems %zu\n", files, seconds,
                PeakRssKiB(), ui.Pumps, problems);
    return problems == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::string(argv[1]) == "--verify") {
        const auto start = std::chrono::steady_clock::now();
        const auto failure = VerifyArchive(argv[2], argc > 3 ? argv[3] : "");
        const auto verified = std::chrono::steady_clock::now();
        // The second half of the check: every stored SQLite database opened and checked.
        const auto database = CheckStoredDatabases(argv[2], argc > 3 ? argv[3] : "");
        if (database)
            std::fprintf(stderr, "%s: %s\n", database->Entry.c_str(), database->Reason.c_str());
        std::printf("verify_seconds %.2f databases_seconds %.2f ok %d\n",
                    std::chrono::duration<double>(verified - start).count(),
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - verified).count(),
                    failure || database ? 0 : 1);
        if (failure)
            std::fprintf(stderr, "%s: %s\n", failure->Entry.c_str(), failure->Reason.c_str());
        return failure ? 1 : 0;
    }
    if (argc >= 4 && std::string(argv[1]) == "--extract")
        return Extract(argv[2], argv[3], argc > 4 ? argv[4] : "");
    // A second backup: unchanged files are copied from the earlier one.
    std::string earlier;
    if (argc >= 3 && std::string(argv[1]) == "--reuse") {
        earlier = argv[2];
        argv += 2;
        argc -= 2;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PROFILE_FOLDER ARCHIVE [LEVEL [PASSWORD]]\n", argv[0]);
        return 2;
    }
    const std::string profile = WithTrailingSeparator(argv[1]);
    const std::string archive = argv[2];
    const std::string level = argc > 3 ? argv[3] : "9";
    const std::string password = argc > 4 ? argv[4] : "";

    const std::string program = PrepareProgramFolder(level);

    // The task as the backup run builds it: every file, profile-relative, with its size.
    const auto walkStart = std::chrono::steady_clock::now();
    TArchiveTask task;
    for (const auto& entry : fs::recursive_directory_iterator(profile)) {
        if (!entry.is_regular_file())
            continue;
        task.Files.push_back(fs::relative(entry.path(), profile).generic_string());
        task.TotalBytes += static_cast<std::int64_t>(entry.file_size());
    }
    std::sort(task.Files.begin(), task.Files.end());
    const std::size_t fileCount = task.Files.size();

    TSharedState state(g_environment);
    state.Operation = TOperation::Backup;
    TCountingUserInterface ui;
    fs::remove(archive);

    const double walkSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - walkStart).count();
    const long rssAfterWalk = PeakRssKiB();
    const auto start = std::chrono::steady_clock::now();
    bool written = false;
    std::size_t reused = 0;
    {
        TZipFactory zip(archive, password, profile, EngineZipSetup(state, ui), ui);
        zip.ReuseEntriesOf(earlier);
        // As a backup run hands its task over: the names are freed as they are stored.
        written = zip.AddTask(std::move(task.Files), task.Externals, task.TotalBytes);
        reused = zip.ReusedEntries();
        for (const auto& problem : zip.Problems())
            std::fprintf(stderr, "left out: %s\n", ProblemText(problem).c_str());
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::error_code ec;
    fs::remove_all(program, ec);
    std::printf("walk_seconds %.2f rss_after_walk_kib %ld ", walkSeconds, rssAfterWalk);
    std::printf("files %zu bytes %lld seconds %.2f peak_rss_kib %ld archive_bytes %lld "
                "pumps %ld task_texts %ld bar_moves %ld last_bar %d written %d reused %zu\n",
                fileCount, static_cast<long long>(task.TotalBytes), seconds, PeakRssKiB(),
                static_cast<long long>(written ? fs::file_size(archive) : 0), ui.Pumps,
                ui.TaskTexts, ui.Positions, ui.LastPosition, written ? 1 : 0, reused);
    return written ? 0 : 1;
}
