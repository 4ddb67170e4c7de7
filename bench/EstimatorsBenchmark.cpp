// The estimators against R's vegan on the same 1,000 samples of 50 to 500 species, in the same run, each
// timed as a whole process (start included):
//   bench_estimators [WORK_DIR]
// 1. what vegan also computes (estimateR, fisher.alpha, diversity, rarefy at 40 sizes): this program in its
//    --vegan-set mode against Rscript, and their ratio;
// 2. everything, with 200 bootstrap replicates of the curves at 40 points, on two threads; the same with 20
//    replicates to show that the peak memory follows the samples, not the replicates;
// 3. the shapes whose memory once followed the individuals or f0 (a billion of one species, 20,000
//    singletons, a total near 2^53), each analysed alone in its own process, against a common sample.
// Modes used by the run itself: --vegan-set FILE, --all FILE THREADS REPLICATES, --shape NAME.

#include "analysis/Estimators.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace ordana::estimators;

namespace {

constexpr int kSamples = 1000;
constexpr int kPoints = 40;

// Log-normal abundances from the project's own generator: the same data on every machine.
void generate(const std::string& path) {
    Random r(7, 1);
    auto uniform = [&] { return (double(r.next() >> 11) + 0.5) * 0x1p-53; };
    std::ofstream out(path);
    for (int s = 0; s < kSamples; ++s) {
        const int species = 50 + int(r.next() % 451);
        for (int k = 0; k < species; ++k) {
            const double z = std::sqrt(-2 * std::log(uniform())) * std::cos(6.283185307179586 * uniform());
            out << s << '\t' << std::max<long>(1, std::lround(std::exp(1.0 + 1.4 * z))) << '\n';
        }
    }
}

std::vector<Frequencies> load(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::vector<std::int64_t>> counts(kSamples);
    int sample;
    std::int64_t count;
    while (in >> sample >> count)
        counts[std::size_t(sample)].push_back(count);
    std::vector<Frequencies> samples;
    for (const auto& c : counts)
        samples.push_back(Frequencies::fromCounts(c));
    return samples;
}

std::vector<double> rarefySizes(std::int64_t n) {
    std::vector<double> m;
    for (int i = 0; i < kPoints; ++i)
        m.push_back(std::floor(1 + double(n - 1) * i / (kPoints - 1)));
    return m;
}

int veganSet(const std::string& path) {
    double checksum = 0;
    for (const auto& f : load(path)) {
        const Tables t(f.n);
        const Value chao = chao1BiasCorrected(f), a = ace(f);
        checksum += chao.value + chao.se + a.value + a.se + fisherAlpha(f).value;
        checksum += std::log(hillObserved(f, 1)) + 1 / hillObserved(f, 2) + hillObserved(f, 2);
        for (double m : rarefySizes(f.n))
            checksum += hillAt(f, t, 0, m);
    }
    std::printf("%.6f\n", checksum);
    return 0;
}

int everything(const std::string& path, int threads, int replicates) {
    const auto samples = load(path);
    std::vector<double> checksums(samples.size());
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < threads; ++w)
        workers.emplace_back([&] {
            for (std::size_t i; (i = next++) < samples.size();) {
                Settings s;
                s.replicates = replicates;
                s.curvePoints = kPoints;
                s.stream = i;
                const Analysis a = analyse(samples[i], s);
                double sum = 0;
                for (const auto& e : a.estimates)
                    sum += (std::isfinite(e.value) ? e.value : 0) + (e.se > 0 ? e.se : 0);
                for (const auto& p : a.curve)
                    sum += p.upper[0] + p.upper[1] + p.upper[2];
                checksums[i] = sum;
            }
        });
    for (auto& w : workers)
        w.join();
    double total = 0;
    for (double c : checksums)
        total += c;
    std::printf("%.6f\n", total);
    return 0;
}

// One sample of a named shape through the whole analysis with 200 replicates.
int shape(const std::string& name) {
    std::vector<std::int64_t> counts;
    if (name == "common")
        counts = {46, 22, 17, 15, 15, 9, 8, 6, 6, 4, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    else if (name == "billion")
        counts = {1000000000};
    else if (name == "singletons")
        counts.assign(20000, 1);
    else if (name == "near-2^53")
        counts = {std::int64_t(1) << 52, (std::int64_t(1) << 52) - 5, 3, 1, 1, 2, 7};
    else
        return 2;
    const Analysis a = analyse(Frequencies::fromCounts(counts), Settings());
    std::printf("%.6f\n", a.estimates.front().value);
    return 0;
}

const char kVeganScript[] = R"(suppressMessages(library(vegan))
d <- read.table(commandArgs(TRUE)[1], sep = "\t", col.names = c("sample", "count"))
checksum <- 0
for (x in split(d$count, d$sample)) {
  e <- estimateR(x)
  n <- sum(x)
  r <- rarefy(x, floor(1 + (n - 1) * (0:39) / 39))
  checksum <- checksum + sum(e[c(2, 3, 4, 5)]) + fisher.alpha(x) + diversity(x, "shannon") +
    diversity(x, "simpson") + diversity(x, "invsimpson") + sum(r)
}
cat(sprintf("%.6f\n", checksum))
)";

struct Run {
    double seconds;
    double cpu; // user and system time, which a loaded machine does not inflate
    long peakKb;
    std::string output;
};

// Wall time and peak resident memory of one child process.
Run timed(const std::vector<std::string>& argv) {
    int pipefd[2];
    if (pipe(pipefd) != 0) std::exit(2);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipefd[1], 1);
        close(pipefd[0]);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(pipefd[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t got; (got = read(pipefd[0], buffer, sizeof buffer)) > 0;)
        output.append(buffer, std::size_t(got));
    close(pipefd[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", argv[0].c_str());
        std::exit(1);
    }
    const double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    return {seconds, cpu, usage.ru_maxrss, output};
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--vegan-set" && argc == 3) return veganSet(argv[2]);
    if (mode == "--all" && argc == 5) return everything(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    if (mode == "--shape" && argc == 3) return shape(argv[2]);

    const std::string dir = argc > 1 ? argv[1] : "/tmp/ordana-estimators-bench";
    mkdir(dir.c_str(), 0755);
    const std::string data = dir + "/samples.tsv", script = dir + "/vegan.R";
    generate(data);
    std::ofstream(script) << kVeganScript;
    const std::string self = argv[0];
    std::printf("1,000 samples of 50 to 500 species, %s\n", data.c_str());

    const Run vegan = timed({"Rscript", script, data});
    const Run ours = timed({self, "--vegan-set", data});
    std::printf("estimateR + fisher.alpha + diversity + rarefy at 40 sizes, whole processes:\n");
    std::printf("  vegan   %8.3f s wall, %8.3f s CPU (%ld MB)\n", vegan.seconds, vegan.cpu,
                vegan.peakKb / 1024);
    std::printf("  Ordana  %8.3f s wall, %8.3f s CPU (%ld MB)\n", ours.seconds, ours.cpu, ours.peakKb / 1024);
    std::printf("  ratio   %8.1fx wall, %6.1fx CPU (target >= 20x)\n", vegan.seconds / ours.seconds,
                vegan.cpu / std::max(ours.cpu, 1e-3));

    const Run all = timed({self, "--all", data, "2", "200"});
    const Run few = timed({self, "--all", data, "2", "20"});
    std::printf("every estimator, 200 bootstrap replicates of the curves at 40 points, 2 threads:\n");
    std::printf("  %8.3f s wall (target <= 30 s), %8.3f s CPU, peak %ld MB\n", all.seconds, all.cpu,
                all.peakKb / 1024);
    std::printf("  with 20 replicates: %8.3f s wall, %8.3f s CPU, peak %ld MB (memory follows the samples)\n",
                few.seconds, few.cpu, few.peakKb / 1024);

    std::printf("one sample alone, every estimator and 200 replicates, a whole process each:\n");
    for (const char* name : {"common", "billion", "singletons", "near-2^53"}) {
        const Run r = timed({self, "--shape", name});
        std::printf("  %-12s %8.3f s wall, %8.3f s CPU, peak %ld MB\n", name, r.seconds, r.cpu,
                    r.peakKb / 1024);
    }
    return 0;
}
