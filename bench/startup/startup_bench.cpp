// Time from process start to the first drawn window, and resident memory, of
// velmora against a bare Qt window with a 97 x 3 table. The two programs run
// alternately so that a noisy machine weighs on both alike.
//
//   bench_startup [rounds]     (default 10; offscreen unless QT_QPA_PLATFORM is set)

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Run {
    double shownMs = -1;   // measured from fork to the "shown" line
    long rssKbAtShow = -1; // VmRSS when the line arrived (the process may already be leaving)
    long hwmKbAtShow = -1; // VmHWM at the same moment
    long maxRssKb = -1;    // peak resident size over the whole run (wait4)
    int status = -1;
};

long StatusField(pid_t pid, const char* field)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(in, line))
        if (line.compare(0, n, field) == 0) return std::strtol(line.c_str() + n + 1, nullptr, 10);
    return -1;
}

Run RunOnce(const char* program)
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
        setenv("QT_QPA_PLATFORM", getenv("QT_QPA_PLATFORM") ? getenv("QT_QPA_PLATFORM") : "offscreen", 1);
        execl(program, program, static_cast<char*>(nullptr));
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
    std::vector<double> shown, rss, peak;
    int failures = 0;
    void Add(const Run& r)
    {
        if (r.shownMs < 0 || !WIFEXITED(r.status) || WEXITSTATUS(r.status) != 0) {
            ++failures;
            return;
        }
        shown.push_back(r.shownMs);
        if (r.rssKbAtShow > 0) rss.push_back(r.rssKbAtShow / 1024.0);
        peak.push_back(r.maxRssKb / 1024.0);
    }
};

void Print(const char* name, const Series& s)
{
    std::printf("%-8s runs %2zu  shown median %7.1f ms  (min %6.1f, max %6.1f)  RSS at show %5.1f MB  peak RSS %5.1f MB%s\n",
                name, s.shown.size(), Median(s.shown),
                s.shown.empty() ? 0 : *std::min_element(s.shown.begin(), s.shown.end()),
                s.shown.empty() ? 0 : *std::max_element(s.shown.begin(), s.shown.end()), Median(s.rss), Median(s.peak),
                s.failures ? "  (some runs failed)" : "");
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    Series velmora, bare;
    // One warm-up run each so the first measured round does not pay for cold caches alone.
    RunOnce(VELMORA_PROGRAM);
    RunOnce(BARE_PROGRAM);
    for (int i = 0; i < rounds; ++i) {
        if (i % 2 == 0) {
            velmora.Add(RunOnce(VELMORA_PROGRAM));
            bare.Add(RunOnce(BARE_PROGRAM));
        } else {
            bare.Add(RunOnce(BARE_PROGRAM));
            velmora.Add(RunOnce(VELMORA_PROGRAM));
        }
    }
    Print("velmora", velmora);
    Print("bare", bare);
    const double ratio = Median(bare.shown) > 0 ? Median(velmora.shown) / Median(bare.shown) : 0;
    std::printf("start-up ratio velmora / bare: %.2fx (target <= 1.25x); velmora peak RSS %.1f MB (target <= 40 MB)\n",
                ratio, Median(velmora.peak));
    return (velmora.failures || bare.failures) ? 1 : 0;
}
