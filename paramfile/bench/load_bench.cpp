// Load, bind and check of a complete initialisation file: what the interface
// library does on every initialisation from a file path.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "paramfile/paramfile.h"

namespace {

using namespace vantor::paramfile;

std::string SampleText() {
    std::ifstream file(VANTOR_PARAMFILE_SAMPLE, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void LoadBindCheckFromFile(benchmark::State& state) {
    for (auto _ : state) {
        auto list = LoadParameterFile(VANTOR_PARAMFILE_SAMPLE, SchemaEdition::InterfaceLibrary);
        if (!list) {
            state.SkipWithError("the sample file does not load");
            break;
        }
        const auto check = CheckParameterFile(*list);
        benchmark::DoNotOptimize(check.faultFound);
    }
}
BENCHMARK(LoadBindCheckFromFile)->Unit(benchmark::kMicrosecond);

void LoadBindCheckFromText(benchmark::State& state) {
    const auto text = SampleText();
    for (auto _ : state) {
        auto list = ReadParameterText(text, SchemaEdition::InterfaceLibrary);
        const auto check = CheckParameterFile(*list);
        benchmark::DoNotOptimize(check.faultFound);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(LoadBindCheckFromText)->Unit(benchmark::kMicrosecond);

void CreateDefaultList(benchmark::State& state) {
    for (auto _ : state) {
        auto list = CreateDefaultParameterList(InitialisationFileSchema(SchemaEdition::InterfaceLibrary));
        benchmark::DoNotOptimize(list.size());
    }
}
BENCHMARK(CreateDefaultList)->Unit(benchmark::kMicrosecond);

void CompleteAnEmptyFile(benchmark::State& state) {
    const std::string head =
        "; head\n[Version]\nID = " + std::string(kInitialisationFileIdentifier) + "\n";
    for (auto _ : state) {
        auto list = ReadParameterText(head, SchemaEdition::ConfigurationProgram);
        const auto result = AddMissingParameters(*list);
        benchmark::DoNotOptimize(result.added);
    }
}
BENCHMARK(CompleteAnEmptyFile)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
