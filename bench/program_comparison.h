// The command line and the table of a benchmark that measures agent programs side by side:
//
//   NAME [--seconds S] [LABEL=PROGRAM ...]
//
// Without programs the agent beside the benchmark is measured as "this". The table has a column
// per program, then the ratio of the first program's figure to each later one's.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "app/agent_process.h"

namespace kelvo {
namespace test {

struct compared_programs {
    double seconds;
    std::vector<std::pair<std::string, std::string>> programs;  // label, program
};

// Exits with a usage line on a command line it does not understand.
inline compared_programs parse_compared_programs(int argc, char** argv, const char* name,
                                                 double seconds) {
    compared_programs out{seconds, {}};
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--seconds" && i + 1 < argc) {
            out.seconds = std::atof(argv[++i]);
        } else if (argument.find('=') != std::string::npos) {
            out.programs.emplace_back(argument.substr(0, argument.find('=')),
                                      argument.substr(argument.find('=') + 1));
        } else {
            std::fprintf(stderr, "usage: %s [--seconds S] [LABEL=PROGRAM ...]\n", name);
            std::exit(2);
        }
    }
    if (out.programs.empty()) out.programs.emplace_back("this", agent_program_path());
    return out;
}

// The figures of each program in turn, measured by `measure(program, seconds)`.
template <typename figures, typename measure_function>
std::vector<figures> measure_each(const compared_programs& compared, measure_function measure) {
    std::vector<figures> results;
    for (const auto& program : compared.programs) {
        std::fprintf(stderr, "bench: measuring %s (%s)\n", program.first.c_str(),
                     program.second.c_str());
        results.push_back(measure(program.second, compared.seconds));
    }
    return results;
}

template <typename figures>
using comparison_rows = std::vector<std::pair<const char*, double figures::*>>;

template <typename figures>
void print_comparison(const compared_programs& compared, const std::vector<figures>& results,
                      const comparison_rows<figures>& rows) {
    const auto& programs = compared.programs;
    std::printf("%-48s", "");
    for (const auto& program : programs) std::printf("%12s", program.first.c_str());
    for (size_t i = 1; i < programs.size(); ++i) {
        std::printf("  %s/%s", programs[0].first.c_str(), programs[i].first.c_str());
    }
    std::printf("\n");
    for (const auto& row : rows) {
        std::printf("%-48s", row.first);
        for (const figures& f : results) std::printf("%12.3f", f.*row.second);
        for (size_t i = 1; i < results.size(); ++i) {
            const double later = results[i].*row.second;
            if (later != 0) {
                std::printf("  %10.2f", results[0].*row.second / later);
            } else {
                std::printf("  %10s", "-");
            }
        }
        std::printf("\n");
    }
}

}  // namespace test
}  // namespace kelvo
