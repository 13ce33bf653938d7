#include "bench_report.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "workloads.h"

namespace {

struct Cell {
    std::map<int, std::vector<double>> walls;  // by round
    int exchanges = 0, failures = 0;
    double hostMs = 0, serverMs = 0, wallMs = 0;
    bool server = false;

    std::vector<double> All() const
    {
        std::vector<double> all;
        for (auto &r : walls)
            all.insert(all.end(), r.second.begin(), r.second.end());
        return all;
    }
};

struct Passes {
    std::vector<double> usPerPass;
    double passes = 0, hostMs = 0, serverMs = 0;
    bool server = false;
};

double Quantile(std::vector<double> v, double q)
{
    std::sort(v.begin(), v.end());
    size_t i = (size_t)(q * (v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

std::string Format(const char *format, double a)
{
    char text[64];
    snprintf(text, sizeof text, format, a);
    return text;
}

// "host" or "host + server" of a figure that has both under Wine.
std::string Split(const char *format, double host, double server, bool hasServer)
{
    return hasServer ? Format(format, host) + " + " + Format(format, server) : Format(format, host);
}

std::vector<std::string> Fields(const std::string &line)
{
    std::vector<std::string> f;
    std::istringstream fs(line);
    for (std::string x; std::getline(fs, x, '\t');)
        f.push_back(x);
    return f;
}

using Cells = std::map<int, std::map<std::string, std::map<std::string, Cell>>>;  // baud, workload, build

using Delays = std::map<std::string, std::map<int, std::vector<double>>>;  // build, baud

void Read(const char *file, Cells &cells, std::map<std::string, Passes> &passes, Delays &delays)
{
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::vector<std::string> f = Fields(line);
        if (f.size() == 6 && f[0] == "S") {
            cells[atoi(f[2].c_str())][f[3]][f[1]].walls[atoi(f[5].c_str())].push_back(atof(f[4].c_str()));
        } else if (f.size() == 9 && f[0] == "C") {
            Cell &c = cells[atoi(f[2].c_str())][f[3]][f[1]];
            c.exchanges += atoi(f[4].c_str());
            c.hostMs += atof(f[5].c_str());
            c.server = f[6] != "-";
            c.serverMs += atof(f[6].c_str());
            c.wallMs += atof(f[7].c_str());
            c.failures += atoi(f[8].c_str());
        } else if (f.size() == 4 && f[0] == "D") {
            delays[f[1]][atoi(f[2].c_str())].push_back(atof(f[3].c_str()));
        } else if (f.size() == 7 && f[0] == "P") {
            Passes &p = passes[f[1]];
            const double n = atof(f[3].c_str());
            p.usPerPass.push_back(atof(f[4].c_str()) * 1000.0 / n);
            p.passes += n;
            p.hostMs += atof(f[5].c_str());
            p.server = f[6] != "-";
            p.serverMs += atof(f[6].c_str());
        }
    }
}

void Row(int baud, const Workload &w, const std::string &build, const Cell &c, double refOverhead)
{
    const std::vector<double> walls = c.All();
    const std::string cpuShare = Split("%.1f%%", 100.0 * c.hostMs / c.wallMs, 100.0 * c.serverMs / c.wallMs, c.server);
    const std::string cpuEach = Split("%.2f", c.hostMs / c.exchanges, c.serverMs / c.exchanges, c.server);
    const std::string failed = c.failures ? " (" + std::to_string(c.failures) + " failed)" : "";
    if (walls.empty()) {
        // every exchange failed: the row says so rather than vanishing
        printf("| %d | %s | %s | 0 | | | | | | | | | %s | %s |%s\n", baud, w.name, build.c_str(), cpuShare.c_str(),
               cpuEach.c_str(), failed.c_str());
        return;
    }
    if (w.expect != 0) {
        printf("| %d | %s | %s | %zu | | %.2f | | | | | | | %s | %s |%s\n", baud, w.name, build.c_str(), walls.size(),
               Quantile(walls, 0.5), cpuShare.c_str(), cpuEach.c_str(), failed.c_str());
        return;
    }
    const double floor = FloorMs(w, baud);
    std::vector<double> over;
    for (double t : walls)
        over.push_back(t - floor);
    const double median = Quantile(over, 0.5);
    std::vector<double> roundMedians;
    for (auto &r : c.walls)
        roundMedians.push_back(Quantile(r.second, 0.5) - floor);
    std::sort(roundMedians.begin(), roundMedians.end());
    const std::string spread = roundMedians.size() > 1
                                   ? Format("%.3f", roundMedians.front()) + "–" + Format("%.3f", roundMedians.back())
                                   : "";
    // late: behind the build's own median by more than a byte on the line
    const long late = std::count_if(over.begin(), over.end(), [&](double o) { return o > median + ByteMs(baud); });
    const std::string p90 = over.size() >= 20 ? Format("%.3f", Quantile(over, 0.9)) : "n/a";
    const std::string vs = refOverhead > 0 ? Format("%.2f", median / refOverhead) + "×" : "";
    printf("| %d | %s | %s | %zu | %.2f | %.2f | %.3f | %s | %s | %.3f | %ld | %s | %s | %s |%s\n", baud, w.name,
           build.c_str(), over.size(), floor, Quantile(walls, 0.5), median, spread.c_str(), p90.c_str(),
           *std::max_element(over.begin(), over.end()), late, vs.c_str(), cpuShare.c_str(), cpuEach.c_str(),
           failed.c_str());
}

void PassTable(const std::map<std::string, Passes> &passes)
{
    if (passes.empty())
        return;
    printf("\n| build | runs | µs a pass, median (min–max) | CPU µs a pass | of a byte time at 115200 |\n");
    printf("|---|---|---|---|---|\n");
    for (auto &b : passes) {
        const Passes &p = b.second;
        const double median = Quantile(p.usPerPass, 0.5);
        const std::string cpu = Split("%.1f", p.hostMs * 1000.0 / p.passes, p.serverMs * 1000.0 / p.passes, p.server);
        printf("| %s | %zu | %.1f (%.1f–%.1f) | %s | %.2f |\n", b.first.c_str(), p.usPerPass.size(), median,
               *std::min_element(p.usPerPass.begin(), p.usPerPass.end()),
               *std::max_element(p.usPerPass.begin(), p.usPerPass.end()), cpu.c_str(),
               median / 1000.0 / ByteMs(115200));
    }
}

void DelayTable(const Delays &delays)
{
    if (delays.empty())
        return;
    printf("\n| build | baud | messages | delay to dispatch, median ms | p90 ms | max ms |\n");
    printf("|---|---|---|---|---|---|\n");
    for (auto &b : delays)
        for (auto &r : b.second)
            printf("| %s | %d | %zu | %.3f | %.3f | %.3f |\n", b.first.c_str(), r.first, r.second.size(),
                   Quantile(r.second, 0.5), Quantile(r.second, 0.9), *std::max_element(r.second.begin(), r.second.end()));
}

}  // namespace

int BenchReport(const char *file)
{
    Cells cells;
    std::map<std::string, Passes> passes;
    Delays delays;
    Read(file, cells, passes, delays);
    printf("| baud | exchange | build | n | floor ms | wall median ms | overhead median ms | round medians ms | "
           "overhead p90 ms | overhead max ms | late | vs reference | CPU / wall | CPU ms / exchange |\n");
    printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (auto &byBaud : cells) {
        for (const Workload &w : kWorkloads) {
            auto it = byBaud.second.find(w.name);
            if (it == byBaud.second.end())
                continue;
            double refOverhead = -1;
            auto ref = it->second.find("reference");
            if (w.expect == 0 && ref != it->second.end() && !ref->second.walls.empty())
                refOverhead = Quantile(ref->second.All(), 0.5) - FloorMs(w, byBaud.first);
            for (auto &byBuild : it->second)
                if (!byBuild.second.walls.empty() || byBuild.second.exchanges > 0)
                    Row(byBaud.first, w, byBuild.first, byBuild.second, refOverhead);
        }
    }
    PassTable(passes);
    DelayTable(delays);
    return 0;
}
