// Time from process start to the window's first map, and resident memory, of
// velmora against a bare Qt window with the same controls and texts, in
// Chinese and in English. The two programs run alternately so that a noisy
// machine weighs on both alike.
//
//   bench_startup [rounds]     (default 20; offscreen unless QT_QPA_PLATFORM is set;
//                               BENCH_VELMORA names another velmora to measure)

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Run {
    double shownMs = -1;   // measured from fork to the "shown" line, printed at the first map
    double cpuMs = -1;     // CPU time of all its threads when the line arrived
    long rssKbAtShow = -1; // VmRSS when the line arrived (the process may already be leaving)
    long hwmKbAtShow = -1; // VmHWM at the same moment
    long maxRssKb = -1;    // peak resident size over the whole run (wait4)
    int status = -1;
};

// CPU time the process's threads have run, from the scheduler's own account:
// on a machine shared with other work it varies much less than wall time.
double CpuMs(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    double ns = 0;
    std::error_code ignored;
    for (const auto& task : std::filesystem::directory_iterator(tasks, ignored)) {
        std::ifstream in(task.path() / "schedstat");
        double run = 0;
        if (in >> run) ns += run;
    }
    return ns / 1e6;
}

long StatusField(pid_t pid, const char* field)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(in, line))
        if (line.compare(0, n, field) == 0) return std::strtol(line.c_str() + n + 1, nullptr, 10);
    return -1;
}

// The language a run speaks: velmora takes it from the locale (nothing is
// remembered in the bench's own settings folder), the bare window as its argument.
struct Language {
    const char* code;
    const char* locale;
};

Run RunOnce(const char* program, const Language& language, const std::string& configHome)
{
    Run run;
    int out[2];
    if (pipe(out) != 0) return run;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        const int quiet = open("/dev/null", O_WRONLY);
        if (quiet >= 0) dup2(quiet, STDERR_FILENO);
        close(out[0]);
        close(out[1]);
        setenv("VELMORA_EXIT_AFTER_SHOW", "1", 1);
        setenv("LC_ALL", language.locale, 1);
        unsetenv("LANGUAGE");
        // The user's own settings are neither read nor changed.
        setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
        setenv("QT_QPA_PLATFORM", getenv("QT_QPA_PLATFORM") ? getenv("QT_QPA_PLATFORM") : "offscreen", 1);
        if (std::strcmp(program, BARE_PROGRAM) == 0) execl(program, program, language.code, static_cast<char*>(nullptr));
        else if (getenv("BENCH_VELMORA")) execl(getenv("BENCH_VELMORA"), "velmora", static_cast<char*>(nullptr));
        else execl(program, program, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string seen;
    char buffer[256];
    ssize_t got;
    while ((got = read(out[0], buffer, sizeof buffer)) > 0) {
        seen.append(buffer, size_t(got));
        if (run.shownMs < 0 && seen.find("shown") != std::string::npos) {
            run.shownMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            run.rssKbAtShow = StatusField(pid, "VmRSS");
            run.hwmKbAtShow = StatusField(pid, "VmHWM");
            run.cpuMs = CpuMs(pid);
        }
    }
    close(out[0]);
    struct rusage usage = {};
    wait4(pid, &run.status, 0, &usage);
    run.maxRssKb = usage.ru_maxrss;
    return run;
}

double Median(std::vector<double> v)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

struct Series {
    std::vector<double> shown, cpu, rss, peak;
    int failures = 0;
    void Add(const Run& r)
    {
        if (r.shownMs < 0 || !WIFEXITED(r.status) || WEXITSTATUS(r.status) != 0) {
            ++failures;
            return;
        }
        shown.push_back(r.shownMs);
        cpu.push_back(r.cpuMs);
        if (r.rssKbAtShow > 0) rss.push_back(r.rssKbAtShow / 1024.0);
        peak.push_back(r.maxRssKb / 1024.0);
    }
};

void Print(const char* name, const Series& s)
{
    std::printf("%-8s runs %2zu  mapped median %5.1f ms (min %5.1f, max %6.1f)  CPU at map %5.1f ms  "
                "RSS at show %4.1f MB  peak RSS %4.1f MB%s\n",
                name, s.shown.size(), Median(s.shown),
                s.shown.empty() ? 0 : *std::min_element(s.shown.begin(), s.shown.end()),
                s.shown.empty() ? 0 : *std::max_element(s.shown.begin(), s.shown.end()), Median(s.cpu), Median(s.rss),
                Median(s.peak), s.failures ? "  (some runs failed)" : "");
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    char folder[] = "/tmp/bench_startup-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    const std::string configHome = folder;
    bool failed = false;
    for (const Language& language : {Language{"zh", "zh_CN.UTF-8"}, Language{"en", "en_US.UTF-8"}}) {
        Series velmora, bare;
        // One warm-up run each so the first measured round does not pay for
        // cold caches alone; velmora's also leaves the settings file a user has.
        RunOnce(VELMORA_PROGRAM, language, configHome);
        RunOnce(BARE_PROGRAM, language, configHome);
        for (int i = 0; i < rounds; ++i) {
            if (i % 2 == 0) {
                velmora.Add(RunOnce(VELMORA_PROGRAM, language, configHome));
                bare.Add(RunOnce(BARE_PROGRAM, language, configHome));
            } else {
                bare.Add(RunOnce(BARE_PROGRAM, language, configHome));
                velmora.Add(RunOnce(VELMORA_PROGRAM, language, configHome));
            }
        }
        std::printf("[%s]\n", language.code);
        Print("velmora", velmora);
        Print("bare", bare);
        const double ratio = Median(bare.shown) > 0 ? Median(velmora.shown) / Median(bare.shown) : 0;
        const double cpuRatio = Median(bare.cpu) > 0 ? Median(velmora.cpu) / Median(bare.cpu) : 0;
        std::printf("start-up ratio velmora / bare (%s): %.2fx (target <= 1.10x), CPU %.2fx; velmora peak RSS %.1f MB "
                    "(target <= 40 MB)\n",
                    language.code, ratio, cpuRatio, Median(velmora.peak));
        failed = failed || velmora.failures || bare.failures;
    }
    std::filesystem::remove_all(configHome);
    return failed ? 1 : 0;
}
