// The benchmarks' main. Day-length arrays come from reused heap memory, as in vemlo itself
// (src/app/main.cpp): a fresh mapping in every iteration would time the page faults of the new
// memory rather than the stage.
#include <benchmark/benchmark.h>
#include <malloc.h>

int main(int argc, char** argv) {
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
