#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace ombri::bench {

// The console table, then each benchmark's time as a ratio to a baseline measured in the same
// run, against its target. With --benchmark_repetitions the median stands for a benchmark. On a
// busy machine the processor time is the steadier of the two times.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    // A target of 0: shown for comparison only.
    RatioReporter(std::string baseline, std::map<std::string, double> targets)
        : m_baseline(std::move(baseline)), m_targets(std::move(targets))
    {
    }

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.error_occurred)
                continue;
            // A benchmark run with arguments is known by its name and them: "BM_Name/100".
            std::string name = run.run_name.function_name;
            if (!run.run_name.args.empty())
                name += "/" + run.run_name.args;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (median || (run.run_type == Run::RT_Iteration && !m_medians.count(name))) {
                m_times[name] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
                if (median)
                    m_medians.insert(name);
            }
        }
    }

    void printRatios() const
    {
        const auto base = m_times.find(m_baseline);
        if (base == m_times.end())
            return;
        std::printf("\nratio to %s (%.2f ms real, %.2f ms processor)\n", m_baseline.c_str(),
                    base->second.real, base->second.cpu);
        for (const auto& [name, target] : m_targets) {
            const auto found = m_times.find(name);
            if (found == m_times.end())
                continue;
            const double real = found->second.real / base->second.real;
            const double cpu = found->second.cpu / base->second.cpu;
            std::printf("  %-28s real %5.2f  processor %5.2f", name.c_str(), real, cpu);
            if (target > 0)
                std::printf("   target <= %.1f  %s", target, real <= target ? "ok" : "MISSED");
            std::printf("\n");
        }
    }

    // One benchmark against another of the same run, for a pair that the baseline says nothing
    // about; a target of 0 shows it for comparison only.
    void printRatio(const std::string& name, const std::string& other, double target) const
    {
        const auto found = m_times.find(name);
        const auto against = m_times.find(other);
        if (found == m_times.end() || against == m_times.end())
            return;
        const double real = found->second.real / against->second.real;
        const double cpu = found->second.cpu / against->second.cpu;
        std::printf("\nratio of %s to %s: real %.3f  processor %.3f", name.c_str(), other.c_str(),
                    real, cpu);
        if (target > 0)
            std::printf("   target <= %.2f  %s", target, real <= target ? "ok" : "MISSED");
        std::printf("\n");
    }

  private:
    struct Times {
        double real;
        double cpu;
    };
    std::string m_baseline;
    std::map<std::string, double> m_targets;
    std::map<std::string, Times> m_times;
    std::set<std::string> m_medians;
};

} // namespace ombri::bench
